# SPDX-License-Identifier: BSD-2-Clause
"""lapdecode's calls against calls built here from tshark's fields.

Two captures of the same call traffic (call_capture.py: broadcast SETUPs answered by one of two
terminals, busy, unanswered, refused, cancelled, reused call references, a data link set up again
under a call): the generator's LINUX_LAPD pcap, and a pcapng that text2pcap makes from a hex dump
of the bare frames with their directions. tshark dissects each (`-T fields`); the reference below
groups its messages into calls by the rules of the call log, and every call's TEI, call reference,
direction, numbers, cause and outcome must agree with lapdecode's JSON. Skipped without tshark.
"""

import json
import os
import shutil
import subprocess
import tempfile
import unittest

import call_capture
import harness
import lapd_capture
from tshark_calls import reference_calls, tshark_rows

LAPDECODE = os.environ.get("BRI_LAPDECODE", "lapdecode")
COMPARED = ("tei", "call_ref", "direction", "calling", "called", "cause", "outcome")


@unittest.skipIf(harness.WINE, "lapdecode reads files; its Windows build is not run under Wine here")
@unittest.skipUnless(shutil.which("tshark") and shutil.which("text2pcap"), "tshark and text2pcap are needed")
class CallsAgainstTshark(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="bri-calls-xcheck-")
        cls.records, cls.truths = call_capture.calls(120, seed=11)
        cls.generated = os.path.join(cls.tmp, "calls.pcap")
        lapd_capture.write_pcap(cls.generated, cls.records, lapd_capture.LINKTYPE_LINUX_LAPD)
        dump = os.path.join(cls.tmp, "calls.txt")
        with open(dump, "w") as f:
            for _, record in cls.records:
                sent_by_network = record[0:2] != b"\x00\x04"  # packet type 4: sent by the capturing user side
                frame = record[16:]
                f.write("%s 0000  %s\n" % ("I" if sent_by_network else "O", " ".join("%02x" % b for b in frame)))
        cls.text2pcap = os.path.join(cls.tmp, "calls-text2pcap.pcapng")
        subprocess.run(["text2pcap", "-q", "-D", "-l", "203", dump, cls.text2pcap], check=True,
                       stderr=subprocess.DEVNULL, timeout=60)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp, ignore_errors=True)

    def check(self, path):
        theirs = list(reference_calls(tshark_rows(path)))
        done = subprocess.run([LAPDECODE, "--calls-format", "json", path], stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, timeout=60)
        self.assertEqual(done.returncode, 0, done.stderr)
        ours = [json.loads(line) for line in done.stdout.decode().splitlines()]
        self.assertEqual(len(ours), len(theirs))
        self.assertEqual(len(ours), len(self.truths))
        key = lambda c: (c["call_ref"], c["direction"], c["calling"])
        pick = lambda c: {k: c[k] for k in COMPARED}
        self.assertEqual([pick(c) for c in sorted(ours, key=key)], [pick(c) for c in sorted(theirs, key=key)])
        # Both agree with what the generator put in, not only with each other.
        self.assertEqual(sorted((pick(c) for c in ours), key=key), sorted((pick(t) for t in self.truths), key=key))
        outcomes = {c["outcome"] for c in ours}
        self.assertGreaterEqual(outcomes, {"answered", "busy", "no answer", "rejected", "cancelled", "failed", "lost"})

    def test_generated_capture(self):
        self.check(self.generated)

    def test_text2pcap_capture(self):
        self.check(self.text2pcap)


if __name__ == "__main__":
    unittest.main()
