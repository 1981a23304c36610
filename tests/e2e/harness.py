# SPDX-License-Identifier: BSD-2-Clause
"""Runs the real tools against brisim for the end-to-end tests.

Programs come from the environment that ctest sets: BRI_LAPMON, BRI_LINESTAT, BRI_BRISIM.
BRI_WRAP, when set, is a command put in front of the tools (for example "wine" for the Windows
build). Every simulator gets a fresh device folder of its own (BRI_DEVICE_DIR), so tests can run
side by side.

When BRI_WRAP names Wine, the programs are the .exe files: brisim.exe runs under Wine too, devices
come and go with the relay driver's services, and registry and system version go through Wine
(wine_rig.py says how; tests/e2e/runner.py runs the suite that way, in the rig's prefixes).
"""

import json
import os
import select
import shlex
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

import wine_rig

LAPMON = os.environ.get("BRI_LAPMON", "lapmon")
LINESTAT = os.environ.get("BRI_LINESTAT", "linestat")
BRISIM = os.environ.get("BRI_BRISIM", "brisim")
WRAP = shlex.split(os.environ.get("BRI_WRAP", ""))
WINE = bool(WRAP) and os.path.basename(WRAP[0]).startswith("wine")
# brisim.exe runs with Wine's error messages on (and nothing else of Wine's debug output).
WINE_ERRORS_ONLY = "-all,err+all"
# How much longer a tool may take to end under Wine than natively: there every request goes through
# the relay and the wineserver, and the end of a program takes its own round trips, each 50-100 ms
# on a loaded machine.
ENDING_SLACK = 1.5 if WINE else 0.0
# A brisim.exe that Wine ended before it ran is started again, this many times in all.
WINE_START_ATTEMPTS = 3


