# SPDX-License-Identifier: BSD-2-Clause
"""Writes capture files of D-channel traffic for tests and measurements.

A varied mix of LAPD frames in both directions: TEI management, SABME/UA/DISC/DM/FRMR/XID/UI,
RR/RNR/REJ, and I frames carrying the common Q.931 messages with call references of 0, 1 and 2
octets, the escape message type, locking shifts to codesets 5 and 6, Cause with and without
diagnostics (and with the recommendation octet), frames of other SAPIs and protocols, and
malformed tails (an element that claims more octets than remain, frames cut inside a field).

    python3 lapd_capture.py OUT.pcap [--frames N] [--seed S] [--linktype 177|203]
                            [--format pcap|pcapng] [--rate FRAMES_PER_SECOND]

Link type 177 (LINUX_LAPD) records carry a 16-byte pseudo-header with the direction; link type
203 (LAPD) records are the bare frames.
"""

import argparse
import random
import struct

LINKTYPE_LINUX_LAPD = 177
LINKTYPE_LAPD = 203
PACKET_HOST = 0        # received by the capturing side
PACKET_OUTGOING = 4    # sent by the capturing side
ETH_P_LAPD = 0x0030
ARPHRD_LAPD = 8445

USER, NETWORK = 0, 1   # who sent the frame; the trace's Direction word


def linux_lapd_header(sender, capturer=USER):
    """The 16-byte LINUX_LAPD pseudo-header for a frame sent by `sender`, captured at `capturer`."""
    packet_type = PACKET_OUTGOING if sender == capturer else PACKET_HOST
    address = bytes([1 if capturer == NETWORK else 0]) + bytes(7)
    return struct.pack(">HHH", packet_type, ARPHRD_LAPD, 1) + address + struct.pack(">H", ETH_P_LAPD)


def write_pcap(path, records, linktype):
    """records: (seconds since 1970 as float or (sec, usec)), bytes) pairs; microsecond pcap."""
    with open(path, "wb") as f:
        f.write(struct.pack("<IHHiIII", 0xA1B2C3D4, 2, 4, 0, 0, 65535, linktype))
        for when, data in records:
            sec, usec = when if isinstance(when, tuple) else (int(when), int(round((when % 1) * 1e6)))
            if usec >= 1000000:
                sec, usec = sec + 1, usec - 1000000
            f.write(struct.pack("<IIII", sec, usec, len(data), len(data)))
            f.write(data)


def pcapng_block(kind, body):
    body += bytes(-len(body) % 4)
    total = len(body) + 12
    return struct.pack("<II", kind, total) + body + struct.pack("<I", total)


def pcapng_head(linktype):
    """A pcapng section header and one interface description of the link type."""
    return (pcapng_block(0x0A0D0D0A, struct.pack("<IHHq", 0x1A2B3C4D, 1, 0, -1)) +
            pcapng_block(0x00000001, struct.pack("<HHI", linktype, 0, 65535)))


def write_pcapng(path, records, linktype):
    """The same as a pcapng file: one section, one interface (microsecond stamps), enhanced packets."""
    block = pcapng_block

    with open(path, "wb") as f:
        f.write(pcapng_head(linktype))
        for when, data in records:
            sec, usec = when if isinstance(when, tuple) else (int(when), int(round((when % 1) * 1e6)))
            stamp = sec * 1000000 + usec
            f.write(block(0x00000006, struct.pack("<IIIII", 0, stamp >> 32, stamp & 0xFFFFFFFF,
                                                  len(data), len(data)) + data))


# ---- Frames ----

def address(sapi, tei, cr):
    return bytes([(sapi << 2) | (cr << 1), (tei << 1) | 1])


def cr_bit(sender, command):
    """C/R as the sender sets it: user commands and network responses 0, the others 1."""
    return int(sender == NETWORK) if command else int(sender == USER)


def ie(ident, content):
    return bytes([ident, len(content)]) + bytes(content)


CALLED = ie(0x70, b"\xa1" + b"5551234")
CALLING = ie(0x6C, b"\x21\x80" + b"5559876")
BEARER = ie(0x04, [0x80, 0x90, 0xA2])
BEARER_DATA = ie(0x04, [0x88, 0x90])
CHANNEL_B1 = ie(0x18, [0x89])
CHANNEL_ANY = ie(0x18, [0x83])
PROGRESS = ie(0x1E, [0x82, 0x88])
DISPLAY = ie(0x28, b"\xb1CALLER ID")
SIGNAL = ie(0x34, [0x01])
CALL_STATE = ie(0x14, [0x0A])
KEYPAD = ie(0x2C, b"*72")


