# SPDX-License-Identifier: BSD-2-Clause
"""bricap against brisim, read back by the real tshark: files written with -w, the extcap interface
that tshark itself drives, Ctrl-C in the middle, entries the driver dropped, and the ways it refuses."""

import fcntl
import os
import re
import resource
import shutil
import signal
import struct
import subprocess
import tempfile
import time
import unittest

import harness
import lapd_capture
import wine_rig
from harness import Sim, wait_for_log
from lapmon_util import OP_TRACE_CREATE, OP_TRACE_DESTROY, OP_TRACE_READ, OP_TRACE_STOP, line, scenario

BRICAP = os.environ.get("BRI_BRICAP", "bricap")
LAPDECODE = os.environ.get("BRI_LAPDECODE", "lapdecode")
SCENARIOS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "sim", "scenarios")
FIELDS = ["lapd.sapi", "lapd.tei", "q931.message_type", "frame.time_epoch"]
OUTBOUND, INBOUND = "0x00000002", "0x00000001"


def tshark(args, env=None, timeout=120):
    return subprocess.run(["tshark"] + list(args), stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          env=env, timeout=timeout)


def tshark_fields(path, fields):
    done = tshark(["-r", path, "-T", "fields", "-E", "separator=|"] + sum((["-e", f] for f in fields), []))
    if done.returncode != 0:
        raise AssertionError("tshark could not read %s: %s" % (path, done.stderr.decode(errors="replace")))
    return [row.split("|") for row in done.stdout.decode().splitlines()]


def pcapng_blocks(path):
    """(type, body) of every block; the file must end at a block boundary."""
    with open(path, "rb") as f:
        data = f.read()
    blocks, at = [], 0
    while at < len(data):
        kind, total = struct.unpack_from("<II", data, at)
        if total < 12 or at + total > len(data):
            raise AssertionError("block at %d runs past the end of the file" % at)
        blocks.append((kind, data[at + 8:at + total - 4]))
        at += total
    return blocks


def options(body, start):
    """The options of a block body from `start`: {code: [values]}."""
    out, at = {}, start
    while at + 4 <= len(body):
        code, length = struct.unpack_from("<HH", body, at)
        if code == 0:
            break
        out.setdefault(code, []).append(body[at + 4:at + 4 + length])
        at += 4 + length + (-length % 4)
    return out


def drop_counts(path):
    """The epb_dropcount of every enhanced packet (0 when it has none), and isb_ifdrop of each
    interface statistics block."""
    packets, statistics = [], []
    for kind, body in pcapng_blocks(path):
        if kind == 6:
            captured = struct.unpack_from("<I", body, 12)[0]
            drop = options(body, 20 + captured + (-captured % 4)).get(4, [bytes(8)])[0]
            packets.append(struct.unpack("<Q", drop)[0])
        elif kind == 5:
            opts = options(body, 12)
            statistics.append((struct.unpack("<Q", opts[4][0])[0], struct.unpack("<Q", opts[5][0])[0]))
    return packets, statistics


