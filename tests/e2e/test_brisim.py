# SPDX-License-Identifier: BSD-2-Clause
"""brisim on its own: a client speaking the device transport against the real simulator."""

import json
import os
import signal
import socket
import struct
import subprocess
import tempfile
import threading
import time
import unittest

import harness
from harness import Sim
from lapd_capture import write_pcap
from lapmon_util import (OP_ENUM_IDD, OP_LOG_FILE, OP_TRACE_CREATE, OP_TRACE_DESTROY, OP_TRACE_READ,
                         OP_TRACE_START, OP_TRACE_STATUS, OP_TRACE_STOP)

BLOCK = 262200
CODE = 0x160040
SIGNATURE = 0x321B71B7

OP_AREA_REQUEST = 0x900
OP_AREA_POLL = 0x902

LOG_FIELDS = {"time_ms", "conn", "opcode", "name", "line_handle", "parameter", "signature",
              "header_word0", "header_word1", "in_len", "out_len", "status"}


def block(opcode, handle=0, parameter=0, signature=SIGNATURE, word0=0, word1=1):
    """The header of a command block; the zeros after it are left for the transport to imply."""
    return struct.pack("<IHHIIIII", signature, word0, word1, opcode, 0, 0, handle, parameter)


class Client:
    """One opened device handle."""

    def __init__(self, sim, device="TESSIX0"):
        self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.sock.settimeout(10)
        self.sock.connect(os.path.join(sim.dir, device))

    def close(self):
        self.sock.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def _recv(self, n):
        data = b""
        while len(data) < n:
            chunk = self.sock.recv(n - len(data))
            if not chunk:
                raise ConnectionError("brisim closed the connection")
            data += chunk
        return data

    def raw(self, payload, code=CODE, in_len=BLOCK, out_len=BLOCK, in_sent=None):
        """Sends one request; returns (ok, returned, out_sent, reply bytes zero-extended)."""
        sent = len(payload) if in_sent is None else in_sent
        self.sock.sendall(struct.pack("<IIII", code, in_len, sent, out_len) + payload)
        ok, returned, out_sent = struct.unpack("<III", self._recv(12))
        data = self._recv(out_sent)
        return ok, returned, out_sent, data + bytes(returned - out_sent)

    def call(self, opcode, handle=0, parameter=0, **kw):
        """Sends a well-formed request; returns (status, reply block)."""
        ok, returned, _, data = self.raw(block(opcode, handle, parameter), **kw)
        assert ok == 1 and returned == BLOCK, (ok, returned)
        return struct.unpack_from("<I", data, 12)[0], data


def u16(data, off):
    return struct.unpack_from("<H", data, off)[0]


def u32(data, off):
    return struct.unpack_from("<I", data, off)[0]


TRACE_SCENARIO = {
    "lines": [
        {"name": "Tessix1 LINE1", "trace": {"capacity": 3, "frames": [
            {"at_ms": 0, "dir": 0, "hex": "00 81 7F"},
            {"at_ms": 0, "dir": 1, "hex": "00 81 73"},
            {"at_ms": 400, "dir": 1, "hex": "02 81 01 01"},
            {"at_ms": 400, "dir": 0, "hex": "02 81 01 01"},
            {"at_ms": 400, "dir": 0, "hex": "02 81 01 03"}]}},
        {"name": "Tessix1 LINE2", "trace": {"create": "refuse"}},
    ]
}


