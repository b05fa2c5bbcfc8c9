# SPDX-License-Identifier: MIT
"""torvik.reader.reader: the desired state of one reader."""

DOCUMENTATION = r'''
module: reader
short_description: Bring a reader to the desired ID, line speed, output mode and settings
description:
  - Scans for the reader with C(torvikctl), compares what it reports (ID, line settings,
    output interface and formats) with what is asked, and sends only the commands
    needed for what differs, in one C(torvikctl) call. Reports C(changed) and a diff.
  - The reader cannot report its card type, facility code, stand-alone mode or
    stand-alone times. Those are sent whenever they are asked for, and reported as
    changed every time (in I(changes) by name, so a play can tell them from the
    settings it can compare).
  - A new line speed is sent last. The reader then talks at the new speed, which the
    host's stored link settings do not know yet, so the module sweeps for it at once
    with C(scan --sweep), which stores the new speed in the settings file, and the next
    run finds the reader straight away.
  - In check mode only the scan runs (presence, version and output mode queries); no
    setting command is sent, and the result says what would change.
author: torvik-config maintainers
options:
  id:
    description: The reader's bus address (ID).
    type: int
  settings:
    description:
      - The line speed and parity, as C(38400,e) or C(38400,e,8,1). One of 4800, 9600,
        19200, 38400, 57600, 115200 or 230400 baud, parity C(n) or C(e).
      - Fingerprint template transfer needs 19200 baud or more.
    type: str
  interface:
    description: The output interface the reader reports cards and fingers on.
    type: str
    choices: [wiegand, rs485]
  wiegand_format:
    description:
      - The Wiegand format. Unless given, the one the reader has is kept when the
        interface or the RS-485 format changes.
    type: str
    choices: [W26, W34, W42]
    aliases: [wiegand]
  rs485_format:
    description:
      - The RS-485 format. Unless given, the one the reader has is kept when the
        interface or the Wiegand format changes.
    type: str
    choices: [R24, R32, R40]
  card_type:
    description:
      - The card type. The reader cannot report it, so it is sent every time and
        reported as changed.
    type: str
    choices: [em, keldo, security]
  facility:
    description:
      - The facility code. The reader cannot report it, so it is sent every time and
        reported as changed.
    type: int
  standalone:
    description:
      - Switch the reader to stand-alone mode (it then works as a door controller on
        its own). The reader cannot report the mode, so C(true) sends it every time and
        reports a change; C(false) sends nothing.
      - Needed for I(door_time) and I(alarm_time).
    type: bool
  door_time:
    description:
      - The stand-alone door-open time, 0 to 9999. Needs I(standalone=true). Not
        reported by the reader, so sent every time and reported as changed.
    type: int
  alarm_time:
    description:
      - The stand-alone alarm time, 0 to 9999. Needs I(standalone=true). Not reported
        by the reader, so sent every time and reported as changed.
    type: int
  sweep:
    description:
      - Look for the reader over every COM number and all line settings (C(scan --sweep))
        instead of at the stored settings only, for a reader left at an unknown speed.
    type: bool
    default: false
extends_documentation_fragment:
  - torvik.reader.link
attributes:
  check_mode:
    support: full
    description: Only the scan is sent; the result says what would change.
  diff_mode:
    support: full
    description: The settings asked for, as the reader reported them and as they will be.
seealso:
  - module: torvik.reader.reader_info
  - module: torvik.reader.fingerprints
'''

EXAMPLES = r'''
- name: Commission the reader of a door
  torvik.reader.reader:
    port: /dev/ttyS1
    rs485: true
    id: 3
    interface: rs485
    wiegand_format: W26
    rs485_format: R32
    card_type: em

- name: Set the facility code of every reader of building B
  torvik.reader.reader:
    facility: 123
  when: "'building_b' in group_names"

- name: Move to 38400 baud, finding the reader at whatever speed it is now
  torvik.reader.reader:
    port: COM1
    settings: 38400,e
    sweep: true

- name: Make the reader a stand-alone door controller
  torvik.reader.reader:
    standalone: true
    door_time: 5
    alarm_time: 30
'''

