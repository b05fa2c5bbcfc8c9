#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""Commissioning many readers with Ansible: forks 1 against forks 12.

Starts N simulated readers (24 unless given) on pseudo-terminals, lists
them as door boards (local connection, each with its own settings file) and
runs the example commissioning playbook once with forks 1 and once with
forks 12, on fresh readers each time, in the same run. Every reader is
taken from the simulator's start (ID 1, Wiegand, 19200,e) to ID, RS-485
output, 38400 baud, card type and facility code, so each one sees the same
torvikctl calls: the scan, the setting call, the sweep at the new speed.

Prints a Markdown table: wall time, per reader, speed-up, the time spent in
torvikctl calls per reader (the reader's waits: torvikctl adds no
measurable time to them, see bench_model) and the controller's overhead per
reader (the rest), with the CPU time of Ansible and everything it ran.

    bench/ansible_scale.py PATH/TO/torvikctl PATH/TO/torvik-sim [N]
"""
import json
import math
import os
import resource
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(ROOT, 'tests', 'ansible'))
from simulated_readers import SimulatedReaders, stop_signals  # noqa: E402

PLAYBOOK = os.path.join(ROOT, 'ansible', 'examples', 'commission.yml')
WANT = dict(reader_settings='38400,n', reader_interface='rs485', reader_wiegand_format='W26',
            reader_rs485_format='R32', reader_card_type='em', reader_facility=123)


def run_once(torvikctl, sim, count, forks, scratch):
    """Commissions COUNT fresh readers with FORKS; returns the figures."""
    work = os.path.join(scratch, 'forks-%d' % forks)
    tree = os.path.join(work, 'results')
    os.makedirs(tree)
    with SimulatedReaders(sim, work) as readers:
        hosts = {}
        for n in range(1, count + 1):
            reader = readers.start('door-%02d' % n, ['--quiet', '--serial', 'S%07d' % n])
            hosts['door-%02d' % n] = dict(reader_port=reader.path, reader_id=n,
                                          reader_settings_file=os.path.join(work, 'door-%02d.reg' % n))
        inventory = os.path.join(work, 'inventory.json')
        with open(inventory, 'w') as f:
            json.dump(dict(door_boards=dict(hosts=hosts, vars=dict(
                WANT, ansible_connection='local',
                ansible_python_interpreter='{{ ansible_playbook_python }}'))), f)
        env = dict(os.environ, ANSIBLE_COLLECTIONS_PATH=os.path.join(ROOT, 'ansible'),
                   ANSIBLE_HOME=os.path.join(work, 'home'), ANSIBLE_LOCAL_TEMP=os.path.join(work, 'tmp'),
                   ANSIBLE_REMOTE_TMP=os.path.join(work, 'remote-tmp'), ANSIBLE_FORKS=str(forks),
                   ANSIBLE_CALLBACKS_ENABLED='ansible.builtin.tree', ANSIBLE_CALLBACK_TREE_DIR=tree,
                   ANSIBLE_LOAD_CALLBACK_PLUGINS='1', ANSIBLE_RETRY_FILES_ENABLED='0',
                   PYTHONDONTWRITEBYTECODE='1',
                   PATH=os.path.dirname(os.path.abspath(torvikctl)) + os.pathsep + os.environ['PATH'])
        before = resource.getrusage(resource.RUSAGE_CHILDREN)
        start = time.monotonic()
        proc = readers.spawn(['ansible-playbook', '-i', inventory, PLAYBOOK], env=env, cwd=work,
                             stdout=subprocess.PIPE, stderr=subprocess.STDOUT, universal_newlines=True)
        out, _ = proc.communicate()
        wall = time.monotonic() - start
        readers.children.remove(proc)
        after = resource.getrusage(resource.RUSAGE_CHILDREN)
        if proc.returncode != 0:
            sys.stderr.write(out[-3000:])
            raise SystemExit('the commissioning with forks %d failed' % forks)
        seconds = []
        for host in hosts:
            with open(os.path.join(tree, host)) as f:
                result = json.load(f)
            seconds.append(sum(c['seconds'] for c in result['calls']))
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    return dict(forks=forks, wall=wall, torvikctl=sum(seconds) / count, cpu=cpu / count)


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    torvikctl, sim = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    count = int(sys.argv[3]) if len(sys.argv) > 3 else 24
    stop_signals()
    scratch = tempfile.mkdtemp(prefix='torvik-ansible-scale.')
    try:
        rows = [run_once(torvikctl, sim, count, forks, scratch) for forks in (1, 12)]
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
    base = rows[0]['wall']
    print('### Commissioning %d simulated readers with Ansible (local connection)' % count)
    print()
    print('| forks | wall s | the readers\' waits alone, s | wall / waits | speed-up | '
          'torvikctl calls per reader, s | controller overhead per reader, s | CPU per reader, s |')
    print('|---|---|---|---|---|---|---|---|')
    for r in rows:
        # The readers wait side by side, FORKS at a time: alone, the waits
        # would take COUNT / FORKS times one reader's torvikctl calls.
        waits = math.ceil(count / r['forks']) * r['torvikctl']
        # What each reader's turn on a fork took beyond its torvikctl calls.
        overhead = r['wall'] * r['forks'] / count - r['torvikctl']
        print('| %d | %.1f | %.1f | %.2fx | %.2fx | %.2f | %.2f | %.2f |'
              % (r['forks'], r['wall'], waits, r['wall'] / waits, base / r['wall'], r['torvikctl'],
                 overhead, r['cpu']))


if __name__ == '__main__':
    main()
