# SPDX-License-Identifier: BSD-2-Clause
"""Calls grouped from tshark's fields: the reference of the call cross-check, and the peer's way
to a call log in scripts/bench-vs-tshark.

    tshark -r FILE -T fields -E separator=/t -E occurrence=f -e FIELD... | python3 tshark_calls.py

reads tshark's rows (the fields of FIELDS, in that order) and prints one JSON object per call.
"""

import json
import subprocess
import sys

FIELDS = ["lapd.tei", "lapd.direction", "lapd.control", "q931.call_ref", "q931.call_ref_flag", "q931.message_type",
          "q931.cause_value", "q931.calling_party_number.digits", "q931.called_party_number.digits"]
CLEARING = (0x45, 0x4D, 0x5A)


def tshark_rows(path):
    out = subprocess.run(["tshark", "-r", path, "-T", "fields", "-E", "separator=\t", "-E", "occurrence=f"] +
                         sum((["-e", f] for f in FIELDS), []), stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                         check=True, timeout=120).stdout.decode()
    return [dict(zip(FIELDS, line.split("\t"))) for line in out.splitlines()]


def reference_calls(rows):
    """Calls from tshark's fields, yielded as they end: a SETUP with the flag clear starts one per (TEI, reference, side
    that chose it); a broadcast SETUP (TEI 127) is joined by the answers on other TEIs and settles
    on the one that connects; DISC, DM or SABME on a link loses its calls that were not cleared."""
    open_calls, done = {}, []

    def end(call):
        for key in call["keys"]:
            open_calls.pop(key, None)
        if call["lost"] and call["cleared_by"] is None:
            call["outcome"] = "lost"
        elif call["answered"]:
            call["outcome"] = "answered"
        elif call["cleared_by"] is None:
            call["outcome"] = "open"
        else:
            call["outcome"] = {17: "busy", 18: "no answer", 19: "no answer", 21: "rejected"}.get(
                call["cause"], "cancelled" if call["cleared_by"] == call["placed_by"] else "failed")
        done.append(call)

    for row in rows:
        yield from done  # the calls that the row before ended, as they end
        done.clear()
        tei, side = int(row["lapd.tei"]), int(row["lapd.direction"])
        control = int(row["lapd.control"], 16) if row["lapd.control"] else 0
        if (control & 0x03) == 0x03 and (control & 0xEF) in (0x0F, 0x43, 0x6F):
            for call in list({id(c): c for c in open_calls.values()}.values()):
                if call["tei"] == tei:
                    call["lost"] = True
                    end(call)
            continue
        if not row["q931.message_type"] or not row["q931.call_ref"]:
            continue
        cr, flag, kind = int(row["q931.call_ref"], 16), row["q931.call_ref_flag"] in ("1", "True"), int(
            row["q931.message_type"], 16)
        chooser = 1 - side if flag else side
        key = (tei, cr, chooser)
        if kind == 0x05 and not flag:
            if key in open_calls:
                end(open_calls[key])
            call = dict(tei=tei, call_ref=cr, placed_by=side, direction="out" if side == 0 else "in",
                        calling=row["q931.calling_party_number.digits"] or None,
                        called=row["q931.called_party_number.digits"] or None, cause=None, cleared_by=None,
                        answered=False, lost=False, keys=[key], broadcast=tei == 127, legs=set())
            open_calls[key] = call
            continue
        call = open_calls.get(key)
        if call is None and (127, cr, chooser) in open_calls:
            call = open_calls[(127, cr, chooser)]
            if call["answered"]:
                continue
            call["keys"].append(key)
            call["legs"].add(tei)
            open_calls[key] = call
        if call is None:
            continue
        if call["broadcast"] and call["answered"] and tei != call["tei"]:
            continue  # a terminal that lost the race is being cleared
        if kind == 0x07 and not call["answered"]:
            call["answered"] = True
            call["cause"] = call["cleared_by"] = None
            call["tei"] = tei
        if kind in CLEARING:
            if call["cleared_by"] is None:
                call["cleared_by"] = side
                call["cause"] = int(row["q931.cause_value"]) if row["q931.cause_value"] else None
            elif call["cause"] is None and row["q931.cause_value"]:
                call["cause"] = int(row["q931.cause_value"])
        if kind == 0x5A:
            if call["broadcast"] and not call["answered"]:
                call["legs"].discard(tei)
                if call["legs"]:
                    continue
            end(call)
    for call in list({id(c): c for c in open_calls.values()}.values()):
        end(call)
    yield from done


def main():
    calls = reference_calls(dict(zip(FIELDS, line.rstrip("\n").split("\t"))) for line in sys.stdin)
    for call in calls:
        print(json.dumps({k: call[k] for k in ("tei", "call_ref", "direction", "calling", "called", "cause",
                                                "outcome")}))


if __name__ == "__main__":
    main()
