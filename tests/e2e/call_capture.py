# SPDX-License-Identifier: BSD-2-Clause
"""Writes captures of call traffic, and says what each call in them was.

Calls of every kind one after another, two at a time on different links: outgoing calls that are
answered, busy, unanswered, refused by the network or given up by the caller; incoming calls
broadcast on TEI 127 and answered by one of two terminals (the other cleared) or refused; a call
cut by the data link's re-establishment. Call reference values are reused as calls end. I frames
carry the messages, with RR acknowledgements between them.

    python3 call_capture.py OUT.pcap [--calls N | --frames N] [--seed S] [--format pcap|pcapng]

The records are LINUX_LAPD (177), whose pseudo-header tells the side. calls() also returns, per
call, what a call log must say about it (the keys of lapdecode's JSON).
"""

import argparse
import random

import lapd_capture as lc

USER, NETWORK = lc.USER, lc.NETWORK
START = 1768464000.0  # 2026-01-15T08:00:00Z

SETUP, PROCEEDING, ALERTING, CONNECT, CONNECT_ACK = 0x05, 0x02, 0x01, 0x07, 0x0F
DISCONNECT, RELEASE, RELEASE_COMPLETE = 0x45, 0x4D, 0x5A

BEARERS = {"speech": [0x80, 0x90, 0xA3], "3.1kHz audio": [0x90, 0x90, 0xA3], "unrestricted digital": [0x88, 0x90]}


def number(ident, digits, octet3a=True):
    head = b"\x21\x80" if octet3a else b"\xa1"
    return lc.ie(ident, head + digits.encode())


def message(call_ref, flag, kind, *elements):
    return bytes([0x08, 0x01, (0x80 if flag else 0) | call_ref, kind]) + b"".join(elements)


class Links:
    """N(S) and N(R) of every data link, so that the I frames count as a real link's would."""

    def __init__(self):
        self.sent = {}

    def i_frame(self, sender, tei, msg):
        ns = self.sent.get((tei, sender), 0)
        nr = self.sent.get((tei, 1 - sender), 0)
        self.sent[(tei, sender)] = (ns + 1) % 128
        return lc.address(0, tei, lc.cr_bit(sender, True)) + bytes([ns << 1, nr << 1]) + msg

    def rr(self, sender, tei):
        nr = self.sent.get((tei, 1 - sender), 0)
        return lc.address(0, tei, lc.cr_bit(sender, False)) + bytes([0x01, nr << 1])

    def reset(self, tei):
        self.sent.pop((tei, USER), None)
        self.sent.pop((tei, NETWORK), None)


def outgoing(rng, kind, tei, cr):
    """(steps, truth) of a call the terminal on tei places. A step: (delay, sender, tei, message or
    frame kind)."""
    bearer = rng.choice(sorted(BEARERS))
    calling = "0301%04d" % rng.randint(0, 9999)
    called = "0309%05d" % rng.randint(0, 99999)
    channel = rng.choice(["B1", "B2"])
    u = lambda t, *e: (USER, tei, message(cr, False, t, *e))
    n = lambda t, *e: (NETWORK, tei, message(cr, True, t, *e))
    steps = [u(SETUP, lc.ie(0x04, BEARERS[bearer]), lc.ie(0x18, [0x83]), number(0x6C, calling),
               number(0x70, called, octet3a=False)),
             n(PROCEEDING, lc.ie(0x18, [0x89 if channel == "B1" else 0x8A]))]
    truth = dict(tei=tei, call_ref=cr, direction="out", calling=calling, called=called, bearer=bearer,
                 channel=channel)
    if kind == "answered":
        who = rng.choice([USER, NETWORK])
        steps += [n(ALERTING), n(CONNECT), u(CONNECT_ACK)]
        clear = [u, n][who]
        reply = [n, u][who]
        steps += [clear(DISCONNECT, lc.cause(16)), reply(RELEASE), clear(RELEASE_COMPLETE)]
        truth.update(outcome="answered", cause=16, cleared_by=["user", "network"][who])
    elif kind in ("busy", "no answer"):
        value = 17 if kind == "busy" else 19
        if kind == "no answer":
            steps.append(n(ALERTING))
        steps += [n(DISCONNECT, lc.cause(value, location=3)), u(RELEASE), n(RELEASE_COMPLETE)]
        truth.update(outcome=kind, cause=value, cleared_by="network")
    elif kind == "failed":
        steps.append(n(RELEASE_COMPLETE, lc.cause(1, location=2)))
        truth.update(outcome="failed", cause=1, cleared_by="network")
    elif kind == "cancelled":
        steps += [n(ALERTING), u(DISCONNECT, lc.cause(16)), n(RELEASE), u(RELEASE_COMPLETE)]
        truth.update(outcome="cancelled", cause=16, cleared_by="user")
    elif kind == "lost":
        steps += [n(CONNECT), u(CONNECT_ACK), (USER, tei, "SABME")]
        truth.update(outcome="lost", cause=None, cleared_by=None)
    return steps, truth


