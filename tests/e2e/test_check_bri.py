# SPDX-License-Identifier: BSD-2-Clause
"""check_bri, the monitoring plugin, against brisim: its states and output for the scenarios, its
time bounds, bad input from the driver and the command line, and its metrics file. Under Wine the
verdict cases run with check_bri.exe through the relay driver."""

import fcntl
import os
import stat
import subprocess
import tempfile
import time
import unittest

import harness
from harness import Sim
from check_bri_support import (CHECK_BRI, CORPUS_DIR, area_record_params, check_bri, first_line, perf_labels, prom_path,
                               scenario, scenario_names, which)

PROMTOOL = which("promtool")


def promtool_check(test, path):
    with open(path, "rb") as f:
        proc = subprocess.run([PROMTOOL, "check", "metrics"], stdin=f, stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT, timeout=30)
    test.assertEqual(proc.returncode, 0, proc.stdout.decode(errors="replace"))


def one_line(areas=None, name="Tessix1 LINE1 (U)"):
    """A scenario of one line with the areas of line_up, changed as given."""
    base = scenario("line_up")["lines"][0]["areas"]
    base.update(areas or {})
    return {"lines": [{"name": name, "areas": base}]}


class Verdicts(unittest.TestCase):
    def test_scenarios_give_their_states(self):
        cases = [  # (scenario, exit status, start of the status line, text in the line's own line)
            ("line_up", 0, "BRI OK - 1 of 1 lines up |", "OK - up"),
            ("l2_failure", 2, "BRI CRITICAL - 0 of 1 lines up: Tessix1 LINE1 (U) layer 2 stuck", "CRITICAL"),
            ("spid_rejected", 2, "BRI CRITICAL - 0 of 1 lines up: Tessix1 LINE1 (U) SPID rejected (4)", "CRITICAL"),
            (None, 0, "BRI OK - 2 of 2 lines up |", "1 Tessix1 LINE2 (U): OK - up"),
        ]
        for name, status, start, text in cases:
            with self.subTest(scenario=name), Sim(scenario(name) if name else None) as sim:
                code, out, err, _ = check_bri(sim)
                self.assertEqual(code, status, out + err)
                self.assertTrue(out.startswith(start), out)
                self.assertIn(text, out.split("\n", 1)[1])
                self.assertIn("'lines_down'=%d;;;0;" % (1 if status == 2 else 0), out)

    def test_no_driver_is_unknown(self):
        code, out, _, _ = check_bri(None)
        self.assertEqual(code, 3, out)
        self.assertTrue(out.startswith("BRI UNKNOWN - no adapter driver"), out)

    def test_lines_chosen_by_number_or_name(self):
        with Sim() as sim:
            for args, status, start in [
                (["-l", "1"], 0, "BRI OK - 1 of 1 lines up"),
                (["-l", "Tessix1 LINE2 (U)", "-l", "0"], 0, "BRI OK - 2 of 2 lines up"),
                (["--line=tessix1 line2 (u)"], 0, "BRI OK - 1 of 1 lines up"),
                (["-l", "2"], 3, "BRI UNKNOWN - no line 2"),
            ]:
                with self.subTest(args=args):
                    code, out, _, _ = check_bri(sim, *args)
                    self.assertEqual(code, status, out)
                    self.assertTrue(out.startswith(start), out)

    def test_thresholds_on_lines_down(self):
        with Sim(scenario("l2_failure")) as sim:
            for args, status in [([], 2), (["-w", "0", "-c", "1"], 1), (["-c", "1"], 0), (["-c", "@1:1"], 2)]:
                with self.subTest(args=args):
                    code, out, _, _ = check_bri(sim, *args)
                    self.assertEqual(code, status, out)


class CommandLine(unittest.TestCase):
    def test_help_version_and_bad_options(self):
        code, out, _, _ = check_bri(None, "-h")
        self.assertEqual((code, out.startswith("check_bri ")), (0, True), out)
        code, out, _, _ = check_bri(None, "-V")
        self.assertEqual(code, 0)
        self.assertRegex(out, r"^check_bri \d+\.\d+\n$")
        for args in (["-t", "0"], ["-w", "20:10"], ["-x"], ["-c"], ["extra"]):
            with self.subTest(args=args):
                code, out, err, _ = check_bri(None, *args)
                self.assertEqual(code, 3, out)
                self.assertTrue(out.startswith("BRI UNKNOWN - "), out)
                self.assertIn("check_bri: ", err)


