# SPDX-License-Identifier: BSD-2-Clause
"""Reads lapmon's decode and tshark's PDML of the same frames into comparable records, and
lapmon's output as it comes. The comparison itself is in test_tshark_crosscheck.py.
"""

import os
import re
import select
import time
import xml.etree.ElementTree as ET

NETWORK_INDENT = " " * 39

MESSAGE_TYPES = {
    "ESCAPE": 0x00, "ALERTING": 0x01, "CALL PROCEEDING": 0x02, "PROGRESS": 0x03, "SETUP": 0x05,
    "CONNECT": 0x07, "SETUP ACKNOWLEDGE": 0x0D, "CONNECT ACKNOWLEDGE": 0x0F, "USER INFORMATION": 0x20,
    "SUSPEND REJECT": 0x21, "RESUME REJECT": 0x22, "SUSPEND": 0x25, "RESUME": 0x26,
    "SUSPEND ACKNOWLEDGE": 0x2D, "RESUME ACKNOWLEDGE": 0x2E, "DISCONNECT": 0x45, "RESTART": 0x46,
    "RELEASE": 0x4D, "RESTART ACKNOWLEDGE": 0x4E, "RELEASE COMPLETE": 0x5A, "SEGMENT": 0x60,
    "FACILITY": 0x62, "NOTIFY": 0x6E, "STATUS ENQUIRY": 0x75, "CONGESTION CONTROL": 0x79,
    "INFORMATION": 0x7B, "STATUS": 0x7D, "AT&T-MIM": 0x80F7,
}
U_FRAMES = {"UI": 0x03, "DM": 0x0F, "DISC": 0x43, "UA": 0x63, "SABME": 0x6F, "FRMR": 0x87, "XID": 0xAF}
S_FRAMES = {"RR": 0, "RNR": 1, "REJ": 2, "?": 3}
TEI_MESSAGES = {"Id Req": 1, "Id Assign": 2, "Id Denied": 3, "Id Chk Req": 4, "Id Chk Rsp": 5, "Id Remove": 6}
LOCATIONS = {"User": 0, "Private Network Serving Local User": 1, "Public Network Serving Local User": 2,
             "Transit Network": 3, "Public Network Serving Remote User": 4,
             "Private Network Serving Remote User": 5, "International Network": 7,
             "Network Beyond Internetworking Point": 10}
# The cause values the capture uses; any other text fails the comparison until it is added here.
CAUSES = {"Normal Clearing": 16, "User Busy": 17, "Call Rejected": 21, "Response To Status Enquiry": 30,
          "Normal, Unspecified": 31, "Termporary Failure": 41, "Incompatible Destination": 88,
          "Invalid Information Element Contents": 100}

LOST = re.compile(r"^Lost -?\d+ Entries$")
STAMP = re.compile(r"^(?: {39})?\d\d:\d\d:\d\d:\d+ (.*) \(([TN])\)$")
ELEMENT = re.compile(r"^  \[(.{10})\] ([0-9A-F]{2})(?: \(([0-9A-F]{2})\)((?: [0-9a-f]{2})*))?$")


class Decoded:
    """One frame as lapmon showed it."""

    def __init__(self, line, direction):
        self.line = line
        self.direction = direction
        self.raw = []
        self.sapi = self.tei = self.cr = None
        self.kind = None          # "I", an S frame name, or a U frame name
        self.ns = self.nr = self.pf = None
        self.tei_mgmt = None      # (name, Ri, Ai)
        self.l2_short = False
        self.q931 = False         # a Crv line was shown
        self.not_q931 = None      # the octets of a Not Q931! dump
        self.crv = self.crv_flag = self.message_type = None
        self.elements = []        # (identifier, length or None)
        self.causes = []          # (location text, class text, value text, diagnostics)
        self.l3_short = False

    def __repr__(self):
        return repr(self.__dict__)


