# SPDX-License-Identifier: MIT
"""torvikctl on the managed host: the call, its time limit, and its objects.

Every module of the collection runs ``torvikctl --json`` and reads what it
prints: one JSON object per command, in the order of the commands (a scan
at the stored settings comes first unless the first command is ``scan``).
Each object names its ``operation`` and ``outcome`` (``ok``, ``failed``,
``not-found``, ``not-run``) with the status ``text``; a scan also carries the
reader as found (port, settings, serial number, version, ID, output mode).

The exit status says how the call ended: 0 every command succeeded, 1 one
failed (the ones after it did not run), 2 no reader answered, 64 the call
was refused as a whole before anything was sent. The functions here turn
the module options into a command line, run it, read the objects back and
put a failure into one sentence; nothing here talks to Ansible except
through the module object handed in.
"""

import hashlib
import json
import os
import re
import signal
import subprocess
import time
import zlib

SCHEMA = 1
PACKAGE = 'torvik-config'

EXIT_OK = 0
EXIT_FAILED = 1
EXIT_NOT_FOUND = 2
EXIT_USAGE = 64

# The COM numbers the scan tries.
FIRST_COM = 1
LAST_COM = 16

# Line speeds and parities the reader can be set to; every setting is 8 data
# bits and one stop bit.
BAUD_RATES = (4800, 9600, 19200, 38400, 57600, 115200, 230400)
PARITIES = ('n', 'e')

# The fingerprint slots of a reader.
FIRST_SLOT = 0
LAST_SLOT = 1000

TEMPLATE_FORMAT = 'torvik-templates'

# A call past its time limit is asked to stop as Ctrl+C asks (between two
# template slots during a backup, so the file keeps what was read), then
# ended: SIGTERM after STOP_GRACE seconds, SIGKILL after KILL_GRACE more.
STOP_GRACE = 30
KILL_GRACE = 10

# The options every module takes, in Ansible's argument form.
LINK_ARGUMENT_SPEC = dict(
    port=dict(type='str'),
    settings_file=dict(type='path'),
    rs485=dict(type='bool', default=False),
    rs485_delays=dict(type='str'),
    low_latency=dict(type='bool', default=False),
    trace=dict(type='path'),
    timeout=dict(type='int'),
)


class TorvikctlError(Exception):
    """A call that did not do what it was asked; the text says why."""

    def __init__(self, message, result=None):
        super(TorvikctlError, self).__init__(message)
        self.result = result

    def details(self):
        """What a failed module returns beside its message."""
        if self.result is None:
            return {}
        return self.result.summary()


# ---- options -----------------------------------------------------------


def parse_port(value):
    """('com', n) for "COMn", ('path', path) for a device path.

    A COM number is one of those the scan tries; a path must be absolute
    (it is mapped to COM1 for the call). Whether the port may be used at all
    (a system console, a login terminal) is torvikctl's to say.
    """
    text = value.strip()
    match = re.match(r'^com(\d+)$', text, re.IGNORECASE)
    if match:
        number = int(match.group(1))
        if not FIRST_COM <= number <= LAST_COM:
            raise ValueError('port %s: COM numbers run from COM%d to COM%d'
                             % (value, FIRST_COM, LAST_COM))
        return ('com', number)
    if text.startswith('/'):
        return ('path', text)
    raise ValueError('port %s: give COMn or an absolute device path such as /dev/ttyUSB0' % value)


def expected_com(params):
    """The COM number the reader is expected on, or None when any will do."""
    if not params.get('port'):
        return None
    kind, value = parse_port(params['port'])
    return value if kind == 'com' else 1


def device_of(params):
    """The device path given as port, or None."""
    if not params.get('port'):
        return None
    kind, value = parse_port(params['port'])
    return value if kind == 'path' else None