@unittest.skipIf(harness.WINE, "tshark reads and drives the captures natively; BricapOnWindows runs bricap.exe")
@unittest.skipIf(shutil.which("tshark") is None, "tshark is not installed")
class Bricap(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="bri-bricap-")

    def tearDown(self):
        shutil.rmtree(self.tmp, ignore_errors=True)

    def path(self, name):
        return os.path.join(self.tmp, name)

    def source(self, count=40, seed=5):
        """A capture of varied frames in both directions, and the frames as (sender, octets)."""
        frames = lapd_capture.varied_frames(count, seed=seed)
        path = self.path("source.pcapng")
        lapd_capture.write_pcapng(path, lapd_capture.records(frames, lapd_capture.LINKTYPE_LINUX_LAPD,
                                                             start=1765000000.125, rate=50.0),
                                  lapd_capture.LINKTYPE_LINUX_LAPD)
        return path, frames

    def check_same_frames(self, written, source, frames):
        """tshark reads the same frames, times and directions from both files."""
        self.assertEqual(tshark_fields(written, FIELDS), tshark_fields(source, FIELDS))
        flags = [row[0] for row in tshark_fields(written, ["frame.packet_flags_direction"])]
        want = [OUTBOUND if sender == lapd_capture.USER else INBOUND for sender, _ in frames]
        self.assertEqual(flags, want)

    def check_teardown(self, sim, handles):
        log = sim.log()
        for handle in handles:
            ops = [r["opcode"] for r in log if r["line_handle"] == handle]
            self.assertEqual(ops.count(OP_TRACE_CREATE), 1)
            self.assertEqual(ops.count(OP_TRACE_STOP), 1)
            self.assertEqual(ops.count(OP_TRACE_DESTROY), 1)
            self.assertEqual(ops[-2:], [OP_TRACE_STOP, OP_TRACE_DESTROY])

    def test_file_holds_the_frames_brisim_played(self):
        source, frames = self.source()
        with Sim(extra_args=["--pcap", source, "--pace", "fast"]) as sim:
            listed = harness.run(BRICAP, ["-D"], sim)
            self.assertEqual((listed.returncode, listed.stdout), (0, b"0. Tessix1 LINE1\n"))
            out = self.path("out.pcapng")
            done = harness.run(BRICAP, ["-w", out, "-c", str(len(frames))], sim, timeout=60)
            self.assertEqual(done.returncode, 0, done.stderr)
            self.check_teardown(sim, [r["line_handle"] for r in sim.requests(OP_TRACE_CREATE)])
        self.assertIn(b"Capturing on 'Tessix1 LINE1'", done.stderr)
        self.assertIn(b"Packets captured: %d\n" % len(frames), done.stderr)
        self.check_same_frames(out, source, frames)
        self.assertEqual(tshark_fields(out, ["frame.interface_name"])[0], ["Tessix1 LINE1"])
        self.assertEqual(drop_counts(out), ([0] * len(frames), [(len(frames), 0)]))
        # lapdecode shows the file exactly as it shows the capture brisim played (and so as lapmon).
        decode = [subprocess.run([LAPDECODE, "-n", "L", path], stdout=subprocess.PIPE, timeout=60,
                                 env=dict(os.environ, TZ="UTC")).stdout for path in (out, source)]
        self.assertEqual(decode[0], decode[1])

    def test_standard_output_and_chosen_lines(self):
        handles = (0x1001, 0x1002)
        frames = [{"at_ms": 0, "dir": d, "hex": "00 01 7f"} for d in (0, 1)]
        with Sim(scenario(*[line("L%d" % i, h, frames) for i, h in enumerate(handles)])) as sim:
            done = harness.run(BRICAP, ["-i", "1", "-w", "-", "-c", "2"], sim, timeout=60)
            self.assertEqual(done.returncode, 0, done.stderr)
            self.assertEqual([r["line_handle"] for r in sim.requests(OP_TRACE_CREATE)], [0x1002])
        out = self.path("stdout.pcapng")
        with open(out, "wb") as f:
            f.write(done.stdout)
        rows = tshark_fields(out, ["frame.interface_name", "lapd.sapi", "frame.packet_flags_direction"])
        self.assertEqual(rows, [["L1", "0", OUTBOUND], ["L1", "0", INBOUND]])

    def test_ctrl_c_in_the_middle_leaves_a_whole_file(self):
        with Sim(scenario(line("L0", 0x1001, [{"at_ms": 0, "dir": 0, "hex": "00 01 7f"}],
                               repeat={"count": "forever", "every_ms": 100}))) as sim:
            out = self.path("ctrlc.pcapng")
            proc = harness.start(BRICAP, ["-w", out], sim)
            try:
                wait_for_log(sim, lambda log: len([r for r in log if r["opcode"] == OP_TRACE_READ
                                                   and r["status"] == 0]) >= 15, timeout=20)
                proc.send_signal(signal.SIGINT)
                _, err = proc.communicate(timeout=15)
            finally:
                if proc.poll() is None:
                    proc.kill()
                    proc.wait()
            self.assertEqual(proc.returncode, 0, err)
            self.check_teardown(sim, [0x1001])
            read = len([r for r in sim.log() if r["opcode"] == OP_TRACE_READ and r["status"] == 0])
        rows = tshark_fields(out, ["lapd.sapi"])
        self.assertEqual(len(rows), read)
        self.assertIn(b"Packets captured: %d\n" % read, err)
        self.assertEqual(drop_counts(out)[1], [(read, 0)])

    def test_dropped_entries_are_counted_in_the_next_packet_and_at_the_end(self):
        with open(os.path.join(SCENARIOS, "storm.json")) as f:
            storm = f.read()
        with Sim() as sim:
            path = sim.write_file("storm.json", storm)
            sim.stop()
            sim.scenario_path = path
            sim.start()
            out = self.path("storm.pcapng")
            done = harness.run(BRICAP, ["-w", out, "-a", "duration:5"], sim, timeout=60)
        self.assertEqual(done.returncode, 0, done.stderr)
        packets, statistics = drop_counts(out)
        self.assertEqual(len(statistics), 1)
        received, dropped = statistics[0]
        self.assertEqual(received, len(packets))
        self.assertGreater(dropped, 0)
        self.assertEqual(sum(packets), dropped)
        self.assertEqual(received + dropped, 300)
        self.assertIn(b"Packets received/dropped on line 'Tessix1 LINE1 (U)': %d/%d\n" % (received, dropped),
                      done.stderr)

    def test_tshark_lists_and_captures_through_the_extcap_interface(self):
        home = self.path("home")
        extcap = os.path.join(home, ".config", "wireshark", "extcap")
        os.makedirs(extcap)
        os.symlink(os.path.abspath(BRICAP), os.path.join(extcap, "bricap"))
        source, frames = self.source(count=30, seed=9)
        with Sim(extra_args=["--pcap", source, "--pace", "fast"]) as sim:
            env = sim.env(HOME=home)
            env.pop("XDG_CONFIG_HOME", None)
            env.pop("WIRESHARK_RUN_FROM_BUILD_DIRECTORY", None)
            env.pop("WIRESHARK_CONFIG_DIR", None)
            listed = tshark(["-D"], env=env)
            self.assertEqual(listed.returncode, 0, listed.stderr)
            self.assertRegex(listed.stdout.decode(), r"(?m)^\d+\. bri0 \(Tessix1 LINE1 D channel\)$")
            out = self.path("extcap.pcapng")
            done = tshark(["-i", "bri0", "-a", "duration:6", "-w", out], env=env)
            self.assertEqual(done.returncode, 0, done.stderr)
            # tshark ends bricap; every trace it made is stopped and destroyed once.
            wait_for_log(sim, lambda log: any(r["opcode"] == OP_TRACE_DESTROY for r in log), timeout=10)
            self.check_teardown(sim, [r["line_handle"] for r in sim.requests(OP_TRACE_CREATE)])
        self.check_same_frames(out, source, frames)

    def test_extcap_answers(self):
        with Sim() as sim:
            listed = harness.run(BRICAP, ["--extcap-interfaces", "--extcap-version=4.0"], sim)
            dlts = harness.run(BRICAP, ["--extcap-dlts", "--extcap-interface", "bri1"], sim)
            config = harness.run(BRICAP, ["--extcap-config", "--extcap-interface", "bri0"], sim)
            filt = harness.run(BRICAP, ["--extcap-interface", "bri0", "--extcap-capture-filter", "lapd"], sim)
            refused = harness.run(BRICAP, ["--capture", "--extcap-interface", "bri0", "--fifo",
                                           self.path("f"), "--extcap-capture-filter", "lapd"], sim)
        self.assertEqual(listed.returncode, 0)
        self.assertEqual(listed.stdout.decode().splitlines()[1:],
                         ["interface {value=bri0}{display=Tessix1 LINE1 (U) D channel}",
                          "interface {value=bri1}{display=Tessix1 LINE2 (U) D channel}"])
        self.assertRegex(listed.stdout.decode().splitlines()[0], r"^extcap \{version=2\.51\}\{help=[^}]+\}$")
        self.assertEqual(dlts.stdout,
                         b"dlt {number=177}{name=LINUX_LAPD}{display=LAPD with direction (LINUX_LAPD)}\n")
        self.assertEqual((config.returncode, config.stdout), (0, b""))
        self.assertEqual(filt.returncode, 0)
        self.assertIn(b"not supported", filt.stdout)
        self.assertEqual(refused.returncode, 1)
        self.assertFalse(os.path.exists(self.path("f")))

    def test_no_driver(self):
        env = dict(os.environ, BRI_DEVICE_DIR=self.path("nothing-here"))
        listed = harness.run(BRICAP, ["--extcap-interfaces"], env=env)
        self.assertEqual(listed.returncode, 0)
        self.assertEqual(len(listed.stdout.decode().splitlines()), 1)
        self.assertTrue(listed.stdout.startswith(b"extcap {version=2.51}"))
        for args in (["-D"], ["-w", self.path("x.pcapng")]):
            done = harness.run(BRICAP, args, env=env)
            self.assertEqual(done.returncode, 1, args)
            self.assertEqual(done.stdout, b"")
            self.assertTrue(done.stderr.startswith(b"bricap: "), done.stderr)
        self.assertFalse(os.path.exists(self.path("x.pcapng")))

    def test_command_line(self):
        env = dict(os.environ, BRI_DEVICE_DIR=self.path("nothing-here"))
        self.assertEqual(harness.run(BRICAP, ["-v"], env=env).stdout, b"bricap (bri-tools) 2.51\n")
        usage = harness.run(BRICAP, ["-h"], env=env)
        self.assertEqual(usage.returncode, 0)
        self.assertIn(b"Usage: bricap", usage.stdout)
        for args in ([], ["-w"], ["-i", "20", "-w", "x"], ["-c", "0", "-w", "x"],
                     ["-a", "filesize:0", "-w", "x"], ["-x"], ["--capture", "--extcap-interface", "bri0"],
                     ["-b", "files:3", "-w", "x"]):
            done = harness.run(BRICAP, args, env=env)
            self.assertEqual(done.returncode, 2, args)
            self.assertTrue(done.stderr.startswith(b"bricap: "), (args, done.stderr))


