#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""The collection torvik.reader end to end, over simulated readers.

Builds the collection with ansible-galaxy and installs the artifact into a
scratch directory, checks that ansible-doc renders every module, then starts
four simulated readers on pseudo-terminals and lists them as door boards of
an inventory (local connection, each with its own settings file, trace and
backup directory). Against them it runs the example playbooks of
ansible/examples:

1. commissioning: every reader changes (ID, output mode, line speed, card
   type, facility code), and a scan of its own afterwards finds each as asked;
2. commissioning again: only the values the reader cannot report are sent;
   no frame of the reader sets an ID, a mode or a speed;
3. commissioning in check mode with other values asked for: what would
   change is reported, and neither the readers' frame logs nor the traces
   hold anything but the scan's queries;
4. fingerprints: a template is moved into slot 1 of the first reader, the
   nightly backup reads slots 1 to 3 and fetches the file, the replacing
   playbook puts it into the second reader, and the second reader's slots
   then read back byte for byte as the first reader's file holds them.

    collection_test.py --torvikctl PATH --sim PATH

The readers, the playbook runs and the scratch directory end on every way
out. Prints a line per check; exits 1 when one failed.
"""
import argparse
import datetime
import glob
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.abspath(os.path.join(HERE, '..', '..', '..'))
sys.path.insert(0, os.path.join(HERE, '..'))
from simulated_readers import SimulatedReaders, say, stop_signals  # noqa: E402

COLLECTION = os.path.join(ROOT, 'ansible', 'ansible_collections', 'torvik', 'reader')
EXAMPLES = os.path.join(ROOT, 'ansible', 'examples')
MODULES = ('reader_info', 'reader', 'fingerprints')
HOSTS = ['door-%d' % n for n in range(1, 5)]
# What the commissioning asks of each reader (the simulated ones start with
# ID 1, Wiegand output W26/R32, 19200,e). A pseudo-terminal carries no
# parity, so the sweep after the speed change finds the reader at the first
# setting of that speed, which is the one without parity: asked for here.
WANT = dict(reader_settings='38400,n', reader_interface='rs485', reader_wiegand_format='W26',
            reader_rs485_format='R40', reader_card_type='em', reader_facility=123)
# The queries of a scan; every other frame changes something.
QUERIES = {'I00B', 'I00V', 'I00A'}
# The frames that set what the reader reports: ID, speed, output mode.
REPORTED_SETTERS = re.compile(r'^I00(C|E|A.+)$')


class Checks(object):
    def __init__(self):
        self.failed = []

    def check(self, name, ok, detail=''):
        say('%s  %s%s' % ('ok  ' if ok else 'FAIL', name, '' if ok or not detail else ': %s' % detail))
        if not ok:
            self.failed.append(name)
        return ok


def recap(output):
    """host -> {'ok': n, 'changed': n, ...} of the PLAY RECAP."""
    hosts = {}
    for line in output.split('PLAY RECAP')[-1].splitlines():
        match = re.match(r'^(\S+)\s+:\s+(.*)$', line)
        if match:
            hosts[match.group(1)] = dict((k, int(v)) for k, v in re.findall(r'(\w+)=(\d+)', match.group(2)))
    return hosts


def recap_text(output):
    part = output.split('PLAY RECAP')[-1]
    return 'PLAY RECAP' + part.rstrip()


def trace_payloads(text):
    """The payloads of the frames a trace shows as sent."""
    payloads = []
    for line in text.splitlines():
        match = re.match(r'^\s*\d+ ms > ((?:[0-9A-F]{2} )+)', line)
        if not match:
            continue
        data = bytes.fromhex(match.group(1))
        # A short frame: TAB, payload, two check digits, CR.
        if data[:1] == b'\t' and len(data) > 4:
            payloads.append(data[1:-3].decode('latin-1'))
        else:
            payloads.append(data.decode('latin-1'))
    return payloads


class Site(object):
    """The simulated door boards and the runs against them."""

    def __init__(self, args, scratch, readers):
        self.args = args
        self.scratch = scratch
        self.readers = readers
        self.bin = os.path.join(scratch, 'bin')
        self.collections = os.path.join(scratch, 'collections')
        self.records = os.path.join(scratch, 'records')
        os.makedirs(self.bin)
        os.makedirs(self.records)
        # The torvikctl under test, first on the PATH of the modules.
        os.symlink(os.path.abspath(args.torvikctl), os.path.join(self.bin, 'torvikctl'))
        home = os.path.join(scratch, 'home')
        os.makedirs(home)
        config = os.path.join(scratch, 'ansible.cfg')
        with open(config, 'w') as f:
            f.write('[defaults]\ncollections_path = %s\nlocal_tmp = %s\nforks = %d\n'
                    'retry_files_enabled = false\nnocows = true\n'
                    % (self.collections, os.path.join(scratch, 'tmp'), len(HOSTS)))
        self.env = dict(os.environ, PATH=self.bin + os.pathsep + os.environ.get('PATH', ''),
                        HOME=home, ANSIBLE_CONFIG=config, ANSIBLE_HOME=os.path.join(home, '.ansible'),
                        # "~" in a remote path is the home of the user by name, not HOME.
                        ANSIBLE_REMOTE_TMP=os.path.join(scratch, 'remote-tmp'),
                        ANSIBLE_ASYNC_DIR=os.path.join(scratch, 'async'),
                        ANSIBLE_FORCE_COLOR='0', ANSIBLE_NOCOLOR='1', PYTHONDONTWRITEBYTECODE='1')
        self.sims = {}

    def tool(self, argv):
        return self.readers.run(argv, env=self.env, cwd=self.scratch)

    def build_and_install(self, checks):
        dist = os.path.join(self.scratch, 'dist')
        done = self.tool(['ansible-galaxy', 'collection', 'build', COLLECTION, '--output-path', dist])
        artifacts = glob.glob(os.path.join(dist, 'torvik-reader-*.tar.gz'))
        if not checks.check('ansible-galaxy collection build builds the collection',
                            done.returncode == 0 and len(artifacts) == 1, done.stderr or done.stdout):
            return False
        done = self.tool(['ansible-galaxy', 'collection', 'install', '--offline', artifacts[0],
                          '-p', self.collections])
        return checks.check('the artifact installs', done.returncode == 0, done.stderr)

    def docs(self, checks):
        for module in MODULES:
            done = self.tool(['ansible-doc', 'torvik.reader.' + module])
            text = done.stdout
            checks.check('ansible-doc torvik.reader.%s renders' % module,
                         done.returncode == 0 and ('TORVIK.READER.' + module.upper()) in text
                         and '- port' in text and '- timeout' in text and 'EXAMPLES' in text
                         and 'RETURN VALUES' in text, done.stderr[-500:])

    def start(self):
        hosts = {}
        for n, host in enumerate(HOSTS, 1):
            sim = self.readers.start(host, ['--serial', 'D00R%04d' % n])
            self.sims[host] = sim
            home = os.path.join(self.scratch, host)
            os.makedirs(home)
            hosts[host] = dict(reader_port=sim.path,
                               reader_settings_file=os.path.join(home, 'settings.reg'),
                               reader_trace=os.path.join(home, 'trace.log'),
                               reader_backup_dir=os.path.join(home, 'backups'),
                               reader_id=10 + n)
        inventory = dict(door_boards=dict(
            hosts=hosts,
            vars=dict(WANT, ansible_connection='local',
                      ansible_python_interpreter='{{ ansible_playbook_python }}')))
        self.inventory = os.path.join(self.scratch, 'inventory.json')
        with open(self.inventory, 'w') as f:
            json.dump(inventory, f, indent=1)

    def playbook(self, name, *extra):
        argv = ['ansible-playbook', '-i', self.inventory, os.path.join(EXAMPLES, name),
                '-e', 'commission_records=' + self.records] + list(extra)
        proc = self.readers.spawn(argv, env=self.env, cwd=self.scratch, stdout=subprocess.PIPE,
                                  stderr=subprocess.STDOUT, universal_newlines=True)
        out, _ = proc.communicate()
        self.readers.children.remove(proc)
        return proc.returncode, out

    def record(self, host, check=False):
        path = os.path.join(self.records, host + ('.check' if check else '') + '.json')
        with open(path) as f:
            return json.load(f)

    def ctl(self, host, *commands):
        """torvikctl straight on the host's reader, outside Ansible."""
        home = os.path.join(self.scratch, host)
        argv = [self.args.torvikctl, '--json', '--settings', os.path.join(home, 'settings.reg'),
                '--port', 'COM1=' + self.sims[host].path, '--com', '1'] + list(commands)
        done = self.tool(argv)
        objects = [json.loads(line) for line in done.stdout.splitlines() if line.strip()]
        return done.returncode, objects

    def frame_marks(self):
        return dict((h, len(self.sims[h].frames())) for h in HOSTS)

    def frames_since(self, marks):
        return dict((h, [p for _, p in self.sims[h].frames()[marks[h]:]]) for h in HOSTS)

    def trace_marks(self):
        marks = {}
        for h in HOSTS:
            path = os.path.join(self.scratch, h, 'trace.log')
            marks[h] = os.path.getsize(path) if os.path.exists(path) else 0
        return marks

    def traces_since(self, marks):
        sent = {}
        for h in HOSTS:
            with open(os.path.join(self.scratch, h, 'trace.log'), 'rb') as f:
                f.seek(marks[h])
                sent[h] = trace_payloads(f.read().decode('utf-8', errors='replace'))
        return sent