@unittest.skipIf(harness.WINE, "the driver's faults and the metrics checks run natively")
class BadInput(unittest.TestCase):
    def test_areas_refused_or_never_ready(self):
        cases = [  # (area 1 as the driver answers it, what the line says)
            ({"request": "refuse"}, "area 1 refused"),
            ({"poll": "refuse"}, "area 1 poll refused"),
            ({"final": "refuse"}, "area 1 poll refused"),
            ({"ready_after_polls": "never"}, "area 1 not ready"),
        ]
        for change, reason in cases:
            area1 = dict(scenario("line_up")["lines"][0]["areas"]["1"], **change)
            with self.subTest(change=change), Sim(one_line({"1": area1})) as sim:
                code, out, _, took = check_bri(sim)
                self.assertEqual(code, 3, out)
                self.assertIn(reason, first_line(out))
                self.assertLess(took, 3.0)

    def test_never_ready_ends_before_the_timeout(self):
        # 20 lines whose layer 1 area is never ready: one wait for all of them, not one each.
        never = dict(scenario("line_up")["lines"][0]["areas"]["1"], ready_after_polls="never")
        lines = [dict(one_line({"1": never}, "Tessix1 LINE%d" % (i + 1))["lines"][0]) for i in range(20)]
        with Sim({"lines": lines}) as sim:
            code, out, _, took = check_bri(sim, "-t", "5")
            self.assertEqual(code, 3, out)
            self.assertLess(took, 3.0)
            self.assertIn("0 of 20 lines up", out)
            # A -t shorter than the area's wait ends the fetch by the deadline, still with an answer.
            code, out, _, took = check_bri(sim, "-t", "1")
            self.assertEqual(code, 3, out)
            self.assertIn("timed out after 1 s while fetching areas", out)
            self.assertLess(took, 1.5)

    def test_driver_that_stops_answering_meets_the_timeout(self):
        with Sim(one_line(), extra_args=["--fault", "hang:opcode=OP_AREA_POLL,ms=20000"]) as sim:
            with tempfile.TemporaryDirectory() as folder:
                path = os.path.join(folder, "bri.prom")
                code, out, _, took = check_bri(sim, "-t", "2", "--prometheus", path)
                self.assertEqual(code, 3, out)
                self.assertEqual(out, "BRI UNKNOWN - timed out after 2 s while fetching area 1 of Tessix1 LINE1 (U)\n")
                self.assertLess(took, 3.5)
                self.assertEqual(os.listdir(folder), [])  # no temporary left behind

    @unittest.skipIf(harness.WINE, "a Linux pipe that nobody reads")
    def test_reader_that_takes_no_output_meets_the_timeout(self):
        # The -vvv output of two lines into a pipe of one page that nobody reads: the run still
        # ends by -t.
        with Sim(scenario("default")) as sim:
            for blocking in (True, False):
                read_end, write_end = os.pipe()
                fcntl.fcntl(write_end, fcntl.F_SETPIPE_SZ, 4096)
                os.set_blocking(write_end, blocking)
                started = time.monotonic()
                proc = subprocess.Popen([CHECK_BRI, "-vvv", "-t", "1"], stdout=write_end, env=sim.env())
                os.close(write_end)
                try:
                    self.assertEqual(proc.wait(timeout=10), 3)
                    self.assertLess(time.monotonic() - started, 2.5)
                finally:
                    if proc.poll() is None:
                        proc.kill()
                        proc.wait()
                    os.close(read_end)

    @unittest.skipUnless(PROMTOOL, "promtool (Debian package prometheus) is not installed")
    def test_malformed_area_records(self):
        records = sorted(os.listdir(CORPUS_DIR))
        self.assertTrue(records)
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "bri.prom")
            for name in records:
                params = area_record_params(os.path.join(CORPUS_DIR, name))
                areas = {str(a): dict(params) for a in (1, 2, 3, 10, 11, 12, 21, 22)}
                with self.subTest(record=name), Sim({"lines": [{"name": "Tessix1 LINE1", "areas": areas}]}) as sim:
                    code, out, err, _ = check_bri(sim, "-vvv", "--prometheus", path)
                    self.assertIn(code, (0, 1, 2, 3), err)
                    self.assertTrue(out.startswith("BRI "), out)
                    self.assertEqual(first_line(out).count(" | "), 1, out)
                    promtool_check(self, path)

    @unittest.skipUnless(PROMTOOL, "promtool (Debian package prometheus) is not installed")
    def test_line_names_with_quotes_equals_and_spaces(self):
        names = ["it's LINE1", "a=b LINE2", 'say "hi" LINE3', "back\\slash LINE4", "pipe|name LINE5"]
        lines = [dict(one_line(name=n)["lines"][0]) for n in names]
        with Sim({"lines": lines}) as sim, tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "bri.prom")
            code, out, _, _ = check_bri(sim, "--prometheus", path)
            self.assertEqual(code, 0, out)
            labels = perf_labels(out)
            for n in names:
                self.assertIn(n.replace("=", "_").replace("|", "_") + " state", labels)
            self.assertNotIn("|", first_line(out).split(" | ")[0])
            promtool_check(self, path)
            with open(path) as f:
                text = f.read()
            self.assertIn('bri_line_up{line="say \\"hi\\" LINE3"} 1', text)
            self.assertIn('bri_line_up{line="back\\\\slash LINE4"} 1', text)
            self.assertIn('bri_line_up{line="a=b LINE2"} 1', text)

    def test_metrics_folder_not_writable(self):
        with Sim(scenario("line_up")) as sim, tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "bri.prom")
            with open(path, "w") as f:
                f.write("old\n")
            os.chmod(folder, 0o555)
            try:
                env = sim.env()
                wrap = []
                if os.geteuid() == 0:
                    # root writes anywhere: the run is made as nobody, who may reach the simulator.
                    os.chmod(sim.dir, 0o755)
                    os.chmod(os.path.join(sim.dir, "TESSIX0"), 0o666)
                    wrap = ["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"]
                proc = subprocess.run(wrap + [CHECK_BRI, "--prometheus", path], stdout=subprocess.PIPE,
                                      stderr=subprocess.PIPE, env=env, timeout=30)
                out = proc.stdout.decode()
                self.assertEqual(proc.returncode, 3, out + proc.stderr.decode())
                self.assertRegex(first_line(out), r"^BRI UNKNOWN - cannot create .*bri\.prom\.\d+\.tmp: "
                                                  r"Permission denied; 1 of 1 lines up \|")
                with open(path) as f:
                    self.assertEqual(f.read(), "old\n")
                self.assertEqual(os.listdir(folder), ["bri.prom"])
            finally:
                os.chmod(folder, 0o755)


    @unittest.skipIf(harness.WINE, "symbolic links, pipes and devices of Linux")
    def test_metrics_file_behind_a_link_or_not_a_file(self):
        with Sim(scenario("line_up")) as sim, tempfile.TemporaryDirectory() as folder:
            at = lambda name: os.path.join(folder, name)
            os.mkdir(at("real"))
            os.symlink("real/bri.prom", at("link"))          # leads to a file not made yet
            os.symlink(at("link"), at("link2"))              # a link to a link
            os.mkfifo(at("fifo"))
            specials = ["fifo"]
            if os.geteuid() == 0:
                os.mknod(at("full"), 0o600 | stat.S_IFCHR, os.makedev(1, 7))
                os.symlink("full", at("fulllink"))
                specials += ["full", "fulllink"]
            for name in ["link", "link2", "n" * 250]:
                status, out, err, _ = check_bri(sim, "--prometheus", at(name))
                self.assertEqual(status, 0, name[:20] + ": " + out + err)
                self.assertTrue(os.path.islink(at("link")))
                with open(at(name)) as f:
                    self.assertIn("bri_up 1", f.read())
            for name in specials:
                status, out, err, _ = check_bri(sim, "--prometheus", at(name))
                self.assertEqual(status, 3, name + ": " + out + err)
                self.assertRegex(first_line(out), r"^BRI UNKNOWN - .*/(fifo|full) is not a regular file; 1 of 1 lines up")
            self.assertTrue(stat.S_ISFIFO(os.lstat(at("fifo")).st_mode))
            if os.geteuid() == 0:
                self.assertTrue(stat.S_ISCHR(os.lstat(at("full")).st_mode))
            self.assertEqual(sorted(os.listdir(at("real"))), ["bri.prom"])
            self.assertFalse([n for n in os.listdir(folder) if n.endswith(".tmp")])


@unittest.skipUnless(PROMTOOL, "promtool (Debian package prometheus) is not installed")
class Promtool(unittest.TestCase):
    def test_every_scenario_passes_promtool(self):
        # One file, replaced by each run (under Wine check_bri.exe moves its new file over it).
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "bri.prom")
            for name in scenario_names() + ["no driver"]:
                with self.subTest(scenario=name):
                    if name == "no driver":
                        code, out, _, _ = check_bri(None, "--prometheus", prom_path(path))
                    else:
                        with Sim(scenario(name)) as sim:
                            code, out, _, _ = check_bri(sim, "--prometheus", prom_path(path))
                    self.assertIn(code, (0, 2, 3), out)
                    promtool_check(self, path)
                    with open(path) as f:
                        text = f.read()
                    self.assertTrue(text.endswith("\n"))
                    self.assertIn("bri_up %d\n" % (0 if name == "no driver" else 1), text)
                    self.assertRegex(text, r"\nbri_scrape_duration_seconds \d+\.\d+\n")


if __name__ == "__main__":
    unittest.main()