class TransportTest(unittest.TestCase):
    def test_enumeration_with_a_trimmed_request_and_its_log_line(self):
        with Sim(TRACE_SCENARIO) as sim, Client(sim) as c:
            ok, returned, out_sent, data = c.raw(block(OP_ENUM_IDD))
            self.assertEqual((ok, returned), (1, BLOCK))
            self.assertLess(out_sent, 1024)  # trailing zeros are not sent
            self.assertEqual(u32(data, 12), 0)
            self.assertEqual(u16(data, 40), 2)
            self.assertEqual((u32(data, 44), u32(data, 48)), (0x1001, 0x1002))
            self.assertEqual(data[124:124 + 14], b"Tessix1 LINE1\0")
            self.assertEqual(data[188:188 + 14], b"Tessix1 LINE2\0")
            self.assertEqual(u32(data, 0), SIGNATURE)  # the reply block starts as the request
            log = harness.wait_for_log(sim, lambda l: len(l) == 1)
            entry = log[0]
            self.assertTrue(LOG_FIELDS <= set(entry), entry)
            self.assertEqual({k: entry[k] for k in LOG_FIELDS - {"time_ms"}}, {
                "conn": 1, "opcode": OP_ENUM_IDD, "name": "OP_ENUM_IDD", "line_handle": 0,
                "parameter": 0, "signature": SIGNATURE, "header_word0": 0, "header_word1": 1,
                "in_len": BLOCK, "out_len": BLOCK, "status": 0})
            self.assertGreaterEqual(entry["time_ms"], 0)

    def test_bad_requests_are_logged_and_refused(self):
        with Sim(TRACE_SCENARIO) as sim, Client(sim) as c:
            cases = [
                ("signature", block(OP_ENUM_IDD, signature=0x12345678), {}),
                ("header word 0", block(OP_ENUM_IDD, word0=1), {}),
                ("header word 1", block(OP_ENUM_IDD, word1=0), {}),
                ("control code", block(OP_ENUM_IDD), {"code": 0x160044}),
                ("in_len", block(OP_ENUM_IDD), {"in_len": 4096}),
                ("out_len", block(OP_ENUM_IDD), {"out_len": 1000}),
                ("unknown opcode", block(0x555, 0x1001), {}),
            ]
            for what, payload, kw in cases:
                ok, returned, _, data = c.raw(payload, **kw)
                self.assertEqual(ok, 1, what)
                self.assertEqual(returned, min(kw.get("out_len", BLOCK), BLOCK), what)
                self.assertNotEqual(u32(data, 12), 0, what)
                self.assertEqual(u16(data, 40), 0, what)  # nothing was served
            # The connection still works after refusals.
            self.assertEqual(c.call(OP_ENUM_IDD)[0], 0)
            log = harness.wait_for_log(sim, lambda l: len(l) == len(cases) + 1)
            self.assertTrue(all(entry["status"] != 0 for entry in log[:-1]))
            self.assertEqual(log[0]["signature"], 0x12345678)
            self.assertEqual(log[1]["header_word0"], 1)
            self.assertEqual(log[5]["out_len"], 1000)
            self.assertEqual(log[6]["name"], "unknown")
            self.assertEqual(log[-1]["status"], 0)

    def test_malformed_stream_closes_only_that_connection(self):
        with Sim(TRACE_SCENARIO) as sim:
            bad = Client(sim)
            good = Client(sim)
            bad.sock.sendall(struct.pack("<IIII", CODE, 8, 16, BLOCK) + bytes(16))
            try:
                self.assertEqual(bad.sock.recv(12), b"")
            except ConnectionResetError:
                pass  # closed with our input unread: a reset is a close too
            self.assertEqual(good.call(OP_ENUM_IDD)[0], 0)
            # A request cut short by the client closing its end.
            cut = Client(sim)
            cut.sock.sendall(struct.pack("<IIII", CODE, BLOCK, 40, BLOCK) + block(OP_ENUM_IDD)[:20])
            cut.close()
            after = Client(sim)
            self.assertEqual(after.call(OP_ENUM_IDD)[0], 0)
            for c in (bad, good, after):
                c.close()

    def test_two_connections_at_once_share_the_device(self):
        with Sim(TRACE_SCENARIO) as sim:
            first, second = Client(sim), Client(sim)
            self.assertEqual(first.call(OP_TRACE_CREATE, 0x1001, 20)[0], 0)
            self.assertEqual(second.call(OP_TRACE_START, 0x1001)[0], 0)
            errors = []

            def hammer(client):
                try:
                    for _ in range(50):
                        status, data = client.call(OP_TRACE_STATUS, 0x1001)
                        recorded, dropped, held, nxt = (u32(data, off) for off in (44, 48, 52, 56))
                        if status != 0 or nxt != recorded or nxt - held != dropped:
                            errors.append((status, data[40:60].hex()))
                except Exception as e:  # noqa: BLE001 - reported below
                    errors.append(e)

            threads = [threading.Thread(target=hammer, args=(c,)) for c in (first, second)]
            for t in threads:
                t.start()
            for t in threads:
                t.join(30)
            self.assertEqual(errors, [])
            log = harness.wait_for_log(sim, lambda l: len(l) == 102)
            self.assertEqual({entry["conn"] for entry in log}, {1, 2})
            self.assertEqual(sorted(entry["time_ms"] for entry in log), [e["time_ms"] for e in log])
            first.close()
            second.close()