def commissioning(site, checks):
    rc, out = site.playbook('commission.yml')
    say(recap_text(out))
    summary = recap(out)
    checks.check('first commissioning ends well on every host',
                 rc == 0 and all(summary.get(h, {}).get('changed') == 1 and summary[h]['failed'] == 0
                                 for h in HOSTS), out[-3000:])
    for n, host in enumerate(HOSTS, 1):
        record = site.record(host)
        checks.check('%s: the first run sends every setting' % host,
                     record['changes'] == ['id', 'output_mode', 'card_type', 'facility', 'settings'],
                     record['changes'])
        rc, objects = site.ctl(host, 'scan')
        scan = objects[0] if objects else {}
        checks.check('%s: the reader reports what was asked' % host,
                     rc == 0 and scan.get('id') == '%02d' % (10 + n)
                     and scan.get('mode') == dict(interface='rs485', wiegand='W26', rs485='R40')
                     and scan.get('settings') == '38400,n,8,1', scan)


def commissioning_again(site, checks):
    marks = site.frame_marks()
    rc, out = site.playbook('commission.yml')
    say(recap_text(out))
    checks.check('second commissioning ends well', rc == 0, out[-3000:])
    frames = site.frames_since(marks)
    for host in HOSTS:
        record = site.record(host)
        checks.check('%s: second run: the readable settings report no change, the others are '
                     'sent again' % host, record['changes'] == ['card_type', 'facility'],
                     record['changes'])
        setters = [p for p in frames[host] if REPORTED_SETTERS.match(p)]
        checks.check('%s: second run: no ID, mode or speed frame reached the reader' % host,
                      not setters and any(p.startswith('I00S') for p in frames[host]), frames[host])


