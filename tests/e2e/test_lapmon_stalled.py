# SPDX-License-Identifier: BSD-2-Clause
"""lapmon with its standard output a pipe that nobody reads for a while: Ctrl-C still stops and
destroys every trace and ends it within about two seconds, and once the pipe is read again every
entry taken from the driver is shown exactly once. Standard output that is gone for good (its
reader went away, or a full file) ends the run as 9 does, with status 1."""

import os
import signal
import subprocess
import tempfile
import time
import unittest

import harness
from harness import Sim, wait_for_log
from lapmon_util import (BASE_FILETIME, NO_EXIT_PAUSE, OP_ENUM_IDD, OP_TRACE_DESTROY, OP_TRACE_READ,
                         OP_TRACE_STOP, Output, count_at_least, kill_quietly, line, scenario, stamps,
                         wait_until)

HANDLES = (0x1001, 0x1002)
FRAMES = 300  # per line: far more text than a pipe holds


def numbered_frames(count):
    # Frame i becomes available at 2*i ms and carries BASE + i ms as its time stamp.
    return [{"at_ms": 2 * i, "dir": i % 2, "hex": "00 81 01 %02x" % (2 * (i % 128)),
             "filetime": BASE_FILETIME + i * 10000} for i in range(count)]


def stalled_lapmon(sim):
    """lapmon -a -p with a standard output pipe that the test does not read yet."""
    err = tempfile.TemporaryFile()
    env = sim.env(**NO_EXIT_PAUSE)
    proc = subprocess.Popen(harness.WRAP + [harness.LAPMON, "-a", "-p"], stdin=subprocess.PIPE,
                            stdout=subprocess.PIPE, stderr=err, env=env)
    proc.err_file = err
    return proc


def sanitizer_report(proc):
    proc.err_file.seek(0)
    text = proc.err_file.read().decode(errors="replace")
    return text if "Sanitizer" in text else ""


class StalledConsole(unittest.TestCase):
    maxDiff = None

    def setUp(self):
        self.sim = Sim(scenario(*[line("L%d" % i, h, numbered_frames(FRAMES)) for i, h in enumerate(HANDLES)]))
        self.addCleanup(self.sim.__exit__)

    def check_teardown(self, sim=None):
        for handle in HANDLES:
            ops = [r["opcode"] for r in (sim or self.sim).log() if r["line_handle"] == handle]
            self.assertEqual(ops.count(OP_TRACE_STOP), 1)
            self.assertEqual(ops.count(OP_TRACE_DESTROY), 1)
            self.assertEqual(ops[-2:], [OP_TRACE_STOP, OP_TRACE_DESTROY])

    def test_ctrl_c_while_nobody_reads(self):
        proc = stalled_lapmon(self.sim)
        try:
            # The pipe fills up within the first poll; two more passes run against the full pipe.
            wait_for_log(self.sim, count_at_least(OP_TRACE_READ, 150), timeout=10)
            time.sleep(2.5)
            started = time.monotonic()
            proc.send_signal(signal.SIGINT)
            proc.wait(10)
            self.assertEqual(sanitizer_report(proc), "")
            self.assertLess(time.monotonic() - started, 2.5)
            self.assertEqual(proc.returncode, -signal.SIGINT)
            self.check_teardown()
        finally:
            kill_quietly(proc)

    def test_reader_gone_ends_the_run_as_9_does(self):
        # lapmon -a -p | head -3
        proc = stalled_lapmon(self.sim)
        try:
            head = [proc.stdout.readline() for _ in range(3)]
            proc.stdout.close()
            gone = time.monotonic()
            proc.wait(10)
            self.assertLess(time.monotonic() - gone, 3)
            self.assertEqual(proc.returncode, 1)
            self.assertEqual(sanitizer_report(proc), "")
            self.assertEqual(head, [b"Lines In System:\n", b" L0\n", b" L1\n"])
            self.check_teardown()
        finally:
            kill_quietly(proc)

    def test_output_that_cannot_be_written(self):
        # lapmon > /dev/full: at the menu it ends at once; while tracing it ends as after 9.
        for args in (["-p"], ["-a", "-p"]):
            with self.subTest(args=args), open(os.devnull, "rb") as nothing, open("/dev/full", "wb") as full:
                sim = Sim(scenario(*[line("L%d" % i, h, numbered_frames(5)) for i, h in enumerate(HANDLES)]))
                try:
                    proc = subprocess.run(harness.WRAP + [harness.LAPMON] + args, stdin=nothing, stdout=full,
                                          stderr=subprocess.PIPE, env=sim.env(**NO_EXIT_PAUSE), timeout=10)
                    self.assertEqual(proc.returncode, 1)
                    self.assertNotIn(b"Sanitizer", proc.stderr)
                    if "-a" in args:
                        self.check_teardown(sim)
                    else:
                        self.assertEqual([r["opcode"] for r in sim.log()], [OP_ENUM_IDD])
                finally:
                    sim.__exit__()

    def test_nothing_lost_or_shown_twice_when_reading_resumes(self):
        proc = stalled_lapmon(self.sim)
        try:
            wait_for_log(self.sim, count_at_least(OP_TRACE_READ, 150), timeout=10)
            time.sleep(3)  # several poll passes while the console is stalled
            output = Output(proc.stdout)
            reads = lambda: [r for r in self.sim.log() if r["opcode"] == OP_TRACE_READ and r["status"] == 0]
            wait_until(lambda: len(reads()) == 2 * FRAMES, timeout=20)
            wait_until(lambda: len(stamps(output.text())) >= 2 * FRAMES, timeout=20)
            proc.stdin.write(b"9")
            proc.stdin.flush()
            proc.wait(10)
            output.thread.join(10)
            self.assertEqual(proc.returncode, 0)
            self.assertEqual(sanitizer_report(proc), "")
            out = output.text()
            self.assertNotIn("Lost", out)
            shown = stamps(out)
            for i, handle in enumerate(HANDLES):
                name = "L%d" % i
                numbers = [ms for ms, line_name, _ in shown if line_name == name]
                # Every entry read from the driver, once and in order.
                self.assertEqual(numbers, list(range(FRAMES)), name)
                self.assertEqual(len([r for r in reads() if r["line_handle"] == handle]), FRAMES)
            self.check_teardown()
        finally:
            kill_quietly(proc)


if __name__ == "__main__":
    unittest.main()
