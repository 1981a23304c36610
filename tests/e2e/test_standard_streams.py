# SPDX-License-Identifier: BSD-2-Clause
"""The tools with unusual standard streams: standard descriptors closed at start (none of them may
become the driver connection), and a non-blocking standard output read slowly (nothing is lost)."""

import fcntl
import os
import signal
import subprocess
import threading
import time
import unittest

import harness
import wine_rig
from harness import Sim, wait_for_log
from lapmon_util import (BASE_FILETIME, NO_EXIT_PAUSE, OP_ENUM_IDD, OP_TRACE_DESTROY, OP_TRACE_READ,
                         OP_TRACE_STATUS, OP_TRACE_STOP, count_at_least, kill_quietly, line, opcodes,
                         scenario, stamps, wait_until)
from linestat_support import NT_VERSION

F_SETPIPE_SZ = 1031


def start_closed(program, args, sim, closed):
    """Starts a tool with the given standard descriptors closed (the others are pipes)."""
    def close_them():
        for fd in closed:
            os.close(fd)
    return subprocess.Popen(harness.WRAP + [program] + list(args), stdin=subprocess.PIPE,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                            env=sim.env(BRI_OS=NT_VERSION, **NO_EXIT_PAUSE), preexec_fn=close_them)


def signed_requests(log):
    """Every request carries the command block's signature: none came from console text."""
    return all(r["signature"] == 0x321B71B7 for r in log)


class ClosedDescriptors(unittest.TestCase):
    def setUp(self):
        if harness.WINE:
            wine_rig.cannot_express("closed-descriptors", "standard descriptors closed at start")

    def test_linestat_report_with_descriptors_closed(self):
        lines = {"lines": [{"name": "L1", "areas": {"1": {"request": "refuse"}}}]}
        runs = {}
        for closed in ((), (1,), (0, 1, 2)):
            with self.subTest(closed=closed), Sim(lines) as sim:
                proc = start_closed(harness.LINESTAT, ["-a1"], sim, closed)
                proc.communicate(timeout=20)
                self.assertEqual(proc.returncode, 0)
                self.assertTrue(signed_requests(sim.log()))
                runs[closed] = opcodes(sim.log())
        # The same requests, in the same order, whatever was closed.
        self.assertEqual(runs[(1,)], runs[()])
        self.assertEqual(runs[(0, 1, 2)], runs[()])

    def test_lapmon_menu_with_input_closed_ends_at_the_menu(self):
        with Sim(scenario(line("L1", 0x1001), line("L2", 0x1002))) as sim:
            proc = start_closed(harness.LAPMON, ["-p"], sim, (0,))
            try:
                out, _ = proc.communicate(timeout=10)
                self.assertEqual(proc.returncode, 0)
                self.assertIn(b"Lines In System:", out)
                self.assertEqual(opcodes(sim.log()), [OP_ENUM_IDD])
            finally:
                kill_quietly(proc)

    def test_lapmon_tracing_with_input_closed_takes_no_keys(self):
        with Sim(scenario(line("L1", 0x1001))) as sim:
            proc = start_closed(harness.LAPMON, ["-a", "-l2"], sim, (0,))
            try:
                # Input at its end: no keys, tracing goes on until Ctrl-C.
                wait_for_log(sim, count_at_least(OP_TRACE_STATUS, 3))
                proc.send_signal(signal.SIGINT)
                out, _ = proc.communicate(timeout=10)
                self.assertTrue(harness.terminated_by(proc.returncode, signal.SIGINT), proc.returncode)
                self.assertNotIn(b"c = ", out)
                self.assertTrue(signed_requests(sim.log()))
                ops = opcodes(sim.log(), 0x1001)
                self.assertEqual(ops[-2:], [OP_TRACE_STOP, OP_TRACE_DESTROY])
            finally:
                kill_quietly(proc)


FRAMES = 250


def numbered_frames(count):
    # Frame i becomes available at 2*i ms and carries BASE + i ms as its time stamp.
    return [{"at_ms": 2 * i, "dir": i % 2, "hex": "00 81 01 %02x" % (2 * (i % 128)),
             "filetime": BASE_FILETIME + i * 10000} for i in range(count)]


def trace_into_pipe(non_blocking):
    """lapmon -a -p over FRAMES frames, its standard output a small pipe that is read slowly;
    returns what it wrote."""
    with Sim(scenario(line("L1", 0x1001, numbered_frames(FRAMES)))) as sim:
        read_end, write_end = os.pipe()
        fcntl.fcntl(write_end, F_SETPIPE_SZ, 4096)
        os.set_blocking(write_end, not non_blocking)
        proc = subprocess.Popen(harness.WRAP + [harness.LAPMON, "-a", "-p"], stdin=subprocess.PIPE,
                                stdout=write_end, stderr=subprocess.DEVNULL,
                                env=sim.env(**NO_EXIT_PAUSE))
        os.close(write_end)
        chunks = []

        def read_slowly():
            while True:
                data = os.read(read_end, 512)
                if not data:
                    return
                chunks.append(data)
                time.sleep(0.002)

        reader = threading.Thread(target=read_slowly, daemon=True)
        reader.start()
        try:
            reads = lambda: [r for r in sim.log() if r["opcode"] == OP_TRACE_READ and r["status"] == 0]
            wait_until(lambda: len(reads()) == FRAMES, timeout=30)
            wait_until(lambda: len(stamps(b"".join(chunks).decode("latin-1"))) >= FRAMES, timeout=30)
            proc.stdin.write(b"9")
            proc.stdin.close()
            proc.wait(10)
            reader.join(10)
            os.close(read_end)
            return proc.returncode, b"".join(chunks).decode("latin-1")
        finally:
            kill_quietly(proc)


class NonBlockingOutput(unittest.TestCase):
    maxDiff = None

    def test_slow_reader_of_a_non_blocking_pipe_gets_everything(self):
        if harness.WINE:
            wine_rig.cannot_express("non-blocking-output", "a non-blocking standard output")
        status, out = trace_into_pipe(non_blocking=True)
        self.assertEqual(status, 0)
        self.assertEqual([ms for ms, _, _ in stamps(out)], list(range(FRAMES)))
        # Text for text what a blocking pipe gets.
        self.assertEqual(out, trace_into_pipe(non_blocking=False)[1])


if __name__ == "__main__":
    unittest.main()
