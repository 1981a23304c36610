# SPDX-License-Identifier: BSD-2-Clause
"""lapdecode: the same frames as lapmon shows them, read from captures written by us, by text2pcap and
by tshark; its messages and exit statuses."""

import os
import re
import select
import shutil
import signal
import struct
import subprocess
import tempfile
import time
import unittest

import crosscheck
import harness
import lapd_capture
from lapmon_util import kill_quietly

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

    def test_live_pipe_shows_each_frame_when_its_block_is_whole(self):
        # One frame's record at a time, the pipe kept open: each frame's text comes before the
        # next record is written, long before any read window could fill.
        for fmt in ("pcap", "pcapng"):
            with self.subTest(fmt):
                path = self.write("live." + fmt, lapd_capture.varied_frames(3, seed=5),
                                  lapd_capture.LINKTYPE_LINUX_LAPD, fmt=fmt)
                with open(path, "rb") as f:
                    data = f.read()
                expected = frame_texts(lapdecode(["-n", "L", path]).stdout.decode("latin-1"))
                starts = record_starts(data, fmt)
                proc = subprocess.Popen([LAPDECODE, "-n", "L", "-"], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        stderr=subprocess.PIPE, env=dict(os.environ, TZ=LOCAL_TZ))
                try:
                    shown = b""
                    for i, (a, b) in enumerate(zip(starts, starts[1:] + [len(data)])):
                        # The head of the file comes with the first record, a partial record first.
                        proc.stdin.write(data[:a] if i == 0 else b"")
                        proc.stdin.write(data[a:a + 5])
                        proc.stdin.flush()
                        time.sleep(0.05)
                        proc.stdin.write(data[a + 5:b])
                        proc.stdin.flush()
                        want = "".join(expected[:i + 1]).encode("latin-1")
                        deadline = time.monotonic() + 10
                        while len(shown) < len(want) and time.monotonic() < deadline:
                            if select.select([proc.stdout], [], [], 0.5)[0]:
                                shown += os.read(proc.stdout.fileno(), 65536)
                        self.assertEqual(shown, want, "frame %d" % i)
                    proc.stdin.close()
                    self.assertEqual(proc.wait(timeout=10), 0)
                finally:
                    kill_quietly(proc)

    def test_closed_standard_descriptors_stand_on_the_null_device(self):
        path = self.write("few.pcap", lapd_capture.varied_frames(5, seed=6), lapd_capture.LINKTYPE_LINUX_LAPD,
                          fmt="pcap")
        # Output closed: discarded, the run succeeds. Input closed: an empty input.
        r = subprocess.run(["sh", "-c", 'exec "$0" "$1" >&-', LAPDECODE, path], stderr=subprocess.PIPE, timeout=30)
        self.assertEqual((r.returncode, r.stderr), (0, b""))
        r = subprocess.run(["sh", "-c", 'exec "$0" - <&-', LAPDECODE], stdout=subprocess.PIPE,
                           stderr=subprocess.PIPE, timeout=30)
        self.assertEqual(r.returncode, 1)
        self.assertEqual(r.stderr.decode(), "lapdecode: standard input: the file is empty\n")

    def test_damaged_lengths_keep_memory_flat_and_are_said(self):
        # A 2 GiB sparse file whose block (or record) claims about 4 GiB: refused at once, with the
        # block's offset, in the memory of a small run.
        ng = lapd_capture.pcapng_head(lapd_capture.LINKTYPE_LAPD)
        pcap = struct.pack("<IHHiIII", 0xA1B2C3D4, 2, 4, 0, 0, 65535, lapd_capture.LINKTYPE_LAPD)
        cases = [
            ("ng", ng + struct.pack("<II", 6, 0xFFFFFFF0),
             "damaged after 0 frames (block of length 4294967280 at offset %d)" % len(ng)),
            ("zeros", ng, "damaged after 0 frames (block of length 0 at offset %d)" % len(ng)),
            ("pcap", pcap + struct.pack("<IIII", 1, 0, 0xFFFFFFF0, 0xFFFFFFF0),
             "damaged after 0 frames (record of 4294967280 octets at offset 24)"),
        ]
        small = max_rss_kib([LAPDECODE, self.write("one.pcap", [(0, bytes([0, 0x81, 0x7F]))],
                                                     lapd_capture.LINKTYPE_LAPD, fmt="pcap")])[0]
        for name, head, said in cases:
            with self.subTest(name):
                path = self.path(name)
                with open(path, "wb") as f:
                    f.write(head)
                    f.truncate(2 << 30)
                rss, code, err = max_rss_kib([LAPDECODE, path])
                os.unlink(path)
                self.assertEqual(code, 1)
                self.assertEqual(err.decode(), "lapdecode: %s: %s\n" % (path, said))
                self.assertLess(rss, small + 8 * 1024, "KiB at most")

    def test_stop_signals_end_a_run_that_waits_for_input(self):
        for sig in (signal.SIGINT, signal.SIGTERM):
            with self.subTest(sig.name):
                proc = subprocess.Popen([LAPDECODE, "-"], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        stderr=subprocess.PIPE)
                try:
                    proc.stdin.write(lapd_capture.pcapng_head(lapd_capture.LINKTYPE_LAPD))
                    proc.stdin.flush()
                    time.sleep(0.2)
                    started = time.monotonic()
                    proc.send_signal(sig)
                    self.assertEqual(proc.wait(timeout=5), -sig)
                    self.assertLess(time.monotonic() - started, 1.0)
                finally:
                    kill_quietly(proc)


def record_starts(data, fmt):
    """Offsets of the packet records (pcap) or enhanced packet blocks (pcapng) of a file."""
    starts, at = [], 24 if fmt == "pcap" else 0
    while at < len(data):
        if fmt == "pcap":
            starts.append(at)
            at += 16 + struct.unpack_from("<I", data, at + 8)[0]
        else:
            kind, total = struct.unpack_from("<II", data, at)
            if kind == 6:
                starts.append(at)
            at += total
    return starts


def max_rss_kib(argv):
    """Runs a program to its end: its peak resident memory in KiB, exit status and standard error."""
    proc = subprocess.Popen(argv, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    err = proc.stderr.read()
    proc.stderr.close()
    _, status, usage = os.wait4(proc.pid, 0)
    proc.returncode = os.waitstatus_to_exitcode(status)
    return usage.ru_maxrss, proc.returncode, err


if __name__ == "__main__":
    unittest.main()
