# SPDX-License-Identifier: BSD-2-Clause
"""lapmon's poll: the first entry read, dropped entries, idle lines, refused requests."""

import time
import unittest

from harness import LAPMON, Sim, start, wait_for_log
from lapmon_util import (start_lapmon, OP_LOG_FILE, OP_TRACE_CREATE, OP_TRACE_DESTROY, OP_TRACE_READ,
                         OP_TRACE_START, OP_TRACE_STATUS, OP_TRACE_STOP, count_at_least, finish,
                         frame, has_request, kill_quietly, line, opcodes, requests_for, scenario,
                         send, stamps, stop_with_nine)


class CaptureTest(unittest.TestCase):
    def trace(self, sc, args, until, extra_input=b""):
        """Runs lapmon against sc until the log satisfies until, then ends it with key 9."""
        with Sim(sc) as sim:
            proc = start_lapmon(args, sim)
            try:
                if extra_input:
                    send(proc, extra_input)
                wait_for_log(sim, until)
                status, out = stop_with_nine(proc)
            finally:
                kill_quietly(proc)
            return status, out, sim.log()

    def test_reads_from_entry_0_and_shows_every_frame_in_order(self):
        sc = scenario(line("Tessix1 LINE1 (U)", 0x1001, [frame(i) for i in range(5)]))
        status, out, log = self.trace(sc, ["-raw"], count_at_least(OP_TRACE_STATUS, 2))
        self.assertEqual(status, 0)
        reads = requests_for(log, 0x1001, OP_TRACE_READ)
        self.assertEqual([(r["parameter"], r["status"] == 0) for r in reads[:6]],
                         [(0, True), (1, True), (2, True), (3, True), (4, True), (5, False)])
        self.assertEqual(stamps(out), [(i, "Tessix1 LINE1 (U)", "T") for i in range(5)])
        self.assertNotIn("Lost", out)

    def test_entries_the_driver_dropped_are_reported(self):
        # (trace settings, frames, message, first entry read, entries shown)
        cases = (
            ({"first_number": 5}, 3, "Lost 5 Entries\n", 5, [0, 1, 2]),
            ({"capacity": 10}, 30, "Lost 20 Entries\n", 20, list(range(20, 30))),
        )
        for settings, count, message, first, shown in cases:
            with self.subTest(settings=settings):
                sc = scenario(line("L1", 0x1001, [frame(i) for i in range(count)], **settings))
                status, out, log = self.trace(sc, ["-l3", "-raw"], count_at_least(OP_TRACE_STATUS, 2))
                self.assertEqual(status, 0)
                self.assertEqual(out.count("Lost"), 1)
                self.assertIn(message, out)
                self.assertEqual(requests_for(log, 0x1001, OP_TRACE_READ)[0]["parameter"], first)
                self.assertEqual([s[0] for s in stamps(out)], shown)

    def test_entry_numbers_wrap_at_2_to_the_32(self):
        # A driver numbering from 0xFFFFFFFA: ten frames before the first poll, ten more over the
        # next polls, numbered across the wrap. Each is shown once and in order; nothing is lost.
        frames = [frame(i, at_ms=0 if i < 10 else 1000 + 100 * i) for i in range(20)]
        sc = scenario(line("L1", 0x1001, frames, first_number=0xFFFFFFFA))
        status, out, log = self.trace(sc, ["-raw"], count_at_least(OP_TRACE_STATUS, 5))
        self.assertEqual(status, 0)
        self.assertNotIn("Lost", out)
        self.assertEqual([s[0] for s in stamps(out)], list(range(20)))
        read = [r["parameter"] for r in requests_for(log, 0x1001, OP_TRACE_READ) if r["status"] == 0]
        self.assertEqual(read, [(0xFFFFFFFA + i) % 2**32 for i in range(20)])

    def test_idle_line_costs_one_status_and_one_refused_read_per_second(self):
        sc = scenario(line("L1", 0x1001))
        # A log-file switch asked for meanwhile is not sent while no entry is read.
        # Three whole polls: 9 may come between a poll's status request and its read, and then the
        # read is rightly not sent (under Wine the reply takes long enough for that to happen).
        status, out, log = self.trace(sc, ["-p"], count_at_least(OP_TRACE_READ, 3), extra_input=b"P")
        self.assertEqual(status, 0)
        self.assertEqual(out, "Lines In System:\n L1\nLog file enabled\n")
        polls = [r for r in requests_for(log, 0x1001) if r["opcode"] in (OP_TRACE_STATUS, OP_TRACE_READ)]
        pairs = [polls[i:i + 2] for i in range(0, len(polls) - 1, 2)]
        self.assertGreaterEqual(len(pairs), 3)
        for status_req, read_req in pairs:
            self.assertEqual((status_req["opcode"], read_req["opcode"]), (OP_TRACE_STATUS, OP_TRACE_READ))
            self.assertEqual(read_req["parameter"], 0)
            self.assertNotEqual(read_req["status"], 0)
        gaps = [b[0]["time_ms"] - a[0]["time_ms"] for a, b in zip(pairs, pairs[1:])]
        for gap in gaps:
            self.assertGreater(gap, 900)
            self.assertLess(gap, 1900)
        self.assertNotIn(OP_LOG_FILE, opcodes(log))

    def test_refused_create_drops_the_line(self):
        sc = scenario(line("Tessix1 LINE1 (U)", 0x1001, [frame(1)], create="refuse"),
                      line("Tessix1 LINE2 (U)", 0x1002, [frame(2)]))
        status, out, log = self.trace(sc, ["-a", "-raw"], count_at_least(OP_TRACE_STATUS, 2))
        self.assertEqual(status, 0)
        self.assertIn("Error Creating Trace Object for Line Tessix1 LINE1 (U)\n", out)
        self.assertEqual(opcodes(log, 0x1001), [OP_TRACE_CREATE])
        self.assertEqual(opcodes(log, 0x1002)[:2], [OP_TRACE_CREATE, OP_TRACE_START])
        self.assertEqual(opcodes(log, 0x1002)[-2:], [OP_TRACE_STOP, OP_TRACE_DESTROY])
        self.assertEqual(stamps(out), [(2, "Tessix1 LINE2 (U)", "T")])

    def test_refused_status_skips_the_line_for_that_poll(self):
        sc = scenario(line("L1", 0x1001, [frame(3)], refuse_status_polls=[1]))
        status, out, log = self.trace(sc, ["-raw"], has_request(OP_TRACE_READ, status=0))
        self.assertEqual(status, 0)
        ops = opcodes(log, 0x1001)
        self.assertEqual(ops[:4], [OP_TRACE_CREATE, OP_TRACE_START, OP_TRACE_STATUS, OP_TRACE_STATUS])
        self.assertEqual([s[0] for s in stamps(out)], [3])


if __name__ == "__main__":
    unittest.main()
