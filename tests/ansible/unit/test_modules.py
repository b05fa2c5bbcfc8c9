# SPDX-License-Identifier: MIT
"""The modules over recorded torvikctl calls: what each one runs, in which
order, what it reports, and that it sends nothing when it must not."""
import json
import os

import pytest
from conftest import FORMS, recorded_path, recording

from ansible_collections.torvik.reader.plugins.modules import fingerprints, reader, reader_info

PTY = '/dev/pts/9'
# What the recorded reader reports once commissioned (scan-after-settings).
COMMISSIONED = dict(port=PTY, id=3, interface='rs485', wiegand_format='W26', rs485_format='R32',
                    settings='19200,e')


def commands(calls):
    """The words of each call from its first command on (the link options
    before it taken off)."""
    out = []
    for args in calls:
        i = 0
        while i < len(args) and args[i].startswith('--'):
            i += 2 if args[i] in ('--settings', '--port', '--com', '--rs485-delays') else 1
        out.append(args[i:])
    return out


@pytest.mark.parametrize('form', sorted(FORMS))
@pytest.mark.parametrize('args, records, sent, changes', [
    # Everything the reader reports is as asked: one scan, nothing sent.
    (COMMISSIONED, ['scan-after-settings'], [], []),
    # Values it cannot report are sent every time.
    (dict(COMMISSIONED, card_type='em', facility=123), ['scan-after-settings', 'settings'],
     [['set-card-type', 'em', 'set-facility', '123']], ['card_type', 'facility']),
    # From the factory state: ID and mode differ; the formats not given are kept.
    (dict(port=PTY, id=3, interface='rs485'), ['scan', 'settings'],
     [['set-id', '3', 'set-mode', 'rs485', 'W26', 'R32']], ['id', 'output_mode']),
    # A new speed goes last, then the sweep that finds the reader at it.
    (dict(port=PTY, id=3, settings='38400,n'), ['scan', 'settings', 'scan-sweep'],
     [['set-id', '3', 'set-baud', '38400,n,8,1'], ['scan', '--sweep']], ['id', 'settings']),
    (dict(port=PTY, standalone=True, door_time=7, alarm_time=40), ['scan', 'standalone'],
     [['standalone-mode', 'door-time', '7', 'alarm-time', '40']],
     ['standalone', 'door_time', 'alarm_time']),
])
def test_reader_sends_only_what_differs(torvikctl, run_module, form, args, records, sent, changes):
    torvikctl.load([FORMS[form](recording(r)) for r in records])
    result = run_module(reader.main, args)
    assert not result.get('failed'), result.get('msg')
    assert commands(torvikctl.calls()) == [['scan']] + sent
    assert result['changes'] == changes
    assert result['changed'] == bool(changes)
    assert torvikctl.left() == 0


@pytest.mark.parametrize('form', sorted(FORMS))
def test_reader_check_mode_only_scans(torvikctl, run_module, form):
    torvikctl.load([FORMS[form](recording('scan'))])
    result = run_module(reader.main, dict(COMMISSIONED, settings='38400,e', card_type='em'),
                        check=True, diff=True)
    assert commands(torvikctl.calls()) == [['scan']]
    assert result['changed'] is True
    assert result['commands'] == ['set-id 3', 'set-mode rs485 W26 R32', 'set-card-type em',
                                  'set-baud 38400,e,8,1']
    assert result['diff']['before'] == dict(id=1, interface='wiegand', wiegand_format='W26',
                                            rs485_format='R32', settings='19200,e,8,1')
    assert result['diff']['after'] == dict(id=3, interface='rs485', wiegand_format='W26',
                                           rs485_format='R32', settings='38400,e,8,1',
                                           card_type='em')


@pytest.mark.parametrize('form', sorted(FORMS))
def test_reader_failure_names_the_command(torvikctl, run_module, form):
    # The reader answers the card type too late: the ID is set, the card type
    # fails, the facility code is not sent.
    torvikctl.load([FORMS[form](recording('scan')), FORMS[form](recording('failure-midway'))])
    result = run_module(reader.main, dict(port=PTY, id=4, card_type='em', facility=5))
    assert commands(torvikctl.calls())[1] == ['set-id', '4', 'set-card-type', 'em', 'set-facility', '5']
    assert result['failed'] is True
    assert result['msg'].startswith('set-card-type failed: Set Card Type Error')
    assert result['changed'] is True and result['done'] == ['set-id']


@pytest.mark.parametrize('args, says', [
    (dict(door_time=5), 'door_time needs standalone: true'),
    (dict(id=100), 'id must be 1 to 99'),
    (dict(settings='12345,e'), 'settings 12345,e'),
    (dict(port='ttyUSB0'), 'give COMn or an absolute device path'),
])
def test_reader_refuses_before_any_call(torvikctl, run_module, args, says):
    result = run_module(reader.main, args)
    assert result['failed'] is True and says in result['msg']
    assert torvikctl.calls() == []


@pytest.mark.parametrize('name, says', [
    ('scan-not-found', 'no reader found: The scan tried:'),
    ('usage-error', 'torvikctl refused the call before sending anything'),
])
def test_reader_info_failures(torvikctl, run_module, name, says):
    torvikctl.load([recording(name)])
    result = run_module(reader_info.main, dict(port='COM1'))
    assert result['failed'] is True and result['msg'].startswith(says)
    assert ('sweep: true looks at every speed' in result['msg']) == (name == 'scan-not-found')