def normalize_settings(text):
    """"38400,e" or "38400,E,8,1" -> "38400,e,8,1"; ValueError otherwise."""
    parts = [p.strip().lower() for p in str(text).split(',')]
    if len(parts) == 4 and parts[2:] == ['8', '1']:
        parts = parts[:2]
    if len(parts) != 2 or not parts[0].isdigit() or int(parts[0]) not in BAUD_RATES \
            or parts[1] not in PARITIES:
        raise ValueError('settings %s: give one of %s with parity n or e, e.g. 38400,e'
                         % (text, ', '.join(str(b) for b in BAUD_RATES)))
    return '%d,%s,8,1' % (int(parts[0]), parts[1])


def link_arguments(params):
    """The options of a torvikctl call that come from the module's options."""
    args = ['--json']
    if params.get('settings_file'):
        args += ['--settings', params['settings_file']]
    if params.get('port'):
        kind, value = parse_port(params['port'])
        if kind == 'path':
            args += ['--port', 'COM1=' + value, '--com', '1']
        else:
            args += ['--com', str(value)]
    if params.get('rs485'):
        args.append('--rs485')
    delays = params.get('rs485_delays')
    if delays:
        if not re.match(r'^\d+,\d+$', delays.replace(' ', '')):
            raise ValueError('rs485_delays %s: give the milliseconds before and after '
                             'sending as B,A, e.g. 0,0' % delays)
        args += ['--rs485-delays', delays.replace(' ', '')]
    if params.get('low_latency'):
        args.append('--low-latency')
    if params.get('trace'):
        args.append('--trace=' + params['trace'])
    return args


def parse_slot_list(given):
    """Slot numbers of "1-3,7" (or a list of numbers and ranges), in order,
    repeats dropped; ValueError outside 0..1000 or on another form."""
    if isinstance(given, int) and not isinstance(given, bool):
        items = [str(given)]
    elif isinstance(given, (list, tuple)):
        items = [str(s) for s in given]
    else:
        items = str(given).split(',')
    slots = []
    for item in items:
        for part in str(item).split(','):
            part = part.strip()
            match = re.match(r'^(\d+)(?:-(\d+))?$', part)
            if not match:
                raise ValueError('slots: %r is not a slot number or a range such as 1-3' % part)
            first = int(match.group(1))
            last = int(match.group(2)) if match.group(2) else first
            if first > last or first < FIRST_SLOT or last > LAST_SLOT:
                raise ValueError('slots: %s is outside %d to %d' % (part, FIRST_SLOT, LAST_SLOT))
            for slot in range(first, last + 1):
                if slot not in slots:
                    slots.append(slot)
    if not slots:
        raise ValueError('slots: no slot named')
    return slots


def slot_list_text(slots):
    """[1, 2, 3, 7] -> "1-3,7" (the form torvikctl's --slots takes)."""
    parts = []
    start = prev = None
    for slot in slots:
        if start is not None and slot == prev + 1:
            prev = slot
            continue
        if start is not None:
            parts.append(str(start) if start == prev else '%d-%d' % (start, prev))
        start = prev = slot
    if start is not None:
        parts.append(str(start) if start == prev else '%d-%d' % (start, prev))
    return ','.join(parts)


# ---- what torvikctl prints ----------------------------------------------


def parse_objects(text):
    """The JSON objects of a call's standard output, in order.

    Anything that is not a JSON object (a stray line) is an error: the
    output would not be the one the collection was written against.
    """
    decoder = json.JSONDecoder()
    objects = []
    pos = 0
    while True:
        while pos < len(text) and text[pos].isspace():
            pos += 1
        if pos >= len(text):
            break
        try:
            value, pos = decoder.raw_decode(text, pos)
        except ValueError:
            line = text[pos:].splitlines()[0]
            raise TorvikctlError('torvikctl printed something other than JSON: %r' % line[:200])
        if not isinstance(value, dict) or 'operation' not in value or 'outcome' not in value:
            raise TorvikctlError('torvikctl printed a JSON value that is not an operation: %r'
                                 % (json.dumps(value)[:200],))
        schema = value.get('schema', SCHEMA)
        if schema != SCHEMA:
            raise TorvikctlError('torvikctl speaks JSON schema %r; this collection reads '
                                 'schema %d (update the collection or torvikctl)' % (schema, SCHEMA))
        objects.append(value)
    return objects


