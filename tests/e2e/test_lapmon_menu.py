# SPDX-License-Identifier: BSD-2-Clause
"""lapmon's line enumeration and selection menu, answered through a pipe."""

import unittest

from harness import LAPMON, Sim, run
from lapmon_util import (OP_ENUM_IDD, OP_TRACE_CREATE, OP_TRACE_DESTROY, OP_TRACE_START,
                         OP_TRACE_STOP, line, scenario)

NAMES = ["Tessix1 LINE1 (U)", "Tessix1 LINE2 (U)", "Tessix2 LINE1 (S/T)"]
HANDLES = [0x1001, 0x1002, 0x2001]
THREE_LINES = scenario(*[line(n, h) for n, h in zip(NAMES, HANDLES)])
LISTING = "Lines In System:\n" + "".join(" %s\n" % n for n in NAMES)


def menu(selected=()):
    text = "\nLines currently being traced:\n"
    text += "".join("%s\n" % NAMES[i] for i in sorted(selected))
    text += "\nTrace which lines?\n"
    text += "".join("%d. %s\n" % (i, n) for i, n in enumerate(NAMES))
    return text + "99. Start Tracing!\n\n?: "


INVALID = "\nInvalid Line Selection!\n"


def created(sim):
    return [r["line_handle"] for r in sim.requests(OP_TRACE_CREATE)]


class MenuTest(unittest.TestCase):
    def test_dialogues(self):
        # (answers, expected output after the listing, exit status, lines whose trace is created)
        cases = (
            (b"0\n0\n99\n9", menu() + menu({0}) + menu({0}), 0, [0]),
            (b"2\n1\n99\n9", menu() + menu({2}) + menu({1, 2}), 0, [1, 2]),
            (b"3\n-1\n100\n99\n9", menu() + (INVALID + menu()) * 3, 0, []),
            (b"99\n9", menu(), 0, []),
            (b"x", menu(), 0, []),
            (b"1\nquit\n", menu() + menu({1}), 0, []),
            (b"", menu(), 0, []),
            (b" 1\r\n99\r\n9", menu() + menu({1}), 0, [1]),
        )
        for answers, dialogue, status, lines in cases:
            with self.subTest(answers=answers), Sim(THREE_LINES) as sim:
                result = run(LAPMON, ["-l2"], sim, input=answers)
                self.assertEqual(result.returncode, status)
                self.assertEqual(result.stdout.decode(), LISTING + dialogue)
                self.assertEqual(created(sim), [HANDLES[i] for i in lines])
                # Stop and destroy exactly the created traces.
                self.assertEqual([r["line_handle"] for r in sim.requests(OP_TRACE_DESTROY)],
                                 [HANDLES[i] for i in lines])

    def test_all_lines_without_a_menu(self):
        with Sim(THREE_LINES) as sim:
            result = run(LAPMON, ["-A"], sim, input=b"9")
            self.assertEqual(result.returncode, 0)
            self.assertEqual(result.stdout.decode(), LISTING)
            self.assertEqual(created(sim), HANDLES)
            log = sim.log()
            # Created and started in table order; at the end each stopped, then destroyed.
            self.assertEqual([(r["opcode"], r["line_handle"], r["parameter"]) for r in log
                              if r["opcode"] in (OP_TRACE_CREATE, OP_TRACE_START)],
                             [x for h in HANDLES for x in ((OP_TRACE_CREATE, h, 20), (OP_TRACE_START, h, 0))])
            self.assertEqual([(r["opcode"], r["line_handle"], r["parameter"]) for r in log
                              if r["opcode"] in (OP_TRACE_STOP, OP_TRACE_DESTROY)],
                             [x for h in HANDLES for x in ((OP_TRACE_STOP, h, 0), (OP_TRACE_DESTROY, h, 20))])

    def test_single_line_is_traced_without_a_menu(self):
        with Sim(scenario(line("Tessix1 LINE1 (U)", 0x77))) as sim:
            result = run(LAPMON, ["-raw"], sim, input=b"9")
            self.assertEqual(result.returncode, 0)
            self.assertEqual(result.stdout.decode(), "Lines In System:\n Tessix1 LINE1 (U)\n")
            self.assertEqual(created(sim), [0x77])

    def test_no_lines_listed(self):
        # A refused enumeration lists nothing and asks nothing; a count of 0 lists the heading and
        # offers only to start. Either way tracing runs with nothing to trace until 9.
        empty_menu = ("\nLines currently being traced:\n\nTrace which lines?\n"
                      "99. Start Tracing!\n\n?: ")
        cases = (({"refuse": True}, b"9", ""),
                 ({"count": 0}, b"99\n9", "Lines In System:\n" + empty_menu))
        for enum, answers, out in cases:
            with self.subTest(enum=enum), Sim({"enum": enum, "lines": THREE_LINES["lines"]}) as sim:
                result = run(LAPMON, ["-p"], sim, input=answers)
                self.assertEqual(result.returncode, 0)
                self.assertEqual(result.stdout.decode(), out)
                self.assertEqual([r["opcode"] for r in sim.log()], [OP_ENUM_IDD])

    def test_long_names_and_counts_above_twenty(self):
        long_name = "Tessix1 LINE1 " + "x" * 40
        lines = [line(long_name if i == 0 else "L%d" % i, 0x100 + i) for i in range(22)]
        with Sim({"enum": {"count": 25}, "lines": lines}) as sim:
            result = run(LAPMON, ["-a"], sim, input=b"9")
            self.assertEqual(result.returncode, 0)
            expected = "Lines In System:\n %s\n" % long_name[:31]
            expected += "".join(" L%d\n" % i for i in range(1, 20))
            self.assertEqual(result.stdout.decode(), expected)
            self.assertEqual(created(sim), [0x100 + i for i in range(20)])


if __name__ == "__main__":
    unittest.main()