GARBAGE_FOREVER = ["--fault", "garbage:opcode=OP_TRACE_READ,count=forever"]


def packet_count(path):
    """Enhanced packets in a file that must end at a block boundary."""
    return sum(1 for kind, _ in pcapng_blocks(path) if kind == 6)


def wait_until(predicate, timeout):
    deadline = time.monotonic() + timeout
    while not predicate():
        if time.monotonic() > deadline:
            raise AssertionError("not reached within %s s" % timeout)
        time.sleep(0.05)


@unittest.skipIf(harness.WINE, "Unix signals, descriptors and file-size limits are the Linux build's; "
                 "BricapOnWindows runs bricap.exe")
class BricapUnderStress(unittest.TestCase):
    """A backlog or a driver that answers every read, closed or non-blocking standard descriptors,
    a trace destroyed by another program, a file that cannot grow, no line to trace."""

    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="bri-bricap-")

    def tearDown(self):
        shutil.rmtree(self.tmp, ignore_errors=True)

    def path(self, name):
        return os.path.join(self.tmp, name)

    def paced(self, every_ms=10):
        return scenario(line("L0", 0x1001, [{"at_ms": 0, "dir": 0, "hex": "00 01 7f"}],
                             repeat={"count": "forever", "every_ms": every_ms}))

    def test_duration_ends_a_capture_whatever_the_driver_answers(self):
        with Sim(extra_args=GARBAGE_FOREVER) as sim:
            out = self.path("garbage.pcapng")
            started = time.monotonic()
            done = harness.run(BRICAP, ["-w", out, "-a", "duration:2"], sim, timeout=60)
            elapsed = time.monotonic() - started
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertLess(elapsed, 5)
        self.assertIn(b"Packets captured: %d\n" % packet_count(out), done.stderr)

    def test_each_signal_ends_it_within_a_second_with_the_file_whole(self):
        for number in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP, signal.SIGKILL):
            with self.subTest(signal=number), Sim(extra_args=GARBAGE_FOREVER) as sim:
                out = self.path("signal-%d.pcapng" % number)
                proc = harness.start(BRICAP, ["-i", "0", "-w", out], sim)
                try:
                    # Whatever the backlog, what was read reaches the file within about a second.
                    wait_until(lambda: os.path.exists(out) and packet_count(out) > 0, timeout=5)
                    proc.send_signal(number)
                    sent = time.monotonic()
                    _, err = proc.communicate(timeout=10)
                    elapsed = time.monotonic() - sent
                finally:
                    if proc.poll() is None:
                        proc.kill()
                        proc.wait()
                self.assertGreater(packet_count(out), 0)
                if number == signal.SIGKILL:
                    continue
                self.assertEqual(proc.returncode, 0, err)
                self.assertLess(elapsed, 1.5)
                handle = sim.requests(OP_TRACE_CREATE)[0]["line_handle"]
                ops = [r["opcode"] for r in sim.log() if r["line_handle"] == handle]
                self.assertEqual([ops.count(op) for op in (OP_TRACE_CREATE, OP_TRACE_STOP, OP_TRACE_DESTROY)],
                                 [1, 1, 1])
                self.assertEqual(ops[-2:], [OP_TRACE_STOP, OP_TRACE_DESTROY])
                self.assertEqual(drop_counts(out)[1], [(packet_count(out), 0)])

    def test_a_second_signal_ends_a_teardown_that_hangs_at_once(self):
        for number in (signal.SIGINT, signal.SIGTERM):
            with self.subTest(signal=number), \
                    Sim(self.paced(), extra_args=["--fault", "hang:opcode=OP_TRACE_STOP,ms=20000"]) as sim:
                proc = harness.start(BRICAP, ["-w", self.path("hang.pcapng")], sim)
                try:
                    wait_for_log(sim, lambda log: any(r["opcode"] == OP_TRACE_READ for r in log), timeout=20)
                    proc.send_signal(number)
                    time.sleep(0.5)  # the stop request is waiting for its answer now
                    proc.send_signal(number)
                    sent = time.monotonic()
                    proc.communicate(timeout=10)
                finally:
                    if proc.poll() is None:
                        proc.kill()
                        proc.wait()
                self.assertEqual(proc.returncode, -number)
                self.assertLess(time.monotonic() - sent, 1.5)

    def test_closed_standard_descriptors_are_not_taken_by_the_driver(self):
        with Sim(self.paced()) as sim:
            out = self.path("closed.pcapng")
            runs = [(["-w", "-", "-c", "20"], ">&-"), (["-w", out, "-c", "20"], "2>&-")]
            for args, redirect in runs:
                done = subprocess.run(["sh", "-c", 'exec "$0" "$@" ' + redirect, BRICAP] + args,
                                      env=sim.env(), stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                      timeout=60)
                self.assertEqual(done.returncode, 0, (redirect, done.stderr))
            self.assertEqual(len(sim.requests(OP_TRACE_DESTROY)), 2)
            with open(os.path.join(sim.dir, "brisim-TESSIX0.err"), "rb") as f:
                self.assertNotIn(b"malformed", f.read())
        self.assertEqual(packet_count(out), 20)

    def test_a_non_blocking_pipe_with_a_late_reader_gets_every_packet_whole(self):
        with Sim(self.paced(every_ms=2)) as sim:
            reader, writer = os.pipe()
            fcntl.fcntl(writer, fcntl.F_SETPIPE_SZ, 4096)
            os.set_blocking(writer, False)
            with open(self.path("err"), "wb") as err:
                proc = subprocess.Popen([BRICAP, "-w", "-", "-c", "600"], stdout=writer, stderr=err,
                                        env=sim.env())
            os.close(writer)
            time.sleep(1.5)  # the reader is late: the pipe has been full for a while
            data = b""
            with os.fdopen(reader, "rb") as f:
                for chunk in iter(lambda: f.read(65536), b""):
                    data += chunk
            self.assertEqual(proc.wait(timeout=60), 0)
        out = self.path("pipe.pcapng")
        with open(out, "wb") as f:
            f.write(data)
        self.assertEqual(packet_count(out), 600)

    def test_a_trace_destroyed_by_another_program_ends_the_capture_with_status_1(self):
        with Sim(self.paced(every_ms=100)) as sim:
            first = self.path("first.pcapng")
            proc = harness.start(BRICAP, ["-w", first], sim)
            try:
                wait_for_log(sim, lambda log: any(r["opcode"] == OP_TRACE_READ and r["status"] == 0
                                                  for r in log), timeout=20)
                other = harness.run(BRICAP, ["-w", self.path("second.pcapng"), "-c", "1"], sim, timeout=30)
                self.assertEqual(other.returncode, 0, other.stderr)
                _, err = proc.communicate(timeout=20)
            finally:
                if proc.poll() is None:
                    proc.kill()
                    proc.wait()
        self.assertEqual(proc.returncode, 1, err)
        self.assertIn(b"bricap: The trace of line 'L0' is gone from the driver", err)
        self.assertIn(b"Packets captured: %d\n" % packet_count(first), err)

    def test_a_file_that_cannot_grow_is_cut_back_to_its_last_whole_block(self):
        def limit_file_size():
            resource.setrlimit(resource.RLIMIT_FSIZE, (20000, 20000))

        with Sim(self.paced()) as sim:
            out = self.path("limited.pcapng")
            done = subprocess.run([BRICAP, "-w", out, "-a", "duration:30"], env=sim.env(),
                                  preexec_fn=limit_file_size, stdout=subprocess.PIPE,
                                  stderr=subprocess.PIPE, timeout=60)
        self.assertEqual(done.returncode, 1, done.stderr)
        saved = packet_count(out)  # the file ends at a block boundary
        self.assertGreater(saved, 0)
        self.assertLessEqual(os.path.getsize(out), 20000)
        self.assertIn(b"could not be written to \"%s\": File too large. It holds the %d packets"
                      % (out.encode(), saved), done.stderr)
        self.assertIn(b"Packets captured: %d\n" % saved, done.stderr)

    def test_no_line_that_can_be_traced_leaves_no_file(self):
        with Sim(scenario(line("L0", 0x1001, create="refuse"))) as sim:
            out = self.path("none.pcapng")
            done = harness.run(BRICAP, ["-w", out], sim, timeout=30)
        self.assertEqual(done.returncode, 1)
        self.assertIn(b"bricap: No line could be traced.\n", done.stderr)
        self.assertFalse(os.path.exists(out))


