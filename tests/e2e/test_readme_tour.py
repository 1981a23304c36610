# SPDX-License-Identifier: BSD-2-Clause
"""The README's five-minute tour, run as written: every ```sh block of the tour section, in order,
in one shell on a pseudo-terminal, typing at lapmon's menu and keys what the tour tells the reader
to type. The shell runs in a copy of the top folder whose build/ holds the programs under test, with
a device folder of its own."""

import os
import pty
import re
import select
import shutil
import signal
import subprocess
import tempfile
import time
import unittest

from harness import BRISIM, LAPMON, LINESTAT, WRAP

SOURCE_DIR = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
README = os.path.join(SOURCE_DIR, "README.md")
TOUR_HEADING = "## A five-minute tour"

# What the reader types, in order: (text to wait for since the last step, keys to type).
TYPING = [
    ("?: ", b"0\r"),                  # trace line 0 ...
    ("?: ", b"99\r"),                 # ... and start
    ("Q.931 Decode", b"3"),           # raw dump off
    ("Q.921 Decode", b"9"),           # stop
]

# What the tour shows, in this order in the output.
EXPECTED = [
    "brisim: listening on",
    "Trace which lines?",
    "RawFrame",
    "Q.931 Decode",
    " Layer 2 State: Go! (7)",           # linestat
    " Layer 2 State: Multiframe Established",   # linestat -v
    "Area: 02 - Layer 2 (Q.921)",        # linestat -a2
    "RASInfo Friendly Name: ISDN Line 1 Usage: ClientAndServer",
    "Lines In System:\n Tessix1 LINE1\n",  # the replay: one line
    "DISCONNECT",
    "Normal Clearing",
    "RELEASE",
]


def tour_blocks(text):
    """The ```sh blocks of the tour section, as (info string, body)."""
    start = text.index(TOUR_HEADING)
    end = text.find("\n## ", start + len(TOUR_HEADING))
    section = text[start:end if end >= 0 else len(text)]
    return re.findall(r"^```(sh[^\n]*)\n(.*?)^```", section, re.M | re.S)


def mirror_checkout(dest):
    """The top folder's entries linked into dest, with build/ holding the programs under test."""
    for name in os.listdir(SOURCE_DIR):
        if name != "build" and not name.startswith("build-") and not name.startswith("."):
            os.symlink(os.path.join(SOURCE_DIR, name), os.path.join(dest, name))
    for program, where in ((BRISIM, "build/sim"), (LAPMON, "build/src/trace"),
                           (LINESTAT, "build/src/status")):
        os.makedirs(os.path.join(dest, where), exist_ok=True)
        os.symlink(os.path.abspath(shutil.which(program) or program),
                   os.path.join(dest, where, os.path.basename(program)))


@unittest.skipIf(WRAP, "under Wine: the README's tour runs the Linux programs in a Linux shell")
class ReadmeTour(unittest.TestCase):
    def test_tour_runs_as_written(self):
        with open(README) as f:
            blocks = tour_blocks(f.read())
        self.assertTrue(blocks, "README has no ```sh blocks in its tour")
        script = "\n".join(body for _, body in blocks)

        work = tempfile.mkdtemp(prefix="bri-tour-")
        try:
            top = os.path.join(work, "top")
            os.mkdir(top)
            mirror_checkout(top)
            before = sorted(os.listdir(top))
            env = dict(os.environ, BRI_DEVICE_DIR=os.path.join(work, "dev"), TZ="UTC",
                       BRI_REGISTRY=os.path.join(work, "no-registry.reg"), TERM="dumb")
            status, output = self.run_on_terminal(script, top, env)
            # The tour writes its files into a temporary folder of its own, none into the checkout.
            written = sorted(set(os.listdir(top)) - set(before))
        finally:
            shutil.rmtree(work, ignore_errors=True)

        self.assertEqual(status, 0, "the tour failed; its output:\n" + output)
        self.assertEqual(written, [], "the tour wrote into the top folder")
        self.assertNotIn("is not installed", output)
        position = 0
        for text in EXPECTED:
            found = output.find(text, position)
            self.assertGreaterEqual(found, 0, "%r missing (in order) from:\n%s" % (text, output))
            position = found + len(text)

    def run_on_terminal(self, script, cwd, env, timeout=120):
        """Runs the script with bash -e on a pseudo-terminal, typing as TYPING says; returns the
        exit status and everything written to the terminal."""
        pid, master = pty.fork()
        if pid == 0:
            try:
                os.chdir(cwd)
                os.execvpe("bash", ["bash", "-e", "-c", script], env)
            finally:
                os._exit(127)
        output = b""
        step, seen = 0, 0
        deadline = time.monotonic() + timeout
        status = None
        try:
            while time.monotonic() < deadline:
                ready, _, _ = select.select([master], [], [], 0.1)
                if ready:
                    try:
                        chunk = os.read(master, 4096)
                    except OSError:
                        chunk = b""
                    if not chunk:
                        break
                    output += chunk
                if step < len(TYPING):
                    wanted, keys = TYPING[step]
                    found = output.find(wanted.encode(), seen)
                    if found >= 0:
                        seen = found + len(wanted)
                        time.sleep(0.2)
                        os.write(master, keys)
                        step += 1
            _, raw = os.waitpid(pid, 0) if time.monotonic() < deadline else (0, None)
            if raw is not None:
                status = os.waitstatus_to_exitcode(raw)
        finally:
            if status is None:
                # Out of time: end the shell and whatever it started (its own session).
                try:
                    os.killpg(pid, signal.SIGKILL)
                except ProcessLookupError:
                    pass
                os.waitpid(pid, 0)
            os.close(master)
        text = output.decode(errors="replace").replace("\r\n", "\n")
        if step < len(TYPING):
            text += "\n[the test was still waiting for %r]" % TYPING[step][0]
        return status, text


if __name__ == "__main__":
    unittest.main()
