# SPDX-License-Identifier: BSD-2-Clause
"""The relay driver (brirelay.sys) under Wine: raw requests from relay_probe.exe through the Win32
calls, the driver and brisim.exe's pipe. Runs only in the Wine rig (BRI_WRAP=wine)."""

import os
import signal
import subprocess
import time
import unittest

import harness
import lapmon_util
import wine_rig
from harness import Sim
from lapmon_util import OP_TRACE_DESTROY, OP_TRACE_READ, OP_TRACE_STATUS, count_at_least

PROBE = os.environ.get("BRI_RELAY_PROBE", "relay_probe.exe")
SCENARIO = {"lines": [{"name": "Tessix1 LINE1 (U)"}]}


def probe(*args, timeout=60):
    """relay_probe's lines, run to its end."""
    proc = subprocess.run(harness.WRAP + [PROBE] + [str(a) for a in args], stdin=subprocess.DEVNULL,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=timeout)
    return proc.stdout.decode("latin-1").split()


def outcome(words):
    """('ok', returned) or ('failed', untouched) of one probe line's words."""
    fields = dict(w.split("=", 1) for w in words[1:] if "=" in w)
    if words[0] == "ok":
        return ("ok", int(fields["returned"]))
    return ("failed", fields.get("untouched"))


def lines(out):
    result, current = [], []
    for word in out:
        if word in ("ok", "failed", "open") and current:
            result.append(current)
            current = []
        current.append(word)
    if current:
        result.append(current)
    return result


