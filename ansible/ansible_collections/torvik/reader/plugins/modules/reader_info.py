# SPDX-License-Identifier: MIT
"""torvik.reader.reader_info: the reader on a host's serial line, as facts."""

DOCUMENTATION = r'''
module: reader_info
short_description: Find the reader on the managed host's serial line and report it
description:
  - Scans for the reader with C(torvikctl scan) at the host's stored link settings, or
    over every COM number and every line speed with I(sweep), and returns what the
    reader reports as facts in C(torvik_reader).
  - Only queries are sent (presence, version, output mode); the reader is not changed.
    A sweep that finds the reader at other settings stores them in the settings file,
    so that the next call finds it at once.
author: torvik-config maintainers
options:
  sweep:
    description:
      - Try every COM number and all fourteen line settings (C(scan --sweep)), for a
        reader left at an unknown speed. Without it only the stored settings are tried
        on each port.
    type: bool
    default: false
extends_documentation_fragment:
  - torvik.reader.link
attributes:
  check_mode:
    support: full
    description: The scan runs in check mode too; it only asks.
'''

EXAMPLES = r'''
- name: Find the reader on the board's UART
  torvik.reader.reader_info:
    port: /dev/ttyS1
    rs485: true

- name: Find a reader left at an unknown speed
  torvik.reader.reader_info:
    port: COM2
    sweep: true
  register: found

- name: Say which reader is at which door
  ansible.builtin.debug:
    msg: "{{ inventory_hostname }}: {{ torvik_reader.serial }}, ID {{ torvik_reader.id }}"
'''

RETURN = r'''
ansible_facts:
  description: The reader as facts.
  returned: success
  type: dict
  contains:
    torvik_reader:
      description: The same as I(reader).
      type: dict
      returned: success
reader:
  description: The reader as the scan found it.
  returned: success
  type: dict
  contains:
    port:
      description: The COM number it answered on, as C(COMn).
      type: str
      sample: COM1
    com:
      description: The same as a number.
      type: int
      sample: 1
    device:
      description: The device path of that COM number, when known.
      type: str
      sample: /dev/ttyUSB0
    settings:
      description: The line settings it answered at.
      type: str
      sample: 19200,e,8,1
    serial:
      description: Its serial number.
      type: str
      sample: '12345678'
    version:
      description: Its firmware version.
      type: str
      sample: 04.01-01
    id:
      description: Its bus address (ID).
      type: int
      sample: 3
    interface:
      description: The output interface, C(wiegand) or C(rs485).
      type: str
      sample: rs485
    wiegand_format:
      description: The Wiegand format, C(W26), C(W34) or C(W42).
      type: str
      sample: W26
    rs485_format:
      description: The RS-485 format, C(R24), C(R32) or C(R40).
      type: str
      sample: R32
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
    reader_facts,
)


def main():
    argument_spec = dict(LINK_ARGUMENT_SPEC)
    argument_spec.update(sweep=dict(type='bool', default=False))
    module = AnsibleModule(argument_spec=argument_spec, supports_check_mode=True)
    ctl = Torvikctl(module)
    try:
        scan = ctl.scan(sweep=module.params['sweep'])
    except TorvikctlError as e:
        module.fail_json(msg=str(e), calls=ctl.call_log(), **e.details())
    reader = reader_facts(scan, module.params)
    module.exit_json(changed=False, reader=reader, ansible_facts=dict(torvik_reader=reader),
                     calls=ctl.call_log())


if __name__ == '__main__':
    main()
