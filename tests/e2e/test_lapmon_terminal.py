# SPDX-License-Identifier: BSD-2-Clause
"""lapmon's keys on a terminal (a pseudo-terminal here): key mode while tracing, the mode as found
afterwards, and job control (Ctrl-Z, fg, a job started in the background)."""

import os
import pty
import queue
import subprocess
import sys
import tempfile
import termios
import threading
import time
import unittest

import harness
import wine_rig
from harness import Sim, wait_for_log
from lapmon_util import (OP_TRACE_DESTROY, OP_TRACE_STATUS, OP_TRACE_STOP, count_at_least, finish,
                         kill_quietly, line, opcodes, scenario, start_on_terminal, wait_until)

JOB_SHELL = os.path.join(os.path.dirname(os.path.abspath(__file__)), "job_shell.py")


class TerminalKeysTest(unittest.TestCase):
    def test_keys_are_taken_one_by_one_and_the_mode_is_restored(self):
        with Sim(scenario(line("L1", 0x1001))) as sim:
            proc, master, slave = start_on_terminal(["-raw"], sim)
            try:
                found = proc.terminal_found
                wait_for_log(sim, count_at_least(OP_TRACE_STATUS, 1))
                # Key mode: no line input, no echo, control keys still signals.
                wait_until(lambda: not termios.tcgetattr(slave)[3] & termios.ICANON)
                lflag = termios.tcgetattr(slave)[3]
                self.assertFalse(lflag & termios.ECHO)
                self.assertTrue(lflag & termios.ISIG)
                os.write(master, b"x\r")
                time.sleep(0.2)
                os.write(master, b"9")
                status, out = finish(proc)
                self.assertEqual(status, 0)
                self.assertEqual(out, "Lines In System:\n L1\nc = x (0x78)\nc = \r (0xd)\n")
                self.assertEqual(termios.tcgetattr(slave), found)
            finally:
                kill_quietly(proc)
                os.close(master)
                os.close(slave)


class Job:
    """lapmon run as a job by job_shell.py on a pseudo-terminal that is the job's controlling
    terminal; the events of the job (stopped, continued, exited) come in as lines."""

    def __init__(self, sim, where, args):
        self.master, self.slave = pty.openpty()
        self.found = termios.tcgetattr(self.slave)
        self.dir = tempfile.mkdtemp(prefix="bri-job-")
        self.out_path = os.path.join(self.dir, "out")
        commands_r, self.commands = os.pipe()
        self.shell = subprocess.Popen(
            [sys.executable, JOB_SHELL, where, self.out_path, str(commands_r)] + harness.WRAP
            + [harness.LAPMON] + list(args),
            stdin=self.slave, stdout=subprocess.PIPE, env=sim.env(), pass_fds=(commands_r,),
            start_new_session=True)
        os.close(commands_r)
        self.events = queue.Queue()
        threading.Thread(target=self._read_events, daemon=True).start()
        self.assert_event("started")

    def _read_events(self):
        for event in self.shell.stdout:
            self.events.put(event.decode().strip())

    def assert_event(self, expected, timeout=10):
        try:
            event = self.events.get(timeout=timeout)
        except queue.Empty:
            raise AssertionError("no job event; expected %r" % expected)
        if not event.startswith(expected):
            raise AssertionError("job event %r; expected %r" % (event, expected))

    def no_event(self):
        return self.events.empty()

    def mode(self):
        return termios.tcgetattr(self.slave)

    def key_mode(self):
        lflag = self.mode()[3]
        return not lflag & (termios.ICANON | termios.ECHO) and lflag & termios.ISIG

    def fg(self):
        os.write(self.commands, b"fg\n")

    def bg(self):
        os.write(self.commands, b"bg\n")

    def close(self):
        kill_quietly(self.shell)
        os.close(self.commands)
        os.close(self.master)
        os.close(self.slave)
        for name in os.listdir(self.dir):
            os.unlink(os.path.join(self.dir, name))
        os.rmdir(self.dir)


class JobControlTest(unittest.TestCase):
    """Ctrl-Z gives the terminal its mode back before lapmon stops, fg sets key mode again; a job
    started in the background leaves the terminal alone (and so is not stopped by SIGTTOU) until
    it is brought to the foreground."""

    def setUp(self):
        if harness.WINE:
            wine_rig.cannot_express("job-control", "Ctrl-Z, fg and background jobs")

    def check_teardown(self, sim, handle):
        ops = opcodes(sim.log(), handle)
        self.assertEqual(ops[-2:], [OP_TRACE_STOP, OP_TRACE_DESTROY])
        self.assertEqual(ops.count(OP_TRACE_DESTROY), 1)

    def test_ctrl_z_fg_ctrl_z_bg_fg(self):
        with Sim(scenario(line("L1", 0x1001))) as sim:
            job = Job(sim, "fg", ["-a", "-raw"])
            try:
                wait_for_log(sim, count_at_least(OP_TRACE_STATUS, 1))
                wait_until(job.key_mode)
                os.write(job.master, b"\x1a")  # Ctrl-Z
                job.assert_event("stopped")
                self.assertEqual(job.mode(), job.found)
                job.fg()
                job.assert_event("continued")
                wait_until(job.key_mode)
                os.write(job.master, b"\x1a")
                job.assert_event("stopped")
                self.assertEqual(job.mode(), job.found)
                # In the background it traces on, neither reading the terminal nor changing it.
                job.bg()
                job.assert_event("continued")
                polls = len(sim.requests(OP_TRACE_STATUS))
                wait_for_log(sim, count_at_least(OP_TRACE_STATUS, polls + 2))
                self.assertTrue(job.no_event())
                self.assertEqual(job.mode(), job.found)
                job.fg()  # now a running job: SIGCONT without a stop to report
                wait_until(job.key_mode)
                os.write(job.master, b"9")
                job.assert_event("exited 0")
                self.assertEqual(job.mode(), job.found)
                self.check_teardown(sim, 0x1001)
            finally:
                job.close()

    def test_started_in_the_background(self):
        with Sim(scenario(line("L1", 0x1001))) as sim:
            job = Job(sim, "bg", ["-a", "-l2"])
            try:
                # Several polls while in the background: never stopped, the terminal untouched.
                wait_for_log(sim, count_at_least(OP_TRACE_STATUS, 3))
                self.assertTrue(job.no_event())
                self.assertEqual(job.mode(), job.found)
                job.fg()  # a running job: only SIGCONT, no stop to report
                wait_until(job.key_mode)
                os.write(job.master, b"9")
                job.assert_event("exited 0")
                self.assertEqual(job.mode(), job.found)
                self.check_teardown(sim, 0x1001)
            finally:
                job.close()


if __name__ == "__main__":
    unittest.main()
