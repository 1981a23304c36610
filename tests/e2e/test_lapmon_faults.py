# SPDX-License-Identifier: BSD-2-Clause
"""lapmon against a driver that misbehaves (brisim's fault rules): no crash, no wait beyond the
driver's own, no request on a connection that is gone, and Ctrl-C still ends it within about two
seconds."""

import signal
import time
import unittest

from harness import Sim, wait_for_log
from lapmon_util import (NO_EXIT_PAUSE, OP_ENUM_IDD, OP_TRACE_CREATE, OP_TRACE_DESTROY, OP_TRACE_READ,
                         OP_TRACE_STATUS, OP_TRACE_STOP, STAMP_RE, count_at_least, finish, frame, kill_quietly,
                         line, scenario, send, start_lapmon, stop_with_nine, wait_until)

HANDLES = (0x1001, 0x1002)


def busy(faults):
    sc = scenario(*[line("L%d" % i, h, [frame(i)], repeat={"count": "forever", "every_ms": 50})
                    for i, h in enumerate(HANDLES)])
    sc["faults"] = faults
    return sc


def fault_lines(sim):
    with open(sim.dir + "/brisim-TESSIX0.err") as f:
        return [l for l in f.read().splitlines() if " fault " in l]


class Interrupt(unittest.TestCase):
    def test_ctrl_c_during_a_hung_request(self):
        # The driver sits on a status request for eight seconds; Ctrl-C must not wait for it.
        for opcode in ("OP_TRACE_STATUS", "OP_TRACE_READ"):
            with self.subTest(opcode=opcode), Sim(busy([{"kind": "hang", "opcode": opcode, "after": 6,
                                                         "ms": 8000}])) as sim:
                proc = start_lapmon(["-a", "-raw"], sim, **NO_EXIT_PAUSE)
                try:
                    wait_until(lambda: fault_lines(sim), timeout=15)
                    time.sleep(0.3)
                    started = time.monotonic()
                    proc.send_signal(signal.SIGINT)
                    status, _ = finish(proc, timeout=10)
                    self.assertLess(time.monotonic() - started, 2.5)
                    self.assertEqual(status, -signal.SIGINT)
                finally:
                    kill_quietly(proc)

    def test_ctrl_c_whatever_the_driver_does_at_the_teardown(self):
        # The driver sits on the first stop request for ten seconds, or stops altogether while the
        # tool sleeps between polls, or sits on the stop of the teardown that 9 began: Ctrl-C ends
        # the tool within about two seconds all the same (the handler gives up at 1.5 s).
        for case in ("stop hangs", "driver stopped", "stop hangs after 9"):
            hang_stop = {"kind": "hang", "opcode": "OP_TRACE_STOP", "ms": 10000}
            faults = [] if case == "driver stopped" else [hang_stop]
            with self.subTest(case=case), Sim(busy(faults)) as sim:
                proc = start_lapmon(["-a", "-raw"], sim, **NO_EXIT_PAUSE)
                driver = sim.procs[0]
                try:
                    wait_for_log(sim, count_at_least(OP_TRACE_STATUS, 4))
                    if case == "driver stopped":
                        time.sleep(0.3)  # well into the sleep after a poll pass
                        driver.send_signal(signal.SIGSTOP)
                    elif case == "stop hangs after 9":
                        send(proc, b"9")
                        wait_for_log(sim, count_at_least(OP_TRACE_STOP, 1), timeout=5)
                    started = time.monotonic()
                    proc.send_signal(signal.SIGINT)
                    status, _ = finish(proc, timeout=15)
                    self.assertLess(time.monotonic() - started, 2.5)
                    self.assertEqual(status, -signal.SIGINT)
                    if case != "driver stopped":
                        # Line 1's stop was never answered; nothing reached the driver after it.
                        self.assertEqual([(r["opcode"], r["line_handle"]) for r in sim.log()][-1],
                                         (OP_TRACE_STOP, HANDLES[0]))
                finally:
                    driver.send_signal(signal.SIGCONT)
                    kill_quietly(proc)


