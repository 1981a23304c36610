# SPDX-License-Identifier: BSD-2-Clause
r"""What the harness does differently when the tools are the Windows programs run under Wine.

The rig (scripts/lib/wine_rig.sh) has made the Wine prefix (WINEPREFIX), keeps its wineserver
running and has installed brirelay.sys as one demand-start kernel service per device. Here:

- a device is present only while a Sim serves it: Sim starts brisim.exe on the pipe
  \\.\pipe\bri-DEVICE, then starts the device's relay service, and stops the service when it ends
  (so that "no driver" looks the same as on Linux: the device does not open);
- the registry export that a test hands to linestat (BRI_REGISTRY) is imported into Wine's real
  registry with regedit, after the RAS/TAPI key has been deleted;
- the system version that a test asks for (BRI_OS) is set as the program's Wine version
  (HKCU\Software\Wine\AppDefaults\<program>\Version): the rig starts with Windows NT 4.0 build
  1381 ("nt40"); other NT versions that Wine knows, Windows 95 when the case leaves its numbers
  open, and an unsupported system (Win32s, platform id 0) are set for the run; Windows 95 with
  given numbers and a failing version query Wine cannot report.

What Wine cannot express is refused through cannot_express(): the runner (runner.py) lists each
such case with its reason and turns it into a reported skip; outside the runner it is an error.
Wine's own output goes to files, never through a pipe to another program.
"""

import hashlib
import os
import re
import signal
import subprocess
import sys
import unittest

# Filled by the runner: kind -> why Wine cannot express it.
EXCEPTIONS = {}

RAS_KEY = r"HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\RAS\Tapi Devices\TESSIX"

# NT versions as BRI_OS gives them -> Wine's name for that version.
NT_VERSIONS = {
    "4.0.1381": "nt40",
    "5.0.2195": "win2k",
    "5.1.2600": "winxp",
    "5.2.3790": "win2003",
    "6.0.6002": "vista",
    "6.1.7601": "win7",
    "6.2.9200": "win8",
    "6.3.9600": "win81",
}
RIG_VERSION = "nt40"       # what the rig sets for lapmon.exe and linestat.exe
UNSUPPORTED_SYSTEM = "win31"  # Win32s: platform id 0
WINDOWS_95 = "win95"          # platform id 1, with Wine's own numbers (4.0.950)


class NotExpressible(AssertionError):
    """A case that Wine cannot express and that the runner does not list."""


def cannot_express(kind, what):
    reason = EXCEPTIONS.get(kind)
    if reason is None:
        raise NotExpressible("Wine cannot express %s (%s); list it in tests/e2e/runner.py" % (what, kind))
    raise unittest.SkipTest("under Wine: %s" % reason)


