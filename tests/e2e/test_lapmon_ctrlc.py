# SPDX-License-Identifier: BSD-2-Clause
"""Ctrl-C (SIGINT) and Ctrl-Break (SIGQUIT): every trace stopped, then destroyed, exactly once; the
terminal left as found."""

import os
import resource
import signal
import subprocess
import termios
import unittest

import harness
from harness import LAPMON, Sim, start, wait_for_log
from lapmon_util import (NO_EXIT_PAUSE, start_lapmon, OP_ENUM_IDD, OP_TRACE_DESTROY, OP_TRACE_READ, OP_TRACE_STATUS,
                         OP_TRACE_STOP, count_at_least, finish, frame, kill_quietly, line, scenario, send,
                         start_on_terminal, terminated_by)

HANDLES = (0x1001, 0x1002, 0x1003)


def busy_lines():
    # Line 2's create is refused; the others deliver frames all the time.
    lines = [line("L%d" % i, h, [frame(i)], repeat={"count": 1000, "every_ms": 5})
             for i, h in enumerate(HANDLES)]
    lines[2]["trace"]["create"] = "refuse"
    return scenario(*lines)


class CtrlCTest(unittest.TestCase):
    def check_teardown(self, log, traced):
        for handle in HANDLES:
            ops = [r["opcode"] for r in log if r["line_handle"] == handle]
            if handle in traced:
                self.assertEqual(ops.count(OP_TRACE_STOP), 1)
                self.assertEqual(ops.count(OP_TRACE_DESTROY), 1)
                # Stop, then destroy, and nothing for the line after that.
                self.assertEqual(ops[-2:], [OP_TRACE_STOP, OP_TRACE_DESTROY])
            else:
                self.assertNotIn(OP_TRACE_STOP, ops)
                self.assertNotIn(OP_TRACE_DESTROY, ops)
        # Line by line in table order, each line's stop before its destroy.
        teardown = [(r["opcode"], r["line_handle"]) for r in log
                    if r["opcode"] in (OP_TRACE_STOP, OP_TRACE_DESTROY)]
        self.assertEqual(teardown, [(op, h) for h in traced for op in (OP_TRACE_STOP, OP_TRACE_DESTROY)])
        destroys = [r for r in log if r["opcode"] == OP_TRACE_DESTROY]
        self.assertTrue(all(r["parameter"] == 20 for r in destroys))
        # After the teardown nothing more reaches the driver.
        last_teardown = max(i for i, r in enumerate(log) if r["opcode"] in (OP_TRACE_STOP, OP_TRACE_DESTROY))
        self.assertEqual(len(log), last_teardown + 1)

    def test_signal_while_tracing_on_a_terminal(self):
        for sig in (signal.SIGINT, signal.SIGQUIT):
            with self.subTest(signal=sig), Sim(busy_lines()) as sim:
                proc, master, slave = start_on_terminal(["-a", "-raw"], sim, no_core=True)
                try:
                    found = proc.terminal_found
                    wait_for_log(sim, count_at_least(OP_TRACE_STATUS, 4))
                    harness.interrupt(proc, sig)
                    status, _ = finish(proc)
                    self.assertTrue(terminated_by(status, sig), status)
                    self.assertEqual(termios.tcgetattr(slave), found)
                    self.check_teardown(sim.log(), HANDLES[:2])
                finally:
                    kill_quietly(proc)
                    os.close(master)
                    os.close(slave)

    def test_ctrl_c_while_9_tears_down_leaves_the_end_to_9(self):
        # The first destroy is answered a second late, so the signal comes while the main
        # thread's own teardown (after 9) waits for it: that teardown completes and the tool ends
        # as 9 ends it. Little is left to display then, so the teardown ends well within the time
        # the handler gives it (1.5 s), also in a sanitizer build.
        lines = [line("L%d" % i, h, [frame(i)]) for i, h in enumerate(HANDLES)]
        lines[2]["trace"]["create"] = "refuse"
        sc = scenario(*lines)
        sc["faults"] = [{"kind": "hang", "opcode": "OP_TRACE_DESTROY", "count": 1, "ms": 1000}]
        with Sim(sc) as sim:
            proc = start_lapmon(["-a", "-raw"], sim, **NO_EXIT_PAUSE)
            try:
                wait_for_log(sim, count_at_least(OP_TRACE_STATUS, 4))
                send(proc, b"9")
                wait_for_log(sim, count_at_least(OP_TRACE_DESTROY, 1))
                harness.interrupt(proc, signal.SIGINT)
                status, _ = finish(proc)
            finally:
                kill_quietly(proc)
            self.assertEqual(status, 0)
            self.check_teardown(sim.log(), HANDLES[:2])

    def test_interrupt_at_the_menu_tears_down_nothing(self):
        sc = scenario(*[line("L%d" % i, h) for i, h in enumerate(HANDLES)])
        with Sim(sc) as sim:
            proc = start_lapmon(["-p"], sim)
            try:
                proc.stdin.write(b"0\n")
                proc.stdin.flush()
                wait_for_log(sim, count_at_least(OP_ENUM_IDD, 1))
                proc.output.wait_for(lambda out: out.count("?: ") >= 2)
                harness.interrupt(proc, signal.SIGINT)
                # Standard input stays open until the end: its end would close the menu too.
                proc.wait(10)
                status, _ = finish(proc)
            finally:
                kill_quietly(proc)
            self.assertTrue(terminated_by(status, signal.SIGINT), status)
            self.assertEqual([r["opcode"] for r in sim.log()], [OP_ENUM_IDD])


if __name__ == "__main__":
    unittest.main()
