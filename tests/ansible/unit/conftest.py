# SPDX-License-Identifier: MIT
"""Fixtures of the module tests: the collection on the import path, recorded
torvikctl calls, and a stand-in torvikctl that replays them.

The stand-in is put first on PATH; each call it gets takes the next
recording of its queue (its output and exit status, as torvikctl gave them)
and notes its command line, so a test sees exactly what a module ran.
`X --help` calls answer with the recorded help of X and take nothing from
the queue.
"""
import copy
import json
import os
import sys

import pytest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.abspath(os.path.join(HERE, '..', '..', '..'))
RECORDED = os.path.join(HERE, '..', 'recorded')
sys.path.insert(0, os.path.join(ROOT, 'ansible'))

STAND_IN = r'''#!%(python)s
import json, os, sys
args = sys.argv[1:]
with open(os.environ['TORVIKCTL_CALLS'], 'a') as f:
    f.write(json.dumps(args) + '\n')
with open(os.environ['TORVIKCTL_REPLAY']) as f:
    state = json.load(f)
if len(args) == 2 and args[1] == '--help':
    sys.stdout.write(state['help'].get(args[0], ''))
    sys.exit(0)
if not state['queue']:
    sys.stderr.write('stand-in torvikctl: no recording left for %%r\n' %% (args,))
    sys.exit(70)
record = state['queue'].pop(0)
with open(os.environ['TORVIKCTL_REPLAY'], 'w') as f:
    json.dump(state, f)
sys.stdout.write(record['stdout'])
sys.stderr.write(record['stderr'])
sys.exit(record['rc'])
'''


def recording(name):
    with open(os.path.join(RECORDED, name + '.json'), encoding='utf-8') as f:
        return json.load(f)


def recorded_path(name):
    return os.path.join(RECORDED, name)


# torvikctl's command names.
COMMANDS = {'scan', 'info', 'set-id', 'set-baud', 'set-mode', 'set-card-type', 'set-facility',
            'read', 'enrol', 'delete', 'template-get', 'template-put', 'backup', 'restore',
            'factory-default', 'standalone-default', 'standalone-mode', 'door-time',
            'alarm-time', 'master-card', 'duress-card', 'clear-card', 'raw'}


def contract_form(record):
    """A recording with every field the JSON contract adds to each object
    (schema, run, time, port, device, settings, serial), and a "not-run"
    object for each command after a failure. torvikctl prints these once the
    contract is in; the modules read both forms."""
    record = copy.deepcopy(record)
    objects = [json.loads(line) for line in record['stdout'].splitlines() if line.strip()]
    scan = objects[0] if objects and objects[0].get('operation') == 'scan' else {}
    for obj in objects:
        obj.setdefault('schema', 1)
        obj.setdefault('run', '5e1d0c3ba9f24e11')
        obj.setdefault('time', '2026-12-09T10:00:00Z')
        obj.setdefault('port', scan.get('port', 0))
        obj.setdefault('device', '/dev/pts/9' if scan.get('port') else None)
        obj.setdefault('settings', scan.get('settings'))
        obj.setdefault('serial', scan.get('serial'))
    if record['rc'] == 1:
        ran = [o['operation'] for o in objects]
        names = [w for w in record['commands'] if w in COMMANDS]
        for name in names[len(ran) - 1:]:
            objects.append(dict(schema=1, run='5e1d0c3ba9f24e11', operation=name,
                                outcome='not-run', text='', port=1, device='/dev/pts/9',
                                settings=scan.get('settings'), serial=scan.get('serial'),
                                time='2026-12-09T10:00:00Z'))
    record['stdout'] = ''.join(json.dumps(o) + '\n' for o in objects)
    return record


FORMS = {
    'as printed': lambda record: record,
    'contract': contract_form,
}


class StandIn(object):
    def __init__(self, directory):
        self.bin = os.path.join(directory, 'bin')
        self.replay = os.path.join(directory, 'replay.json')
        self.calls_file = os.path.join(directory, 'calls.jsonl')
        os.makedirs(self.bin)
        path = os.path.join(self.bin, 'torvikctl')
        with open(path, 'w') as f:
            f.write(STAND_IN % dict(python=sys.executable))
        os.chmod(path, 0o755)
        self.load([])

    def load(self, records, help=None):
        with open(self.replay, 'w') as f:
            json.dump(dict(queue=records, help=help or {}), f)
        open(self.calls_file, 'w').close()

    def calls(self, with_help=False):
        """The command lines the modules ran, without the link options: the
        words from the first command on."""
        with open(self.calls_file) as f:
            lines = [json.loads(line) for line in f]
        result = []
        for args in lines:
            if len(args) == 2 and args[1] == '--help':
                if with_help:
                    result.append(args)
                continue
            result.append(args)
        return result

    def left(self):
        with open(self.replay) as f:
            return len(json.load(f)['queue'])


@pytest.fixture
def torvikctl(tmp_path, monkeypatch):
    stand_in = StandIn(str(tmp_path))
    monkeypatch.setenv('PATH', stand_in.bin + os.pathsep + os.environ.get('PATH', ''))
    monkeypatch.setenv('TORVIKCTL_REPLAY', stand_in.replay)
    monkeypatch.setenv('TORVIKCTL_CALLS', stand_in.calls_file)
    return stand_in


@pytest.fixture
def run_module(capsys, monkeypatch, tmp_path):
    """Runs a module's main() with ARGS; returns its result as a dict."""
    from ansible.module_utils import basic
    from ansible.module_utils.common.text.converters import to_bytes

    def run(main, args, check=False, diff=False):
        payload = dict(args, _ansible_check_mode=check, _ansible_diff=diff,
                       _ansible_remote_tmp=str(tmp_path), _ansible_keep_remote_files=False)
        monkeypatch.setattr(basic, '_ANSIBLE_ARGS', to_bytes(json.dumps({'ANSIBLE_MODULE_ARGS': payload})))
        with pytest.raises(SystemExit):
            main()
        out = capsys.readouterr().out
        return json.loads(out[out.index('{'):])
    return run