def win_path(path):
    """A path of this machine as the Windows programs see it (drive Z: is the root folder)."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def prefix():
    value = os.environ.get("WINEPREFIX")
    if not value:
        raise RuntimeError("BRI_WRAP names Wine but WINEPREFIX is not set: start the suite through the rig")
    return value


def service_name(device):
    return "BriRelay_" + re.sub(r"[^A-Za-z0-9]", "_", device)


def _wine(wrap, args, what, timeout=60):
    """Runs a Wine tool with its output in a file of the prefix; returns (status, output)."""
    out_path = os.path.join(prefix(), "bri-last-command.out")
    with open(out_path, "wb") as out:
        status = subprocess.run(wrap + args, stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT,
                                timeout=timeout).returncode
    with open(out_path, "rb") as f:
        text = f.read().decode("latin-1")
    return status, text


def _state(name):
    path = os.path.join(prefix(), "bri-state-" + name)
    try:
        with open(path) as f:
            return f.read()
    except OSError:
        return None


def _set_state(name, value):
    with open(os.path.join(prefix(), "bri-state-" + name), "w") as f:
        f.write(value)


def _installed(wrap, device):
    """Installs the relay service for a device the rig did not install (its Parameters name it)."""
    if device in (_state("devices") or "").split("\n"):
        return
    service = service_name(device)
    status, text = _wine(wrap, ["sc", "create", service, "type=", "kernel", "start=", "demand", "error=", "normal",
                                "binPath=", r"C:\windows\system32\drivers\brirelay.sys"], "sc create")
    if status != 0 and "exists" not in text:
        raise RuntimeError("cannot install the relay for %s: %s" % (device, text))
    key = r"HKLM\System\CurrentControlSet\Services\%s\Parameters" % service
    status, text = _wine(wrap, ["reg", "add", key, "/v", "DeviceName", "/t", "REG_SZ", "/d", device, "/f"], "reg add")
    if status != 0:
        raise RuntimeError("cannot set the relay's device name for %s: %s" % (device, text))
    _set_state("devices", (_state("devices") or "") + "\n" + device)


def set_relay_pending(wrap, device, ms):
    """Makes the device's relay pend every request and relay it ms milliseconds later (None: as it
    comes). The relay reads it when its service starts, that is when the next Sim starts."""
    _installed(wrap, device)
    key = r"HKLM\System\CurrentControlSet\Services\%s\Parameters" % service_name(device)
    if ms is None:
        args = ["reg", "delete", key, "/v", "PendMs", "/f"]
    else:
        args = ["reg", "add", key, "/v", "PendMs", "/t", "REG_DWORD", "/d", str(ms), "/f"]
    status, text = _wine(wrap, args, "reg")
    if status != 0 and ms is not None:
        raise RuntimeError("cannot set the relay's pending time for %s: %s" % (device, text))


# What net.exe says when the service did start or stop. Its exit status alone is not enough: now
# and then Wine's net.exe has started the service, said so, and then failed at its own exit
# ("Inconsistency detected by ld.so: dl-fini.c ... _dl_fini: Assertion ... failed!").
NET_STARTED = ("was started successfully", "already")
NET_STOPPED = ("was stopped successfully", "not active")


def _net(wrap, verb, device, done_words):
    """net start/stop of the device's relay; (whether it was done, what net said). Now and then
    Wine has failed to start net.exe at all ("Application could not be started"):
    a try that did not get it done is said on standard error and made again, 3 tries in all."""
    for attempt in range(1, 4):
        status, text = _wine(wrap, ["net", verb, service_name(device)], "net " + verb)
        if status == 0 or any(words in text for words in done_words):
            return True, text
        if attempt < 3:
            print("wine rig: net %s %s: %s; trying again" % (verb, service_name(device), " ".join(text.split())),
                  file=sys.stderr, flush=True)
    return False, text


def device_up(wrap, device):
    _installed(wrap, device)
    done, text = _net(wrap, "start", device, NET_STARTED)
    if not done:
        raise RuntimeError("relay for %s did not start: %s" % (device, text))


def device_down(wrap, device):
    """Stops the device's relay service. A relay left running would keep the device present for
    the next case, which expects it gone unless a simulator serves it: that is said here."""
    done, text = _net(wrap, "stop", device, NET_STOPPED)
    if not done:
        raise RuntimeError("relay for %s did not stop (%s): %s" % (device, relay_state(wrap, device),
                                                                    " ".join(text.split())))


def relay_state(wrap, device):
    """The relay service's state as the service manager reports it (RUNNING, STOPPED, ...), or
    what went wrong asking."""
    try:
        status, text = _wine(wrap, ["sc", "query", service_name(device)], "sc query", timeout=30)
    except subprocess.TimeoutExpired:
        return "unknown (sc query did not answer within 30 s)"
    match = re.search(r"STATE\s*:\s*\d+\s+(\w+)", text)
    if match:
        return match.group(1)
    return "unknown (sc query, status %d: %s)" % (status, " ".join(text.split())[:200] or "no output")


def programs_running(name):
    """The processes of this prefix that run the program name (a file name such as brisim.exe),
    as (pid, command line); read from /proc, so that it works whatever state Wine is in."""
    found = []
    here = os.path.realpath(prefix())
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/cmdline" % entry, "rb") as f:
                args = [a.decode(errors="replace") for a in f.read().split(b"\0") if a]
            if not any(os.path.basename(a.replace("\\", "/")).lower() == name.lower() for a in args):
                continue
            with open("/proc/%s/environ" % entry, "rb") as f:
                env = dict(v.split(b"=", 1) for v in f.read().split(b"\0") if b"=" in v)
        except OSError:
            continue  # ended meanwhile, or not ours to read
        if os.path.realpath(env.get(b"WINEPREFIX", b"").decode(errors="replace")) == here:
            found.append((int(entry), " ".join(args)))
    return sorted(found)


def describe_status(status):
    """A Wine program's exit status as the harness sees it, in words."""
    if status is None:
        return "still running"
    if status < 0:
        try:
            name = signal.Signals(-status).name
        except ValueError:
            name = "signal %d" % -status
        return "killed by %s" % name
    return "exit status %d" % status