class DeviceTest(unittest.TestCase):
    def test_trace_numbering_capacity_and_availability(self):
        with Sim(TRACE_SCENARIO) as sim, Client(sim) as c:
            self.assertNotEqual(c.call(OP_TRACE_CREATE, 0x1002, 20)[0], 0)  # refused by the scenario
            self.assertEqual(c.call(OP_TRACE_CREATE, 0x1001, 20)[0], 0)
            self.assertEqual(c.call(OP_TRACE_START, 0x1001)[0], 0)
            started = time.monotonic()
            status, data = c.call(OP_TRACE_STATUS, 0x1001)
            self.assertEqual(status, 0)
            if time.monotonic() - started < 0.35:
                self.assertEqual((u32(data, 52), u32(data, 56)), (2, 2))  # held, next
            status, data = c.call(OP_TRACE_READ, 0x1001, 1)
            self.assertEqual(status, 0)
            entry = data[40:40 + 288]
            self.assertEqual(u32(entry, 16), 1)
            self.assertEqual(u32(entry, 24), 3)
            self.assertEqual(entry[28:31], bytes.fromhex("008173"))
            # The entry's time stamp is the wall clock (FILETIME) when it became available.
            filetime = struct.unpack_from("<Q", entry, 8)[0]
            unix = filetime / 1e7 - 11644473600
            self.assertLess(abs(unix - time.time()), 5)
            if time.monotonic() - started < 0.35:
                self.assertNotEqual(c.call(OP_TRACE_READ, 0x1001, 2)[0], 0)  # not yet recorded
            time.sleep(max(0, 0.45 - (time.monotonic() - started)))
            status, data = c.call(OP_TRACE_STATUS, 0x1001)
            held, nxt = u32(data, 52), u32(data, 56)
            self.assertEqual((held, nxt, nxt - held), (3, 5, 2))  # entries 0 and 1 were dropped
            self.assertNotEqual(c.call(OP_TRACE_READ, 0x1001, 1)[0], 0)
            self.assertEqual(c.call(OP_TRACE_READ, 0x1001, 4)[0], 0)
            self.assertEqual(c.call(OP_LOG_FILE, 0x1001, 2)[0], 0)
            self.assertEqual(c.call(OP_TRACE_STOP, 0x1001)[0], 0)
            self.assertEqual(c.call(OP_TRACE_DESTROY, 0x1001, 20)[0], 0)
            self.assertNotEqual(c.call(OP_TRACE_READ, 0x1001, 4)[0], 0)
            names = [e["name"] for e in sim.requests()]
            self.assertIn("OP_LOG_FILE", names)
            self.assertEqual(names[-1], "OP_TRACE_READ")

    def test_built_in_scenario(self):
        with Sim() as sim, Client(sim) as c:
            status, data = c.call(OP_ENUM_IDD)
            self.assertEqual(status, 0)
            count = u16(data, 40)
            self.assertEqual(count, 2)
            names = [data[124 + 64 * i:124 + 64 * (i + 1)].split(b"\0")[0].decode() for i in range(count)]
            handles = [u32(data, 44 + 4 * i) for i in range(count)]
            for i, name in enumerate(names):
                self.assertIn("Tessix1", name)
                self.assertIn("LINE%d" % (i + 1), name)
            for handle in handles:
                for area in (1, 2, 3, 10, 11, 12, 21, 22):
                    self.assertEqual(c.call(OP_AREA_REQUEST, handle, area)[0], 0)
                    self.assertEqual(u32(c.call(OP_AREA_POLL, handle)[1], 48), 2)
                    status, data = c.call(OP_AREA_POLL, handle)
                    self.assertEqual(status, 0)
                    self.assertGreater(struct.unpack_from("<i", data, 40 + 532)[0], 0)
            # Live traffic: the first frames arrive within a second of the start.
            self.assertEqual(c.call(OP_TRACE_CREATE, handles[0], 20)[0], 0)
            self.assertEqual(c.call(OP_TRACE_START, handles[0])[0], 0)
            time.sleep(1.0)
            status, data = c.call(OP_TRACE_STATUS, handles[0])
            self.assertGreaterEqual(u32(data, 52), 2)
            status, data = c.call(OP_TRACE_READ, handles[0], 0)
            self.assertEqual(status, 0)
            self.assertEqual(data[40 + 28:40 + 28 + 3], bytes.fromhex("FCFF03"))  # TEI management