class Sim:
    """One brisim process serving a device folder; stopped when the with-block ends."""

    def __init__(self, scenario=None, devices=("TESSIX0",), extra_args=(), start=True):
        self.dir = tempfile.mkdtemp(prefix="bri-e2e-")
        self.log_path = os.path.join(self.dir, "brisim.log")
        self.scenario_path = None
        self.procs = []
        self.wine_devices = []
        if scenario is not None:
            self.scenario_path = os.path.join(self.dir, "scenario.json")
            with open(self.scenario_path, "w") as f:
                json.dump(scenario, f)
        self.devices = list(devices)
        self.extra_args = list(extra_args)
        if start:
            self.start()

    def start(self):
        try:
            self._start()
        except BaseException:
            # What did start is stopped again, so that it cannot hold a device of the next test.
            self.stop()
            raise

    def _start(self):
        if WINE:
            wine_rig.restore_versions(WRAP)
        for device in self.devices:
            if WINE:
                self._start_under_wine(device)
                continue
            args = [BRISIM, "--dir", self.dir, "--device", device, "--log", self.log_path]
            if self.scenario_path:
                args += ["--scenario", self.scenario_path]
            args += self.extra_args
            # brisim's standard error goes to a file: nobody reads it while the test runs, and a
            # pipe that fills up would stall the simulator.
            err_path = os.path.join(self.dir, "brisim-%s.err" % device)
            with open(err_path, "ab") as err:
                proc = subprocess.Popen(args, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                        stderr=err)
            self.procs.append(proc)
            sock = os.path.join(self.dir, device)
            # Ready once it says it listens (the socket file alone may be a stale one).
            deadline = time.monotonic() + 10
            line = b""
            while not line.endswith(b"\n"):
                if time.monotonic() > deadline:
                    raise RuntimeError("brisim did not start listening on %s" % sock)
                ready, _, _ = select.select([proc.stdout], [], [], 0.05)
                if ready:
                    chunk = os.read(proc.stdout.fileno(), 1)
                    if not chunk:
                        proc.wait()
                        with open(err_path, "rb") as f:
                            raise RuntimeError("brisim ended: %s" % f.read().decode(errors="replace"))
                    line += chunk

    def _start_under_wine(self, device):
        """brisim.exe on the device's pipe, then the relay service that makes the device appear."""
        for attempt in range(1, WINE_START_ATTEMPTS + 1):
            proc = self._launch_under_wine(device)
            deadline = time.monotonic() + 30
            while not _read(proc.bri_wine[1]).endswith(b"\n"):
                if proc.poll() is not None:
                    report = self._wine_report(proc, "ended before it listened")
                    if not self._ended_in_wine(proc) or attempt == WINE_START_ATTEMPTS:
                        raise RuntimeError(report)
                    # Wine's loader gave up before brisim.exe ran (brisim.exe says why whenever it
                    # ends early): said, and started again.
                    print(report + "; starting it again", file=sys.stderr, flush=True)
                    self.procs.remove(proc)
                    break
                if time.monotonic() > deadline:
                    raise RuntimeError(self._wine_report(proc, "did not start listening within 30 s"))
                time.sleep(0.05)
            else:
                break
        wine_rig.device_up(WRAP, device)
        self.wine_devices.append(device)

    def _launch_under_wine(self, device):
        args = WRAP + [BRISIM, "--device", device, "--log", wine_rig.win_path(self.log_path)]
        if self.scenario_path:
            args += ["--scenario", wine_rig.win_path(self.scenario_path)]
        args += self.extra_args
        out_path = os.path.join(self.dir, "brisim-%s.out" % device)
        err_path = os.path.join(self.dir, "brisim-%s.err" % device)
        # Wine's own error messages go to brisim.exe's standard error, to be read in a report.
        env = dict(os.environ, WINEDEBUG=WINE_ERRORS_ONLY)
        with open(out_path, "ab") as out, open(err_path, "ab") as err:
            proc = subprocess.Popen(args, stdin=subprocess.DEVNULL, stdout=out, stderr=err, env=env)
        proc.bri_wine = (device, out_path, err_path, time.monotonic(), os.path.getsize(err_path))
        self.procs.append(proc)
        return proc

    @staticmethod
    def _ended_in_wine(proc):
        """Whether a brisim.exe that ended before it listened never got to say anything itself:
        every early ending of brisim.exe writes a "brisim: " line."""
        _, out_path, err_path, _, err_from = proc.bri_wine
        said = _read(err_path)[err_from:]
        return not _read(out_path) and b"brisim: " not in said

    def _wine_report(self, proc, what):
        """How a brisim.exe stands: its exit status, what it wrote and the relay's state."""
        device, out_path, err_path, started, _ = proc.bri_wine
        others = [p for p in wine_rig.programs_running(os.path.basename(BRISIM)) if p[0] != proc.pid]
        return ("brisim.exe ended or failed for %s: it %s, %.1f s after it was started, with %s; "
                "standard error: %r; standard output: %r; relay %s: %s; other %s in this prefix: %s"
                % (device, what, time.monotonic() - started, wine_rig.describe_status(proc.poll()),
                   _read(err_path).decode(errors="replace"), _read(out_path).decode(errors="replace"),
                   wine_rig.service_name(device), wine_rig.relay_state(WRAP, device),
                   os.path.basename(BRISIM), ", ".join("pid %d: %s" % p for p in others) or "none"))

    def stop(self):
        # A simulator that ended by itself while the test ran explains what the test saw.
        for proc in self.procs:
            if WINE and proc.poll() is not None and hasattr(proc, "bri_wine"):
                print(self._wine_report(proc, "ended during the test"), file=sys.stderr, flush=True)
        failure = None
        for device in self.wine_devices:
            try:
                wine_rig.device_down(WRAP, device)
            except (RuntimeError, subprocess.TimeoutExpired) as e:
                failure = failure or e  # the simulators are still stopped; then it is said
        self.wine_devices = []
        if WINE:
            wine_rig.restore_versions(WRAP)
        for proc in self.procs:
            if proc.poll() is None and hasattr(proc, "bri_wine"):
                # Ctrl-C: brisim.exe closes its pipe itself and the pipe is gone once the process
                # is. A process killed from outside leaves its pipe for the wineserver to close a
                # moment later, and the next simulator of the device could still find it there.
                proc.send_signal(signal.SIGINT)
                try:
                    proc.wait(10)
                except subprocess.TimeoutExpired:
                    pass
            if proc.poll() is None:
                proc.terminate()
                try:
                    proc.wait(5)
                except subprocess.TimeoutExpired:
                    proc.kill()
                    proc.wait()
            for stream in (proc.stdout, proc.stderr):
                if stream:
                    stream.close()
        self.procs = []
        if failure is not None:
            raise failure

    def env(self, **extra):
        env = dict(os.environ)
        env["BRI_DEVICE_DIR"] = self.dir
        env.setdefault("TZ", "UTC")
        env["BRI_REGISTRY"] = extra.pop("registry", os.path.join(self.dir, "no-registry.reg"))
        env.update({k: str(v) for k, v in extra.items()})
        return env

    def log(self):
        """The requests brisim has received so far, one dict per request, in order."""
        if not os.path.exists(self.log_path):
            return []
        with open(self.log_path) as f:
            # A last line without its newline is still being written: it is left for next time.
            return [json.loads(line) for line in f if line.strip() and line.endswith("\n")]

    def requests(self, opcode=None):
        return [r for r in self.log() if opcode is None or r["opcode"] == opcode]

    def write_file(self, name, text):
        path = os.path.join(self.dir, name)
        with open(path, "w", newline="") as f:
            f.write(text)
        return path

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()
        shutil.rmtree(self.dir, ignore_errors=True)