def parse_lapmon(text):
    """lapmon's output as a list of Decoded frames, in order; other lines (Lost ...) are returned too."""
    frames, others = [], []
    section = None
    frame = None
    pending_cause = None
    for raw_line in text.splitlines():
        m = STAMP.match(raw_line)
        if m:
            frame = Decoded(m.group(1), 1 if m.group(2) == "N" else 0)
            frames.append(frame)
            section, pending_cause = None, None
            continue
        if frame is None or raw_line == "" or LOST.match(raw_line):
            if raw_line:
                others.append(raw_line)
            continue
        line = raw_line[39:] if frame.direction and raw_line.startswith(NETWORK_INDENT) else raw_line
        if line in ("RawFrame", "Q.921 Decode", "Q.931 Decode"):
            section = line
            continue
        if section == "RawFrame":
            frame.raw += [int(x, 16) for x in line.split()]
        elif section == "Q.921 Decode":
            parse_l2(frame, line)
        elif section == "Q.931 Decode":
            pending_cause = parse_l3(frame, line, pending_cause)
        else:
            others.append(raw_line)
    return frames, others


def parse_l2(frame, line):
    s = line.strip()
    if m := re.match(r"Sapi: (\d+) Tei: (\d+) C/R: ([CR])$", s):
        frame.sapi, frame.tei, frame.cr = int(m.group(1)), int(m.group(2)), m.group(3)
    elif m := re.match(r"I Frame P/F: ([PF]) Ns: (\d+) Nr: (\d+)$", s):
        frame.kind, frame.pf, frame.ns, frame.nr = "I", int(m.group(1) == "F"), int(m.group(2)), int(m.group(3))
    elif m := re.match(r"(\S+) +P/F: ([PF]) Nr: (\d+)$", s):
        frame.kind, frame.pf, frame.nr = m.group(1), int(m.group(2) == "F"), int(m.group(3))
    elif m := re.match(r"(\S+) +P/F: ([PF])$", s):
        frame.kind, frame.pf = m.group(1), int(m.group(2) == "F")
    elif m := re.match(r"(.{1,10}?) *Ri: (\d+) Ai: (\d+)$", s):
        frame.tei_mgmt = (m.group(1), int(m.group(2)), int(m.group(3)))
    elif s == "Frame ends early":
        frame.l2_short = True
    else:
        raise ValueError("unexpected Q.921 line %r" % line)


def parse_l3(frame, line, pending_cause):
    """Reads one line of the Q.931 view; returns the Cause detail still being read, if any."""
    if pending_cause is not None and re.match(r"^    \S", line):
        text = line.strip()
        if text == "Cause ends early":
            frame.causes.append(pending_cause + ["<ends early>"])
            return None
        pending_cause.append(text)
        if len(pending_cause) == 3:
            frame.causes.append(pending_cause)
            return None
        return pending_cause
    if line.startswith("Diagnostics:") and frame.causes:
        frame.causes[-1].append([int(x, 16) for x in line[len("Diagnostics:"):].split()])
        return None
    if m := re.match(r"  Crv=(\d+)\(([OT])\) (.*)$", line):
        frame.q931 = True
        frame.crv, frame.crv_flag = int(m.group(1)), int(m.group(2) == "O")
        name = m.group(3)
        frame.message_type = int(name[6:], 16) if name.startswith("MTYPE-") else MESSAGE_TYPES[name]
        return None
    if m := ELEMENT.match(line):
        ident = int(m.group(2), 16)
        frame.elements.append((ident, int(m.group(3), 16) if m.group(3) else None))
        return [] if ident == 0x08 and m.group(3) else None
    if line == "Not Q931!":
        frame.not_q931 = []
        return None
    if frame.not_q931 is not None and line.startswith("  0x"):
        frame.not_q931 += [int(x, 16) for x in line.split()]
        return None
    if line.strip() == "Frame ends early":
        frame.l3_short = True
        return None
    if m := re.match(r"^ {22}((?: [0-9a-f]{2})+)$", line):
        # More content octets of an element, or more diagnostics of a Cause.
        if frame.causes and len(frame.causes[-1]) == 4 and isinstance(frame.causes[-1][3], list) \
                and pending_cause is None and frame.elements and frame.elements[-1][0] == 0x08:
            frame.causes[-1][3] += [int(x, 16) for x in m.group(1).split()]
        return pending_cause
    raise ValueError("unexpected Q.931 line %r" % line)


