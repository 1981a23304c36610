#!/usr/bin/env python3
# SPDX-License-Identifier: BSD-2-Clause
"""What one check_bri run costs beyond starting the process: brisim with N lines, each with all
eight areas ready on the first poll (the built-in scenario's areas), check_bri run again and again,
its wall time against that of `check_bri -V` (start and end of the same program, no driver work).
Also the peak memory of the runs, for 1 and for N lines.

    bench/check_bri_bench.py BUILD_DIR [--lines 20] [--runs 50]
"""

import argparse
import json
import os
import statistics
import subprocess
import sys
import tempfile
import time


def scenario(lines):
    out = subprocess.run([BRISIM, "--print-default-scenario"], stdout=subprocess.PIPE, check=True).stdout
    areas = json.loads(out)["lines"][0]["areas"]
    return {"lines": [{"name": "Tessix1 LINE%d" % (i + 1), "areas": areas} for i in range(lines)]}


def timed(args, env, runs):
    """Wall seconds of each run, and the peak resident set of the largest one (KiB)."""
    times = []
    for _ in range(runs):
        started = time.perf_counter()
        proc = subprocess.run(args, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        times.append(time.perf_counter() - started)
        if proc.returncode != 0:
            sys.exit("%s ended with %d" % (args, proc.returncode))
    # The peak memory from one more run under time(1): a child of Python would count Python's own
    # pages from before its exec.
    measured = subprocess.run(["/usr/bin/time", "-f", "%M"] + args, env=env, stdout=subprocess.DEVNULL,
                              stderr=subprocess.PIPE)
    return times, int(measured.stderr.decode().split()[-1])


def summary(times):
    times = sorted(times)
    return statistics.median(times) * 1000, times[int(len(times) * 0.95) - 1] * 1000


def main():
    global BRISIM
    parser = argparse.ArgumentParser()
    parser.add_argument("build")
    parser.add_argument("--lines", type=int, default=20)
    parser.add_argument("--runs", type=int, default=50)
    a = parser.parse_args()
    BRISIM = os.path.join(a.build, "sim", "brisim")
    check = os.path.join(a.build, "src", "check_bri", "check_bri")
    for lines in (1, a.lines):
        with tempfile.TemporaryDirectory() as d:
            path = os.path.join(d, "scenario.json")
            with open(path, "w") as f:
                json.dump(scenario(lines), f)
            sim = subprocess.Popen([BRISIM, "--dir", d, "--scenario", path], stdout=subprocess.PIPE,
                                   stderr=subprocess.DEVNULL)
            try:
                sim.stdout.readline()  # "brisim: listening on ..."
                env = dict(os.environ, BRI_DEVICE_DIR=d, BRI_REGISTRY=os.path.join(d, "none.reg"))
                prom = os.path.join(d, "bri.prom")
                start = timed([check, "-V"], env, a.runs)
                plain = timed([check], env, a.runs)
                with_file = timed([check, "--prometheus", prom], env, a.runs)
                # The run's own measure, from its start to the metrics written.
                inside = []
                for _ in range(a.runs):
                    subprocess.run([check, "--prometheus", prom], env=env, stdout=subprocess.DEVNULL, check=True)
                    with open(prom) as f:
                        inside += [float(l.split()[1]) for l in f if l.startswith("bri_scrape_duration_seconds ")]
            finally:
                sim.terminate()
                sim.wait()
        peak = max(plain[1], with_file[1])
        s, p, w = summary(start[0]), summary(plain[0]), summary(with_file[0])
        print("%2d lines x 8 areas: process start (check_bri -V) median %.1f ms; check_bri median %.1f ms "
              "(p95 %.1f), beyond start %.1f ms; with --prometheus median %.1f ms (p95 %.1f), beyond start "
              "%.1f ms; bri_scrape_duration_seconds median %.1f ms (p95 %.1f); check_bri peak RSS %d KiB"
              % (lines, s[0], p[0], p[1], p[0] - s[0], w[0], w[1], w[0] - s[0], *summary(inside), peak))


if __name__ == "__main__":
    main()
