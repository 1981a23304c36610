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

PER_FILE, RING = 4, 4  # a busy call spans three files of four frames: the ring holds it whole


def fast_scenario(name, speed=25):
    """The scenario played 25 times as fast, and the _what of each frame it plays, in order."""
    with open(os.path.join(SCENARIOS, name + ".json")) as f:
        sc = json.load(f)
    trace = sc["lines"][0]["trace"]
    for frame in trace["frames"]:
        frame["at_ms"] //= speed
    whats = [frame["_what"] for frame in trace["frames"]]
    if "repeat" in trace:
        trace["repeat"]["every_ms"] //= speed
        whats += whats[trace["repeat"]["from"]:] * 20
    return sc, whats


def file_of(index):
    return index // PER_FILE + 1  # -b packets: is met exactly


def number(path):
    return int(os.path.basename(path).split("_")[1])


@unittest.skipIf(harness.WINE, "the scenarios played to the frame run natively; test_bricap.BricapOnWindows "
                               "keeps files under Wine")
class KeepFailed(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="bri-keep-")
        # On another file system where there is one: the kept files are copied there.
        shm = "/dev/shm" if os.path.isdir("/dev/shm") else None
        self.kept = tempfile.mkdtemp(prefix="bri-keep-", dir=shm)

    def tearDown(self):
        shutil.rmtree(self.tmp, ignore_errors=True)
        shutil.rmtree(self.kept, ignore_errors=True)

    def capture(self, name, count, expected):
        """Runs the ring over the first count frames; checks that exactly the expected files were kept,
        whole, and that the ring holds the newest of the others."""
        for path in file_set(self.tmp, prefix="ring") + file_set(self.kept, prefix="ring"):
            os.remove(path)
        sc, whats = fast_scenario(name)
        with Sim(sc) as sim:
            done = harness.run(BRICAP, ["-w", os.path.join(self.tmp, "ring.pcapng"), "-b", "packets:%d" % PER_FILE,
                                        "-b", "files:%d" % RING, "--keep-failed", self.kept, "-c", str(count)],
                               sim, timeout=60)
        self.assertEqual(done.returncode, 0, done.stderr)
        kept, ring = file_set(self.kept, prefix="ring"), file_set(self.tmp, prefix="ring")
        kept_numbers = [number(p) for p in kept]
        self.assertEqual(sorted(kept_numbers), sorted(expected(whats[:count])))
        rotating = [n for n in range(1, file_of(count - 1) + 1) if n not in kept_numbers]
        numbers = [number(p) for p in ring]
        self.assertTrue(1 <= len(numbers) <= RING and numbers == rotating[-len(numbers):], numbers)
        for path in kept + ring:
            self.assertEqual(len(file_frames(path)), min(PER_FILE, count - (number(path) - 1) * PER_FILE), path)
        return done.stderr.decode(), numbers

    def test_failed_calls_are_kept_whole_answered_ones_rotate_away(self):
        def call_files(whats):  # from each SETUP's file to its RELEASE COMPLETE's
            files, setup = set(), None
            for i, what in enumerate(whats):
                if ": SETUP" in what:
                    setup = i
                elif ": RELEASE COMPLETE" in what:
                    files |= set(range(file_of(setup), file_of(i) + 1))
            return files

        err, _ = self.capture("busy", 44, call_files)
        self.assertIn("ended busy, cause 17", err)
        err, ring = self.capture("outgoing_call", 50, lambda whats: set())
        self.assertNotIn("Kept", err)
        self.assertEqual(ring, [10, 11, 12, 13])

    def test_a_lost_data_link_keeps_its_files(self):
        err, _ = self.capture("l2_failure", 14, lambda whats: {
            file_of(i) for i, w in enumerate(whats) if "re-establish" in w or w.startswith("DM")})
        self.assertIn("was reset", err)
        self.assertIn("could not be established (DM)", err)

    def test_refused_without_a_folder_that_takes_files(self):
        out = os.path.join(self.tmp, "ring.pcapng")
        with open(out, "wb"):
            pass
        ring = ["-b", "packets:4", "-b", "files:2", "--keep-failed"]
        for folder in (os.path.join(self.tmp, "none"), out):  # missing, not a folder
            with self.subTest(folder=folder), Sim(fast_scenario("busy")[0]) as sim:
                done = harness.run(BRICAP, ["-w", out] + ring + [folder], sim, timeout=30)
                self.assertEqual(done.returncode, 1, done.stderr)
                self.assertIn(b"cannot take a file", done.stderr)
                self.assertEqual(file_set(self.tmp, prefix="ring"), [])


if __name__ == "__main__":
    unittest.main()