class Dissected:
    """One frame as tshark's PDML showed it: its fields as (name, show, pos, showname), in order."""

    def __init__(self):
        self.fields = []
        self.malformed = set()  # protocols marked malformed

    def first(self, name, default=None):
        for n, show, _, _ in self.fields:
            if n == name:
                return show
        return default

    def has(self, name):
        return any(n == name for n, _, _, _ in self.fields)

    def all(self, name):
        return [(show, pos) for n, show, pos, _ in self.fields if n == name]


def parse_pdml(path):
    """tshark -T pdml output as a list of Dissected frames, in order."""
    packets = []
    current = None
    last_proto = None
    for event, elem in ET.iterparse(path, events=("start", "end")):
        if event == "start":
            if elem.tag == "packet":
                current = Dissected()
            elif elem.tag == "proto" and current is not None:
                name = elem.get("name")
                if name == "_ws.malformed":
                    current.malformed.add(last_proto)
                else:
                    last_proto = name
                    current.fields.append(("proto:" + name, "", int(elem.get("pos", "0")), ""))
            elif elem.tag == "field" and current is not None:
                current.fields.append((elem.get("name"), elem.get("show"), int(elem.get("pos", "0")),
                                       elem.get("showname", "")))
        elif elem.tag == "packet":
            packets.append(current)
            current = None
            elem.clear()
    return packets


def int_show(show):
    return int(show, 16) if show.startswith("0x") else int(show)


# Single-octet information elements as tshark names them.
SINGLE_OCTET_FIELDS = {"q931.sending_complete", "q931.more_data", "q931.congestion_level",
                       "q931.repeat_indicator", "q931.locking_codeset", "q931.non_locking_codeset",
                       "q931.information_element.unknown"}


def tshark_elements(d, octets):
    """(identifier, length or None) of the Q.931 elements in tshark's order. Identifiers of
    single-octet elements are read from the frame at the field's position; fields inside a
    variable-length element (tshark reads some diagnostics as element identifiers) are left out.
    NOTIFY and FACILITY elements come as q932.ie.* fields."""
    out = []
    in_q931 = False
    end = -1        # the end of the variable-length element being read
    current = None  # [identifier, length, position] of the last variable-length element
    for name, show, pos, showname in d.fields:
        if name == "proto:q931":
            in_q931 = True
        if not in_q931:
            continue
        if name in ("q931.information_element", "q932.ie.type"):
            if pos < end:
                continue
            current = [int_show(show), None, pos]
            out.append(current)
        elif name in ("q931.information_element_len", "q932.ie.len"):
            if current is not None and pos == current[2] + 1:
                current[1] = int_show(show)
                end = pos + 1 + current[1]
        elif name == "q931.information_element.unknown":
            m = re.search(r"\(0x([0-9A-Fa-f]{2})\)", showname)
            out.append([int(m.group(1), 16) if m else None, None, pos])
        elif name in SINGLE_OCTET_FIELDS and pos >= end:
            out.append([octets[pos], None, pos])
    return [(e[0], e[1]) for e in out]


def wait_for_frames(proc, count, timeout):
    """Reads lapmon's output until `count` time-stamp lines have come and a second has passed
    without new output; returns what was read."""
    out = b""
    deadline = time.monotonic() + timeout
    quiet_since = None
    while time.monotonic() < deadline:
        ready, _, _ = select.select([proc.stdout], [], [], 0.2)
        if ready:
            chunk = os.read(proc.stdout.fileno(), 1 << 16)
            if not chunk:
                break
            out += chunk
            quiet_since = None
        elif out.count(b"(T)\n") + out.count(b"(N)\n") >= count:
            quiet_since = quiet_since or time.monotonic()
            if time.monotonic() - quiet_since > 1.5:
                break
    return out


def run_lapmon(harness, sim, count, timeout=60, args=("-a", "-p")):
    """Runs lapmon against the simulator until it has shown `count` frames and gone quiet, stops
    it with key 9, and returns its whole output as text."""
    proc = harness.start(harness.LAPMON, list(args), sim=sim)
    try:
        out = wait_for_frames(proc, count, timeout)
        proc.stdin.write(b"9")
        proc.stdin.flush()
        rest, _ = proc.communicate(timeout=15)
        return (out + rest).decode("latin-1")
    finally:
        if proc.poll() is None:
            proc.kill()
            proc.wait()