def file_set(folder, prefix="set", suffix=".pcapng"):
    """The files of a set in the folder, in the order of their numbers."""
    pattern = re.compile(r"^%s_(\d{5,})_\d{14}%s$" % (re.escape(prefix), re.escape(suffix)))
    found = [(int(m.group(1)), name) for name in os.listdir(folder) for m in [pattern.match(name)] if m]
    return [os.path.join(folder, name) for _, name in sorted(found)]


def file_frames(path, complete=True):
    """The frame octets of every packet of a whole file, checked to hold a section header, one
    interface per line, then packets, and (when complete) its interface statistics at its end."""
    blocks = pcapng_blocks(path)
    kinds = [kind for kind, _ in blocks]
    if kinds[:2] != [0x0A0D0D0A, 1] or (complete and kinds[2:] and kinds[-1] != 5):
        raise AssertionError("%s is not a whole capture: blocks %s" % (path, kinds))
    frames = []
    for kind, body in blocks:
        if kind == 6:
            captured = struct.unpack_from("<I", body, 12)[0]
            frames.append(body[20 + 16:20 + captured])
    return frames


@unittest.skipIf(harness.WINE, "the counts of hundreds of switches and a full tmpfs run natively; "
                 "BricapOnWindows runs a ring with bricap.exe")
