# SPDX-License-Identifier: BSD-2-Clause
"""lapdecode's call outputs: the call log as text, JSON Lines and CSV against what the capture's
calls were, the HTML page in headless Chromium, and the live call log of `bricap -w - | lapdecode
--calls -` through brisim's call scenarios."""

import calendar
import csv
import io
import json
import os
import resource
import shutil
import signal
import struct
import subprocess
import tempfile
import threading
import time
import unittest
import zlib

import call_capture
import harness
import lapd_capture

LAPDECODE = os.environ.get("BRI_LAPDECODE", "lapdecode")
BRICAP = os.environ.get("BRI_BRICAP", "bricap")
SCENARIOS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "sim", "scenarios")
COMPARED = ("tei", "call_ref", "direction", "calling", "called", "bearer", "channel", "cause", "cleared_by",
            "outcome")


def lapdecode(args, input=b""):
    return subprocess.run([LAPDECODE] + list(args), input=input, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          timeout=60, env=dict(os.environ, TZ="UTC"))


def png_pixels(path):
    """The decompressed image data of a PNG (filter bytes included) and its width and height."""
    with open(path, "rb") as f:
        data = f.read()
    assert data[:8] == b"\x89PNG\r\n\x1a\n", "not a PNG"
    pos, idat, size = 8, b"", None
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            size = struct.unpack(">II", body[:8])
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    return zlib.decompress(idat), size


@unittest.skipIf(harness.WINE, "lapdecode reads files; its Windows build is not run under Wine here")
class CallOutputs(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="bri-calls-")
        cls.capture = os.path.join(cls.tmp, "calls.pcapng")
        cls.records, cls.truths = call_capture.calls(60, seed=3)
        lapd_capture.write_pcapng(cls.capture, cls.records, lapd_capture.LINKTYPE_LINUX_LAPD)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp, ignore_errors=True)

    def by_start(self, calls):
        return sorted(calls, key=lambda c: c["setup"])

    def test_json_and_csv_say_what_each_call_was(self):
        done = lapdecode(["--calls-format", "json", self.capture])
        self.assertEqual(done.returncode, 0, done.stderr)
        calls = [json.loads(line) for line in done.stdout.decode().splitlines()]
        self.assertEqual(len(calls), len(self.truths))
        for ours, truth in zip(self.by_start(calls), self.truths):
            self.assertEqual({k: ours[k] for k in COMPARED}, {k: truth[k] for k in COMPARED}, ours)
            self.assertEqual(ours["duration_s"] is None, truth["outcome"] != "answered")

        rows = list(csv.DictReader(io.StringIO(lapdecode(["--calls-format", "csv", self.capture]).stdout.decode())))
        self.assertEqual(len(rows), len(calls))
        for row, call in zip(rows, calls):
            self.assertEqual(set(row), set(call))
            for key, value in call.items():
                self.assertEqual(row[key], "" if value is None else "%.3f" % value if key == "duration_s" else str(value))

    def test_text_log_lines_and_summary(self):
        done = lapdecode(["--calls", self.capture])
        self.assertEqual(done.returncode, 0, done.stderr)
        lines = done.stdout.decode().splitlines()
        self.assertTrue(lines[0].startswith("Start        Line"))
        calls = lines[1:1 + len(self.truths)]
        self.assertEqual(len({line.index(" out ") if " out " in line else line.index(" in  ") for line in calls}), 1)
        outcomes = {}
        for t in self.truths:
            outcomes[t["outcome"]] = outcomes.get(t["outcome"], 0) + 1
        summary = lines[len(self.truths) + 2:]
        answered = outcomes.get("answered", 0)
        self.assertEqual(summary[0], "Calls: %d, answered: %d" % (len(self.truths), answered))
        for outcome, count in outcomes.items():
            self.assertIn("%s %d" % (outcome, count), summary[1])
        self.assertIn("17 User Busy", summary[2])

    def test_ladder_and_default_text_are_apart(self):
        ladder = lapdecode(["--ladder", self.capture]).stdout.decode()
        self.assertEqual(ladder.count("\nCall ") + ladder.startswith("Call "), len(self.truths))
        self.assertIn("|-- SETUP (from ", ladder)
        self.assertIn("CALL PROCEEDING (B", ladder)
        self.assertNotIn("Q.931 Decode", ladder)
        plain = lapdecode([self.capture]).stdout.decode()
        self.assertIn("Q.931 Decode", plain)
        self.assertNotIn("Calls:", plain)

    def test_bad_call_options(self):
        for args in (["--calls-format"], ["--calls-format", "xml", "f"], ["--html"]):
            done = lapdecode(args)
            self.assertEqual(done.returncode, 2, args)
            self.assertTrue(done.stderr.startswith(b"lapdecode: "), done.stderr)
        done = lapdecode(["--html", os.path.join(self.tmp, "no", "such", "page.html"), self.capture])
        self.assertEqual(done.returncode, 1)
        self.assertIn(b"cannot write", done.stderr)

    def test_html_page_replaced_whole(self):
        folder = tempfile.mkdtemp(prefix="page-", dir=self.tmp)
        page = os.path.join(folder, "calls.html")
        with open(page, "w") as f:
            f.write("old page\n")

        def small_files():  # a write past 20 KiB fails (EFBIG) instead of ending the run
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
            resource.setrlimit(resource.RLIMIT_FSIZE, (20000, 20000))

        done = subprocess.run([LAPDECODE, "--html", page, self.capture], stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, timeout=60, preexec_fn=small_files)
        self.assertEqual(done.returncode, 1, done.stderr)
        self.assertRegex(done.stderr, rb"^lapdecode: .*calls\.html: cannot write: ")
        with open(page) as f:
            self.assertEqual(f.read(), "old page\n")  # not cut to 20 KiB
        self.assertEqual(os.listdir(folder), ["calls.html"])
        # Through a link: the file it leads to gets the page, the link stays.
        os.symlink("calls.html", os.path.join(folder, "link.html"))
        self.assertEqual(lapdecode(["--html", os.path.join(folder, "link.html"), self.capture]).returncode, 0)
        self.assertTrue(os.path.islink(os.path.join(folder, "link.html")))
        with open(page) as f:
            self.assertIn("<svg", f.read())

    @unittest.skipUnless(shutil.which("chromium"), "chromium is not installed")
    def test_html_page_renders_in_chromium(self):
        page = os.path.join(self.tmp, "calls.html")
        done = lapdecode(["--html", page, self.capture])
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertEqual(done.stdout, b"")
        profile = os.path.join(self.tmp, "profile")
        chromium = ["chromium", "--headless", "--no-sandbox", "--disable-gpu", "--user-data-dir=" + profile,
                    "--no-first-run", "--disable-extensions", "--window-size=1100,1600"]
        dom = subprocess.run(chromium + ["--dump-dom", "file://" + page], stdout=subprocess.PIPE,
                             stderr=subprocess.DEVNULL, timeout=120).stdout.decode()
        self.assertEqual(dom.count('<tr class="call">') + dom.count('<tr class="failed call">'), len(self.truths))
        self.assertEqual(dom.count("<svg"), len(self.truths))
        failed = sum(t["outcome"] not in ("answered", "open") for t in self.truths)
        self.assertEqual(dom.count('<tr class="failed call">'), failed)

        shot = os.path.join(self.tmp, "calls.png")
        subprocess.run(chromium + ["--screenshot=" + shot, "file://" + page], stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=120, cwd=self.tmp)
        pixels, (width, height) = png_pixels(shot)
        self.assertEqual((width, height), (1100, 1600))
        self.assertGreater(len(set(pixels[i:i + 3] for i in range(0, len(pixels) - 3, 3))), 50, "a blank page")


