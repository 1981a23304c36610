# SPDX-License-Identifier: BSD-2-Clause
"""bricap --keep-failed: in a ring of small files, those that hold a failed call or a lost data link
are kept in a folder of their own, while the files of answered calls rotate away."""

import json
import os
import shutil
import tempfile
import unittest

import harness
from harness import Sim
from test_bricap import BRICAP, SCENARIOS, file_frames, file_set

# brisim's scenarios played 25 times as fast: a busy call every 0.6 s.
SPEED = 25


def fast_scenario(name):
    """The scenario and the frames it plays in order, first round then repeats (as _what texts)."""
    with open(os.path.join(SCENARIOS, name + ".json")) as f:
        sc = json.load(f)
    trace = sc["lines"][0]["trace"]
    for frame in trace["frames"]:
        frame["at_ms"] = frame["at_ms"] // SPEED
    repeat = trace.get("repeat")
    whats = [frame["_what"] for frame in trace["frames"]]
    if repeat:
        repeat["every_ms"] //= SPEED
        whats += whats[repeat["from"]:] * 20
    return sc, whats


def files_of(whats, first, last, per_file):
    """The numbers of the files that frames first..last go into, per_file frames a file."""
    return set(range(first // per_file + 1, last // per_file + 2))


def call_files(whats, per_file, count):
    """The files from each call's SETUP to its RELEASE COMPLETE, among the first count frames."""
    marked, setup = set(), None
    for i, what in enumerate(whats[:count]):
        if ": SETUP" in what:
            setup = i
        elif ": RELEASE COMPLETE" in what and setup is not None:
            marked |= files_of(whats, setup, i, per_file)
            setup = None
    return marked


def number(path):
    return int(os.path.basename(path).split("_")[1])


@unittest.skipIf(harness.WINE, "the scenarios played to the frame run natively; test_bricap.BricapOnWindows keeps files under Wine")
class KeepFailed(unittest.TestCase):
    # A busy call spans three files of four frames: the ring holds it whole.
    PER_FILE, RING = 4, 4

    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="bri-keep-")
        self.kept = os.path.join(self.tmp, "kept")
        os.mkdir(self.kept)

    def tearDown(self):
        shutil.rmtree(self.tmp, ignore_errors=True)

    def capture(self, name, count, kept=None):
        sc, whats = fast_scenario(name)
        with Sim(sc) as sim:
            done = harness.run(BRICAP, ["-w", os.path.join(self.tmp, "ring.pcapng"), "-b",
                                        "packets:%d" % self.PER_FILE, "-b", "files:%d" % self.RING,
                                        "--keep-failed", kept or self.kept, "-c", str(count)], sim, timeout=60)
        self.assertEqual(done.returncode, 0, done.stderr)
        return whats, done.stderr.decode()

    def check(self, kept_dir, expected, count, whats):
        kept = file_set(kept_dir, prefix="ring")
        ring = file_set(self.tmp, prefix="ring")
        self.assertEqual(sorted(number(p) for p in kept), sorted(expected))
        last = (count - 1) // self.PER_FILE + 1
        rotating = [n for n in range(1, last + 1) if n not in expected]
        # The newest of the files that were not kept: the ring counts the file being written, and
        # a file kept after it started made room that the ring may not have needed.
        numbers = [number(p) for p in ring]
        self.assertTrue(1 <= len(numbers) <= self.RING and numbers == rotating[-len(numbers):], numbers)
        for path in kept + ring:  # kept whole, frames in place
            n = number(path)
            self.assertEqual(len(file_frames(path)), min(self.PER_FILE, count - (n - 1) * self.PER_FILE), path)

    def test_busy_calls_are_kept_whole_answered_ones_rotate_away(self):
        for name, cause, count in (("busy", "cause 17", 44), ("outgoing_call", None, 50)):
            with self.subTest(scenario=name):
                for p in file_set(self.tmp, prefix="ring") + file_set(self.kept, prefix="ring"):
                    os.remove(p)
                whats, err = self.capture(name, count)
                expected = call_files(whats, self.PER_FILE, count) if cause else set()
                self.check(self.kept, expected, count, whats)
                if cause:
                    self.assertIn("ended busy, cause 17", err)
                    self.assertGreater(len(expected), 3)  # calls span files: all of them kept
                else:
                    self.assertNotIn("Kept", err)
                    self.assertEqual(len(file_set(self.tmp, prefix="ring")), self.RING)  # 9 of 13 rotated away

    def test_a_lost_data_link_keeps_its_files(self):
        whats, err = self.capture("l2_failure", 14)
        reset = next(i for i, w in enumerate(whats) if "re-establish" in w)
        dm = next(i for i, w in enumerate(whats) if w.startswith("DM"))
        self.check(self.kept, files_of(whats, reset, reset, 4) | files_of(whats, dm, dm, 4), 14, whats)
        self.assertIn("was reset", err)
        self.assertIn("could not be established (DM)", err)

    @unittest.skipUnless(os.path.isdir("/dev/shm") and os.stat("/dev/shm").st_dev != os.stat(tempfile.gettempdir()).st_dev,
                         "no second file system at hand")
    def test_a_folder_on_another_file_system_gets_whole_copies(self):
        other = tempfile.mkdtemp(prefix="bri-keep-", dir="/dev/shm")
        try:
            whats, _ = self.capture("busy", 44, kept=other)
            self.check(other, call_files(whats, self.PER_FILE, 44), 44, whats)
        finally:
            shutil.rmtree(other, ignore_errors=True)

    def test_refused_without_a_ring_or_a_folder_that_takes_files(self):
        out = os.path.join(self.tmp, "ring.pcapng")
        cases = [
            (["-b", "packets:4", "--keep-failed", self.kept], 2, b"needs -b files:N"),
            (["--keep-failed", self.kept], 2, b"needs -b files:N"),
            (["-b", "packets:4", "-b", "files:2", "--keep-failed", os.path.join(self.tmp, "none")], 1,
             b"cannot take a file"),
            (["-b", "packets:4", "-b", "files:2", "--keep-failed", out], 1, b"cannot take a file"),
        ]
        with open(out, "wb"):
            pass
        for args, status, message in cases:
            with self.subTest(args=args), Sim(fast_scenario("busy")[0]) as sim:
                done = harness.run(BRICAP, ["-w", out] + args, sim, timeout=30)
                self.assertEqual(done.returncode, status, done.stderr)
                self.assertIn(message, done.stderr)
                self.assertEqual(file_set(self.tmp, prefix="ring"), [])


if __name__ == "__main__":
    unittest.main()