class BricapFileSets(unittest.TestCase):
    """-b: a set of whole files, switched without losing or doubling a frame, and a ring."""

    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="bri-bricap-")

    def tearDown(self):
        shutil.rmtree(self.tmp, ignore_errors=True)

    def played(self, count, seed=3):
        frames = lapd_capture.varied_frames(count, seed=seed)
        path = os.path.join(self.tmp, "source.pcapng")
        lapd_capture.write_pcapng(path, lapd_capture.records(frames, lapd_capture.LINKTYPE_LINUX_LAPD,
                                                             start=1765000000.0, rate=400.0),
                                  lapd_capture.LINKTYPE_LINUX_LAPD)
        return path, [octets for _, octets in frames]

    def test_hundreds_of_switches_cost_no_frame(self):
        source, frames = self.played(900)
        with Sim(extra_args=["--pcap", source, "--pace", "fast"]) as sim:
            done = harness.run(BRICAP, ["-w", os.path.join(self.tmp, "set.pcapng"), "-b", "packets:3",
                                        "-c", str(len(frames))], sim, timeout=120)
        self.assertEqual(done.returncode, 0, done.stderr)
        files = file_set(self.tmp)
        self.assertEqual(len(files), 300)
        got = []
        for path in files:
            in_file = file_frames(path)
            self.assertEqual(len(in_file), 3, path)
            self.assertEqual(drop_counts(path)[1], [(3, 0)])  # each file's own statistics
            got += in_file
        self.assertEqual(got, frames)  # every frame once, in order

    def test_a_ring_keeps_the_newest_files_and_names_each_closed_one(self):
        source, frames = self.played(40)
        with Sim(extra_args=["--pcap", source, "--pace", "fast"]) as sim:
            done = harness.run(BRICAP, ["-w", os.path.join(self.tmp, "set.pcapng"), "-b", "packets:5",
                                        "-b", "files:3", "-b", "printname:-", "-c", "40"], sim, timeout=60)
        self.assertEqual(done.returncode, 0, done.stderr)
        files = file_set(self.tmp)
        self.assertEqual([int(os.path.basename(p).split("_")[1]) for p in files], [6, 7, 8])
        self.assertEqual(sum((file_frames(p) for p in files), []), frames[25:])
        printed = done.stdout.decode().splitlines()
        self.assertEqual(len(printed), 8)
        self.assertEqual(printed[-3:], files)
        self.assertIn(b"Packets captured: 40\n", done.stderr)

    def test_files_switched_by_time_and_stopped_by_their_number(self):
        for criterion in ("duration:1", "interval:1"):
            folder = os.path.join(self.tmp, criterion.split(":")[0])
            os.mkdir(folder)
            with self.subTest(criterion=criterion), \
                    Sim(scenario(line("L0", 0x1001, [{"at_ms": 0, "dir": 0, "hex": "00 01 7f"}],
                                      repeat={"count": "forever", "every_ms": 50}))) as sim:
                started = time.monotonic()
                done = harness.run(BRICAP, ["-w", os.path.join(folder, "set"), "-b", criterion, "-a", "files:3"],
                                   sim, timeout=60)
                elapsed = time.monotonic() - started
                self.assertEqual(done.returncode, 0, done.stderr)
                files = file_set(folder, suffix="")
                self.assertEqual(len(files), 3)
                self.assertLess(elapsed, 8)
                total = sum(len(file_frames(p)) for p in files)
                self.assertIn(b"Packets captured: %d\n" % total, done.stderr)
                if criterion.startswith("interval"):
                    # On the clock: each later file starts in a second of its own.
                    stamps = [os.path.basename(p).split("_")[2] for p in files]
                    self.assertEqual(len(set(stamps[1:])), 2)

    def test_a_file_size_without_b_stops_the_one_file(self):
        with Sim(scenario(line("L0", 0x1001, [{"at_ms": 0, "dir": 0, "hex": "00 01 7f"}],
                               repeat={"count": "forever", "every_ms": 5}))) as sim:
            out = os.path.join(self.tmp, "one.pcapng")
            done = harness.run(BRICAP, ["-w", out, "-a", "filesize:4", "-a", "duration:60"], sim, timeout=60)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertGreaterEqual(os.path.getsize(out), 4000)
        self.assertIn(b"Packets captured: %d\n" % len(file_frames(out)), done.stderr)
        self.assertEqual(os.listdir(self.tmp), ["one.pcapng"])

    @unittest.skipIf(os.geteuid() != 0, "a small tmpfs needs root")
    def test_a_full_disk_ends_the_ring_without_deleting_a_file(self):
        disk = os.path.join(self.tmp, "disk")
        os.mkdir(disk)
        if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=96k", "tmpfs", disk]).returncode != 0:
            self.skipTest("tmpfs cannot be mounted here")
        try:
            with Sim(scenario(line("L0", 0x1001, [{"at_ms": 0, "dir": 0, "hex": "00 01 7f 0a 0b 0c"}],
                                   repeat={"count": "forever", "every_ms": 1}))) as sim:
                done = harness.run(BRICAP, ["-w", os.path.join(disk, "set.pcapng"), "-b", "filesize:20",
                                            "-b", "files:50", "-a", "duration:60"], sim, timeout=90)
            self.assertEqual(done.returncode, 1, done.stderr)
            self.assertIn(b"No space left on device", done.stderr)
            files = file_set(disk)
            numbers = [int(os.path.basename(p).split("_")[1]) for p in files]
            self.assertGreater(len(numbers), 1)
            self.assertEqual(numbers, list(range(1, len(numbers) + 1)))  # none deleted to make room
            for path in files[:-1]:
                file_frames(path)
            total = sum(len(file_frames(p, complete=False)) for p in files)  # the last one whole too
            self.assertIn(b"Packets captured: %d\n" % total, done.stderr)
        finally:
            subprocess.run(["umount", disk])

    def test_the_driver_going_away_leaves_every_file_whole(self):
        with Sim(scenario(line("L0", 0x1001, [{"at_ms": 0, "dir": 0, "hex": "00 01 7f"}],
                               repeat={"count": "forever", "every_ms": 20}))) as sim:
            proc = harness.start(BRICAP, ["-w", os.path.join(self.tmp, "set.pcapng"), "-b", "packets:10"], sim)
            try:
                wait_until(lambda: len(file_set(self.tmp)) >= 3, timeout=20)
                sim.stop()
                _, err = proc.communicate(timeout=20)
            finally:
                if proc.poll() is None:
                    proc.kill()
                    proc.wait()
        self.assertEqual(proc.returncode, 1, err)
        self.assertIn(b"bricap: The connection to the adapter driver is lost.", err)
        files = file_set(self.tmp)
        total = sum(len(file_frames(p)) for p in files)
        self.assertIn(b"Packets captured: %d\n" % total, err)