class ProcessTest(unittest.TestCase):
    def test_sigterm_and_sigint_end_it_cleanly_and_remove_the_socket(self):
        for sig in (signal.SIGTERM, signal.SIGINT):
            sim = Sim(TRACE_SCENARIO)
            try:
                sock = os.path.join(sim.dir, "TESSIX0")
                idle = Client(sim)  # an open connection does not hold the stop up
                proc = sim.procs[0]
                proc.send_signal(sig)
                self.assertEqual(proc.wait(10), 0)
                self.assertFalse(os.path.exists(sock))
                idle.close()
            finally:
                sim.__exit__(None, None, None)

    def test_stale_socket_is_replaced_and_a_live_one_kept(self):
        with Sim(TRACE_SCENARIO, start=False) as sim:
            stale = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
            stale.bind(os.path.join(sim.dir, "TESSIX0"))
            stale.close()  # the file stays, nobody listens
            sim.start()
            with Client(sim) as c:
                self.assertEqual(c.call(OP_ENUM_IDD)[0], 0)
            second = subprocess.run([harness.BRISIM, "--dir", sim.dir], capture_output=True, timeout=10)
            self.assertEqual(second.returncode, 1)
            self.assertIn(b"already listens", second.stderr)
            with Client(sim) as c:
                self.assertEqual(c.call(OP_ENUM_IDD)[0], 0)

    def test_of_two_started_at_once_one_listens_and_the_other_leaves_its_socket_alone(self):
        # Both wait, spinning, for a file to appear and then start brisim at the same moment.
        start = 'while [ ! -e "$1" ]; do :; done; exec "$2" --dir "$3"'
        with tempfile.TemporaryDirectory() as d, tempfile.TemporaryDirectory() as flags:
            sock = os.path.join(d, "TESSIX0")
            for attempt in range(20):
                go = os.path.join(flags, str(attempt))
                procs = [subprocess.Popen(["sh", "-c", start, "sh", go, harness.BRISIM, d], stdout=subprocess.PIPE,
                                          stderr=subprocess.PIPE) for _ in range(2)]
                try:
                    time.sleep(0.05)
                    open(go, "w").close()
                    deadline = time.monotonic() + 10
                    while all(p.poll() is None for p in procs):
                        self.assertLess(time.monotonic(), deadline, "attempt %d: both kept running" % attempt)
                        time.sleep(0.02)
                    loser, winner = procs if procs[0].poll() is not None else procs[::-1]
                    self.assertEqual(loser.returncode, 1, attempt)
                    self.assertIn(b"already listens", loser.stderr.read())
                    self.assertEqual(winner.stdout.readline().decode(), "brisim: listening on %s\n" % sock)
                    with Client(type("Folder", (), {"dir": d})) as c:  # the one that ended took nothing
                        self.assertEqual(c.call(OP_ENUM_IDD)[0], 0)
                    winner.terminate()
                    self.assertEqual(winner.wait(10), 0)
                    self.assertFalse(os.path.exists(sock))
                finally:
                    for p in procs:
                        if p.poll() is None:
                            p.kill()
                        p.wait(10)
                        p.stdout.close()
                        p.stderr.close()

    def test_every_socket_path_that_fits_is_used_and_a_longer_one_is_named(self):
        with tempfile.TemporaryDirectory() as d:
            for length in (95, 107, 108):  # a socket address holds 107 characters and the NUL
                path = os.path.join(d, "f" * (length - len(d) - len("//TESSIX0")), "TESSIX0")
                self.assertEqual(len(path), length)
                proc = subprocess.Popen([harness.BRISIM, "--dir", os.path.dirname(path)],
                                        stdout=subprocess.PIPE, stderr=subprocess.PIPE)
                try:
                    if length == 108:
                        self.assertEqual(proc.wait(10), 1)
                        self.assertEqual(proc.stderr.read().decode(), "brisim: socket path too long: %s\n" % path)
                        continue
                    self.assertEqual(proc.stdout.readline().decode(), "brisim: listening on %s\n" % path)
                    with Client(type("Folder", (), {"dir": os.path.dirname(path)})) as c:
                        self.assertEqual(c.call(OP_ENUM_IDD)[0], 0)
                    proc.terminate()
                    self.assertEqual(proc.wait(10), 0)
                    self.assertEqual(os.listdir(os.path.dirname(path)), [])
                finally:
                    if proc.poll() is None:
                        proc.kill()
                    proc.wait(10)
                    proc.stdout.close()
                    proc.stderr.close()

    def test_prints_where_it_listens_and_takes_the_folder_from_the_environment(self):
        with tempfile.TemporaryDirectory() as d:
            folder = os.path.join(d, "devices")
            env = dict(os.environ, BRI_DEVICE_DIR=folder)
            proc = subprocess.Popen([harness.BRISIM, "--device", "Quorlink"], env=env,
                                    stdout=subprocess.PIPE, stderr=subprocess.PIPE)
            try:
                line = proc.stdout.readline().decode()
                self.assertEqual(line, "brisim: listening on %s\n" % os.path.join(folder, "Quorlink"))
            finally:
                proc.terminate()
                proc.wait(10)
                proc.stdout.close()
                proc.stderr.close()

    def test_bad_scenario_exits_2_naming_the_key(self):
        with tempfile.TemporaryDirectory() as d:
            path = os.path.join(d, "bad.json")
            with open(path, "w") as f:
                json.dump({"lines": [{"trace": {"capacity": "many"}}]}, f)
            r = subprocess.run([harness.BRISIM, "--dir", d, "--scenario", path], capture_output=True, timeout=10)
            self.assertEqual(r.returncode, 2)
            self.assertIn(b"lines[0].trace.capacity", r.stderr)
            r = subprocess.run([harness.BRISIM, "--dir", d, "--scenario", os.path.join(d, "missing.json")],
                               capture_output=True, timeout=10)
            self.assertEqual(r.returncode, 2)

    def test_a_scenario_that_cannot_be_read_is_told_with_the_reason(self):
        with tempfile.TemporaryDirectory() as d:
            for name, reason in (("missing.json", "No such file or directory"), ("", "Is a directory")):
                path = os.path.join(d, name)
                r = brisim("--dir", d, "--scenario", path)
                self.assertEqual((r.returncode, r.stderr.decode()),
                                 (2, "brisim: cannot read scenario %s: %s\n" % (path, reason)))

    def test_built_in_scenario_can_be_printed_and_played_back(self):
        with tempfile.TemporaryDirectory() as d:
            r = subprocess.run([harness.BRISIM, "--print-default-scenario"], capture_output=True, timeout=10)
            self.assertEqual(r.returncode, 0)
            scenario = json.loads(r.stdout)
            self.assertEqual(len(scenario["lines"]), 2)
        with Sim(scenario) as sim, Client(sim) as c:
            self.assertEqual(u16(c.call(OP_ENUM_IDD)[1], 40), 2)


