# SPDX-License-Identifier: BSD-2-Clause
"""linestat start-up end to end: options, banner, system detection, driver paths, line list."""

import unittest

from harness import Sim
from linestat_support import (ALL_AREAS, USAGE, W95_VERSION, area_requests, banner, linestat,
                              quiet_areas, registry_text)

ONE_LINE = {"lines": [{"name": "Tessix1 LINE0 (S/T)", "handle": 0x1001, "areas": quiet_areas()}]}

BAD_LONG = "\nInvalid argument!\n\n" + USAGE
BAD_LETTER = "Invalid Argument!\n" + USAGE
BAD_AREA = "Invalid Area!\n" + USAGE


class Options(unittest.TestCase):
    # (arguments, exit status, text after the banner or None when the run goes on,
    #  area requests of a run that goes on)
    # The full table of option texts is a unit test; here one case of each kind checks the exit
    # status, that help and errors never touch the driver, and which areas a good option fetches.
    CASES = [
        ([], 0, None, [1, 2, 3]),
        (["xv"], 0, None, [1, 2, 3]),
        (["-v1"], 0, None, [1, 2, 3]),
        (["-vx"], 2, BAD_LONG, None),
        (["-H"], 0, USAGE, None),
        (["-a"], 0, None, ALL_AREAS),
        (["/a2"], 0, None, [2]),
        (["-a12"], 0, None, [12]),
        (["-a22"], 0, None, [22]),
        (["-a4"], 2, BAD_LETTER, None),
        (["-a31"], 2, BAD_AREA, None),
        (["-a222"], 2, BAD_LONG, None),
        ([""], 2, BAD_LETTER, None),
        (["-v", "-a"], 2, "\nInvalid Argument!\n\n" + USAGE, None),
    ]

    def test_option_table(self):
        for args, status, text, areas in self.CASES:
            with self.subTest(args=args), Sim(ONE_LINE) as sim:
                code, out = linestat(sim, *args)
                self.assertEqual(code, status, out)
                if text is not None:
                    # Help and every option error end before the driver is touched.
                    self.assertEqual(out, banner() + text)
                    self.assertEqual(sim.requests(), [])
                else:
                    self.assertTrue(out.startswith(banner()), out)
                    self.assertEqual(area_requests(sim), areas)

    def test_help_without_driver(self):
        with Sim(start=False) as sim:
            code, out = linestat(sim, "-h")
        self.assertEqual((code, out), (0, banner() + USAGE))


class SystemAndDriver(unittest.TestCase):
    def test_banner_on_95_and_no_registry(self):
        with Sim(ONE_LINE, devices=("VEXMOD.VXD",)) as sim:
            # A registry that would name the line is not read on 95.
            reg = sim.write_file("ras.reg", registry_text(["1.0"], ["A"], ["U"]))
            code, out = linestat(sim, bri_os=W95_VERSION, registry=reg)
        self.assertEqual(code, 0)
        self.assertTrue(out.startswith(banner("95", "4.10", "1998") + "\nLine: Tessix1 LINE0 (S/T)\n"), out)
        self.assertNotIn("RASInfo", out)
        self.assertNotIn("Couldn't", out)

    def test_failed_version_query_goes_on_as_nt(self):
        with Sim(ONE_LINE) as sim:
            code, out = linestat(sim, bri_os="fail")
        self.assertEqual(code, 0)
        self.assertTrue(out.startswith("\nProblems finding OS version! default to windows NT...\n" +
                                       banner("NT", "0.0", "0")), out)

    def test_unsupported_system_ends_before_banner(self):
        with Sim(ONE_LINE) as sim:
            code, out = linestat(sim, bri_os="other")
            self.assertEqual(sim.requests(), [])
        self.assertEqual((code, out), (1, "This Utility runs only under Windows NT or 95!\n"))

    def test_device_paths_per_system(self):
        # (system, devices served, opens)
        cases = [
            ("nt:4.0.1381", ("TESSIX0",), True),
            ("nt:4.0.1381", ("Quorlink",), True),
            ("nt:4.0.1381", ("VEXMOD.VXD",), False),
            ("fail", ("Quorlink",), True),
            ("fail", ("VEXMOD.VXD",), False),
            (W95_VERSION, ("VEXMOD.VXD",), True),
            (W95_VERSION, ("Quorlink",), True),
            (W95_VERSION, ("TESSIX0",), False),
        ]
        for bri_os, devices, opens in cases:
            with self.subTest(os=bri_os, devices=devices), Sim(ONE_LINE, devices=devices) as sim:
                code, out = linestat(sim, "-a1", bri_os=bri_os)
                if opens:
                    self.assertEqual(code, 0, out)
                    self.assertEqual(area_requests(sim), [1])
                else:
                    self.assertEqual(code, 1)
                    self.assertTrue(out.endswith("Tessix.sys is not installed!\n"), out)
                    self.assertEqual(sim.requests(), [])


class LineList(unittest.TestCase):
    def test_no_lines(self):
        for scenario in ({"lines": []}, {"enum": {"refuse": True}, "lines": ONE_LINE["lines"]}):
            with self.subTest(scenario=scenario), Sim(scenario) as sim:
                code, out = linestat(sim)
                self.assertEqual(code, 1)
                self.assertTrue(out.endswith("Error: No Line Objects Found.\n"), out)
                self.assertEqual(area_requests(sim), [])

    def test_long_names_and_too_many_lines(self):
        lines = [{"name": "Tessix1 LINE%d %s" % (i % 5, "x" * 40), "handle": 0x2000 + i,
                  "areas": {"1": {"request": "refuse"}}} for i in range(20)]
        with Sim({"enum": {"count": 25}, "lines": lines}) as sim:
            code, out = linestat(sim, "-a1")
            handles = [r["line_handle"] for r in sim.requests() if r["name"] == "OP_AREA_REQUEST"]
        self.assertEqual(code, 0, out)
        headings = [l for l in out.split("\n") if l.startswith("Line: ")]
        self.assertEqual(headings, ["Line: " + l["name"][:31] for l in lines])
        self.assertEqual(handles, [0x2000 + i for i in range(20)])


if __name__ == "__main__":
    unittest.main()