RETURN = r'''
changes:
  description:
    - The settings sent (in check mode, those that would be), by name - C(id),
      C(output_mode), C(card_type), C(facility), C(standalone), C(door_time),
      C(alarm_time), C(settings).
    - Those the reader can report (C(id), C(output_mode), C(settings)) appear only when
      they differed.
  returned: always
  type: list
  elements: str
  sample: [id, output_mode, card_type]
commands:
  description: The torvikctl commands sent (in check mode, those that would be).
  returned: always
  type: list
  elements: str
  sample: ["set-id 3", "set-mode rs485 W26 R32", "set-card-type em"]
unreported:
  description: The settings asked for that the reader cannot report, so sent every time.
  returned: always
  type: list
  elements: str
  sample: [card_type]
reader:
  description:
    - The reader after the change (in check mode, as found), as in M(torvik.reader.reader_info).
  returned: success
  type: dict
before:
  description: The reader as the scan found it.
  returned: success
  type: dict
calls:
  description: The torvikctl calls made, with their exit status and seconds.
  returned: always
  type: list
  elements: dict
'''

from ansible.module_utils.basic import AnsibleModule

from ansible_collections.torvik.reader.plugins.module_utils.torvikctl import (
    LINK_ARGUMENT_SPEC,
    Torvikctl,
    TorvikctlError,
    normalize_settings,
    reader_facts,
)

# The settings the reader reports, compared before anything is sent.
REPORTED = ('id', 'output_mode', 'settings')
MODE_KEYS = ('interface', 'wiegand_format', 'rs485_format')


class Change(object):
    """One setting to send: its name, its torvikctl command, and the value
    before (None when the reader cannot report it) and after."""

    def __init__(self, name, command, before, after):
        self.name = name
        self.command = command
        self.before = before
        self.after = after

    @property
    def text(self):
        return ' '.join(str(c) for c in self.command)


def validate(params):
    """A text for a request that cannot be carried out, or None."""
    ranges = dict(id=(1, 99), facility=(0, 65535), door_time=(0, 9999), alarm_time=(0, 9999))
    for name, (low, high) in ranges.items():
        value = params.get(name)
        if value is not None and not low <= value <= high:
            return '%s must be %d to %d, not %d' % (name, low, high, value)
    if params.get('settings') is not None:
        try:
            normalize_settings(params['settings'])
        except ValueError as e:
            return str(e)
    timed = [n for n in ('door_time', 'alarm_time') if params.get(n) is not None]
    if timed and not params.get('standalone'):
        return ('%s needs standalone: true (the reader takes its stand-alone times only '
                'in stand-alone mode, switched on in the same call)' % ' and '.join(timed))
    return None


def plan(current, params):
    """The changes that bring the reader as found (reader facts) to what
    PARAMS ask, in the order they are sent: the line speed last, since every
    command after it would go at the new speed."""
    changes = []
    if params.get('id') is not None and current.get('id') != params['id']:
        changes.append(Change('id', ['set-id', params['id']], current.get('id'), params['id']))

    if any(params.get(k) is not None for k in MODE_KEYS):
        have = dict((k, current.get(k)) for k in MODE_KEYS)
        want = dict((k, params.get(k) if params.get(k) is not None else have[k]) for k in MODE_KEYS)
        unknown = [k for k in MODE_KEYS if want[k] is None]
        if unknown:
            raise ValueError('the reader did not report its output mode; give %s as well'
                             % ', '.join(unknown))
        if want != have:
            changes.append(Change('output_mode', ['set-mode', want['interface'],
                                                  want['wiegand_format'], want['rs485_format']],
                                  have, want))

    if params.get('card_type') is not None:
        changes.append(Change('card_type', ['set-card-type', params['card_type']], None,
                              params['card_type']))
    if params.get('facility') is not None:
        changes.append(Change('facility', ['set-facility', params['facility']], None,
                              params['facility']))
    if params.get('standalone'):
        changes.append(Change('standalone', ['standalone-mode'], None, True))
        for name in ('door_time', 'alarm_time'):
            if params.get(name) is not None:
                changes.append(Change(name, [name.replace('_', '-'), params[name]], None,
                                      params[name]))

    if params.get('settings') is not None:
        want = normalize_settings(params['settings'])
        have = current.get('settings')
        try:
            have = normalize_settings(have) if have else None
        except ValueError:
            pass
        if have != want:
            changes.append(Change('settings', ['set-baud', want], have, want))
    return changes


def unreported_asked(params):
    names = [n for n in ('card_type', 'facility') if params.get(n) is not None]
    if params.get('standalone'):
        names += ['standalone'] + [n for n in ('door_time', 'alarm_time') if params.get(n) is not None]
    return names