class BrokenConnection(unittest.TestCase):
    def test_lost_connection_is_said_once_and_ends_the_run(self):
        for kind in ("close", "cut", "noise", "oversize", "restart"):
            with self.subTest(kind=kind), Sim(busy([{"kind": kind, "opcode": "OP_TRACE_READ", "after": 4}])) as sim:
                proc = start_lapmon(["-a", "-raw"], sim, **NO_EXIT_PAUSE)
                try:
                    wait_until(lambda: fault_lines(sim), timeout=15)
                    found = time.monotonic()
                    # It ends by itself, as after 9 and within the poll pass, with status 1.
                    status, out = finish(proc)
                    self.assertLess(time.monotonic() - found, 2.5)
                    self.assertEqual(status, 1)
                    self.assertEqual(proc.errors.text(), "lapmon: the connection to the driver is lost\n")
                    log = sim.log()
                    self.assertEqual(log[-1]["opcode"], OP_TRACE_READ, kind)
                    # The entries read before the fault were all shown; the reply to the last read
                    # never arrived whole.
                    reads = [r for r in log if r["opcode"] == OP_TRACE_READ and r["status"] == 0]
                    unanswered = 1 if log[-1]["status"] == 0 else 0
                    self.assertEqual(len(STAMP_RE.findall(out)), len(reads) - unanswered)
                    self.assertNotIn("lost", out)
                finally:
                    kill_quietly(proc)


class SpoiltReplies(unittest.TestCase):
    def test_slow_driver_delays_and_nothing_more(self):
        with Sim(busy([{"kind": "hang", "opcode": "OP_TRACE_STATUS", "after": 2, "ms": 1500}])) as sim:
            proc = start_lapmon(["-a", "-raw"], sim, **NO_EXIT_PAUSE)
            try:
                wait_until(lambda: fault_lines(sim), timeout=15)
                hung_at = len(sim.requests(OP_TRACE_STATUS))
                wait_for_log(sim, count_at_least(OP_TRACE_STATUS, hung_at + 4), timeout=10)
                status, out = stop_with_nine(proc)
                self.assertEqual(status, 0)
                reads = [r for r in sim.log() if r["opcode"] == OP_TRACE_READ and r["status"] == 0]
                self.assertEqual(len(STAMP_RE.findall(out)), len(reads))
                for handle in HANDLES:
                    ops = [r["opcode"] for r in sim.log() if r["line_handle"] == handle]
                    self.assertEqual(ops[-2:], [OP_TRACE_STOP, OP_TRACE_DESTROY])
            finally:
                kill_quietly(proc)

    def test_garbage_entries_and_status_words(self):
        # Every status and read reply says success with random words: random "Lost" counts,
        # random entries, up to a ring's worth per line and poll.
        faults = [{"kind": "garbage", "opcode": op, "count": "forever", "bytes": 400}
                  for op in ("OP_TRACE_STATUS", "OP_TRACE_READ")]
        with Sim(busy(faults)) as sim:
            proc = start_lapmon(["-a", "-p"], sim, **NO_EXIT_PAUSE)
            try:
                wait_for_log(sim, count_at_least(OP_TRACE_STATUS, 6), timeout=20)
                status, out = stop_with_nine(proc, timeout=20)
                self.assertEqual(status, 0)
                self.assertIn("Q.921 Decode", out)
                for handle in HANDLES:
                    ops = [r["opcode"] for r in sim.log() if r["line_handle"] == handle]
                    self.assertEqual(ops[-2:], [OP_TRACE_STOP, OP_TRACE_DESTROY])
            finally:
                kill_quietly(proc)

    def test_garbage_enumeration(self):
        with Sim(busy([{"kind": "garbage", "opcode": "OP_ENUM_IDD"}])) as sim:
            proc = start_lapmon(["-a", "-p"], sim, **NO_EXIT_PAUSE)
            try:
                wait_for_log(sim, count_at_least(OP_ENUM_IDD, 1))
                time.sleep(1)
                status, out = stop_with_nine(proc)
                self.assertEqual(status, 0)
                creates = sim.requests(OP_TRACE_CREATE)
                self.assertLessEqual(len(creates), 20)
                self.assertEqual(out.count("Error Creating Trace Object for Line "),
                                 len([r for r in creates if r["status"] != 0]))
            finally:
                kill_quietly(proc)


if __name__ == "__main__":
    unittest.main()
