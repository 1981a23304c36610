# SPDX-License-Identifier: BSD-2-Clause
"""Helpers shared by the lapmon end-to-end tests: scenarios, the request log, the time-stamp lines."""

import os
import re
import signal
import subprocess
import threading
import time

import harness

OP_ENUM_IDD = 0x101
OP_TRACE_CREATE = 0x30A
OP_TRACE_START = 0x302
OP_TRACE_STATUS = 0x306
OP_TRACE_READ = 0x307
OP_LOG_FILE = 0xF01
OP_TRACE_STOP = 0x301
OP_TRACE_DESTROY = 0x30B

# 2020-01-01 00:00:00 UTC as a FILETIME; a frame's time stamp then tells its position.
BASE_FILETIME = 132223104000000000

STAMP_RE = re.compile(r"^ *(\d\d):(\d\d):(\d\d):(\d{2,3}) (.*) \(([TN])\)$", re.M)

USAGE = (
    "Norvale ISDN BRI Trace - Version  2.51\n"
    "Copyright (C) Norvale. All rights reserved.\n"
    "\n"
    "Usage - trace -a -p -l2 -l3 -raw -?\n"
    "-a   - trace all lines\n"
    "-p   - show decode for all ISDN Protocols\n"
    "-l2  - show decode for ISDN Layer 2 (Q.921) Protocol\n"
    "-l3  - show decode for ISDN Layer 3 (Q.931) Protocol\n"
    "-raw - show raw hex dump of all ISDN Protocols\n"
    "-?   - show this screen\n")


def frame(number, at_ms=0, direction=0):
    """A SABME frame whose time stamp is BASE + number milliseconds."""
    return {"at_ms": at_ms, "dir": direction, "hex": "00 01 7f",
            "filetime": BASE_FILETIME + number * 10000}


def line(name, handle, frames=(), **trace):
    trace = dict(trace)
    trace["frames"] = list(frames)
    return {"name": name, "handle": handle, "trace": trace}


def scenario(*lines):
    return {"lines": list(lines)}


def stamps(text):
    """(milliseconds since BASE, line name, direction letter) of every time-stamp line."""
    out = []
    for h, m, s, ms, name, letter in STAMP_RE.findall(text):
        out.append(((int(h) * 3600 + int(m) * 60 + int(s)) * 1000 + int(ms), name, letter))
    return out


def requests_for(log, handle, opcode=None):
    return [r for r in log if r["line_handle"] == handle and (opcode is None or r["opcode"] == opcode)]


def opcodes(log, handle=None):
    return [r["opcode"] for r in log if handle is None or r["line_handle"] == handle]


def has_request(opcode, handle=None, status=None):
    def predicate(log):
        return any(r["opcode"] == opcode and (handle is None or r["line_handle"] == handle)
                   and (status is None or r["status"] == status) for r in log)
    return predicate


def count_at_least(opcode, n, handle=None):
    def predicate(log):
        return len([r for r in log if r["opcode"] == opcode
                    and (handle is None or r["line_handle"] == handle)]) >= n
    return predicate


class Output:
    """Collects a process's standard output on a thread of its own, so that a test waiting on the
    request log never leaves lapmon blocked on a full pipe."""

    def __init__(self, stream):
        self.stream = stream
        self.chunks = []
        self.lock = threading.Lock()
        self.thread = threading.Thread(target=self._run, daemon=True)
        self.thread.start()

    def _run(self):
        while True:
            data = os.read(self.stream.fileno(), 65536)
            if not data:
                return
            with self.lock:
                self.chunks.append(data)

    def text(self):
        with self.lock:
            return b"".join(self.chunks).decode("latin-1")

    def wait_for(self, predicate, timeout=10.0):
        wait_until(lambda: predicate(self.text()), timeout)
        return self.text()


# For tests that time the end of a run: a ThreadSanitizer build otherwise pauses a second at exit.
NO_EXIT_PAUSE = {"TSAN_OPTIONS": (os.environ.get("TSAN_OPTIONS", "") + " atexit_sleep_ms=0").strip()}


def start_lapmon(args, sim, **kwargs):
    """Starts lapmon with pipes; proc.output collects what it prints."""
    proc = harness.start(harness.LAPMON, args, sim, **kwargs)
    proc.output = Output(proc.stdout)
    proc.errors = Output(proc.stderr)
    return proc


def finish(proc, timeout=10):
    """Waits for a started lapmon to end; returns (status, stdout text)."""
    if proc.stdin:
        try:
            proc.stdin.close()
        except BrokenPipeError:
            pass
    proc.wait(timeout)
    proc.output.thread.join(timeout)
    proc.errors.thread.join(timeout)
    for stream in (proc.stdout, proc.stderr):
        if stream:
            stream.close()
    # A sanitizer build reports on standard error, also when a signal ends the process.
    if "Sanitizer" in proc.errors.text():
        raise AssertionError("sanitizer report:\n" + proc.errors.text())
    return proc.returncode, proc.output.text()


def send(proc, data):
    proc.stdin.write(data)
    proc.stdin.flush()


def stop_with_nine(proc, timeout=10):
    send(proc, b"9")
    return finish(proc, timeout)


def kill_quietly(proc):
    if proc.poll() is None:
        proc.kill()
        proc.wait()
    for stream in (proc.stdin, proc.stdout, proc.stderr):
        if stream and not stream.closed:
            try:
                stream.close()
            except OSError:
                pass


def start_on_terminal(args, sim, no_core=False):
    """Starts lapmon with a pseudo-terminal as standard input and a pipe as standard output.

    Returns (process, master fd, slave fd); the caller closes both fds. The terminal's mode before
    lapmon starts is kept in process.terminal_found. no_core keeps a signal such as SIGQUIT from
    leaving a core file."""
    import pty
    import resource
    import termios
    master, slave = pty.openpty()
    found = termios.tcgetattr(slave)

    def limit_core():
        resource.setrlimit(resource.RLIMIT_CORE, (0, 0))

    proc = subprocess.Popen(harness.WRAP + [harness.LAPMON] + list(args), stdin=slave,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=sim.env(),
                            start_new_session=True, preexec_fn=limit_core if no_core else None)
    proc.terminal_found = found
    proc.output = Output(proc.stdout)
    proc.errors = Output(proc.stderr)
    return proc, master, slave


def wait_until(predicate, timeout=10.0, step=0.02):
    deadline = time.monotonic() + timeout
    while not predicate():
        if time.monotonic() > deadline:
            raise AssertionError("condition never became true")
        time.sleep(step)


def terminated_by(status, sig):
    return harness.terminated_by(status, sig)


SIGINT = signal.SIGINT
