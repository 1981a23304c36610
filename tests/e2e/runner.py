# SPDX-License-Identifier: BSD-2-Clause
"""Runs the end-to-end suite (tests/e2e/test_*.py), natively or with the Windows programs under Wine.

    runner.py [--jobs N] [--prefix DIR ...] [MODULE ...]

The programs and the wrapper come from the environment as for the harness (BRI_LAPMON,
BRI_LINESTAT, BRI_BRISIM, BRI_WRAP). Under Wine (BRI_WRAP=wine) every --prefix is a Wine prefix
made by the rig (scripts/lib/wine_rig.sh); a prefix runs one test module at a time, since its
devices and registry are shared by everything that runs in it, and the modules are spread over
the prefixes. The cases that Wine cannot express are listed below with the reason; they are
reported as skipped, never dropped silently, and a case that needs one of them but is not listed
fails. Exit status 0 when every module passed.
"""

import argparse
import glob
import json
import os
import queue
import subprocess
import sys
import threading
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))

# What Wine cannot express, by kind (raised by wine_rig.cannot_express from the harness).
WINE_EXCEPTIONS = {
    "windows-95": "Windows 95 with given version numbers: Wine reports a Windows 9x system only "
                  "with its own numbers (such as 4.0.950, the version packed into the build "
                  "number's high word), never the 95:MAJOR.MINOR.BUILD the case asks for",
    "nt-version": "an NT version that Wine has no setting for",
    "version-query": "a failing version query: Wine always answers GetVersionExA",
    "capture-files": "capture files: brisim.exe reads them (the capture module is built into it), but "
                     "the Wine rig does not hand it capture files yet, so the replay cases run on Linux",
    "ctrl-break": "Ctrl-Break: nothing delivers it to a program under Wine (SIGQUIT ends the "
                  "process at once, or is lost on a terminal, without a console control event), "
                  "and the tests share no console with the program to raise one",
    "job-control": "job control (Ctrl-Z, fg, a job in the background): a Windows console has no "
                   "process groups, SIGTSTP or SIGCONT, and Wine hands the program none of them",
    "closed-descriptors": "a standard descriptor closed at start: Wine's loader runs before the "
                          "program and chooses its standard handles itself, so the program never "
                          "meets the closed descriptor (the Windows case, an invalid standard "
                          "handle, cannot be handed to a program from outside Wine)",
    "non-blocking-output": "a non-blocking standard output: O_NONBLOCK belongs to a Unix "
                           "descriptor, which a Windows program does not see; Wine's own pipe "
                           "writes decide what happens with it",
    "os-setting": "BRI_OS values that are not understood: BRI_OS is read by the Linux platform "
                  "layer; under Wine the system comes from Wine's version setting, which has "
                  "no such value",
}

# Whole tests that do not apply under Wine, by test id prefix, with the reason.
WINE_EXCLUDED_TESTS = {
    "test_brisim.": "brisim's own tests talk to its Unix socket directly; under Wine the tools reach "
                    "brisim.exe through the relay driver (test_relay covers that path)",
    "test_lapmon_faults.": "the fault rules spoil brisim's replies on the device transport; under Wine the "
                           "relay driver stands between brisim.exe and the tool, and what a spoilt reply "
                           "becomes there is the relay's doing (not examined yet)",
    "test_linestat_faults.": "as test_lapmon_faults: the relay driver stands between the fault and the tool "
                             "(and a standard output that cannot be written goes through Wine's own file "
                             "handling, not examined yet)",
    "test_lapmon_stalled.": "a standard output pipe that nobody reads, or whose reader went away, stalls "
                            "or fails the program through Wine's own console and pipe handling (not "
                            "examined yet)",
}


def modules(selected):
    if selected:
        return [m[:-3] if m.endswith(".py") else m for m in selected]
    return sorted(os.path.basename(p)[:-3] for p in glob.glob(os.path.join(HERE, "test_*.py")))


def iterate(suite):
    for item in suite:
        if isinstance(item, unittest.TestSuite):
            yield from iterate(item)
        else:
            yield item


class SkipRecorder(unittest.TextTestResult):
    """Keeps every skip (also of subtests) with its reason, for the summary."""

    def __init__(self, *args, **kwargs):
        super().__init__(*args, **kwargs)
        self.recorded = []

    def addSkip(self, test, reason):
        super().addSkip(test, reason)
        self.recorded.append((test.id(), reason))  # a subtest's id carries its parameters


