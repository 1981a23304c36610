# SPDX-License-Identifier: BSD-2-Clause
"""Helpers for the linestat end-to-end tests: exact texts, scenarios and registry files."""

from harness import LINESTAT, run

NT_VERSION = "nt:4.0.1381"
W95_VERSION = "95:4.10.1998"

USAGE = ("\nUsage: linestat       (default)\n"
         "       linestat -v    (default verbose)\n"
         "       linestat -a    (dump of all areas)\n"
         "       linestat -ax   (x is any valid area: 1, 2, 3, 10, 11, 12, 21, 22)\n"
         "       linestat -h    (print this screen)\n")

HINT = "\nRun linestat -v for more information!\nOr, use -h for more info\n"

RAS_KEY = r"HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\RAS\Tapi Devices\TESSIX"

ALL_AREAS = [1, 2, 3, 10, 11, 12, 21, 22]


def banner(system="NT", version="4.0", build="1381"):
    return ("linestat - Version  2.51\n"
            "Copyright (C) The bri-tools authors. All rights reserved.\n"
            "OS = Windows %s  Version: %s   Build:%s \n" % (system, version, build))


def linestat(sim, *args, bri_os=NT_VERSION, **env):
    """Runs linestat to its end; returns (exit status, standard output as text)."""
    proc = run(LINESTAT, list(args), sim=sim, BRI_OS=bri_os, **env)
    return proc.returncode, proc.stdout.decode("latin-1")


def word(pid, value):
    return {"id": pid, "type": 0, "value": value}


def area1(tx=2, rx=2):
    return {"params": [word(100, tx), word(101, rx)]}


def area2(lap_state=7):
    """Three 2-byte parameters before "Lap_State", as the driver lists them."""
    return {"params": [word(200, 1), word(201, 0), word(202, 64), word(203, lap_state)]}


def area3(state=4, service=2, spid="0123456789"):
    return {"params": [word(300, state), word(301, 64), word(302, 1),
                       {"id": 303, "type": 8, "value": spid}, word(304, 128), word(305, 1),
                       word(306, service)]}


def quiet_areas(tx=2, rx=2, lap_state=7, state=4, service=2, spid="0123456789"):
    """All eight areas, ready at once; areas 1 to 3 with the given layer values."""
    areas = {"1": area1(tx, rx), "2": area2(lap_state), "3": area3(state, service, spid)}
    for number in (10, 11, 12, 21, 22):
        areas[str(number)] = {"params": [word(number * 100, 0)]}
    return areas


def multi_string_hex(entries):
    """A REGEDIT4 hex(7) value: single-byte entries with their NULs, then the closing NUL."""
    data = b"".join(e.encode("latin-1") + b"\0" for e in entries) + b"\0"
    return ",".join("%02x" % b for b in data)


def registry_text(address=None, friendly=None, usage=None, key=RAS_KEY):
    """A REGEDIT4 export holding whichever of the three values are given."""
    lines = ["REGEDIT4", "", "[%s]" % key]
    for name, entries in (("Address", address), ("Friendly Name", friendly), ("Usage", usage)):
        if entries is not None:
            lines.append('"%s"=hex(7):%s' % (name, multi_string_hex(entries)))
    return "\r\n".join(lines) + "\r\n"


def area_requests(sim):
    """The area numbers of the area requests brisim received, in order."""
    return [r["parameter"] for r in sim.requests() if r["name"] == "OP_AREA_REQUEST"]


def ras_lines(output):
    """(friendly name, usage) of each RASInfo line, in order."""
    prefix = "RASInfo Friendly Name: "
    found = []
    for line in output.split("\n"):
        if line.startswith(prefix):
            friendly, _, usage = line[len(prefix):].partition(" Usage: ")
            found.append((friendly, usage))
    return found