def brisim(*args, env=None, timeout=10):
    return subprocess.run([harness.BRISIM] + list(args), capture_output=True, timeout=timeout, env=env)


def wait_for_socket(proc, path, timeout=10):
    deadline = time.monotonic() + timeout
    while not os.path.exists(path):
        if proc.poll() is not None or time.monotonic() > deadline:
            raise AssertionError("brisim did not listen on %s: %r" % (path, proc.stderr.read()))
        time.sleep(0.05)


class CommandLineTest(unittest.TestCase):
    def test_version_and_the_usage_line_names_the_program(self):
        r = brisim("--version")
        self.assertEqual(r.returncode, 0)
        self.assertRegex(r.stdout.decode(), r"^brisim \(bri-tools\) \d+\.\d+\n$")
        r = brisim("--help")
        self.assertEqual(r.returncode, 0)
        self.assertIn("Usage: brisim [OPTIONS]", r.stdout.decode())
        self.assertNotIn(os.path.dirname(os.path.abspath(harness.BRISIM)), r.stdout.decode())

    def test_capture_options_without_a_capture_are_refused(self):
        with tempfile.TemporaryDirectory() as d:
            for args in (["--pace", "fast"], ["--direction", "T"], ["--exit-when-done"],
                         ["--scenario", os.path.join(d, "x.json"), "--pace", "2"]):
                with self.subTest(args=args):
                    r = brisim("--dir", d, *args)
                    self.assertEqual(r.returncode, 2, r.stderr)
                    self.assertFalse(os.path.exists(os.path.join(d, "TESSIX0")))

    def test_default_folder_is_per_user_and_private(self):
        with tempfile.TemporaryDirectory() as runtime:
            env = {k: v for k, v in os.environ.items() if k != "BRI_DEVICE_DIR"}
            env["XDG_RUNTIME_DIR"] = runtime
            proc = subprocess.Popen([harness.BRISIM], env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
            try:
                folder = os.path.join(runtime, "bri")
                self.assertEqual(proc.stdout.readline().decode(),
                                 "brisim: listening on %s\n" % os.path.join(folder, "TESSIX0"))
                self.assertEqual(os.stat(folder).st_mode & 0o777, 0o700)
            finally:
                proc.terminate()
                proc.wait(10)
                proc.stdout.close()
                proc.stderr.close()
            if os.geteuid() == 0:
                # A default folder that another user made is not used.
                os.chown(folder, 4242, 4242)
                r = brisim(env=env)
                self.assertEqual(r.returncode, 1)
                self.assertIn(b"is not a folder of your own", r.stderr)

    def test_end_of_capture_is_told_and_exit_when_done_ends_brisim(self):
        with tempfile.TemporaryDirectory() as d:
            capture = os.path.join(d, "three.pcap")
            frames = [bytes.fromhex("00817f"), bytes.fromhex("008173"), bytes.fromhex("02810101")]
            write_pcap(capture, [(1000 + i, f) for i, f in enumerate(frames)], 203)
            proc = subprocess.Popen([harness.BRISIM, "--dir", d, "--pcap", capture, "--pace", "fast",
                                     "--exit-when-done"], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
            try:
                wait_for_socket(proc, os.path.join(d, "TESSIX0"))
                with Client(type("Folder", (), {"dir": d})) as c:
                    self.assertEqual(c.call(OP_TRACE_CREATE, 0x1001, 20)[0], 0)
                    self.assertEqual(c.call(OP_TRACE_START, 0x1001)[0], 0)
                    for number in range(2):
                        self.assertEqual(c.call(OP_TRACE_READ, 0x1001, number)[0], 0)
                    self.assertIsNone(proc.poll())  # one frame still unread
                    status, data = c.call(OP_TRACE_READ, 0x1001, 2)
                    self.assertEqual((status, data[40 + 28:40 + 32]), (0, frames[2]))  # the reply came whole
                self.assertEqual(proc.wait(10), 0)
                err = proc.stderr.read().decode()
                self.assertIn("brisim: line 1 (Tessix1 LINE1): the capture has ended, the tool has read its "
                              "last frame\n", err)
                self.assertIn("(--exit-when-done)", err)
                self.assertFalse(os.path.exists(os.path.join(d, "TESSIX0")))
            finally:
                if proc.poll() is None:
                    proc.kill()
                proc.wait(10)
                proc.stderr.close()


if __name__ == "__main__":
    unittest.main()