def cause(value, location=0x2, diagnostics=b"", recommendation=None):
    """Cause: location octet (with the recommendation octet after it when given), value, diagnostics."""
    if recommendation is None:
        octets = [0x80 | location, 0x80 | value]
    else:
        octets = [location, 0x80 | recommendation, 0x80 | value]
    return ie(0x08, bytes(octets) + bytes(diagnostics))


def call_reference(rng):
    """(length octet and reference octets) with lengths 0, 1 and 2, either flag."""
    n = rng.choice([1, 1, 1, 2, 2, 0])
    flag = rng.randint(0, 1) << 7
    if n == 0:
        return b"\x00"
    if n == 1:
        return bytes([1, flag | rng.randint(0, 127)])
    return bytes([2, flag | rng.randint(0, 127), rng.randint(0, 255)])


def q931(rng):
    """One Q.931 message (protocol discriminator onward)."""
    kind = rng.choice(["setup", "setup", "proceeding", "alerting", "connect", "connect_ack", "disconnect",
                       "release", "release_complete", "information", "status", "status_enquiry",
                       "progress", "setup_ack", "notify", "facility", "escape", "codeset5",
                       "codeset6", "busy", "rejected", "malformed", "single_octets"])
    cref = call_reference(rng)
    head = b"\x08" + cref
    if kind == "setup":
        body = b"\x05" + (b"\xa1" if rng.random() < 0.3 else b"") + rng.choice([BEARER, BEARER_DATA]) + \
            CHANNEL_ANY + CALLING + CALLED
    elif kind == "proceeding":
        body = b"\x02" + CHANNEL_B1
    elif kind == "alerting":
        body = b"\x01" + (SIGNAL if rng.random() < 0.5 else PROGRESS)
    elif kind == "connect":
        body = b"\x07" + (DISPLAY if rng.random() < 0.5 else b"")
    elif kind == "connect_ack":
        body = b"\x0f"
    elif kind == "disconnect":
        body = b"\x45" + cause(16) + (PROGRESS if rng.random() < 0.3 else b"")
    elif kind == "release":
        body = b"\x4d" + (cause(16) if rng.random() < 0.5 else b"")
    elif kind == "release_complete":
        body = b"\x5a" + (cause(31, location=0) if rng.random() < 0.5 else b"")
    elif kind == "information":
        body = b"\x7b" + KEYPAD
    elif kind == "status":
        body = b"\x7d" + cause(30, diagnostics=b"") + CALL_STATE
    elif kind == "status_enquiry":
        body = b"\x75"
    elif kind == "progress":
        body = b"\x03" + PROGRESS
    elif kind == "setup_ack":
        body = b"\x0d" + CHANNEL_B1
    elif kind == "notify":
        body = b"\x6e" + ie(0x27, [0x80])
    elif kind == "facility":
        body = b"\x62" + ie(0x1C, [0x91, 0xA1, 0x03, 0x02, 0x01, 0x05])
    elif kind == "escape":
        body = b"\x00" + bytes([rng.choice([0xF7, 0x01, 0x45])]) + ie(0x7A, [0x02, 0x01])
    elif kind == "codeset5":
        body = b"\x05" + BEARER + b"\x95" + ie(0x1D, [0x81]) + ie(0x2A, b"HELLO")
    elif kind == "codeset6":
        body = b"\x7b" + b"\x96" + ie(0x32, [0x01]) + ie(0x3B, [0x02, 0x03]) + ie(0x08, [0x80, 0x90])
    elif kind == "busy":
        body = b"\x5a" + cause(17, diagnostics=bytes([rng.choice([0x04, 0x05])]))
    elif kind == "rejected":
        # A cause with the recommendation octet, then several diagnostic octets.
        body = b"\x45" + cause(rng.choice([21, 88, 41]), location=0x3, recommendation=0,
                               diagnostics=bytes([0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07]))
    elif kind == "single_octets":
        body = b"\x7b" + b"\xa1\xa0\xb1\xd1" + KEYPAD
    else:  # malformed: the last element claims more octets than remain
        body = b"\x05" + BEARER + bytes([0x70, 0x09]) + b"\xa1555"
    return head + body