def check_mode(site, checks):
    frame_marks, trace_marks = site.frame_marks(), site.trace_marks()
    rc, out = site.playbook('commission.yml', '--check', '--diff', '-e', 'reader_interface=wiegand',
                            '-e', 'reader_id=42')
    say(recap_text(out))
    summary = recap(out)
    checks.check('check mode ends well and reports a change on every host',
                 rc == 0 and all(summary.get(h, {}).get('changed') == 1 for h in HOSTS), out[-3000:])
    checks.check('check mode shows the diff', '-    "interface": "rs485"' in out
                 and '+    "interface": "wiegand"' in out, out[-2000:])
    frames = site.frames_since(frame_marks)
    traces = site.traces_since(trace_marks)
    for n, host in enumerate(HOSTS, 1):
        record = site.record(host, check=True)
        checks.check('%s: check mode names what would change' % host,
                     record['changes'] == ['id', 'output_mode', 'card_type', 'facility']
                     and record['commands'][:2] == ['set-id 42', 'set-mode wiegand W26 R40'],
                     record)
        checks.check('%s: check mode: the reader received only the scan\'s queries' % host,
                     frames[host] and set(frames[host]) <= QUERIES, frames[host])
        checks.check('%s: check mode: the trace shows no setting command' % host,
                     traces[host] and set(traces[host]) <= QUERIES, traces[host])
        rc, objects = site.ctl(host, 'scan')
        scan = objects[0] if objects else {}
        checks.check('%s: check mode left the reader as it was' % host,
                     scan.get('id') == '%02d' % (10 + n) and scan.get('mode', {}).get('interface') == 'rs485',
                     scan)


