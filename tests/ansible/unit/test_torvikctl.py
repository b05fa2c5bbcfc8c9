# SPDX-License-Identifier: MIT
"""The shared part of the modules: options to a command line, torvikctl's
objects read back, a failure put into words, template files checked."""
import json
import os

import pytest
from conftest import FORMS, recorded_path, recording

from ansible_collections.torvik.reader.plugins.module_utils import torvikctl as t


@pytest.mark.parametrize('params, expected', [
    ({}, ['--json']),
    ({'port': 'COM3'}, ['--json', '--com', '3']),
    ({'port': 'com16'}, ['--json', '--com', '16']),
    ({'port': '/dev/ttyUSB0'}, ['--json', '--port', 'COM1=/dev/ttyUSB0', '--com', '1']),
    ({'port': '/dev/ttyS1', 'rs485': True, 'rs485_delays': '1, 2'},
     ['--json', '--port', 'COM1=/dev/ttyS1', '--com', '1', '--rs485', '--rs485-delays', '1,2']),
    ({'settings_file': '/srv/s.reg', 'low_latency': True, 'trace': '/tmp/t.log'},
     ['--json', '--settings', '/srv/s.reg', '--low-latency', '--trace=/tmp/t.log']),
])
def test_link_arguments(params, expected):
    assert t.link_arguments(params) == expected


@pytest.mark.parametrize('params', [
    {'port': 'COM0'}, {'port': 'COM17'}, {'port': 'ttyUSB0'}, {'port': 'COMx'},
    {'rs485_delays': '5'}, {'rs485_delays': '1,2,3'}, {'rs485_delays': '-1,2'},
])
def test_link_arguments_refused(params):
    with pytest.raises(ValueError):
        t.link_arguments(params)


@pytest.mark.parametrize('text, expected', [
    ('38400,e', '38400,e,8,1'),
    ('38400,E,8,1', '38400,e,8,1'),
    (' 9600 , n ', '9600,n,8,1'),
    ('230400,e,8,1', '230400,e,8,1'),
])
def test_normalize_settings(text, expected):
    assert t.normalize_settings(text) == expected


@pytest.mark.parametrize('text', ['38400', '38400,o', '12345,e', '38400,e,7,1', '38400,e,8,2', 'fast'])
def test_normalize_settings_refused(text):
    with pytest.raises(ValueError):
        t.normalize_settings(text)


@pytest.mark.parametrize('given, slots, text', [
    ('1-3,7', [1, 2, 3, 7], '1-3,7'),
    ([5, '10-12', 0], [5, 10, 11, 12, 0], '5,10-12,0'),
    (17, [17], '17'),
    ('3,1-3', [3, 1, 2], '3,1-2'),
    ('0-1000', list(range(1001)), '0-1000'),
])
def test_slot_lists(given, slots, text):
    assert t.parse_slot_list(given) == slots
    assert t.slot_list_text(slots) == text
    assert t.parse_slot_list(text) == slots


@pytest.mark.parametrize('given', ['', '1001', '3-1', 'a', '1,,2', '-1', [True]])
def test_slot_lists_refused(given):
    with pytest.raises(ValueError):
        t.parse_slot_list(given)


@pytest.mark.parametrize('form', sorted(FORMS))
@pytest.mark.parametrize('name, operations', [
    ('scan', ['scan']),
    ('settings', ['scan', 'set-id', 'set-mode', 'set-card-type', 'set-facility']),
    ('failure-midway', ['scan', 'set-id', 'set-card-type']),
    ('backup', ['scan', 'backup']),
    ('usage-error', []),
])
def test_objects_of_recorded_calls(form, name, operations):
    objects = t.parse_objects(FORMS[form](recording(name))['stdout'])
    assert [o['operation'] for o in objects if o['outcome'] != 'not-run'] == operations


@pytest.mark.parametrize('stdout, says', [
    ('{"operation":"scan","outcome":"ok"}\nSet ID Ok\n', 'other than JSON'),
    ('[1, 2]\n', 'not an operation'),
    ('{"schema":2,"operation":"scan","outcome":"ok"}\n', 'schema 2'),
])
def test_objects_refused(stdout, says):
    with pytest.raises(t.TorvikctlError) as e:
        t.parse_objects(stdout)
    assert says in str(e.value)


@pytest.mark.parametrize('form', sorted(FORMS))
def test_reader_facts_of_a_scan(form):
    scan = t.parse_objects(FORMS[form](recording('scan-after-settings'))['stdout'])[0]
    facts = t.reader_facts(scan, {'port': '/dev/pts/9'})
    assert facts == dict(port='COM1', com=1, device='/dev/pts/9', settings='19200,e,8,1',
                         serial='12345678', version='04.01-01', id=3, interface='rs485',
                         wiegand_format='W26', rs485_format='R32')


