# SPDX-License-Identifier: BSD-2-Clause
"""linestat against a driver that misbehaves (brisim's fault rules): it never crashes or hangs, and
finishes its report with its own messages for the fetches that failed; a connection that broke
during the run, or a report that could not be written, ends it with status 1."""

import subprocess
import time
import unittest

import harness
from harness import Sim
from linestat_support import NT_VERSION, linestat

GETTING_AREA = "Error: Error Getting Area.\n"


def faulty_sim(*flags):
    return Sim(extra_args=[a for flag in flags for a in ("--fault", flag)])


class BrokenConnection(unittest.TestCase):
    def test_connection_lost_at_the_first_poll(self):
        # The first area poll loses the connection: that fetch ends silently, and every later one
        # fails at its area request, since no request reaches the driver any more.
        for kind in ("close", "cut", "noise", "oversize", "restart"):
            with self.subTest(kind=kind), faulty_sim(kind + ":opcode=OP_AREA_POLL") as sim:
                code, out = linestat(sim)
                self.assertEqual(code, 1, out)
                self.assertEqual(out.count("\nLine: "), 2, out)
                self.assertEqual(out.count(GETTING_AREA), 5, out)
                self.assertNotIn("Go!", out)
                polls = sim.requests(0x902)
                self.assertEqual(len(polls), 1)
                # Nothing was sent after the fault.
                self.assertEqual(sim.log()[-1]["opcode"], 0x902)

    def test_connection_lost_after_the_first_layer(self):
        with faulty_sim("close:opcode=OP_AREA_REQUEST,after=1") as sim:
            code, out = linestat(sim, "-v")
            self.assertEqual(code, 1, out)
            first_line = out.split("\nLine: ")[1]
            self.assertIn(" Layer 1 Tx State: Go! (2)\n", first_line)
            self.assertEqual(out.count(GETTING_AREA), 5, out)


class OutputGone(unittest.TestCase):
    def test_report_that_cannot_be_written(self):
        # linestat -a > /dev/full, and the help text the same way.
        with Sim() as sim:
            for args in (["-a"], ["-h"]):
                with self.subTest(args=args), open("/dev/full", "wb") as full:
                    proc = subprocess.run(harness.WRAP + [harness.LINESTAT] + args, stdout=full,
                                          stderr=subprocess.PIPE, env=sim.env(BRI_OS=NT_VERSION), timeout=30)
                    self.assertEqual(proc.returncode, 1, proc.stderr)


class SpoiltReplies(unittest.TestCase):
    def test_slow_driver_only_delays_the_report(self):
        with Sim() as sim:
            _, normal = linestat(sim)
        with faulty_sim("hang:opcode=OP_AREA_POLL,ms=1500") as sim:
            started = time.monotonic()
            code, out = linestat(sim)
            took = time.monotonic() - started
        self.assertEqual(code, 0)
        self.assertEqual(out, normal)
        self.assertGreaterEqual(took, 1.5)

    def test_garbage_area_record_is_dumped_and_the_report_goes_on(self):
        # The final read of line 1's area 1 (the second poll) comes back as random bytes.
        with Sim() as sim:
            _, normal = linestat(sim, "-a1")
        with faulty_sim("garbage:opcode=OP_AREA_POLL,after=1,bytes=536") as sim:
            code, out = linestat(sim, "-a1")
        self.assertEqual(code, 0, out)
        self.assertEqual(out.count("Area: 01 - Layer 1 (S/T)\n"), 2, out)
        self.assertNotEqual(out, normal)
        # Line 2's dump is untouched.
        self.assertEqual(out.split("\nLine: ")[2], normal.split("\nLine: ")[2])

    def test_never_ready_garbage_times_out_per_area(self):
        with faulty_sim("garbage:opcode=OP_AREA_POLL,count=forever,bytes=16") as sim:
            code, out = linestat(sim, "-a2")
            self.assertEqual(code, 0, out)
            self.assertEqual(out.count("Error: Error Getting Status for Layer 2\n"), 2, out)
            self.assertEqual(len(sim.requests(0x901)), 2)  # one give-up per line

    def test_garbage_enumeration(self):
        # Random line count, handles and names: the driver knows none of the handles.
        with faulty_sim("garbage:opcode=OP_ENUM_IDD") as sim:
            code, out = linestat(sim)
            lines = out.count("\nLine: ")
            if lines == 0:
                self.assertEqual(code, 1, out)
                self.assertIn("Error: No Line Objects Found.\n", out)
            else:
                self.assertEqual(code, 0, out)
                self.assertLessEqual(lines, 20)
                self.assertEqual(out.count(GETTING_AREA), 3 * lines, out)


if __name__ == "__main__":
    unittest.main()
