# SPDX-License-Identifier: BSD-2-Clause
"""lapmon start-up: usage screens, exit statuses, the system's device names, the missing driver,
argument wildcards."""

import os
import shutil
import subprocess
import unittest

import harness
import wine_rig
from harness import LAPMON, LINESTAT, Sim, run
from lapmon_util import (OP_ENUM_IDD, OP_TRACE_READ, USAGE, frame, has_request, kill_quietly, line,
                         scenario, stamps)

ONE_LINE = scenario(line("Tessix1 LINE1 (U)", 0x1001, [frame(0)]))


class UsageTest(unittest.TestCase):
    def test_usage_screens_and_statuses(self):
        with Sim(ONE_LINE) as sim:
            for args, status in (([], 1), (["-?"], 0), (["-a", "-?", "-p"], 0), (["-?", "x"], 0)):
                with self.subTest(args=args):
                    result = run(LAPMON, args, sim)
                    self.assertEqual(result.returncode, status)
                    self.assertEqual(result.stdout.decode(), USAGE)
            # Neither screen touches the driver.
            self.assertEqual(sim.log(), [])

    def test_usage_wins_over_a_missing_driver(self):
        with Sim(ONE_LINE, devices=()) as sim:
            result = run(LAPMON, ["-?"], sim)
        self.assertEqual((result.returncode, result.stdout.decode()), (0, USAGE))


class DriverOpenTest(unittest.TestCase):
    def test_not_installed_when_nothing_listens(self):
        with Sim(ONE_LINE, devices=()) as sim:
            for os_name in ("nt", "95", "fail"):
                with self.subTest(os=os_name):
                    result = run(LAPMON, ["-a"], sim, input=b"9", BRI_OS=os_name)
                    self.assertEqual(result.returncode, 1)
                    self.assertTrue(result.stdout.decode().endswith("Tessix.sys is not installed!\n"))
                    if not harness.WRAP:
                        # On Linux one line on standard error names the sockets tried.
                        first = "VEXMOD.VXD" if os_name == "95" else "TESSIX0"
                        hint = ("No driver listens on %s/%s or %s/Quorlink; start the simulated adapter "
                                "with \"brisim &\", or set BRI_DEVICE_DIR to the folder of its socket.\n"
                                % (sim.dir, first, sim.dir))
                        self.assertEqual(result.stderr.decode(), hint)

    def test_unsupported_system(self):
        with Sim(ONE_LINE) as sim:
            result = run(LAPMON, ["-a"], sim, input=b"9", BRI_OS="other")
            self.assertEqual(result.returncode, 1)
            self.assertEqual(result.stdout.decode(), "This Utility runs only under Windows NT or 95!\n")
            self.assertEqual(sim.log(), [])

    def test_setting_not_understood_is_named(self):
        # "other" asks for an unsupported system; anything else unknown is also named on stderr.
        if harness.WINE:
            wine_rig.cannot_express("os-setting", "BRI_OS values that are not understood")
        for value, named in (("other", False), ("windows", True), ("nt:4.0", True)):
            for program in (LAPMON, LINESTAT):
                with self.subTest(value=value, program=program), Sim(ONE_LINE) as sim:
                    result = run(program, ["-a"], sim, input=b"9", BRI_OS=value)
                    self.assertEqual(result.returncode, 1)
                    self.assertEqual(result.stdout.decode(), "This Utility runs only under Windows NT or 95!\n")
                    errors = result.stderr.decode().splitlines()
                    expected = ['BRI_OS value not understood: "%s"' % value] if named else []
                    self.assertEqual([e.split(" (")[0] for e in errors], expected)

    def test_device_names_by_system(self):
        # (system, the one device listening, whether lapmon finds the driver there)
        cases = (
            ("nt", "TESSIX0", True), ("nt", "Quorlink", True), ("nt", "VEXMOD.VXD", False),
            ("95", "VEXMOD.VXD", True), ("95", "Quorlink", True), ("95", "TESSIX0", False),
            ("fail", "TESSIX0", True), ("fail", "Quorlink", True), ("fail", "VEXMOD.VXD", False),
        )
        for os_name, device, found in cases:
            with self.subTest(os=os_name, device=device), Sim(ONE_LINE, devices=(device,)) as sim:
                result = run(LAPMON, ["-a"], sim, input=b"9", BRI_OS=os_name)
                out = result.stdout.decode()
                if os_name == "fail":
                    self.assertTrue(out.startswith("\nProblems finding OS version! default to windows NT...\n"))
                if found:
                    self.assertEqual(result.returncode, 0, out)
                    self.assertIn("Lines In System:\n Tessix1 LINE1 (U)\n", out)
                    self.assertEqual(sim.log()[0]["opcode"], OP_ENUM_IDD)
                else:
                    self.assertEqual(result.returncode, 1)
                    self.assertTrue(out.endswith("Tessix.sys is not installed!\n"))
                    self.assertEqual(sim.log(), [])

    def test_first_device_is_preferred(self):
        for os_name, first in (("nt", "TESSIX0"), ("95", "VEXMOD.VXD")):
            with self.subTest(os=os_name), Sim(ONE_LINE, devices=(first,)) as sim:
                # A second simulator in the same folder plays the second device, with its own log.
                with Sim(ONE_LINE, devices=("Quorlink",), start=False) as second:
                    shutil.rmtree(second.dir, ignore_errors=True)
                    second.dir = sim.dir
                    second.log_path = os.path.join(sim.dir, "second.log")
                    second.scenario_path = sim.scenario_path
                    second.start()
                    result = run(LAPMON, ["-a"], sim, input=b"9", BRI_OS=os_name)
                    self.assertEqual(result.returncode, 0)
                    self.assertTrue(sim.log())
                    self.assertEqual(second.log(), [])


class OptionsTest(unittest.TestCase):
    def test_unknown_argument_is_enough_to_run_and_prints_no_frames(self):
        with Sim(ONE_LINE) as sim:
            result = run(LAPMON, ["-x"], sim, input=b"9")
        self.assertEqual(result.returncode, 0)
        self.assertEqual(result.stdout.decode(), "Lines In System:\n Tessix1 LINE1 (U)\n")

    def test_wildcard_argument_expands_to_matching_file_names(self):
        # "-ra*" becomes "-raw" when a file of that name is in the current folder, so the
        # frame's time-stamp line is printed; without a match it stays as typed and nothing is.
        sc = scenario(line("Tessix1 LINE1 (U)", 0x1001, [frame(7)]))
        for files, shown in (((), 0), (("-raw", "other"), 1)):
            with self.subTest(files=files), Sim(sc) as sim:
                folder = os.path.join(sim.dir, "cwd")
                os.mkdir(folder)
                for name in files:
                    open(os.path.join(folder, name), "w").close()
                proc = subprocess.Popen(harness.WRAP + [LAPMON, "-ra*"], cwd=folder,
                                        stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        stderr=subprocess.PIPE, env=sim.env())
                try:
                    harness.wait_for_log(sim, has_request(OP_TRACE_READ, status=0))
                    out, _ = proc.communicate(b"9", timeout=10)
                finally:
                    kill_quietly(proc)
                self.assertEqual(proc.returncode, 0)
                self.assertEqual(len(stamps(out.decode())), shown)


if __name__ == "__main__":
    unittest.main()