@pytest.mark.parametrize('form', sorted(FORMS))
@pytest.mark.parametrize('name, says', [
    ('failure-midway', 'set-card-type failed: Set Card Type Error'),
    ('usage-error', 'torvikctl refused the call before sending anything: torvikctl: set-id: the ID must be'),
    ('scan-not-found', 'no reader found: The scan tried:'),
])
def test_failures_in_one_sentence(form, name, says):
    record = FORMS[form](recording(name))
    result = t.CallResult(['torvikctl'], record['rc'], t.parse_objects(record['stdout']),
                          record['stderr'], 1.0)
    assert t.explain(result).startswith(says)


def test_commands_after_a_failure_are_named():
    record = FORMS['contract'](recording('failure-midway'))
    result = t.CallResult(['torvikctl'], 1, t.parse_objects(record['stdout']), '', 1.0)
    assert t.explain(result).endswith('(not run: set-facility)')


def test_a_call_past_its_time_limit_says_so():
    result = t.CallResult(['torvikctl'], -2, [], '', 5.0, timed_out=True)
    assert 'did not end within the timeout of 5 s' in t.explain(result, 5)


# ---- template files -------------------------------------------------------

def write_templates(tmp_path, change=None):
    """The recorded template file, changed by CHANGE(doc) when given."""
    with open(recorded_path('templates.json'), encoding='utf-8') as f:
        doc = json.load(f)
    if change:
        change(doc)
    path = os.path.join(str(tmp_path), 'templates.json')
    with open(path, 'w', encoding='utf-8') as f:
        json.dump(doc, f)
    return path


def flip_piece(doc):
    piece = doc['slots'][1]['pieces'][2]
    doc['slots'][1]['pieces'][2] = piece[:-1] + ('0' if piece[-1] != '0' else '1')


def test_recorded_template_file_reads():
    info = t.read_template_file(recorded_path('templates.json'))
    assert info['version'] == 1 and info['complete'] is True
    assert info['slots'] == {1: 'ok', 2: 'ok'}


@pytest.mark.parametrize('change, says', [
    (flip_piece, 'the checksum of slot 2 does not match'),
    (lambda d: d['slots'][1].update(slot=1), 'slot 1 appears twice'),
    (lambda d: d['slots'][0].update(status='fine'), 'slot 1 has no status'),
    (lambda d: d['slots'][0]['pieces'].pop(), 'slot 1 lacks its three pieces'),
    (lambda d: d['slots'][0]['pieces'].__setitem__(0, '\u0100' * 256), 'no bytes'),
    (lambda d: d.update(format='other'), 'is not a template file'),
    (lambda d: d.pop('complete'), 'no completeness flag'),
])
def test_damaged_template_files_refused(tmp_path, change, says):
    with pytest.raises(ValueError) as e:
        t.read_template_file(write_templates(tmp_path, change))
    assert says in str(e.value)


def test_newer_format_left_to_torvikctl(tmp_path):
    def newer(doc):
        doc['version'] = 2
        for s in doc['slots']:
            s['crc32'] = 'not the version 1 checksum'
    assert t.read_template_file(write_templates(tmp_path, newer))['slots'] == {1: 'ok', 2: 'ok'}


INFO = dict(version=1, complete=True, slots={1: 'ok', 2: 'empty', 3: 'ok', 4: 'failed'})


@pytest.mark.parametrize('info, slots, to_slot, allow, expected', [
    (INFO, None, None, False, [(1, 1), (3, 3)]),
    (INFO, [3], None, False, [(3, 3)]),
    (INFO, [3], 9, False, [(3, 9)]),
    (dict(INFO, slots={5: 'ok'}), None, 0, False, [(5, 0)]),
    (dict(INFO, complete=False), None, None, True, [(1, 1), (3, 3)]),
])
def test_restore_plan(info, slots, to_slot, allow, expected):
    assert t.restore_plan(info, slots, to_slot, allow) == expected


@pytest.mark.parametrize('info, slots, to_slot, says', [
    (dict(INFO, complete=False), None, None, 'incomplete'),
    (INFO, [2], None, 'slot 2 of the file is empty'),
    (INFO, [4], None, 'slot 4 of the file is failed'),
    (INFO, [7], None, 'holds no slot 7'),
    (INFO, None, 9, 'to_slot moves one slot'),
    (INFO, [1, 3], 9, 'to_slot moves one slot'),
])
def test_restore_plan_refused(info, slots, to_slot, says):
    with pytest.raises(ValueError) as e:
        t.restore_plan(info, slots, to_slot)
    assert says in str(e.value)
