# SPDX-License-Identifier: BSD-2-Clause
"""lapdecode: the same frames as lapmon shows them, read from captures written by us, by text2pcap and
by tshark; its messages and exit statuses."""

import os
import re
import shutil
import subprocess
import tempfile
import unittest

import crosscheck
import harness
import lapd_capture

LAPDECODE = os.environ.get("BRI_LAPDECODE", "lapdecode")
# Not UTC, so that the time stamps show the conversion to local time on both sides.
LOCAL_TZ = "CET-1CEST,M3.5.0,M10.5.0/3"
STAMP_LINE = re.compile(r"^\n(?: {39})?\d\d:\d\d:\d\d:\d+ .* \([TN]\)$", re.M)


def frame_texts(text):
    """The text of each frame: from the empty line before its time-stamp line to the next one."""
    starts = [m.start() for m in STAMP_LINE.finditer(text)]
    return [text[a:b] for a, b in zip(starts, starts[1:] + [len(text)])]


def lapdecode(args, input=b"", tz=LOCAL_TZ):
    return subprocess.run([LAPDECODE] + list(args), input=input, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          env=dict(os.environ, TZ=tz), timeout=60)


@unittest.skipIf(harness.WINE, "lapdecode reads files; its Windows build is not run under Wine here")
class Lapdecode(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="bri-lapdecode-")
        self.saved_tz = os.environ.get("TZ")

    def tearDown(self):
        if self.saved_tz is None:
            os.environ.pop("TZ", None)
        else:
            os.environ["TZ"] = self.saved_tz
        shutil.rmtree(self.tmp, ignore_errors=True)

    def path(self, name):
        return os.path.join(self.tmp, name)

    def write(self, name, frames, linktype, fmt="pcapng", rate=10.0):
        writer = lapd_capture.write_pcapng if fmt == "pcapng" else lapd_capture.write_pcap
        writer(self.path(name), lapd_capture.records(frames, linktype, start=1765000000.25, rate=rate), linktype)
        return self.path(name)

    def test_same_text_as_lapmon_frame_for_frame(self):
        frames = lapd_capture.varied_frames(150, seed=11)
        path = self.write("mix.pcapng", frames, lapd_capture.LINKTYPE_LINUX_LAPD)
        os.environ["TZ"] = LOCAL_TZ  # lapmon's environment
        with harness.Sim(extra_args=["--pcap", path, "--pace", "fast"]) as sim:
            shown = crosscheck.run_lapmon(harness, sim, len(frames), timeout=60)
        decoded = lapdecode(["-n", "Tessix1 LINE1", path])
        self.assertEqual(decoded.returncode, 0, decoded.stderr)
        want = frame_texts(shown)
        got = frame_texts(decoded.stdout.decode("latin-1"))
        self.assertEqual(len(want), len(frames))
        self.assertEqual(len(got), len(frames))
        # lapmon's last frame runs on into whatever it prints when it ends.
        for i, (a, b) in enumerate(zip(want, got)):
            if i < len(frames) - 1:
                self.assertEqual(b, a, "frame %d" % i)
            else:
                self.assertTrue(a.startswith(b), "frame %d" % i)

    def test_views_letter_case_and_line_names(self):
        frames = [(0, bytes([0x00, 0x81, 0x01, 0x02])), (1, bytes([0x02, 0x81, 0x03, 0x08, 0x01, 0x01, 0x05]))]
        path = self.write("views.pcap", frames, lapd_capture.LINKTYPE_LINUX_LAPD, fmt="pcap")
        out = lapdecode(["-L2", path], tz="UTC").stdout.decode()
        self.assertIn("Q.921 Decode", out)
        self.assertNotIn("RawFrame", out)
        self.assertNotIn("Q.931 Decode", out)
        self.assertIn("05:46:40:250 views.pcap (T)", out)  # the file's base name, the capture's time
        out = lapdecode(["-Raw", "-l3", path], tz="UTC").stdout.decode()
        self.assertIn("RawFrame", out)
        self.assertIn("Q.931 Decode", out)
        self.assertNotIn("Q.921 Decode", out)
        everything = lapdecode([path], tz="UTC").stdout
        self.assertEqual(everything, lapdecode(["-p", path], tz="UTC").stdout)
        for heading in (b"RawFrame", b"Q.921 Decode", b"Q.931 Decode"):
            self.assertIn(heading, everything)

    @unittest.skipUnless(shutil.which("text2pcap") and shutil.which("tshark"), "text2pcap and tshark are needed")
    def test_text2pcap_and_tshark_captures_keep_their_directions(self):
        # A SABME with C/R 1 each way: the flags, not the bits, give the sides.
        with open(self.path("dump.txt"), "w") as f:
            f.write("O 0000  02 81 7f\nI 0000  02 81 7f\nI 0000  00 81 73\n")
        flagged = self.path("flagged.pcapng")
        subprocess.run(["text2pcap", "-q", "-D", "-l", "203", self.path("dump.txt"), flagged], check=True,
                       stderr=subprocess.DEVNULL)
        rewritten = self.path("rewritten.pcapng")
        subprocess.run(["tshark", "-r", flagged, "-w", rewritten, "-F", "pcapng"], check=True,
                       stderr=subprocess.DEVNULL)
        for path in (flagged, rewritten):
            r = lapdecode(["-l2", path], tz="UTC")
            self.assertEqual(r.returncode, 0, r.stderr)
            self.assertEqual(re.findall(r"\(([TN])\)", r.stdout.decode()), ["T", "N", "N"], path)
            self.assertEqual(re.findall(r"C/R: ([CR])", r.stdout.decode()), ["R", "C", "R"], path)
            self.assertIn("inbound/outbound flags", r.stderr.decode())
            self.assertEqual(len(r.stderr.decode().splitlines()), 1, r.stderr)

        # A classic pcap with the LINUX_LAPD header, and tshark's pcapng of it: the same text.
        frames = lapd_capture.varied_frames(40, seed=5)
        pcap = self.write("mix.pcap", frames, lapd_capture.LINKTYPE_LINUX_LAPD, fmt="pcap")
        converted = self.path("mix-tshark.pcapng")
        subprocess.run(["tshark", "-r", pcap, "-w", converted, "-F", "pcapng"], check=True, stderr=subprocess.DEVNULL)
        a, b = lapdecode(["-n", "L", pcap]), lapdecode(["-n", "L", converted])
        self.assertEqual(a.returncode, 0, a.stderr)
        self.assertEqual(b.returncode, 0, b.stderr)
        self.assertEqual(len(frame_texts(a.stdout.decode("latin-1"))), 40)
        self.assertEqual(a.stdout, b.stdout)

        # Bare LAPD without flags: inferred, and said once.
        bare = self.write("bare.pcap", frames, lapd_capture.LINKTYPE_LAPD, fmt="pcap")
        r = lapdecode(["-n", "L", bare])
        self.assertIn("inferred from the command/response bits", r.stderr.decode())
        self.assertEqual(len(r.stderr.decode().splitlines()), 1, r.stderr)

    def test_other_link_types_cut_files_and_standard_input(self):
        eth = self.path("eth.pcap")
        lapd_capture.write_pcap(eth, [(1.0, bytes(20))], 1)
        r = lapdecode([eth])
        self.assertEqual(r.returncode, 1)
        self.assertEqual(r.stdout, b"")
        self.assertEqual(r.stderr.decode().splitlines(), [
            "lapdecode: %s: link type EN10MB (1) carries no LAPD frames (lapdecode reads LINUX_LAPD (177) and LAPD (203))"
            % eth])

        frames = lapd_capture.varied_frames(10, seed=2)
        whole = self.write("whole.pcapng", frames, lapd_capture.LINKTYPE_LINUX_LAPD)
        with open(whole, "rb") as f:
            data = f.read()
        cut = self.path("cut.pcapng")
        with open(cut, "wb") as f:
            f.write(data[:-10])
        r = lapdecode(["-n", "L", cut])
        self.assertEqual(r.returncode, 1)
        full = lapdecode(["-n", "L", whole]).stdout.decode("latin-1")
        self.assertEqual(frame_texts(r.stdout.decode("latin-1")), frame_texts(full)[:9])
        lines = r.stderr.decode().splitlines()
        self.assertEqual(len(lines), 1, lines)
        self.assertRegex(lines[0], r"^lapdecode: .*cut\.pcapng: cut short after 9 frames \(.*\)$")

        r = lapdecode(["-n", "L", "-"], input=data)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(r.stdout.decode("latin-1"), full)

        r = lapdecode([self.path("missing.pcap"), whole])
        self.assertEqual(r.returncode, 1)
        self.assertIn("missing.pcap: cannot read", r.stderr.decode())
        self.assertEqual(len(frame_texts(r.stdout.decode("latin-1"))), 10)

        self.assertEqual(lapdecode([]).returncode, 2)
        self.assertEqual(lapdecode(["-x", whole]).returncode, 2)

    def test_ends_when_its_reader_goes_away(self):
        path = self.write("big.pcap", lapd_capture.varied_frames(3000, seed=4), lapd_capture.LINKTYPE_LINUX_LAPD,
                          fmt="pcap")
        proc = subprocess.Popen([LAPDECODE, path], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        proc.stdout.read(1000)
        proc.stdout.close()
        self.assertEqual(proc.wait(timeout=30), 1)
        proc.stderr.close()


if __name__ == "__main__":
    unittest.main()
