#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""Records what torvikctl --json prints, for the module tests.

Starts simulated readers (torvik-sim) on pseudo-terminals, runs one
torvikctl call per case against them, and writes each call's commands, exit
status, standard output and standard error to recorded/CASE.json. The
pseudo-terminal and the scratch directory are replaced by fixed names
(/dev/pts/9, /var/backups/torvik), so a recording does not change from run
to run but for times and run ids. The template file of the backup case is
kept as recorded/templates.json.

    record.py PATH/TO/torvikctl PATH/TO/torvik-sim

Run it again when torvikctl's output changes; the simulated readers end
however the script ends.
"""
import json
import os
import shutil
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from simulated_readers import SimulatedReaders  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, 'recorded')
PTY = '/dev/pts/9'
DIR = '/var/backups/torvik'

# name, commands ({dir} is the scratch directory), the reader they go to:
# 'reader' keeps what the cases before set; 'late' answers its first card
# type command too late, so that command fails in the middle of a call;
# 'silent' never answers.
CASES = [
    ('scan', ['scan'], 'reader'),
    ('settings', ['set-id', '3', 'set-mode', 'rs485', 'W26', 'R32', 'set-card-type', 'em',
                  'set-facility', '123'], 'reader'),
    ('scan-after-settings', ['scan'], 'reader'),
    ('standalone', ['standalone-mode', 'door-time', '7', 'alarm-time', '40'], 'reader'),
    ('failure-midway', ['set-id', '4', 'set-card-type', 'em', 'set-facility', '5'], 'late'),
    ('usage-error', ['set-id', '100'], 'reader'),
    ('backup', ['backup', '{dir}/templates.json', '--slots', '1-2'], 'reader'),
    ('restore', ['restore', '{dir}/templates.json', '--slots', '1', '--to-slot', '9'], 'reader'),
    ('set-baud', ['set-baud', '38400,n'], 'reader'),
    ('scan-sweep', ['scan', '--sweep'], 'reader'),
    ('scan-not-found', ['scan'], 'silent'),
]


def main():
    torvikctl, sim = sys.argv[1], sys.argv[2]
    scratch = tempfile.mkdtemp(prefix='torvik-record.')
    try:
        with SimulatedReaders(sim, scratch) as readers:
            targets = dict(reader=readers.start('reader', ['--serial', '12345678']),
                           late=readers.start('late', ['--serial', '12345678', '--late', 'I00S:3000']),
                           silent=readers.start('silent', ['--fault', 'drop']))
            os.makedirs(OUT, exist_ok=True)
            for name, commands, where in CASES:
                target = targets[where]
                settings = os.path.join(scratch, 'settings-%s.reg' % where)
                words = [w.replace('{dir}', scratch) for w in commands]
                argv = [torvikctl, '--json', '--settings', settings,
                        '--port', 'COM1=' + target.path, '--com', '1'] + words
                done = readers.run(argv)

                def fixed(text):
                    return text.replace(target.path, PTY).replace(scratch, DIR)

                record = dict(commands=[fixed(w) for w in words], rc=done.returncode,
                              stdout=fixed(done.stdout), stderr=fixed(done.stderr))
                with open(os.path.join(OUT, name + '.json'), 'w') as f:
                    json.dump(record, f, indent=1, ensure_ascii=False)
                    f.write('\n')
                print('%-26s exit %d' % (name, done.returncode))
            shutil.copyfile(os.path.join(scratch, 'templates.json'),
                            os.path.join(OUT, 'templates.json'))
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


if __name__ == '__main__':
    main()