def scenario(name):
    with open(os.path.join(SCENARIOS, name)) as f:
        return json.load(f)


@unittest.skipIf(harness.WINE, "bricap.exe under Wine is not run by this suite yet (runner.py says why)")
class LiveCallLog(unittest.TestCase):
    """Each call of a scenario shows within 2 s of its RELEASE COMPLETE's capture time."""

    def live(self, name, outcome, seconds):
        with harness.Sim(scenario(name)) as sim:
            bricap = harness.start(BRICAP, ["-w", "-"], sim)
            decoder = subprocess.Popen([LAPDECODE, "--calls-format", "json", "-"], stdin=bricap.stdout,
                                       stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
            bricap.stdout.close()
            arrivals = []

            def read():
                for line in decoder.stdout:
                    arrivals.append((time.time(), json.loads(line)))

            reader = threading.Thread(target=read, daemon=True)
            reader.start()
            deadline = time.monotonic() + seconds
            while not arrivals and time.monotonic() < deadline:
                time.sleep(0.05)
            bricap.terminate()
            bricap.wait(timeout=10)
            decoder.wait(timeout=10)
            reader.join(timeout=5)
            for stream in (bricap.stdin, bricap.stderr, decoder.stdout):
                stream.close()
        self.assertTrue(arrivals, "no call from %s in %d s" % (name, seconds))
        when, call = arrivals[0]
        self.assertEqual(call["outcome"], outcome)
        released = calendar.timegm(time.strptime(call["released"][:19], "%Y-%m-%dT%H:%M:%S"))
        released += float("0" + call["released"][19:-1])
        self.assertLess(when - released, 2.0, call)
        return call

    def test_busy(self):
        call = self.live("busy.json", "busy", 20)
        self.assertEqual((call["direction"], call["cause"], call["cleared_by"]), ("out", 17, "network"))

    def test_outgoing_call(self):
        call = self.live("outgoing_call.json", "answered", 45)
        self.assertEqual(call["direction"], "out")

    def test_incoming_call(self):
        call = self.live("incoming_call.json", "answered", 45)
        self.assertEqual((call["direction"], call["channel"]), ("in", "B1"))


if __name__ == "__main__":
    unittest.main()