def _read(path):
    try:
        with open(path, "rb") as f:
            return f.read()
    except OSError:
        return b""


def run(program, args, sim=None, input=b"", timeout=30, env=None, **env_extra):
    """Runs a tool to its end with the given standard input; returns the CompletedProcess."""
    if env is None:
        env = sim.env(**env_extra) if sim else dict(os.environ, **{k: str(v) for k, v in env_extra.items()})
    if WINE:
        wine_rig.prepare(WRAP, program, env)
    return subprocess.run(WRAP + [program] + list(args), input=input, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, env=env, timeout=timeout)


def start(program, args, sim=None, env=None, **env_extra):
    """Starts a tool with a pipe for standard input and output; the caller ends it."""
    if env is None:
        env = sim.env(**env_extra) if sim else dict(os.environ, **{k: str(v) for k, v in env_extra.items()})
    if WINE:
        wine_rig.prepare(WRAP, program, env)
    return subprocess.Popen(WRAP + [program] + list(args), stdin=subprocess.PIPE,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env)


# How many times its time limit a wait for the log may last in all while requests keep coming.
LOG_WAIT_CAP = 10


def wait_for_log(sim, predicate, timeout=10.0):
    """Waits until predicate(log) is true; returns the log.

    Fails when timeout seconds pass without a new request reaching brisim: a tool that stops
    asking has stalled. While requests keep coming the tool is making its way there, only slowly
    (a loaded machine, and under Wine every request crosses the relay driver and several Wine
    processes), so the wait goes on, up to LOG_WAIT_CAP times timeout in all."""
    started = time.monotonic()
    deadline = started + timeout
    seen, changed = 0, started
    while True:
        log = sim.log()
        if predicate(log):
            return log
        now = time.monotonic()
        if len(log) != seen:
            seen, changed = len(log), now
            deadline = min(now + timeout, started + LOG_WAIT_CAP * timeout)
        if now > deadline:
            raise AssertionError("brisim log never matched in %.1f s (%d requests, the last one %.1f s ago); "
                                 "last log: %r" % (now - started, seen, now - changed, log[-10:]))
        time.sleep(0.05)


def terminated_by(status, sig):
    """Whether an exit status is that of a process that sig ended by its default action. Under
    Wine, SIGINT is a Ctrl-C event whose default handler ends the process with status 0.

    Under Wine, a process ended that way (from the thread that Wine starts for the event) now and
    then does not leave soon enough once all its threads have ended, and wineserver kills it half a
    second later: SIGKILL, status -9. The program's own ending is done by then; a program that
    hangs keeps threads alive, is never killed that way and fails the test by its time limit."""
    if WINE:
        return sig == signal.SIGINT and status in (0, -signal.SIGKILL)
    return status == -sig


def needs_capture_reader(what):
    """Capture replays are not set up in the Wine rig (brisim.exe can read captures since it has
    the capture module, but the rig does not hand it capture files yet)."""
    if WINE:
        wine_rig.cannot_express("capture-files", what)


def interrupt(proc, sig=signal.SIGINT):
    # Under Wine SIGINT reaches the program as a Ctrl-C console event; nothing delivers Ctrl-Break.
    if WINE and sig != signal.SIGINT:
        wine_rig.cannot_express("ctrl-break", "signal %d" % sig)
    proc.send_signal(sig)
