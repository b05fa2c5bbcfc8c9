# SPDX-License-Identifier: MIT
"""Simulated readers on pseudo-terminals for the collection's tests.

Each reader is a torvik-sim process: it prints the pseudo-terminal it serves
on its first line and logs every frame it receives on stderr, which goes to
a file in the scratch directory. The readers end when the `with` block ends,
however it ends; a reader whose test process is killed outright ends with it
(the kernel sends it SIGTERM when its parent goes). stop_signals() turns
SIGTERM, SIGHUP and SIGINT into an orderly exit, so the block ends on those
too.
"""
import ctypes
import os
import re
import signal
import subprocess
import sys

PR_SET_PDEATHSIG = 1


def _die_with_parent():
    libc = ctypes.CDLL(None, use_errno=True)
    libc.prctl(PR_SET_PDEATHSIG, signal.SIGTERM, 0, 0, 0)


def stop_signals():
    """SIGTERM, SIGHUP and SIGINT end the test through SystemExit, so every
    `finally` and `with` runs."""
    def leave(signum, _frame):
        raise SystemExit(128 + signum)
    for sig in (signal.SIGTERM, signal.SIGHUP, signal.SIGINT):
        signal.signal(sig, leave)


class Reader(object):
    def __init__(self, name, proc, path, log):
        self.name = name
        self.proc = proc
        self.path = path
        self.log = log

    def frames(self):
        """Every frame the reader received, in order: (kind, payload text),
        kind 'S' for a short frame, 'L' for a long one."""
        found = []
        with open(self.log, encoding='utf-8', errors='replace') as f:
            for line in f:
                match = re.match(r'^\[\s*[\d.]+\] ([SL]) (\S+)', line)
                if match:
                    found.append((match.group(1), match.group(2)))
        return found


class SimulatedReaders(object):
    """A set of simulated readers, all ended when the block ends."""

    def __init__(self, sim_binary, scratch):
        self.sim = sim_binary
        self.scratch = scratch
        self.readers = {}
        self.children = []

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()
        return False

    def start(self, name, options=()):
        log = os.path.join(self.scratch, 'sim-%s.log' % name)
        with open(log, 'w') as err:
            proc = subprocess.Popen([self.sim] + list(options), stdin=subprocess.DEVNULL,
                                    stdout=subprocess.PIPE, stderr=err,
                                    preexec_fn=_die_with_parent, universal_newlines=True)
        self.children.append(proc)
        path = proc.stdout.readline().strip()
        proc.stdout.close()
        if not path.startswith('/dev/'):
            raise RuntimeError('torvik-sim printed no pseudo-terminal (exit %s)' % proc.poll())
        reader = Reader(name, proc, path, log)
        self.readers[name] = reader
        return reader

    def run(self, argv, **kwargs):
        """Runs a program to its end; it is ended with the block if the block
        ends first."""
        proc = subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, universal_newlines=True,
                                preexec_fn=_die_with_parent, **kwargs)
        self.children.append(proc)
        out, err = proc.communicate()
        self.children.remove(proc)
        return subprocess.CompletedProcess(argv, proc.returncode, out, err)

    def spawn(self, argv, **kwargs):
        """Starts a program in a process group of its own (ended with the
        block, group and all); the caller waits for it."""
        proc = subprocess.Popen(argv, stdin=subprocess.DEVNULL, start_new_session=True,
                                preexec_fn=_die_with_parent, **kwargs)
        self.children.append(proc)
        return proc

    def stop(self):
        for proc in reversed(self.children):
            if proc.poll() is None:
                try:
                    if proc.pid == os.getpgid(proc.pid):
                        os.killpg(proc.pid, signal.SIGTERM)
                    else:
                        proc.terminate()
                except ProcessLookupError:
                    pass
        for proc in reversed(self.children):
            try:
                proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                proc.kill()
                proc.wait()
        self.children = []


def say(text):
    sys.stdout.write(text + '\n')
    sys.stdout.flush()
