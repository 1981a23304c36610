# SPDX-License-Identifier: BSD-2-Clause
"""Capture replay through brisim into lapmon, and the scenarios shipped in sim/scenarios."""

import json
import os
import re
import shutil
import subprocess
import tempfile
import unittest

import crosscheck
import harness
import lapd_capture

SCENARIOS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "sim", "scenarios")


def scenario_frames(name):
    """(sender, octets) of the listed frames of a shipped scenario's first line."""
    with open(os.path.join(SCENARIOS, name)) as f:
        frames = json.load(f)["lines"][0]["trace"]["frames"]
    return [(1 if fr["dir"] == "N" else 0, bytes.fromhex(fr["hex"])) for fr in frames]


class Replay(unittest.TestCase):
    def setUp(self):
        harness.needs_capture_reader("a pcap replay")
        self.tmp = tempfile.mkdtemp(prefix="bri-replay-")

    def tearDown(self):
        shutil.rmtree(self.tmp, ignore_errors=True)

    def write(self, name, frames, linktype, fmt="pcap", start=1765000000.25, rate=10.0):
        path = os.path.join(self.tmp, name)
        writer = lapd_capture.write_pcapng if fmt == "pcapng" else lapd_capture.write_pcap
        writer(path, lapd_capture.records(frames, linktype, start=start, rate=rate), linktype)
        return path

    def replay(self, args, count):
        with harness.Sim(extra_args=args) as sim:
            out = crosscheck.run_lapmon(harness, sim, count, timeout=30)
            with open(os.path.join(sim.dir, "brisim-TESSIX0.err")) as f:
                said = f.read()
        frames, others = crosscheck.parse_lapmon(out)
        return frames, others, said

    def test_bare_lapd_directions_inferred_from_command_response_polarity(self):
        # A whole outgoing call without directions in the file: every frame's side is found again.
        call = scenario_frames("outgoing_call.json")
        path = self.write("call.pcapng", call, lapd_capture.LINKTYPE_LAPD, fmt="pcapng")
        frames, others, said = self.replay(["--pcap", path, "--pace", "fast"], len(call))
        self.assertIn("directions inferred from command/response polarity", said)
        self.assertEqual([f.raw for f in frames], [list(o) for _, o in call])
        self.assertEqual([f.direction for f in frames], [s for s, _ in call])
        # The C/R letter follows from the inferred side: SABME, SETUP commands; UA, RR responses.
        self.assertEqual([f.cr for f in frames[2:6]], ["C", "R", "C", "R"])

    def test_given_direction_applies_to_every_frame(self):
        call = scenario_frames("line_up.json")
        path = self.write("up.pcap", call, lapd_capture.LINKTYPE_LAPD)
        frames, _, said = self.replay(["--pcap", path, "--pace", "fast", "--direction", "N"], len(call))
        self.assertIn("direction 1 given for every frame", said)
        self.assertEqual([f.direction for f in frames], [1] * len(call))

    def test_capture_times_become_the_time_stamps(self):
        frames = [(0, bytes([0x00, 0x81, 0x7F])), (1, bytes([0x00, 0x81, 0x73]))]
        path = self.write("t.pcap", frames, lapd_capture.LINKTYPE_LINUX_LAPD, start=1765000000.25, rate=4)
        with harness.Sim(extra_args=["--pcap", path, "--pace", "fast"]) as sim:
            out = crosscheck.run_lapmon(harness, sim, 2, timeout=30)
        # 1765000000 is 2025-12-06 05:46:40 UTC (the tests run with TZ=UTC); frames 250 ms apart.
        stamps = re.findall(r"(\d\d:\d\d:\d\d:\d+) Tessix1 LINE1 \(([TN])\)", out)
        self.assertEqual(stamps, [("05:46:40:250", "T"), ("05:46:40:500", "N")])

    def test_several_captures_feed_several_lines(self):
        one = self.write("one.pcap", [(0, bytes([0x00, 0x81, 0x7F]))], lapd_capture.LINKTYPE_LINUX_LAPD)
        two = self.write("two.pcap", [(1, bytes([0x02, 0x83, 0x01, 0x01]))] * 2, lapd_capture.LINKTYPE_LINUX_LAPD)
        frames, _, said = self.replay(["--pcap", one, "--pcap", two, "--pace", "fast"], 3)
        self.assertIn("line 2 (Tessix1 LINE2) plays", said)
        self.assertEqual(sorted((f.line, f.tei) for f in frames),
                         [("Tessix1 LINE1", 64), ("Tessix1 LINE2", 65), ("Tessix1 LINE2", 65)])

    def test_endless_input_is_refused_at_once(self):
        # /dev/zero never ends: it is read as lapdecode reads it, and refused at its first octets.
        scenario = os.path.join(self.tmp, "zero.json")
        with open(scenario, "w") as f:
            json.dump({"lines": [{"trace": {"capture": "/dev/zero"}}]}, f)
        for args, key in ((["--pcap", "/dev/zero"], "--pcap /dev/zero"),
                          (["--scenario", scenario], "lines[0].trace.capture")):
            with self.subTest(key):
                r = subprocess.run([harness.BRISIM] + args, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                   env=dict(os.environ, BRI_DEVICE_DIR=self.tmp), timeout=20)
                self.assertEqual(r.returncode, 2)
                self.assertIn("brisim: %s: cannot read capture /dev/zero: not a pcap or pcapng file\n" % key,
                              r.stderr.decode())


class ShippedScenarios(unittest.TestCase):
    def load(self, name):
        with open(os.path.join(SCENARIOS, name)) as f:
            return json.load(f)

    def test_every_scenario_plays(self):
        for name in sorted(os.listdir(SCENARIOS)):
            with self.subTest(name), harness.Sim(extra_args=["--scenario", os.path.join(SCENARIOS, name)]) as sim:
                result = harness.run(harness.LINESTAT, [], sim=sim)
                self.assertEqual(result.returncode, 0, result.stdout.decode(errors="replace"))

    def test_layer_verdicts(self):
        cases = {
            "l2_failure.json": [" Layer 2 State: Stop! (5)", " Layer 3 State: Stop! (1)"],
            "spid_rejected.json": [" Layer 2 State: Go! (7)", " Layer 3 Service: Stop! (4)"],
            "outgoing_call.json": [" Layer 2 State: Go! (7)", " Layer 3 Service: Go! (2)"],
        }
        for name, lines in cases.items():
            with self.subTest(name), harness.Sim(extra_args=["--scenario", os.path.join(SCENARIOS, name)]) as sim:
                out = harness.run(harness.LINESTAT, [], sim=sim).stdout.decode()
                for line in lines:
                    self.assertIn(line + "\n", out)

    def test_storm_reports_every_dropped_entry(self):
        # 300 frames within a second and a driver that holds 100: what lapmon does not show, it
        # reports as lost; nothing disappears silently.
        with harness.Sim(extra_args=["--scenario", os.path.join(SCENARIOS, "storm.json")]) as sim:
            out = crosscheck.run_lapmon(harness, sim, 100, timeout=30)
        frames, others = crosscheck.parse_lapmon(out)
        lost = sum(int(m.group(1)) for m in re.finditer(r"^Lost (\d+) Entries$", out, re.M))
        self.assertGreater(lost, 0)
        self.assertEqual(len(frames) + lost, 300)


if __name__ == "__main__":
    unittest.main()