def host_path(path):
    """A path as bricap is given it: under Wine the Windows form of it (drive Z:)."""
    return wine_rig.win_path(path) if harness.WINE else path


@unittest.skipUnless(harness.WINE, "natively, Bricap and BricapFileSets hold the same cases and more")
class BricapOnWindows(unittest.TestCase):
    """bricap.exe through the relay driver: files opened, written, deleted and moved by the Windows
    half of the platform layer, and standard output in binary mode."""

    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="bri-bricap-")

    def tearDown(self):
        shutil.rmtree(self.tmp, ignore_errors=True)

    def capture(self, args, frames=("00 01 7f",), sc=None):
        sc = sc or scenario(line("L0", 0x1001, [{"at_ms": i, "dir": i % 2, "hex": h} for i, h in enumerate(frames)],
                                 repeat={"count": "forever", "every_ms": 20}))
        with Sim(sc) as sim:
            started = time.monotonic()
            done = harness.run(BRICAP, args, sim, timeout=60)
            self.elapsed = time.monotonic() - started
        self.assertEqual(done.returncode, 0, done.stderr)
        return done

    def test_a_capture_ends_by_its_duration_with_the_file_whole(self):
        out = os.path.join(self.tmp, "one.pcapng")
        done = self.capture(["-w", host_path(out), "-a", "duration:2"], frames=("00 01 7f", "00 01 73"))
        self.assertLess(self.elapsed, 2 + 8)  # Wine's start and end take seconds of their own
        frames = file_frames(out)
        self.assertGreater(len(frames), 10)
        self.assertEqual(set(frames), {b"\x00\x01\x7f", b"\x00\x01\x73"})
        self.assertIn(b"Packets captured: %d" % len(frames), done.stderr)
        self.assertEqual(drop_counts(out)[1], [(len(frames), 0)])

    def test_standard_output_takes_the_capture_byte_for_byte(self):
        # In text mode, a console program's standard output would turn each 0A into 0D 0A.
        out = os.path.join(self.tmp, "stdout.pcapng")
        with open(out, "wb") as f:
            f.write(self.capture(["-w", "-", "-c", "20"], frames=("00 0a 0d 0a 1a ff",)).stdout)
        self.assertEqual(file_frames(out), [b"\x00\x0a\x0d\x0a\x1a\xff"] * 20)

    def test_a_ring_keeps_the_newest_files_and_moves_failed_calls_aside(self):
        done = self.capture(["-w", host_path(os.path.join(self.tmp, "set.pcapng")), "-b", "packets:5", "-b",
                             "files:3", "-b", "printname:-", "-c", "40"])
        files = file_set(self.tmp)
        self.assertEqual([int(os.path.basename(p).split("_")[1]) for p in files], [6, 7, 8])
        self.assertEqual([len(file_frames(p)) for p in files], [5, 5, 5])
        self.assertEqual(done.stdout.decode().splitlines()[-3:], [host_path(p) for p in files])

        from test_bricap_keep import fast_scenario  # brisim's scenarios played fast
        kept = os.path.join(self.tmp, "kept")
        os.mkdir(kept)
        done = self.capture(["-w", host_path(os.path.join(self.tmp, "busy.pcapng")), "-b", "packets:4", "-b",
                             "files:4", "--keep-failed", host_path(kept), "-c", "44"], sc=fast_scenario("busy")[0])
        self.assertIn(b"ended busy, cause 17", done.stderr)
        self.assertEqual([len(file_frames(p)) for p in file_set(kept, prefix="busy")], [4] * 9)

if __name__ == "__main__":
    unittest.main()