def reader_facts(scan, params=None):
    """The reader as a scan object reports it, in the names the modules use.

    Fields a scan did not report (an older torvikctl, or a reader that
    answered the presence check but not the mode query) are None.
    """
    params = params or {}
    mode = scan.get('mode') or {}
    reader_id = scan.get('id')
    try:
        reader_id = int(reader_id) if reader_id is not None else None
    except ValueError:
        pass
    port = scan.get('port')
    return dict(
        port=('COM%d' % port) if isinstance(port, int) and port > 0 else None,
        com=port if isinstance(port, int) and port > 0 else None,
        device=scan.get('device') or device_of(params),
        settings=scan.get('settings'),
        serial=scan.get('serial'),
        version=scan.get('version'),
        id=reader_id,
        interface=mode.get('interface'),
        wiegand_format=mode.get('wiegand'),
        rs485_format=mode.get('rs485'),
    )


class CallResult(object):
    """One torvikctl call: its command line, status, objects and stderr."""

    def __init__(self, argv, rc, objects, stderr, seconds, timed_out=False):
        self.argv = argv
        self.rc = rc
        self.objects = objects
        self.stderr = stderr
        self.seconds = seconds
        self.timed_out = timed_out

    def find(self, operation):
        for obj in self.objects:
            if obj.get('operation') == operation:
                return obj
        return None

    def summary(self):
        return dict(command=' '.join(self.argv), rc=self.rc, seconds=round(self.seconds, 3),
                    results=self.objects, stderr=self.stderr)


def explain(result, timeout=None):
    """One sentence for a call that did not end with every command done."""
    tail = '; '.join(line for line in result.stderr.strip().splitlines()[-6:] if line.strip())
    if result.timed_out:
        return ('torvikctl did not end within the timeout of %s s and was stopped%s'
                % (timeout, (': ' + tail) if tail else ''))
    if result.rc == EXIT_USAGE:
        return 'torvikctl refused the call before sending anything: %s' % (tail or 'usage error')
    if result.rc == EXIT_NOT_FOUND:
        return 'no reader found%s' % ((': ' + tail) if tail else '')
    if result.rc == EXIT_FAILED:
        for obj in result.objects:
            if obj.get('outcome') in ('failed', 'not-found'):
                not_run = [o.get('operation') for o in result.objects if o.get('outcome') == 'not-run']
                text = '%s failed: %s' % (obj.get('operation'), obj.get('text'))
                if not_run:
                    text += ' (not run: %s)' % ', '.join(not_run)
                return text
        return 'torvikctl reported a failure%s' % ((': ' + tail) if tail else '')
    if result.rc < 0:
        return 'torvikctl ended by signal %d%s' % (-result.rc, (': ' + tail) if tail else '')
    return 'torvikctl ended with status %d%s' % (result.rc, (': ' + tail) if tail else '')


# ---- running it ----------------------------------------------------------


def _finish(proc, timeout):
    """Waits for the call; past the limit asks it to stop, then ends it.

    Returns (stdout, stderr, timed_out)."""
    try:
        out, err = proc.communicate(timeout=timeout)
        return out, err, False
    except subprocess.TimeoutExpired:
        pass
    for sig, grace in ((signal.SIGINT, STOP_GRACE), (signal.SIGTERM, KILL_GRACE)):
        proc.send_signal(sig)
        try:
            out, err = proc.communicate(timeout=grace)
            return out, err, True
        except subprocess.TimeoutExpired:
            continue
    proc.kill()
    out, err = proc.communicate()
    return out, err, True