def wine_version(env):
    """Wine's name of the version that BRI_OS asks for."""
    value = env.get("BRI_OS", "nt")
    system, _, numbers = value.partition(":")
    if system == "nt":
        if not numbers:
            return RIG_VERSION
        if numbers in NT_VERSIONS:
            return NT_VERSIONS[numbers]
        cannot_express("nt-version", "BRI_OS=%s" % value)
    if system == "other":
        return UNSUPPORTED_SYSTEM
    if system == "95":
        if not numbers:
            return WINDOWS_95
        cannot_express("windows-95", "BRI_OS=%s" % value)
    cannot_express("version-query", "BRI_OS=%s" % value)


def apply_version(wrap, program, env):
    _set_version(wrap, os.path.basename(program), wine_version(env))


def restore_versions(wrap):
    """Puts back the rig's version for every program that a case gave another one, so that a
    program started without the harness (on a terminal, say) sees the rig's version."""
    for entry in os.listdir(prefix()):
        if entry.startswith("bri-state-version-"):
            _set_version(wrap, entry[len("bri-state-version-"):], RIG_VERSION)


def _set_version(wrap, name, version):
    if (_state("version-" + name) or RIG_VERSION) == version:
        return
    key = r"HKCU\Software\Wine\AppDefaults\%s" % name
    status, text = _wine(wrap, ["reg", "add", key, "/v", "Version", "/t", "REG_SZ", "/d", version, "/f"], "reg add")
    if status != 0:
        raise RuntimeError("cannot set Wine's version for %s: %s" % (name, text))
    _set_state("version-" + name, version)


def apply_registry(wrap, env):
    """Makes Wine's RAS/TAPI key hold what the test's registry export says (nothing when none)."""
    path = env.get("BRI_REGISTRY")
    data = b""
    if path and os.path.isfile(path):
        with open(path, "rb") as f:
            data = f.read()
    digest = hashlib.sha256(data).hexdigest() + (":file" if data else ":none")
    if _state("registry") == digest:
        return
    cleaner = os.path.join(prefix(), "bri-clear-ras.reg")
    with open(cleaner, "w", newline="") as f:
        f.write("REGEDIT4\r\n\r\n[-%s]\r\n" % RAS_KEY)
    _set_state("registry", "")
    status, text = _wine(wrap, ["regedit", "/S", win_path(cleaner)], "regedit")
    if status != 0:
        raise RuntimeError("regedit could not clear the RAS/TAPI key: %s" % text)
    if data:
        status, text = _wine(wrap, ["regedit", "/S", win_path(path)], "regedit")
        if status != 0:
            raise RuntimeError("regedit could not import %s: %s" % (path, text))
    _set_state("registry", digest)


def prepare(wrap, program, env):
    """Before a tool runs: the system version it will see and the registry it will read."""
    apply_version(wrap, program, env)
    apply_registry(wrap, env)