def tei_management(rng, sender):
    """A TEI management UI frame on SAPI 63, TEI 127."""
    if sender == USER:
        msg, ai = rng.choice([(1, 127), (5, rng.randint(64, 126)), (7, 127)])
    else:
        msg, ai = rng.choice([(2, rng.randint(64, 126)), (3, 127), (4, rng.randint(64, 127)),
                              (6, rng.randint(64, 127))])
    ri = rng.randint(0, 65535)
    control = 0x03
    return address(63, 127, cr_bit(sender, True)) + bytes([control, 0x0F, ri >> 8, ri & 0xFF, msg, (ai << 1) | 1])


def frame(rng):
    """(sender, octets) of one varied LAPD frame."""
    sender = rng.choice([USER, NETWORK])
    tei = rng.choice([64, 65, 66, 100, 126])
    pf = rng.random() < 0.3
    kind = rng.choices(["I", "S", "U", "UI", "TEI", "OTHER_SAPI", "NOT_Q931", "SHORT"],
                       weights=[40, 22, 14, 4, 8, 3, 3, 2])[0]
    if kind == "I":
        ns, nr = rng.randint(0, 127), rng.randint(0, 127)
        return sender, address(0, tei, cr_bit(sender, True)) + bytes([ns << 1, (nr << 1) | pf]) + q931(rng)
    if kind == "S":
        s = rng.choice([0x01, 0x05, 0x09])
        command = rng.random() < 0.4
        return sender, address(0, tei, cr_bit(sender, command)) + bytes([s, (rng.randint(0, 127) << 1) | pf])
    if kind == "U":
        name = rng.choice(["SABME", "UA", "DISC", "DM", "FRMR", "XID"])
        control, command, info = {
            "SABME": (0x6F, True, b""), "DISC": (0x43, True, b""), "UA": (0x63, False, b""),
            "DM": (0x0F, False, b""), "FRMR": (0x87, False, bytes([0x00, 0x02, 0x01])),
            "XID": (0xAF, rng.random() < 0.5, b""),
        }[name]
        return sender, address(0, tei, cr_bit(sender, command)) + bytes([control | (0x10 if pf else 0)]) + info
    if kind == "UI":
        # A broadcast SETUP on TEI 127, as a network offers an incoming call.
        return NETWORK, address(0, 127, 1) + b"\x03" + b"\x08\x01\x05\x05" + BEARER + CHANNEL_ANY + CALLED
    if kind == "TEI":
        return sender, tei_management(rng, sender)
    if kind == "OTHER_SAPI":
        return sender, address(16, tei, cr_bit(sender, True)) + bytes([0x00, 0x02]) + b"\x01\x02\x03\x04"
    if kind == "NOT_Q931":
        return sender, address(0, tei, cr_bit(sender, True)) + bytes([0x02, 0x02]) + b"\x41\x01\x05\x06\x07"
    # Cut short inside the control field or the call reference.
    return sender, rng.choice([address(0, tei, 0) + b"\x00", address(0, tei, 0) + b"\x02\x02\x08\x02\x81"])


def varied_frames(count, seed=1):
    rng = random.Random(seed)
    return [frame(rng) for _ in range(count)]


def records(frames, linktype, start=1765000000.0, rate=100.0, capturer=USER):
    """Capture records for (sender, octets) frames, `rate` frames a second from `start`."""
    out = []
    for i, (sender, octets) in enumerate(frames):
        when = start + i / rate
        data = linux_lapd_header(sender, capturer) + octets if linktype == LINKTYPE_LINUX_LAPD else octets
        out.append((when, data))
    return out


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("out")
    parser.add_argument("--frames", type=int, default=3000)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--linktype", type=int, choices=[LINKTYPE_LINUX_LAPD, LINKTYPE_LAPD],
                        default=LINKTYPE_LINUX_LAPD)
    parser.add_argument("--format", choices=["pcap", "pcapng"], default="pcap")
    parser.add_argument("--rate", type=float, default=100.0)
    args = parser.parse_args()
    recs = records(varied_frames(args.frames, args.seed), args.linktype, rate=args.rate)
    (write_pcapng if args.format == "pcapng" else write_pcap)(args.out, recs, args.linktype)


if __name__ == "__main__":
    main()
