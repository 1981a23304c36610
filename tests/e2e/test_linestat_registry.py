# SPDX-License-Identifier: BSD-2-Clause
"""linestat's RAS/TAPI registry correlation end to end, through registry export files."""

import os
import unittest

from harness import Sim
from linestat_support import banner, linestat, ras_lines, registry_text


def lines_named(*names):
    # Only the line list matters here: area 1 alone, refused, keeps each line's report short.
    return {"lines": [{"name": n, "areas": {"1": {"request": "refuse"}}} for n in names]}


def correlate(names, **values):
    """The (friendly name, usage) pairs that linestat -a1 shows for the named lines."""
    with Sim(lines_named(*names)) as sim:
        reg = sim.write_file("ras.reg", registry_text(**values))
        code, out = linestat(sim, "-a1", registry=reg)
    assert code == 0, out
    return ras_lines(out)


class Correlation(unittest.TestCase):
    def test_matching_cases(self):
        empty = ("", "")
        cases = [
            ("two entries, LINE1 takes 1.2", ["Tessix1 LINE1 (U)", "Tessix1 LINE0 (U)"],
             dict(address=["1.0", "1.2"], friendly=["A", "B"], usage=["U1", "U2"]),
             [("B", "U2"), ("A", "U1")]),
            ("1.3 matches no line", ["Tessix1 LINE1"],
             dict(address=["1.3"], friendly=["A"], usage=["U1"]), [empty]),
            ("the adapter number alone never matches", ["Tessix1 LINE1", "Tessix1 LINE0"],
             dict(address=["1"], friendly=["A"], usage=["U1"]), [empty, empty]),
            ("10.2 is not adapter 1's line 1", ["Tessix1 LINE1", "Tessix10 LINE1"],
             dict(address=["10.2", "1.2"], friendly=["A", "B"], usage=["U1", "U2"]),
             [("B", "U2"), ("A", "U1")]),
            ("a short Friendly Name list ends the walk", ["Tessix1 LINE1"],
             dict(address=["1.0", "1.2"], friendly=["A"], usage=["U1", "U2"]), [empty]),
            ("a short Usage list ends the walk", ["Tessix1 LINE1"],
             dict(address=["1.0", "1.2"], friendly=["A", "B"], usage=["U1"]), [empty]),
            ("the first match counts", ["Tessix1 LINE1"],
             dict(address=["1.2", "1.2"], friendly=["A", "B"], usage=["U1", "U2"]), [("A", "U1")]),
            ("the separator is not examined", ["Tessix2 LINE2"],
             dict(address=["2X4"], friendly=["F"], usage=["U"]), [("F", "U")]),
            ("an empty adapter number: index 1 decides", ["Tessix LINE1", "TessixA LINE3"],
             dict(address=["3.1", "42"], friendly=["A", "B"], usage=["U1", "U2"]),
             [("B", "U2"), empty]),
            ("names without Tessix or LINE", ["Tessix1 line1", "Adapter1 LINE1", "Tessix1 Port1"],
             dict(address=["1.2"], friendly=["A"], usage=["U1"]), [empty, empty, empty]),
            ("long entries are cut to 31 characters", ["Tessix1 LINE1"],
             dict(address=["1.2"], friendly=["F" * 40], usage=["U" * 35]), [("F" * 31, "U" * 31)]),
        ]
        for what, names, values, expected in cases:
            with self.subTest(what):
                self.assertEqual(correlate(names, **values), expected)

    def test_missing_values(self):
        too_long = ["%04d.2" % i for i in range(200)]  # 1401 bytes: more than the 1024-byte buffer
        cases = [
            ("no registry file", None, "\nCouldn't get TAPI idd's...\n"),
            ("no key", registry_text(["1.2"], ["A"], ["U"], key=r"HKEY_LOCAL_MACHINE\SOFTWARE\Other"),
             "\nCouldn't get TAPI idd's...\n"),
            ("no Address", registry_text(None, ["A"], ["U"]), "\nCouldn't get TAPI idd's...\n"),
            ("no Friendly Name", registry_text(["1.2"], None, ["U"]), "\nCouldn't get friendly names...\n"),
            ("no Usage", registry_text(["1.2"], ["A"], None), "\nCouldn't get RAS usage...\n"),
            ("Address too long", registry_text(too_long, ["A"], ["U"]), "\nCouldn't get TAPI idd's...\n"),
        ]
        for what, text, message in cases:
            with self.subTest(what), Sim(lines_named("Tessix1 LINE1", "Tessix1 LINE0")) as sim:
                env = {}
                if text is not None:
                    env["registry"] = sim.write_file("ras.reg", text)
                code, out = linestat(sim, "-a1", **env)
                self.assertEqual(code, 0)
                # The message comes right after the banner; no line gets a RASInfo line.
                self.assertTrue(out.startswith(banner() + message + "\nLine: Tessix1 LINE1\n"), out)
                self.assertNotIn("RASInfo", out)

    def test_registry_that_is_no_regular_file(self):
        # A device, a FIFO that nobody writes to, a folder: each reads as no registry, at once.
        with Sim(lines_named("Tessix1 LINE1")) as sim:
            fifo = os.path.join(sim.dir, "fifo.reg")
            os.mkfifo(fifo)
            for path in ("/dev/zero", fifo, sim.dir):
                with self.subTest(path=path):
                    code, out = linestat(sim, "-a1", registry=path)
                    self.assertEqual(code, 0)
                    self.assertTrue(out.startswith(banner() + "\nCouldn't get TAPI idd's...\n"), out)


if __name__ == "__main__":
    unittest.main()