def template_slots(path):
    with open(path, encoding='utf-8') as f:
        return dict((s['slot'], s) for s in json.load(f)['slots'])


def fingerprints(site, checks):
    old, new = HOSTS[0], HOSTS[1]
    work = os.path.join(site.scratch, 'work')
    os.makedirs(work)
    # Slot 1 of the old reader gets the template of its slot 5, so that what
    # reaches the new reader differs from what its own slot 1 holds.
    prep = os.path.join(work, 'slot5.json')
    rc_a, _ = site.ctl(old, 'backup', prep, '--slots', '5')
    rc_b, _ = site.ctl(old, 'restore', prep, '--slots', '5', '--to-slot', '1')
    before = os.path.join(work, 'new-before.json')
    rc_c, _ = site.ctl(new, 'backup', before, '--slots', '1')
    if not checks.check('fingerprints: the readers are prepared', (rc_a, rc_b, rc_c) == (0, 0, 0)):
        return

    backups = os.path.join(site.scratch, 'backups')
    rc, out = site.playbook('nightly_backup.yml', '--limit', old, '-e', 'backup_slots=1-3',
                            '-e', 'backup_poll=1', '-e', 'backups_on_controller=' + backups)
    say(recap_text(out))
    fetched = os.path.join(backups, old, 'fingerprints-%s.json' % datetime.date.today().isoformat())
    if not checks.check('nightly backup ends well and fetches the file', rc == 0 and os.path.isfile(fetched),
                        out[-3000:]):
        return
    on_board = os.path.join(site.scratch, old, 'backups', 'fingerprints.json')
    with open(fetched, 'rb') as a, open(on_board, 'rb') as b:
        checks.check('the fetched file is the board\'s, byte for byte', a.read() == b.read())
    source = template_slots(fetched)
    checks.check('the backup holds slots 1 to 3, read', sorted(source) == [1, 2, 3]
                 and all(s['status'] == 'ok' for s in source.values()), list(source.values()))

    rc, out = site.playbook('replace_reader.yml', '--limit', new, '-e', 'backup_file=' + fetched,
                            '-e', 'restore_poll=1')
    say(recap_text(out))
    checks.check('replacing the reader ends well', rc == 0, out[-3000:])

    after = os.path.join(work, 'new-after.json')
    rc, _ = site.ctl(new, 'backup', after, '--slots', '1-3')
    target = template_slots(after) if rc == 0 else {}
    for slot in (1, 2, 3):
        a, b = source.get(slot, {}), target.get(slot, {})
        same = a.get('pieces') is not None and \
            [p.encode('latin-1') for p in a['pieces']] == [p.encode('latin-1') for p in b.get('pieces', [])] \
            and a.get('crc32') == b.get('crc32')
        checks.check('slot %d of the new reader reads back byte for byte as backed up' % slot, same)
    checks.check('slot 1 came from the old reader, not the new reader\'s own',
                 template_slots(before)[1]['pieces'] != target.get(1, {}).get('pieces'))


def main():
    parser = argparse.ArgumentParser(description='The collection torvik.reader end to end.')
    parser.add_argument('--torvikctl', required=True)
    parser.add_argument('--sim', required=True)
    args = parser.parse_args()
    args.torvikctl, args.sim = os.path.abspath(args.torvikctl), os.path.abspath(args.sim)
    for tool in ('ansible-playbook', 'ansible-galaxy', 'ansible-doc'):
        if not shutil.which(tool):
            say('%s is not installed (Debian package ansible-core)' % tool)
            return 1
    stop_signals()
    checks = Checks()
    scratch = tempfile.mkdtemp(prefix='torvik-ansible.')
    try:
        with SimulatedReaders(args.sim, scratch) as readers:
            site = Site(args, scratch, readers)
            if site.build_and_install(checks):
                site.docs(checks)
                site.start()
                commissioning(site, checks)
                commissioning_again(site, checks)
                check_mode(site, checks)
                fingerprints(site, checks)
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
    if checks.failed:
        say('%d checks failed: %s' % (len(checks.failed), '; '.join(checks.failed)))
        return 1
    say('every check passed')
    return 0


if __name__ == '__main__':
    sys.exit(main())