class Torvikctl(object):
    """torvikctl as the module's options call it on this host."""

    def __init__(self, module):
        self.module = module
        self.params = module.params
        self.binary = module.get_bin_path('torvikctl')
        self.calls = []
        self._help = {}
        if not self.binary:
            module.fail_json(msg='torvikctl is not installed on this host: install the Debian '
                                 'package %s (apt install %s)' % (PACKAGE, PACKAGE))
        try:
            self.link_args = link_arguments(self.params)
        except ValueError as e:
            module.fail_json(msg=str(e))

    def knows(self, command, option):
        """Whether this torvikctl's COMMAND takes OPTION (asked of its help)."""
        if command not in self._help:
            try:
                done = subprocess.run([self.binary, command, '--help'], stdin=subprocess.DEVNULL,
                                      stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                      universal_newlines=True, timeout=30)
                self._help[command] = done.stdout
            except (OSError, subprocess.TimeoutExpired):
                self._help[command] = ''
        return option in self._help[command]

    def run(self, commands, allowed=(EXIT_OK,)):
        """Runs one call with COMMANDS (a list of words) and reads its objects.

        Raises TorvikctlError unless the exit status is in ALLOWED."""
        argv = [self.binary] + self.link_args + [str(c) for c in commands]
        timeout = self.params.get('timeout') or None
        start = time.monotonic()
        proc = subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, universal_newlines=True)
        try:
            out, err, timed_out = _finish(proc, timeout)
        finally:
            # The module itself ended by a signal or an error: the call ends too.
            if proc.poll() is None:
                _finish(proc, 0)
        result = CallResult(argv, proc.returncode, [], err, time.monotonic() - start, timed_out)
        self.calls.append(result)
        try:
            result.objects = parse_objects(out)
        except TorvikctlError as e:
            e.result = result
            raise
        if timed_out or result.rc not in allowed:
            raise TorvikctlError(explain(result, timeout), result)
        return result

    def call_log(self):
        """What the module returns as `calls`."""
        return [dict(command=' '.join(['torvikctl'] + c.argv[1:]), rc=c.rc, seconds=round(c.seconds, 3))
                for c in self.calls]

    def scan(self, sweep=False):
        """Finds the reader; returns the scan object (the reader as found)."""
        try:
            result = self.run(['scan', '--sweep'] if sweep else ['scan'])
        except TorvikctlError as e:
            if e.result is not None and e.result.rc == EXIT_NOT_FOUND and not sweep:
                raise TorvikctlError('%s (sweep: true looks at every speed, for a reader left '
                                     'at one the stored settings do not name)' % e, e.result)
            raise
        scan = result.find('scan')
        if scan is None or scan.get('outcome') != 'ok':
            raise TorvikctlError('the scan reported no reader', result)
        self.check_port(scan, result)
        return scan

    def check_port(self, scan, result):
        """A reader found on another COM number than the one asked for is not
        the reader meant (a sweep tries COM1 to COM16)."""
        want = expected_com(self.params)
        port = scan.get('port')
        if want is not None and isinstance(port, int) and port > 0 and port != want:
            raise TorvikctlError('a reader answered on COM%d, not on the port asked for (%s); '
                                 'nothing was changed' % (port, self.params['port']), result)


# ---- template files ------------------------------------------------------


def slot_checksum(slot, pieces):
    """The CRC-32 a version 1 template file keeps per slot: over the slot
    number in decimal and the three pieces, each after a zero byte, all as
    bytes (each character of a piece stands for the byte of its value)."""
    data = str(slot).encode('ascii')
    for piece in pieces:
        data += b'\0' + piece.encode('latin-1')
    return '%08X' % (zlib.crc32(data) & 0xFFFFFFFF)


