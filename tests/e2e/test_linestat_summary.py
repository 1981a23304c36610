# SPDX-License-Identifier: BSD-2-Clause
"""linestat's layer summary end to end: verdicts, -v texts, the closing hint, failed areas."""

import unittest

from harness import Sim
from linestat_support import HINT, W95_VERSION, banner, linestat, quiet_areas

HEAD_95 = banner("95", "4.10", "1998")

ALL_GO = (" Layer 1 Tx State: Go! (2)\n"
          " Layer 1 Rx State: Go! (2)\n"
          " Layer 2 State: Go! (7)\n"
          " Layer 3 State: Go! (4)\n"
          " Layer 3 Service: Go! (2)\n")


def one_line(**values):
    return {"lines": [{"name": "Tessix1 LINE0", "areas": quiet_areas(**values)}]}


def run95(scenario, *args):
    with Sim(scenario, devices=("VEXMOD.VXD",)) as sim:
        return linestat(sim, *args, bri_os=W95_VERSION)


class Summary(unittest.TestCase):
    def test_all_go(self):
        self.assertEqual(run95(one_line()), (0, HEAD_95 + "\nLine: Tessix1 LINE0\n" + ALL_GO))

    def test_verbose_texts(self):
        code, out = run95(one_line(tx=3, rx=3, lap_state=8, state=3, service=18), "-v")
        self.assertEqual(code, 0)
        self.assertEqual(out, HEAD_95 + "\nLine: Tessix1 LINE0\n"
                         " Layer 1 Tx State: Go! (3)\n"
                         " Layer 1 State: INFO 3\n"
                         " Layer 1 Rx State: Stop! (3)\n"
                         " Layer 1 Rx State: LostFraming\n"
                         " Layer 2 State: Go! (8)\n"
                         " Layer 2 State: Timer Recovery\n"
                         " Layer 3 State: Stop! (3)\n"
                         " Layer 3 State: Restart Pending, Awaiting Ack\n"
                         " Layer 3 Service: Go! (18)\n"
                         " Layer 3 Service: Full, TM\n")

    def test_closing_hint(self):
        # A Stop! without -v ends the run with the hint, once, after the last line.
        two_lines = {"lines": [{"name": "Tessix1 LINE0", "areas": quiet_areas(tx=1)},
                               {"name": "Tessix1 LINE1", "areas": quiet_areas()}]}
        code, out = run95(two_lines)
        self.assertEqual(code, 0)
        self.assertEqual(out, HEAD_95 + "\nLine: Tessix1 LINE0\n" +
                         ALL_GO.replace("Tx State: Go! (2)", "Tx State: Stop! (1)") +
                         "\nLine: Tessix1 LINE1\n" + ALL_GO + HINT)
        for args in (["-v"], ["-a"], ["-a1"], ["-a3"]):
            with self.subTest(args=args):
                code, out = run95(two_lines, *args)
                self.assertEqual(code, 0)
                self.assertNotIn("Run linestat -v", out)

    def test_failed_area_2_between_layer_1_and_3(self):
        cases = [({"request": "refuse"}, "Error: Error Getting Area.\n"),
                 ({"ready_after_polls": "never"}, "Error: Error Getting Status for Layer 2\n"),
                 ({"poll": "refuse"}, ""),
                 ({"final": "refuse"}, "")]
        for area2, message in cases:
            with self.subTest(area2=area2):
                areas = quiet_areas(lap_state=1)
                areas["2"] = dict(areas["2"], **area2)
                code, out = run95({"lines": [{"name": "Tessix1 LINE0", "areas": areas}]})
                self.assertEqual(code, 0)
                # No Layer 2 verdict, so no Stop! from it and no hint.
                self.assertEqual(out, HEAD_95 + "\nLine: Tessix1 LINE0\n"
                                 " Layer 1 Tx State: Go! (2)\n"
                                 " Layer 1 Rx State: Go! (2)\n" + message +
                                 " Layer 3 State: Go! (4)\n"
                                 " Layer 3 Service: Go! (2)\n")


if __name__ == "__main__":
    unittest.main()
