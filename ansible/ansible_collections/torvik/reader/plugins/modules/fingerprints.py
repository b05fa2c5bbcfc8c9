# SPDX-License-Identifier: MIT
"""torvik.reader.fingerprints: the enrolled fingerprint templates of a reader,
backed up to a file on the managed host and restored from one."""

DOCUMENTATION = r'''
module: fingerprints
short_description: Back up a reader's fingerprint templates to a file, or restore them
description:
  - With I(state=backup), reads the templates of the chosen slots into a template file
    on the managed host (C(torvikctl backup)); fetch it to the controller with
    M(ansible.builtin.fetch). Each slot takes about 3 s, so all 1001 slots take nearly
    an hour; run long backups with C(async).
  - With I(state=restored), writes the templates of a template file on the managed host
    back into the reader (C(torvikctl restore)), all its slots or those chosen, or one
    slot into another with I(to_slot). A damaged or incomplete file, a slot the file
    lacks or holds empty, are refused before anything is sent to the reader; empty and
    failed slots of the file are skipped.
  - The reader cannot be asked whether it already holds the same templates without
    reading them back, so a restore always writes and reports a change.
  - In check mode only the scan runs; a restore's file is checked as well, and the
    result says which slots would be written.
author: torvik-config maintainers
options:
  state:
    description:
      - C(backup) reads the reader into I(path); C(restored) writes I(path) into the reader.
    type: str
    required: true
    choices: [backup, restored]
  path:
    description: The template file on the managed host.
    type: path
    required: true
  slots:
    description:
      - The slots, as C(torvikctl) takes them (C(1-3,7,10-12)) or as a list of numbers and
        ranges. Slots run from 0 to 1000.
      - For a backup, all 1001 slots when not given; for a restore, every slot the file
        holds.
    type: raw
  to_slot:
    description:
      - Restore the one slot chosen with I(slots) (or the file's only slot) into this
        slot of the reader instead.
    type: int
  force:
    description:
      - Back up over an existing file. Without it an existing file is kept and the task
        reports no change.
    type: bool
    default: false
  allow_incomplete:
    description:
      - Restore from a file whose backup was stopped before its last slot (what it holds).
    type: bool
    default: false
extends_documentation_fragment:
  - torvik.reader.link
attributes:
  check_mode:
    support: full
    description: Only the scan is sent (and a restore's file is checked).
seealso:
  - module: torvik.reader.reader
  - module: ansible.builtin.fetch
'''

EXAMPLES = r'''
- name: Back up the enrolled slots
  torvik.reader.fingerprints:
    state: backup
    path: /var/backups/torvik/fingerprints.json
    slots: 1-200
    force: true
  async: 3600
  poll: 30

- name: Bring the backup to the controller
  ansible.builtin.fetch:
    src: /var/backups/torvik/fingerprints.json
    dest: backups/{{ inventory_hostname }}/
    flat: true

- name: Put the templates back into the replacement reader
  torvik.reader.fingerprints:
    state: restored
    path: /var/backups/torvik/fingerprints.json

- name: Copy the template of slot 17 into slot 18
  torvik.reader.fingerprints:
    state: restored
    path: /var/backups/torvik/fingerprints.json
    slots: 17
    to_slot: 18
'''

RETURN = r'''
path:
  description: The template file.
  returned: always
  type: str
slots_read:
  description: Backup - slots read with a template.
  returned: when a backup ran
  type: int
empty:
  description: Backup - slots found empty.
  returned: when a backup ran
  type: int
failed:
  description: Backup - slots whose read failed (recorded as failed in the file).
  returned: when a backup ran
  type: int
complete:
  description: Whether the file holds every slot asked for.
  returned: when a backup ran or was kept
  type: bool
slots_written:
  description: Restore - slots written to the reader.
  returned: when a restore ran
  type: int
skipped:
  description: Restore - empty or failed slots of the file, not written.
  returned: when a restore ran
  type: int
slots:
  description: Per slot the outcome (C(read), C(empty), C(failed), C(written), C(skipped))
    and the reason of a failure, as torvikctl reports them.
  returned: when torvikctl reports them
  type: list
  elements: dict
would_write:
  description: Restore - the slots that are (or in check mode would be) written, as
    C([slot in the file, slot on the reader]) pairs.
  returned: state=restored
  type: list
  elements: list
sha1:
  description: SHA-1 of the backup file.
  returned: when a backup ran or was kept
  type: str
reader:
  description: The reader as the scan found it, as in M(torvik.reader.reader_info).
  returned: success
  type: dict
calls:
  description: The torvikctl calls made, with their exit status and seconds.
  returned: always
  type: list
  elements: dict
'''

import os

from ansible.module_utils.basic import AnsibleModule

from ansible_collections.torvik.reader.plugins.module_utils.torvikctl import (
    LINK_ARGUMENT_SPEC,
    Torvikctl,
    TorvikctlError,
    file_sha1,
    parse_slot_list,
    read_template_file,
    reader_facts,
    restore_plan,
    slot_list_text,
)