def read_template_file(path):
    """The header and slots of a template file; ValueError names the fault.

    Checks what decides what a restore sends: the format, the completeness
    flag, every slot's number and status, and in a version 1 file the
    checksum of every slot. A newer version is checked further by torvikctl
    itself, before it sends anything.
    """
    try:
        with open(path, 'rb') as f:
            raw = f.read(64 << 20)
    except (IOError, OSError) as e:
        raise ValueError('%s: %s' % (path, e.strerror or e))
    try:
        doc = json.loads(raw.decode('utf-8'))
    except (UnicodeDecodeError, ValueError) as e:
        raise ValueError('%s is damaged: not JSON (%s)' % (path, e))
    if not isinstance(doc, dict) or doc.get('format') != TEMPLATE_FORMAT:
        raise ValueError('%s is not a template file (format %s expected)' % (path, TEMPLATE_FORMAT))
    version = doc.get('version')
    if not isinstance(version, int) or isinstance(version, bool) or version < 1:
        raise ValueError('%s is damaged: no format version' % path)
    complete = doc.get('complete')
    if not isinstance(complete, bool):
        raise ValueError('%s is damaged: no completeness flag' % path)
    items = doc.get('slots')
    if not isinstance(items, list):
        raise ValueError('%s is damaged: no slot list' % path)
    slots = {}
    for index, item in enumerate(items):
        number = item.get('slot') if isinstance(item, dict) else None
        if not isinstance(number, int) or isinstance(number, bool) \
                or not FIRST_SLOT <= number <= LAST_SLOT:
            raise ValueError('%s is damaged: entry %d has no slot number' % (path, index + 1))
        if number in slots:
            raise ValueError('%s is damaged: slot %d appears twice' % (path, number))
        status = item.get('status')
        if status not in ('ok', 'empty', 'failed'):
            raise ValueError('%s is damaged: slot %d has no status' % (path, number))
        if version == 1 and status == 'ok':
            pieces = item.get('pieces')
            if not isinstance(pieces, list) or len(pieces) != 3 \
                    or not all(isinstance(p, str) for p in pieces):
                raise ValueError('%s is damaged: slot %d lacks its three pieces' % (path, number))
            try:
                checksum = slot_checksum(number, pieces)
            except UnicodeEncodeError:
                raise ValueError('%s is damaged: slot %d holds characters that are no bytes'
                                 % (path, number))
            if item.get('crc32') != checksum:
                raise ValueError('%s is damaged: the checksum of slot %d does not match'
                                 % (path, number))
        slots[number] = status
    return dict(version=version, complete=complete, slots=slots,
                serial=(doc.get('reader') or {}).get('serial'))


def restore_plan(info, slots=None, to_slot=None, allow_incomplete=False, path='the file'):
    """Which slots of a read template file a restore writes, and where.

    Returns a list of (slot in the file, slot on the reader); ValueError for
    a restore torvikctl would refuse: an incomplete file (unless allowed), a
    named slot the file lacks or holds empty, --to-slot with more than one
    slot."""
    if not info['complete'] and not allow_incomplete:
        raise ValueError('%s is incomplete (its backup was stopped before the last slot); '
                         'set allow_incomplete to restore what it holds' % path)
    if slots:
        for slot in slots:
            status = info['slots'].get(slot)
            if status is None:
                raise ValueError('%s holds no slot %d' % (path, slot))
            if status != 'ok':
                raise ValueError('slot %d of %s is %s: there is nothing to restore' % (slot, path, status))
        chosen = list(slots)
    else:
        chosen = sorted(s for s, status in info['slots'].items() if status == 'ok')
    if to_slot is not None:
        if len(chosen) != 1:
            raise ValueError('to_slot moves one slot; %s names %d (choose one with slots)'
                             % ('slots' if slots else path, len(chosen)))
        return [(chosen[0], to_slot)]
    return [(s, s) for s in chosen]


def file_sha1(path):
    digest = hashlib.sha1()
    with open(path, 'rb') as f:
        for block in iter(lambda: f.read(1 << 16), b''):
            digest.update(block)
    return digest.hexdigest()


def path_exists(path):
    return os.path.lexists(path)