def incoming(rng, kind, cr):
    """A SETUP broadcast to the terminals on TEIs 64 and 65."""
    calling = "0221%04d" % rng.randint(0, 9999)
    called = "30%d" % rng.randint(10, 99)
    n = lambda tei, t, *e: (NETWORK, tei, message(cr, False, t, *e))
    u = lambda tei, t, *e: (USER, tei, message(cr, True, t, *e))
    steps = [(NETWORK, 127, message(cr, False, SETUP, lc.ie(0x04, BEARERS["speech"]), lc.ie(0x18, [0x89]),
                                    number(0x6C, calling), number(0x70, called, octet3a=False)))]
    truth = dict(tei=65, call_ref=cr, direction="in", calling=calling, called=called, bearer="speech",
                 channel="B1")
    if kind == "answered":
        steps += [u(64, ALERTING), u(65, ALERTING), u(65, CONNECT), n(65, CONNECT_ACK),
                  n(64, RELEASE, lc.cause(26)), u(64, RELEASE_COMPLETE),
                  n(65, DISCONNECT, lc.cause(16)), u(65, RELEASE), n(65, RELEASE_COMPLETE)]
        truth.update(outcome="answered", cause=16, cleared_by="network")
    else:
        steps += [u(64, RELEASE_COMPLETE, lc.cause(21, location=0))]
        truth.update(tei=127, outcome="rejected", cause=21, cleared_by="user")
    return steps, truth


KINDS = [("out", "answered")] * 4 + [("out", "busy"), ("out", "no answer"), ("out", "failed"),
                                     ("out", "cancelled"), ("out", "lost"), ("in", "answered"),
                                     ("in", "answered"), ("in", "rejected")]


def calls(count, seed=1):
    """(records, truths): the capture's records (time, LINUX_LAPD record) and one truth per call,
    in the order the calls start."""
    rng = random.Random(seed)
    links = Links()
    events = []  # (time, order, sender, tei, message or "SABME")
    truths = []
    for i in range(count):
        direction, kind = rng.choice(KINDS) if i >= len(KINDS) else KINDS[i]
        if direction == "out":
            tei = 70 if kind == "lost" else 66 + i % 2
            steps, truth = outgoing(rng, kind, tei, 1 + i % 3)
        else:
            steps, truth = incoming(rng, kind, 1 + i % 5)
        t = START + i * 1.5
        truth["setup"] = t
        truths.append(truth)
        for j, (sender, tei, what) in enumerate(steps):
            events.append((t, len(events), sender, tei, what))
            t += rng.choice([0.05, 0.2, 0.4])
    events.sort()
    records = []
    for t, _, sender, tei, what in events:
        if what == "SABME":
            links.reset(tei)
            frames = [(sender, lc.address(0, tei, lc.cr_bit(sender, True)) + b"\x7f"),
                      (1 - sender, lc.address(0, tei, lc.cr_bit(1 - sender, False)) + b"\x73")]
        else:
            frames = [(sender, links.i_frame(sender, tei, what)) if tei != 127 else
                      (sender, lc.address(0, 127, lc.cr_bit(sender, True)) + b"\x03" + what)]
            if tei != 127:
                frames.append((1 - sender, links.rr(1 - sender, tei)))
        for k, (s, frame) in enumerate(frames):
            records.append((t + k * 0.01, lc.linux_lapd_header(s) + frame))
    return records, truths


def calls_for_frames(frames, seed=1):
    """At least `frames` records of call traffic."""
    count = max(1, frames // 14)
    while True:
        records, truths = calls(count, seed)
        if len(records) >= frames:
            return records[:frames], truths
        count = int(count * frames / len(records)) + 1


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("out")
    p.add_argument("--calls", type=int, default=12)
    p.add_argument("--frames", type=int)
    p.add_argument("--seed", type=int, default=1)
    p.add_argument("--format", choices=["pcap", "pcapng"], default="pcap")
    a = p.parse_args()
    records, _ = calls_for_frames(a.frames, a.seed) if a.frames else calls(a.calls, a.seed)
    write = lc.write_pcap if a.format == "pcap" else lc.write_pcapng
    write(a.out, records, lc.LINKTYPE_LINUX_LAPD)


if __name__ == "__main__":
    main()