BACKUP_FIELDS = ('slots_read', 'empty', 'failed', 'complete', 'slots')
RESTORE_FIELDS = ('slots_written', 'skipped', 'slots')


def fail(module, ctl, message, error=None, **extra):
    details = dict(extra)
    if error is not None:
        details.update(error.details())
    module.fail_json(msg=message, calls=ctl.call_log(), **details)


def backup(module, ctl, slots):
    params = module.params
    path = params['path']
    result = dict(path=path)
    if os.path.lexists(path) and not params['force']:
        # Kept as it is; what it holds is said.
        try:
            info = read_template_file(path)
            result.update(complete=info['complete'], sha1=file_sha1(path))
        except (ValueError, OSError) as e:
            module.fail_json(msg='%s exists and is not a usable template file (%s); set force '
                                 'to back up over it' % (path, e), **result)
        module.exit_json(changed=False, msg='%s exists; kept (force replaces it)' % path, **result)
    # Checked before the reader is read for an hour.
    directory = os.path.dirname(path) or '.'
    if not os.path.isdir(directory) or not os.access(directory, os.W_OK | os.X_OK):
        module.fail_json(msg='%s: the directory %s does not exist or cannot be written; nothing '
                             'was read' % (path, directory), **result)
    try:
        scan = ctl.scan()
    except TorvikctlError as e:
        fail(module, ctl, str(e), e, **result)
    result['reader'] = reader_facts(scan, params)
    if module.check_mode:
        module.exit_json(changed=True, calls=ctl.call_log(), **result)

    words = ['backup', path]
    if slots:
        words += ['--slots', slot_list_text(slots)]
    if os.path.lexists(path) and ctl.knows('backup', '--force'):
        words.append('--force')
    try:
        done = ctl.run(words)
    except TorvikctlError as e:
        obj = e.result.find('backup') if e.result else None
        for name in BACKUP_FIELDS:
            if obj and name in obj:
                result[name] = obj[name]
        fail(module, ctl, str(e), e, changed=bool(obj and obj.get('slots_read')), **result)
    obj = done.find('backup') or {}
    for name in BACKUP_FIELDS:
        if name in obj:
            result[name] = obj[name]
    if os.path.isfile(path):
        result['sha1'] = file_sha1(path)
    if obj.get('complete') is False:
        fail(module, ctl, 'the backup did not reach its last slot: %s' % obj.get('text'),
             changed=True, **result)
    module.exit_json(changed=True, calls=ctl.call_log(), **result)


def restore(module, ctl, slots):
    params = module.params
    path = params['path']
    result = dict(path=path)
    # The file is checked before the reader is even scanned.
    try:
        info = read_template_file(path)
        writes = restore_plan(info, slots, params['to_slot'], params['allow_incomplete'], path)
    except ValueError as e:
        module.fail_json(msg='%s; nothing was sent' % e, **result)
    result['would_write'] = [list(w) for w in writes]
    try:
        scan = ctl.scan()
    except TorvikctlError as e:
        fail(module, ctl, str(e), e, **result)
    result['reader'] = reader_facts(scan, params)
    if module.check_mode or not writes:
        module.exit_json(changed=bool(writes), calls=ctl.call_log(), **result)

    words = ['restore', path]
    if slots:
        words += ['--slots', slot_list_text(slots)]
    if params['to_slot'] is not None:
        words += ['--to-slot', str(params['to_slot'])]
    if not info['complete'] and ctl.knows('restore', '--allow-incomplete'):
        words.append('--allow-incomplete')
    try:
        done = ctl.run(words)
    except TorvikctlError as e:
        obj = e.result.find('restore') if e.result else None
        for name in RESTORE_FIELDS:
            if obj and name in obj:
                result[name] = obj[name]
        fail(module, ctl, str(e), e, changed=bool(obj and obj.get('slots_written')), **result)
    obj = done.find('restore') or {}
    for name in RESTORE_FIELDS:
        if name in obj:
            result[name] = obj[name]
    module.exit_json(changed=True, calls=ctl.call_log(), **result)


def main():
    argument_spec = dict(LINK_ARGUMENT_SPEC)
    argument_spec.update(
        state=dict(type='str', required=True, choices=['backup', 'restored']),
        path=dict(type='path', required=True),
        slots=dict(type='raw'),
        to_slot=dict(type='int'),
        force=dict(type='bool', default=False),
        allow_incomplete=dict(type='bool', default=False),
    )
    module = AnsibleModule(argument_spec=argument_spec, supports_check_mode=True)
    params = module.params
    slots = None
    try:
        if params['slots'] is not None:
            slots = parse_slot_list(params['slots'])
    except ValueError as e:
        module.fail_json(msg=str(e))
    if params['to_slot'] is not None:
        if params['state'] != 'restored':
            module.fail_json(msg='to_slot is for state: restored')
        if not 0 <= params['to_slot'] <= 1000:
            module.fail_json(msg='to_slot must be 0 to 1000, not %d' % params['to_slot'])
    ctl = Torvikctl(module)
    if params['state'] == 'backup':
        backup(module, ctl, slots)
    else:
        restore(module, ctl, slots)


if __name__ == '__main__':
    main()