def run_module(name, summary_path):
    """Worker: runs one module in this process and writes its skips to summary_path."""
    sys.path.insert(0, HERE)
    import harness
    import wine_rig
    wine_rig.EXCEPTIONS.update(WINE_EXCEPTIONS)
    suite = unittest.defaultTestLoader.loadTestsFromName(name)
    if harness.WINE:
        kept = unittest.TestSuite()
        for test in iterate(suite):
            reason = next((r for p, r in WINE_EXCLUDED_TESTS.items() if test.id().startswith(p)), None)
            if reason is not None:
                setattr(test, test._testMethodName, unittest.skip("under Wine: " + reason)(lambda *a: None))
            kept.addTest(test)
        suite = kept
    runner = unittest.TextTestRunner(stream=sys.stdout, verbosity=2, resultclass=SkipRecorder)
    result = runner.run(suite)
    with open(summary_path, "w") as f:
        json.dump({"skips": result.recorded, "ok": result.wasSuccessful(), "run": result.testsRun}, f)
    return 0 if result.wasSuccessful() else 1


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--jobs", type=int, default=1, help="modules run at once without Wine")
    parser.add_argument("--prefix", action="append", default=[], help="a Wine prefix made by the rig")
    parser.add_argument("--out", default=None, help="folder for each module's output (default: a temporary one)")
    parser.add_argument("--worker", default=None, help=argparse.SUPPRESS)
    parser.add_argument("--summary", default=None, help=argparse.SUPPRESS)
    parser.add_argument("modules", nargs="*")
    args = parser.parse_args()
    if args.worker:
        return run_module(args.worker, args.summary)

    # The worker runs in this folder: programs named relative to the caller's folder are made absolute.
    for var in ("BRI_LAPMON", "BRI_LINESTAT", "BRI_CHECK_BRI", "BRI_BRISIM", "BRI_RELAY_PROBE"):
        if os.environ.get(var) and os.path.exists(os.environ[var]):
            os.environ[var] = os.path.abspath(os.environ[var])
    wrap = (os.environ.get("BRI_WRAP") or "").split()
    wine = bool(wrap) and os.path.basename(wrap[0]).startswith("wine")
    if wine and not args.prefix:
        parser.error("under Wine at least one --prefix made by the rig is needed")
    slots = queue.Queue()
    for slot in (args.prefix if wine else [None] * max(1, args.jobs)):
        slots.put(slot)
    out_dir = args.out or os.path.join(os.environ.get("TMPDIR", "/tmp"), "bri-e2e-runner-%d" % os.getpid())
    os.makedirs(out_dir, exist_ok=True)

    names = modules(args.modules)
    results = {}
    lock = threading.Lock()

    def work(name):
        slot = slots.get()
        try:
            env = dict(os.environ, PYTHONDONTWRITEBYTECODE="1")
            if slot:
                env["WINEPREFIX"] = slot
            log_path = os.path.join(out_dir, name + ".log")
            summary_path = os.path.join(out_dir, name + ".json")
            started = time.monotonic()
            with open(log_path, "wb") as log:
                status = subprocess.run([sys.executable, os.path.abspath(__file__), "--worker", name,
                                         "--summary", summary_path], cwd=HERE, env=env,
                                        stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT,
                                        timeout=900).returncode
            took = time.monotonic() - started
            summary = {"skips": [], "run": 0}
            if os.path.exists(summary_path):
                with open(summary_path) as f:
                    summary = json.load(f)
            with lock:
                results[name] = (status, summary)
                print("%-28s %s  %3d tests  %5.1f s" % (name, "ok  " if status == 0 else "FAIL",
                                                         summary["run"], took), flush=True)
                if status != 0:
                    with open(log_path, "rb") as f:
                        sys.stdout.write(f.read().decode(errors="replace"))
                    sys.stdout.flush()
        finally:
            slots.put(slot)

    threads = [threading.Thread(target=work, args=(n,)) for n in names]
    for t in threads:
        t.start()
    for t in threads:
        t.join()

    skips = [(s, name) for name in names for s in results.get(name, (1, {"skips": []}))[1]["skips"]]
    if skips:
        print("\nSkipped (%d), by reason:" % len(skips))
        reasons = {}
        for (test_id, reason), _ in skips:
            reasons.setdefault(reason, []).append(test_id)
        for reason, ids in reasons.items():
            print("  %s\n%s" % (reason, "".join("      %s\n" % i for i in ids)), end="")
    failed = [n for n in names if results.get(n, (1,))[0] != 0]
    print("\n%d modules, %d failed%s" % (len(names), len(failed), (": " + ", ".join(failed)) if failed else ""))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