@unittest.skipUnless(harness.WINE, "the relay driver runs under Windows (Wine) only")
class Relay(unittest.TestCase):
    def test_requests_and_refusals(self):
        # (probe arguments, expected outcome, requests brisim logs)
        cases = [
            ((), ("ok", 262200), 1),
            (("--count", 3), ("ok", 262200), 3),
            (("--code", 0x160044), ("failed", "1"), 0),
            (("--size", 4096), ("failed", "1"), 0),
            (("--size", 262201), ("failed", "1"), 0),
        ]
        for args, expected, logged in cases:
            with self.subTest(args=args), Sim(SCENARIO) as sim:
                got = [outcome(l) for l in lines(probe("TESSIX0", *args))]
                self.assertEqual(got, [expected] * (args[1] if args and args[0] == "--count" else 1))
                log = harness.wait_for_log(sim, lambda l: len(l) >= logged)
                self.assertEqual(len(log), logged)
                # One connection per opened handle; the enumeration reached the simulated device.
                self.assertTrue(all(r["conn"] == 1 and r["status"] == 0 and r["in_len"] == 262200 for r in log))

    def test_reply_fills_the_block_as_brisim_answered(self):
        with Sim(SCENARIO):
            words = lines(probe("TESSIX0", "--fill", 0))[0]
        # The reply starts as the request; the enumeration changes the Status-free fields it fills.
        self.assertEqual(words[0], "ok")
        self.assertIn("status=0", words)
        self.assertNotIn("changed=0", words)

    def test_simulator_gone_fails_untouched_and_comes_back_after_restart(self):
        with Sim(SCENARIO) as sim:
            for proc in sim.procs:
                proc.terminate()
                proc.wait()
            # The device is still there; with nothing behind the pipe the request fails and leaves
            # the caller's block alone. Meanwhile a new simulator starts; the next requests reach it.
            proc = subprocess.Popen(harness.WRAP + [PROBE, "TESSIX0", "--count", "3", "--hold", "4000"],
                                    stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
            time.sleep(1.5)
            sim._start_under_wine("TESSIX0")
            out, _ = proc.communicate(timeout=60)
            got = [outcome(l) for l in lines(out.decode().split())]
            self.assertEqual(got, [("failed", "1"), ("ok", 262200), ("ok", 262200)])
            # Each request went out once, on one fresh connection.
            log = harness.wait_for_log(sim, lambda l: len(l) >= 2)
            self.assertEqual([(r["conn"], r["opcode"]) for r in log], [(1, 0x101), (1, 0x101)])

    def test_silent_server_fails_the_request_in_time_and_frees_the_device(self):
        out_path = os.path.join(wine_rig.prefix(), "bri-silent.out")
        with open(out_path, "wb") as out:
            silent = subprocess.Popen(harness.WRAP + [PROBE, "--serve-silent", "bri-TESSIX0", "30"],
                                      stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT)
        try:
            deadline = time.monotonic() + 30
            while b"listening" not in open(out_path, "rb").read():
                self.assertLess(time.monotonic(), deadline, "the silent server did not start")
                time.sleep(0.05)
            wine_rig.device_up(harness.WRAP, "TESSIX0")
            started = time.monotonic()
            got = [outcome(l) for l in lines(probe("TESSIX0"))]
            took = time.monotonic() - started
            self.assertEqual(got, [("failed", "1")])
            self.assertGreater(took, 4.0)
            self.assertLess(took, 20.0)
        finally:
            wine_rig.device_down(harness.WRAP, "TESSIX0")
            silent.terminate()
            silent.wait()
        # The device serves again as soon as a simulator answers.
        with Sim(SCENARIO):
            self.assertEqual([outcome(l) for l in lines(probe("TESSIX0"))], [("ok", 262200)])

    def test_two_devices_at_once(self):
        with Sim(SCENARIO, devices=("TESSIX0", "Quorlink")) as sim:
            for device in ("TESSIX0", "Quorlink"):
                self.assertEqual([outcome(l) for l in lines(probe(device))], [("ok", 262200)], device)
            harness.wait_for_log(sim, lambda l: len(l) >= 2)
        # Without a simulator the devices are gone, as when no driver is installed.
        self.assertEqual(probe("Quorlink")[:2], ["open", "failed"])

    def test_brisim_exe_keeps_its_pipe_and_ends_on_ctrl_c(self):
        with Sim(SCENARIO) as sim:
            # A second simulator for the same device leaves the first one alone.
            second = subprocess.run(harness.WRAP + [harness.BRISIM, "--device", "TESSIX0"],
                                    stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                    stderr=subprocess.PIPE, timeout=30)
            self.assertEqual(second.returncode, 1)
            self.assertIn(b"already listens", second.stderr)
            self.assertEqual([outcome(l) for l in lines(probe("TESSIX0"))], [("ok", 262200)])
            # Ctrl-C ends it with status 0, also with a connection open.
            holder = subprocess.Popen(harness.WRAP + [PROBE, "TESSIX0", "--count", "2", "--hold", "3000"],
                                      stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
            harness.wait_for_log(sim, lambda l: len(l) >= 2)
            proc = sim.procs[0]
            proc.send_signal(signal.SIGINT)
            self.assertEqual(proc.wait(15), 0)
            out, _ = holder.communicate(timeout=30)
            self.assertEqual([outcome(l) for l in lines(out.decode().split())], [("ok", 262200), ("failed", "1")])


@unittest.skipUnless(harness.WINE, "the relay driver runs under Windows (Wine) only")
class PendedRequests(unittest.TestCase):
    """A driver may pend a request and complete it later, from another thread: the tools open the
    device for overlapped I/O, so each call must wait for that completion before it reads the
    reply or lets go of the block. The relay pends every request for PendMs here."""

    def pended(self, ms):
        wine_rig.set_relay_pending(harness.WRAP, "TESSIX0", ms)
        self.addCleanup(wine_rig.set_relay_pending, harness.WRAP, "TESSIX0", None)

    def test_linestat_reports_as_with_a_driver_that_answers_at_once(self):
        sc = {"lines": [{"name": "Tessix1 LINE%d (S/T)" % i, "handle": 0x1001 + i} for i in range(2)]}
        with Sim(sc) as sim:
            at_once = harness.run(harness.LINESTAT, ["-v"], sim, timeout=120)
        self.assertEqual(at_once.returncode, 0, at_once.stdout)
        self.pended(150)
        with Sim(sc) as sim:
            pended = harness.run(harness.LINESTAT, ["-v"], sim, timeout=120)
        self.assertEqual(pended.stdout, at_once.stdout)
        self.assertEqual(pended.returncode, 0)

    def test_lapmon_traces_and_tears_down(self):
        self.pended(100)
        frames = [lapmon_util.frame(i, at_ms=200 * i) for i in range(3)]
        with Sim(lapmon_util.scenario(lapmon_util.line("L0", 0x1001, frames))) as sim:
            proc = lapmon_util.start_lapmon(["-a", "-raw"], sim)
            try:
                harness.wait_for_log(sim, count_at_least(OP_TRACE_READ, 3), timeout=60)
                harness.wait_for_log(sim, count_at_least(OP_TRACE_STATUS, 2), timeout=60)
                status, out = lapmon_util.stop_with_nine(proc, timeout=60)
            finally:
                lapmon_util.kill_quietly(proc)
            self.assertEqual(status, 0, out)
            self.assertEqual(len(lapmon_util.stamps(out)), 3, out)
            log = harness.wait_for_log(sim, count_at_least(OP_TRACE_DESTROY, 1))
            self.assertEqual([r["opcode"] for r in log].count(OP_TRACE_DESTROY), 1)

    def test_ctrl_c_ends_a_pended_request(self):
        # Every request is relayed 8 s late. Ctrl-C comes while a poll is pended: the handler's
        # teardown cannot get the device, so its watchdog closes the handle (1.5 s), which cancels
        # the pended poll. lapmon then ends long before the relay would have completed it, and
        # the cancelled poll never reaches brisim.
        self.pended(8000)
        with Sim(lapmon_util.scenario(lapmon_util.line("L0", 0x1001))) as sim:
            proc = lapmon_util.start_lapmon(["-a"], sim)
            try:
                harness.wait_for_log(sim, count_at_least(OP_TRACE_STATUS, 1), timeout=90)
                time.sleep(2.0)  # the next poll is pended by now
                polls = len(sim.requests(OP_TRACE_STATUS))
                interrupted = time.monotonic()
                harness.interrupt(proc, signal.SIGINT)
                proc.wait(30)
                took = time.monotonic() - interrupted
                lapmon_util.finish(proc)
            finally:
                lapmon_util.kill_quietly(proc)
            self.assertLess(took, 6.0)
            time.sleep(8.0)  # what the relay still had would have reached brisim by now
            self.assertEqual(len(sim.requests(OP_TRACE_STATUS)), polls)


if __name__ == "__main__":
    unittest.main()
