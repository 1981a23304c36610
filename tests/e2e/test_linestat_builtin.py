# SPDX-License-Identifier: BSD-2-Clause
"""linestat against brisim's built-in scenario, compared with checked expected output files.

Set BRI_UPDATE_EXPECTED=1 to rewrite the files from a run; check every rewritten file by eye.
"""

import os
import unittest

from harness import Sim
from linestat_support import linestat, registry_text

EXPECTED_DIR = os.path.join(os.path.dirname(os.path.abspath(__file__)), "expected")

# RAS/TAPI devices for the built-in lines "Tessix1 LINE1 (U)" and "Tessix1 LINE2 (U)" (adapter 1,
# line characters 2 and 4), after one device of another adapter.
REGISTRY = registry_text(address=["2.2", "1.2", "1.4"],
                         friendly=["ISDN Other", "ISDN Line 1", "ISDN Line 2"],
                         usage=["Client", "ClientAndServer", "Server"])

CASES = [
    ("linestat.txt", []),
    ("linestat_v.txt", ["-v"]),
    ("linestat_a.txt", ["-a"]),
    ("linestat_a2.txt", ["-a2"]),
    ("linestat_a21.txt", ["-a21"]),
]


class BuiltInScenario(unittest.TestCase):
    def test_reports_match_expected_files(self):
        update = os.environ.get("BRI_UPDATE_EXPECTED") == "1"
        for name, args in CASES:
            with self.subTest(args=args), Sim() as sim:
                code, out = linestat(sim, *args, registry=sim.write_file("ras.reg", REGISTRY))
                self.assertEqual(code, 0, out)
                path = os.path.join(EXPECTED_DIR, name)
                if update:
                    with open(path, "w", newline="", encoding="latin-1") as f:
                        f.write(out)
                    continue
                with open(path, newline="", encoding="latin-1") as f:
                    self.assertEqual(out, f.read())


if __name__ == "__main__":
    unittest.main()
