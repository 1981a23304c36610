# SPDX-License-Identifier: BSD-2-Clause
"""Running check_bri against brisim for the end-to-end tests, and the scenarios it is tried on."""

import glob
import json
import os
import re
import shutil
import socket
import subprocess
import time

import harness
import wine_rig

CHECK_BRI = os.environ.get("BRI_CHECK_BRI", "check_bri")
HERE = os.path.dirname(os.path.abspath(__file__))
SCENARIO_DIR = os.path.join(HERE, "..", "..", "sim", "scenarios")
CORPUS_DIR = os.path.join(HERE, "..", "..", "fuzz", "corpus", "fuzz_area_record")
STATUS = {0: "OK", 1: "WARNING", 2: "CRITICAL", 3: "UNKNOWN"}


def scenario(name):
    with open(os.path.join(SCENARIO_DIR, name + ".json")) as f:
        return json.load(f)


def scenario_names():
    return sorted(os.path.splitext(os.path.basename(p))[0] for p in glob.glob(os.path.join(SCENARIO_DIR, "*.json")))


def check_bri(sim, *args, timeout=60, env=None):
    """(exit status, standard output, standard error, seconds taken) of one run."""
    started = time.monotonic()
    if env is None:
        env = sim.env() if sim else dict(os.environ, BRI_DEVICE_DIR="/nonexistent-bri-dir")
    proc = harness.run(CHECK_BRI, [str(a) for a in args], sim=None, env=env, timeout=timeout)
    # A Windows console program's lines may end in CRLF.
    return (proc.returncode, proc.stdout.decode("latin-1").replace("\r\n", "\n"),
            proc.stderr.decode("latin-1"),
            time.monotonic() - started)


def prom_path(path):
    """The metrics file's name as check_bri sees it (under Wine: a Windows path)."""
    return wine_rig.win_path(path) if harness.WINE else path


def first_line(out):
    return out.split("\n", 1)[0]


def perf_labels(out):
    """The perfdata labels of the status line, unquoted (a doubled quote read as one)."""
    perf = first_line(out).split(" | ", 1)[1]
    return [m.replace("''", "'") for m in re.findall(r"'((?:[^']|'')*)'=", perf)]


def area_record_params(path):
    """A fuzz corpus area record as a scenario area: its parameter bytes and params_len."""
    with open(path, "rb") as f:
        record = f.read().ljust(536, b"\0")[:536]
    length = int.from_bytes(record[532:536], "little", signed=True)
    return {"params_hex": record[20:532].hex(), "params_len": length}


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def which(program):
    return shutil.which(program) or (program if os.path.exists(program) else None)


def stop(proc):
    """Ends a process the test started, by its pid, and waits for it."""
    if proc.poll() is None:
        proc.terminate()
        try:
            proc.wait(10)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()
