# SPDX-License-Identifier: BSD-2-Clause
"""lapmon under load: a burst larger than a ring, and two lines at once."""

import unittest

from harness import LAPMON, Sim, start, wait_for_log
from lapmon_util import (start_lapmon, OP_TRACE_READ, count_at_least, OP_TRACE_STATUS, frame, kill_quietly, line, requests_for,
                         scenario, stamps, stop_with_nine)


def reads_done(handle, total):
    return lambda log: len([r for r in log if r["opcode"] == OP_TRACE_READ and r["line_handle"] == handle
                            and r["status"] == 0]) >= total


class BurstTest(unittest.TestCase):
    def test_burst_of_250_is_shown_completely_and_in_order(self):
        sc = scenario(line("Tessix1 LINE1 (U)", 0x1001, [frame(i) for i in range(250)]))
        with Sim(sc) as sim:
            proc = start_lapmon(["-raw"], sim)
            try:
                wait_for_log(sim, reads_done(0x1001, 250), timeout=15)
                status, out = stop_with_nine(proc)
            finally:
                kill_quietly(proc)
            log = sim.log()
        self.assertEqual(status, 0)
        self.assertEqual([s[0] for s in stamps(out)], list(range(250)))
        self.assertNotIn("Lost", out)
        # No poll takes more than the ring can hold unread; what is left waits for the next one.
        per_poll = []
        for r in requests_for(log, 0x1001):
            if r["opcode"] == OP_TRACE_STATUS:
                per_poll.append(0)
            elif r["opcode"] == OP_TRACE_READ and r["status"] == 0:
                per_poll[-1] += 1
        self.assertEqual(per_poll[0], 99)
        self.assertTrue(all(n <= 99 for n in per_poll), per_poll)
        self.assertEqual(sum(per_poll), 250)
        reads = [r["parameter"] for r in requests_for(log, 0x1001, OP_TRACE_READ) if r["status"] == 0]
        self.assertEqual(reads, list(range(250)))

    def test_two_lines_polled_in_table_order_each_shown_in_order(self):
        sc = scenario(line("LA", 0x1001, [frame(i) for i in range(0, 40)]),
                      line("LB", 0x1002, [frame(i, direction=1) for i in range(100, 130)]))
        with Sim(sc) as sim:
            proc = start_lapmon(["-a", "-raw"], sim)
            try:
                wait_for_log(sim, lambda log: reads_done(0x1001, 40)(log) and reads_done(0x1002, 30)(log)
                             and count_at_least(OP_TRACE_STATUS, 4)(log))
                status, out = stop_with_nine(proc)
            finally:
                kill_quietly(proc)
            log = sim.log()
        self.assertEqual(status, 0)
        shown = stamps(out)
        self.assertEqual([s[0] for s in shown if s[1] == "LA"], list(range(0, 40)))
        self.assertEqual([s for s in shown if s[1] == "LB"], [(i, "LB", "N") for i in range(100, 130)])
        # Within each pass, line 0 is polled before line 1.
        statuses = [r["line_handle"] for r in log if r["opcode"] == OP_TRACE_STATUS]
        self.assertEqual(statuses[:4], [0x1001, 0x1002, 0x1001, 0x1002])


if __name__ == "__main__":
    unittest.main()