def diff_of(current, params, changes):
    """Before and after of the settings asked for. Settings the reader cannot
    report have no before; they show as added."""
    before, after = {}, {}
    if params.get('id') is not None:
        before['id'] = current.get('id')
        after['id'] = params['id']
    by_name = dict((c.name, c) for c in changes)
    if any(params.get(k) is not None for k in MODE_KEYS):
        for k in MODE_KEYS:
            before[k] = current.get(k)
            after[k] = by_name['output_mode'].after[k] if 'output_mode' in by_name else current.get(k)
    if params.get('settings') is not None:
        before['settings'] = current.get('settings')
        after['settings'] = normalize_settings(params['settings'])
    for c in changes:
        if c.name not in REPORTED:
            after[c.name] = c.after
    return dict(before=before, after=after)


def apply(reader, changes):
    """The reader facts once CHANGES have taken effect."""
    after = dict(reader)
    for c in changes:
        if c.name == 'id':
            after['id'] = c.after
        elif c.name == 'output_mode':
            after.update(c.after)
        elif c.name == 'settings':
            after['settings'] = c.after
    return after


def main():
    argument_spec = dict(LINK_ARGUMENT_SPEC)
    argument_spec.update(
        id=dict(type='int'),
        settings=dict(type='str'),
        interface=dict(type='str', choices=['wiegand', 'rs485']),
        wiegand_format=dict(type='str', choices=['W26', 'W34', 'W42'], aliases=['wiegand']),
        rs485_format=dict(type='str', choices=['R24', 'R32', 'R40']),
        card_type=dict(type='str', choices=['em', 'keldo', 'security']),
        facility=dict(type='int'),
        standalone=dict(type='bool'),
        door_time=dict(type='int'),
        alarm_time=dict(type='int'),
        sweep=dict(type='bool', default=False),
    )
    module = AnsibleModule(argument_spec=argument_spec, supports_check_mode=True)
    params = module.params
    problem = validate(params)
    if problem:
        module.fail_json(msg=problem)
    ctl = Torvikctl(module)
    unreported = unreported_asked(params)

    try:
        scan = ctl.scan(sweep=params['sweep'])
    except TorvikctlError as e:
        module.fail_json(msg=str(e), calls=ctl.call_log(), **e.details())
    before = reader_facts(scan, params)
    try:
        changes = plan(before, params)
    except ValueError as e:
        module.fail_json(msg=str(e), before=before, calls=ctl.call_log())
    result = dict(changed=bool(changes), changes=[c.name for c in changes],
                  commands=[c.text for c in changes], unreported=unreported, before=before)
    if module._diff:
        result['diff'] = diff_of(before, params, changes)
    if module.check_mode or not changes:
        module.exit_json(reader=before, calls=ctl.call_log(), **result)

    words = []
    for c in changes:
        words += [str(w) for w in c.command]
    try:
        done = ctl.run(words)
    except TorvikctlError as e:
        objects = e.result.objects if e.result else []
        sent = [o.get('operation') for o in objects[1:] if o.get('outcome') == 'ok']
        failure = dict(result, changed=bool(sent), done=sent)
        failure.update(e.details())
        module.fail_json(msg=str(e), calls=ctl.call_log(), **failure)
    # The scan of that call must have found the reader the first scan found.
    found = done.objects[0] if done.objects else {}
    if before.get('serial') and found.get('serial') and found['serial'] != before['serial']:
        module.fail_json(msg='the reader answering changed between the scans (%s, then %s); '
                             'the commands went to %s' % (before['serial'], found['serial'],
                                                          found['serial']),
                         calls=ctl.call_log(), **dict(result, changed=True))
    after = apply(before, changes)

    if any(c.name == 'settings' for c in changes):
        # The stored link settings still hold the old speed: the sweep finds the
        # reader at the new one and stores it.
        try:
            again = ctl.scan(sweep=True)
        except TorvikctlError as e:
            failure = dict(result)
            failure.update(e.details())
            module.fail_json(msg='the reader took the new line settings but was not found at '
                                 'them afterwards: %s' % e, calls=ctl.call_log(), **failure)
        after = reader_facts(again, params)
        want = normalize_settings(params['settings'])
        if after.get('settings') and after['settings'] != want:
            module.warn('the reader was set to %s and answered the sweep at %s; the stored '
                        'settings now say %s' % (want, after['settings'], after['settings']))
    module.exit_json(reader=after, calls=ctl.call_log(), **result)


if __name__ == '__main__':
    main()
