# SPDX-License-Identifier: MIT
"""The options every module of torvik.reader takes: how torvikctl reaches
the reader on the managed host."""


class ModuleDocFragment(object):

    DOCUMENTATION = r'''
options:
  port:
    description:
      - The serial port of the reader on the managed host.
      - A COM number as C(torvikctl) knows it (C(COM1) to C(COM16); C(torvikctl --list-ports)
        shows which device has which number), or an absolute device path such as
        C(/dev/ttyUSB0), C(/dev/ttyS1) or C(/dev/serial/by-id/...), which is used as COM1
        for the call.
      - Without it, the port of the host's stored link settings is tried first.
      - A system console or a port someone is logged in on is refused by C(torvikctl)
        itself, before anything is sent.
    type: str
  settings_file:
    description:
      - The link settings file C(torvikctl) keeps (C(--settings)); the COM numbers file
        is kept beside it.
      - Without it, the host's file (C(/var/lib/torvik-config/settings.reg)).
    type: path
  rs485:
    description:
      - Put a board UART into the kernel's RS-485 mode, the driver switching the
        direction with RTS (C(--rs485)). USB adapters switch the direction themselves.
    type: bool
    default: false
  rs485_delays:
    description:
      - RS-485 mode with RTS raised B ms before sending and dropped A ms after,
        given as C(B,A) (C(--rs485-delays)).
    type: str
  low_latency:
    description:
      - Ask a USB adapter to pass received bytes on at once (C(--low-latency)).
    type: bool
    default: false
  trace:
    description:
      - Append a trace of every port opening and every frame to this file on the
        managed host (C(--trace=FILE)).
    type: path
  timeout:
    description:
      - Seconds each C(torvikctl) call may take. Past it the call is asked to stop as
        Ctrl+C asks (a backup keeps the slots read so far), ended 30 s later if it
        has not, and the task fails.
      - Without it there is no limit beyond the reader's own waits.
    type: int
notes:
  - The modules run C(torvikctl --json) on the managed host, from the Debian package
    C(torvik-config); a host without it fails with a message naming the package.
  - The user the task runs as must be allowed to open the serial port (group C(dialout)),
    and to write the settings file.
requirements:
  - torvikctl (Debian package torvik-config) on the managed host
'''
