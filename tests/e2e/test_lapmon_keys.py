# SPDX-License-Identifier: BSD-2-Clause
"""lapmon's keys written through the standard input pipe while it traces."""

import time
import unittest

from harness import ENDING_SLACK, LAPMON, Sim, start, wait_for_log
from lapmon_util import (NO_EXIT_PAUSE, start_lapmon, OP_LOG_FILE, OP_TRACE_READ, OP_TRACE_STATUS, count_at_least, finish,
                         frame, has_request, kill_quietly, line, scenario, send, stamps, stop_with_nine)


def nine_timed(proc):
    """Types 9 and waits for the end: (status, output, seconds from the 9 to the end)."""
    sent = time.monotonic()
    status, out = stop_with_nine(proc)
    return status, out, time.monotonic() - sent


class KeysTest(unittest.TestCase):
    def test_p_then_n_before_any_entry_gives_one_request_to_switch_the_log_off(self):
        sc = scenario(line("L1", 0x1001, [frame(1, at_ms=1500), frame(2, at_ms=1500)]))
        with Sim(sc) as sim:
            proc = start_lapmon(["-raw"], sim)
            try:
                send(proc, b"PN")
                wait_for_log(sim, count_at_least(OP_TRACE_STATUS, 4))
                send(proc, b"9")
                status, out = finish(proc)
            finally:
                kill_quietly(proc)
            log = sim.log()
        self.assertEqual(status, 0)
        self.assertIn("Log file enabled\nLog file disabled\n", out)
        switches = [i for i, r in enumerate(log) if r["opcode"] == OP_LOG_FILE]
        self.assertEqual(len(switches), 1)
        request = log[switches[0]]
        self.assertEqual((request["line_handle"], request["parameter"]), (0x1001, 0))
        # Sent right after the first entry was read, before the next read.
        before = log[switches[0] - 1]
        self.assertEqual((before["opcode"], before["parameter"], before["status"]), (OP_TRACE_READ, 0, 0))
        self.assertEqual(log[switches[0] + 1]["opcode"], OP_TRACE_READ)
        self.assertEqual(log[switches[0] + 1]["parameter"], 1)

    def test_view_keys_act_on_later_frames(self):
        sc = scenario(line("L1", 0x1001, [frame(1, at_ms=0), frame(2, at_ms=2200), frame(3, at_ms=2200)]))
        with Sim(sc) as sim:
            proc = start_lapmon(["-x"], sim, **NO_EXIT_PAUSE)
            try:
                # Frame 1 is read and consumed with every view off.
                wait_for_log(sim, has_request(OP_TRACE_READ, status=0))
                wait_for_log(sim, count_at_least(OP_TRACE_STATUS, 2))
                send(proc, b"3x")
                wait_for_log(sim, lambda log: sum(1 for r in log if r["opcode"] == OP_TRACE_READ
                                                  and r["status"] == 0) >= 3)
                status, out, elapsed = nine_timed(proc)
            finally:
                kill_quietly(proc)
        self.assertEqual(status, 0)
        self.assertLess(elapsed, 2.5 + ENDING_SLACK)
        self.assertIn("c = x (0x78)\n", out)
        self.assertEqual([s[0] for s in stamps(out)], [2, 3])

    def test_nine_ends_promptly_with_status_0(self):
        with Sim(scenario(line("L1", 0x1001))) as sim:
            proc = start_lapmon(["-a"], sim, **NO_EXIT_PAUSE)
            try:
                wait_for_log(sim, count_at_least(OP_TRACE_STATUS, 1))
                status, out, elapsed = nine_timed(proc)
            finally:
                kill_quietly(proc)
        self.assertEqual(status, 0)
        # Within the poll's second, then the teardown.
        self.assertLess(elapsed, 2.0 + ENDING_SLACK)


if __name__ == "__main__":
    unittest.main()