@pytest.mark.parametrize('form', sorted(FORMS))
def test_reader_info_facts(torvikctl, run_module, form):
    record = FORMS[form](recording('scan-sweep'))
    torvikctl.load([record])
    result = run_module(reader_info.main, dict(port='COM1', sweep=True))
    assert commands(torvikctl.calls()) == [['scan', '--sweep']]
    # The device is torvikctl's to name when the port is given as COMn.
    device = json.loads(record['stdout']).get('device')
    assert result['ansible_facts']['torvik_reader'] == dict(
        port='COM1', com=1, device=device, settings='38400,n,8,1', serial='12345678',
        version='04.01-01', id=3, interface='rs485', wiegand_format='W26', rs485_format='R32')


def test_reader_found_on_another_port_is_not_taken(torvikctl, run_module):
    record = recording('scan-sweep')
    record['stdout'] = record['stdout'].replace('"port":1', '"port":2')
    torvikctl.load([record])
    result = run_module(reader.main, dict(port='COM1', id=5, sweep=True))
    assert result['failed'] is True and 'answered on COM2' in result['msg']
    assert len(torvikctl.calls()) == 1


def test_missing_torvikctl_names_the_package(run_module, monkeypatch, tmp_path):
    monkeypatch.setenv('PATH', str(tmp_path))
    result = run_module(reader_info.main, {})
    assert result['failed'] is True and 'torvik-config' in result['msg']


# ---- fingerprints ---------------------------------------------------------

def templates(tmp_path, change=None):
    with open(recorded_path('templates.json'), encoding='utf-8') as f:
        doc = json.load(f)
    if change:
        change(doc)
    path = os.path.join(str(tmp_path), 'door.json')
    with open(path, 'w', encoding='utf-8') as f:
        json.dump(doc, f)
    return path


# The help of a torvikctl whose backup replaces an existing file without a
# word and whose restore takes an incomplete file, and of one that asks for
# --force and --allow-incomplete.
HELP_OLD = dict(backup='usage: torvikctl [options] backup FILE [--slots LIST]\n',
                restore='usage: torvikctl [options] restore FILE [--slots LIST] [--to-slot N]\n')
HELP_NEW = dict(backup='usage: torvikctl [options] backup FILE [--slots LIST] [--force]\n',
                restore='usage: torvikctl [options] restore FILE [--slots LIST] [--to-slot N] '
                        '[--allow-incomplete]\n')


@pytest.mark.parametrize('form', sorted(FORMS))
def test_backup(torvikctl, run_module, tmp_path, form):
    path = os.path.join(str(tmp_path), 'door.json')
    record = FORMS[form](recording('backup'))
    record['stdout'] = record['stdout'].replace('/var/backups/torvik/templates.json', path)
    torvikctl.load([FORMS[form](recording('scan')), record])
    result = run_module(fingerprints.main, dict(port=PTY, state='backup', path=path, slots=[1, 2]))
    assert commands(torvikctl.calls()) == [['scan'], ['backup', path, '--slots', '1-2']]
    assert (result['changed'], result['slots_read'], result['complete']) == (True, 2, True)


@pytest.mark.parametrize('force, help, runs', [
    (False, HELP_NEW, []),
    (True, HELP_NEW, [['scan'], ['backup', 'PATH', '--force']]),
    (True, HELP_OLD, [['scan'], ['backup', 'PATH']]),
])
def test_backup_over_an_existing_file(torvikctl, run_module, tmp_path, force, help, runs):
    path = templates(tmp_path)
    torvikctl.load([recording('scan'), recording('backup')], help=help)
    result = run_module(fingerprints.main, dict(state='backup', path=path, force=force))
    assert commands(torvikctl.calls()) == [[w.replace('PATH', path) for w in r] for r in runs]
    assert result['changed'] is force


@pytest.mark.parametrize('change, args, says', [
    (lambda d: d['slots'][0]['pieces'].__setitem__(0, 'F' * 256), {}, 'checksum of slot 1'),
    (lambda d: d.update(complete=False), {}, 'incomplete'),
    (None, dict(slots='7'), 'holds no slot 7'),
    (None, dict(to_slot=9), 'to_slot moves one slot'),
])
def test_restore_refuses_before_anything_is_sent(torvikctl, run_module, tmp_path, change, args, says):
    path = templates(tmp_path, change)
    result = run_module(fingerprints.main, dict(args, state='restored', path=path), check=False)
    assert result['failed'] is True and says in result['msg'] and 'nothing was sent' in result['msg']
    assert torvikctl.calls() == []


def test_backup_into_a_missing_directory_reads_nothing(torvikctl, run_module, tmp_path):
    path = os.path.join(str(tmp_path), 'missing', 'door.json')
    result = run_module(fingerprints.main, dict(state='backup', path=path))
    assert result['failed'] is True and 'nothing was read' in result['msg']
    assert torvikctl.calls() == []


@pytest.mark.parametrize('help, allow_word', [(HELP_NEW, ['--allow-incomplete']), (HELP_OLD, [])])
def test_restore_of_an_incomplete_file_when_allowed(torvikctl, run_module, tmp_path, help, allow_word):
    path = templates(tmp_path, lambda d: d.update(complete=False))
    torvikctl.load([recording('scan'), recording('restore')], help=help)
    result = run_module(fingerprints.main, dict(state='restored', path=path, slots=1, to_slot=9,
                                                allow_incomplete=True))
    assert commands(torvikctl.calls())[-1] == ['restore', path, '--slots', '1', '--to-slot', '9'] + allow_word
    assert result['would_write'] == [[1, 9]] and result['slots_written'] == 1


def test_restore_check_mode_only_scans(torvikctl, run_module, tmp_path):
    path = templates(tmp_path)
    torvikctl.load([recording('scan')])
    result = run_module(fingerprints.main, dict(state='restored', path=path), check=True)
    assert commands(torvikctl.calls()) == [['scan']]
    assert result['changed'] is True and result['would_write'] == [[1, 1], [2, 2]]
