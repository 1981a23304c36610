# SPDX-License-Identifier: BSD-2-Clause
"""lapmon's decode of a capture, replayed through brisim, compared field by field with tshark's.

A capture of a few thousand varied frames (lapd_capture.py) is played by `brisim --pcap` as fast
as lapmon reads, decoded by `lapmon -a -p`, and dissected by `tshark -T pdml`. Per frame the two
must agree on SAPI, TEI, command/response (given the direction), frame kind, N(S), N(R), P/F, TEI
management message, Ri and Ai, protocol discriminator, call reference value and flag, message
type, the identifiers and lengths of the information elements, and the Cause location and value.

Where lapmon shows a frame differently on purpose, the difference is listed in DIFFERENCES: each
listed difference must occur in this capture and must be exactly that; anything else fails.
Skipped when tshark is not installed (scripts/test installs it).
"""

import collections
import os
import shutil
import subprocess
import tempfile
import unittest

import crosscheck
import harness
import lapd_capture

FRAMES = 3000

DIFFERENCES = {
    "escape": "Message type octet 0 (the escape): lapmon shows the octet after it as the type, "
              "0x8000 + that octet (MTYPE-80xx, AT&T-MIM for F7); tshark shows ESCAPE (0x00), then for an "
              "octet from 80 up an unknown single-octet element and the rest of the message, for a "
              "lower octet nothing more of the message.",
    "foreign discriminator": "SAPI 0 information whose protocol discriminator is not 08: lapmon "
                             "dumps it under Not Q931!; tshark decodes a call reference and message "
                             "type under that discriminator. Only the discriminator is compared.",
    "unnumbered information": "FRMR and XID frames with an information field: lapmon hands the "
                              "octets to the Q.931 view, which dumps them as Not Q931!; tshark "
                              "shows them as FRMR/XID data.",
    "other sapi": "SAPI other than 0 and 63 (here 16, X.25): lapmon dumps the information as Not "
                  "Q931!; tshark hands it to that SAPI's protocol.",
    "cause in codeset 5/6": "Identifier 08 after a locking shift to codeset 5 or 6: lapmon names it "
                            "<unknown> and still shows the Cause detail; tshark shows an unknown "
                            "element without detail.",
    "element cut short": "The last element claims more octets than remain: lapmon shows its "
                         "identifier and length with the octets present and then 'Frame ends "
                         "early'; tshark marks the packet malformed and lists no such element.",
    "header cut short": "The frame ends inside the call reference: lapmon shows 'Frame ends "
                        "early' instead of the Crv line; tshark shows the call reference length "
                        "and marks the packet malformed.",
    "no control field": "The frame ends inside the control field: lapmon shows the address line "
                        "and 'Frame ends early'; tshark marks the LAPD packet malformed.",
}


@unittest.skipUnless(shutil.which("tshark"), "tshark is not installed")
class TsharkCrossCheck(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        harness.needs_capture_reader("the cross-check's capture")
        cls.tmp = tempfile.mkdtemp(prefix="bri-xcheck-")
        cls.capture = os.path.join(cls.tmp, "mix.pcap")
        cls.frames = lapd_capture.varied_frames(FRAMES, seed=7)
        cls.records = lapd_capture.records(cls.frames, lapd_capture.LINKTYPE_LINUX_LAPD)
        lapd_capture.write_pcap(cls.capture, cls.records, lapd_capture.LINKTYPE_LINUX_LAPD)

        pdml = os.path.join(cls.tmp, "mix.pdml")
        with open(pdml, "wb") as f:
            subprocess.run(["tshark", "-r", cls.capture, "-T", "pdml"], stdout=f, stderr=subprocess.DEVNULL,
                           check=True, timeout=120)
        cls.dissected = crosscheck.parse_pdml(pdml)

        with harness.Sim(extra_args=["--pcap", cls.capture, "--pace", "fast"]) as sim:
            out = crosscheck.run_lapmon(harness, sim, FRAMES, timeout=150)
        cls.decoded, cls.other_lines = crosscheck.parse_lapmon(out)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp, ignore_errors=True)

    def test_every_frame_is_shown_once_in_order_and_none_is_lost(self):
        self.assertEqual(len(self.dissected), FRAMES)
        self.assertEqual(len(self.decoded), FRAMES, "lines other than frames: %r" % self.other_lines[:5])
        self.assertFalse([l for l in self.other_lines if "Lost" in l])
        for i, (ours, (sender, octets)) in enumerate(zip(self.decoded, self.frames)):
            self.assertEqual(ours.raw, list(octets), "frame %d" % (i + 1))
            self.assertEqual(ours.direction, sender, "frame %d" % (i + 1))

    def test_fields_agree_but_for_the_listed_differences(self):
        seen = collections.Counter()
        mismatches = []
        for i, (ours, theirs) in enumerate(zip(self.decoded, self.dissected)):
            record = self.records[i][1]
            octets = self.frames[i][1]
            try:
                compare_frame(ours, theirs, record, octets, seen)
            except (AssertionError, LookupError, TypeError, ValueError) as e:
                mismatches.append("frame %d (%s): %s" % (i + 1, " ".join("%02x" % b for b in octets), e))
        self.assertEqual(mismatches[:20], [], "%d frames differ:\n%s" % (len(mismatches), "\n".join(mismatches[:20])))
        for name in DIFFERENCES:
            self.assertGreater(seen[name], 0, "listed difference %r did not occur" % name)
        # The comparison reached every kind of field, many times.
        for name, least in (("compared: TEI management", 100), ("compared: Q.931 message", 1000),
                            ("compared: Cause", 200)):
            self.assertGreaterEqual(seen[name], least, name)


def check(condition, what, ours, theirs):
    if not condition:
        raise AssertionError("%s: lapmon %r, tshark %r" % (what, ours, theirs))


def compare_frame(ours, theirs, record, octets, seen):
    """Raises AssertionError at the first field that differs other than as listed."""
    d = theirs
    check(ours.sapi == int_or_none(d.first("lapd.sapi")), "SAPI", ours.sapi, d.first("lapd.sapi"))
    check(ours.tei == int_or_none(d.first("lapd.tei")), "TEI", ours.tei, d.first("lapd.tei"))
    cr_bit, direction = int(d.first("lapd.cr")), int(d.first("lapd.direction"))
    # tshark's rule: a frame is a command when its C/R bit equals its direction (network 1).
    check(ours.cr == ("C" if cr_bit == direction else "R"), "C/R", ours.cr, (cr_bit, direction))

    if not d.has("lapd.control.ftype"):
        check("lapd" in d.malformed and ours.l2_short and ours.kind is None, "no control field",
              (ours.kind, ours.l2_short), d.malformed)
        seen["no control field"] += 1
        return
    ftype = crosscheck.int_show(d.first("lapd.control.ftype"))
    pf = int(d.first("lapd.control.p", d.first("lapd.control.f", "0")))
    check(ours.pf == pf, "P/F", ours.pf, pf)
    if ftype == 0:
        check(ours.kind == "I", "frame kind", ours.kind, "I")
        check(ours.ns == int(d.first("lapd.control.n_s")), "N(S)", ours.ns, d.first("lapd.control.n_s"))
        check(ours.nr == int(d.first("lapd.control.n_r")), "N(R)", ours.nr, d.first("lapd.control.n_r"))
    elif ftype == 1:
        s = crosscheck.int_show(d.first("lapd.control.s_ftype"))
        check(crosscheck.S_FRAMES.get(ours.kind) == s, "S frame", ours.kind, s)
        check(ours.nr == int(d.first("lapd.control.n_r")), "N(R)", ours.nr, d.first("lapd.control.n_r"))
    else:
        modifier = d.first("lapd.control.u_modifier_cmd", d.first("lapd.control.u_modifier_resp"))
        key = crosscheck.U_FRAMES.get(ours.kind)
        if key is None and ours.kind and ours.kind.startswith("U-"):
            key = int(ours.kind[2:], 16)
        check(key is not None and (key & 0xEC) >> 2 == crosscheck.int_show(modifier), "U frame", ours.kind, modifier)

    if d.has("tei.msg"):
        msg, ri, ai = int(d.first("tei.msg")), int(d.first("tei.reference")), int(d.first("tei.action"))
        check(ours.tei_mgmt is not None, "TEI management", None, msg)
        name, our_ri, our_ai = ours.tei_mgmt
        expected = crosscheck.TEI_MESSAGES.get(name)
        check(expected == msg or (name == "<mdl-?}" and msg not in crosscheck.TEI_MESSAGES.values()),
              "TEI message", name, msg)
        check((our_ri, our_ai) == (ri, ai), "Ri/Ai", (our_ri, our_ai), (ri, ai))
        seen["compared: TEI management"] += 1
    else:
        check(ours.tei_mgmt is None, "TEI management", ours.tei_mgmt, None)

    if not d.has("proto:q931"):
        has_info = len(octets) > (4 if ftype in (0, 1) else 3)
        if ours.sapi not in (0, 63) and has_info:
            check(ours.not_q931 is not None, "other SAPI", ours.not_q931, None)
            seen["other sapi"] += 1
        elif ftype == 3 and ours.kind in ("FRMR", "XID") and has_info:
            check(ours.not_q931 is not None, "FRMR/XID information", ours.not_q931, None)
            seen["unnumbered information"] += 1
        else:
            check(not ours.q931 and ours.not_q931 is None, "Q.931 view", ours.q931, "no Q.931")
        return
    compare_q931(ours, d, octets, seen)


def compare_q931(ours, d, octets, seen):
    disc = crosscheck.int_show(d.first("q931.disc"))
    if disc != 0x08:
        check(ours.not_q931 is not None and ours.not_q931[:1] == [disc], "protocol discriminator",
              ours.not_q931, disc)
        seen["foreign discriminator"] += 1
        return
    check(ours.not_q931 is None, "protocol discriminator", "Not Q931!", disc)
    if not d.has("q931.message_type"):
        check("q931" in d.malformed and ours.l3_short and not ours.q931, "header cut short",
              (ours.q931, ours.l3_short), d.malformed)
        seen["header cut short"] += 1
        return
    check(ours.q931, "Crv line", None, d.first("q931.message_type"))

    ref_len = int(d.first("q931.call_ref_len"))
    if ref_len == 0:
        value, flag = 0, 0
    else:
        ref = bytes.fromhex(d.first("q931.call_ref").replace(":", ""))
        value = int.from_bytes(bytes([ref[0] & 0x7F]) + ref[1:], "big")
        flag = int(d.first("q931.call_ref_flag"))
    check((ours.crv, ours.crv_flag) == (value, flag), "call reference", (ours.crv, ours.crv_flag), (value, flag))

    theirs_elements = crosscheck.tshark_elements(d, octets)
    mtype = crosscheck.int_show(d.first("q931.message_type"))
    if mtype == 0:
        # The escape: tshark takes our message type octet as the first element.
        check(ours.message_type & 0xFF00 == 0x8000, "escape", hex(ours.message_type or 0), "ESCAPE (0x00)")
        seen["escape"] += 1
        if ours.message_type & 0x80 == 0:
            check(theirs_elements == [], "escape", hex(ours.message_type), theirs_elements)
            return  # tshark shows nothing more of this message
        check(theirs_elements[0] == (ours.message_type & 0xFF, None), "escape", hex(ours.message_type),
              theirs_elements[:1])
        theirs_elements = theirs_elements[1:]
    else:
        check(ours.message_type == mtype, "message type", ours.message_type, mtype)

    if "q931" in d.malformed:
        # tshark stops before an element that claims more than remains; lapmon shows it and stops.
        check(ours.l3_short and ours.elements[:-1] == theirs_elements and
              len(ours.elements) == len(theirs_elements) + 1, "element cut short",
              ours.elements, theirs_elements)
        seen["element cut short"] += 1
    else:
        check(not ours.l3_short, "frame ends early", True, False)
        check(ours.elements == theirs_elements, "information elements", ours.elements, theirs_elements)
        seen["compared: Q.931 message"] += 1

    locations = [int(s) for s, _ in d.all("q931.cause_location")]
    values = [int(s) for s, _ in d.all("q931.cause_value")]
    ours_causes = [(crosscheck.LOCATIONS.get(c[0]), crosscheck.CAUSES.get(c[2])) for c in ours.causes]
    if len(ours_causes) > len(values):
        # A Cause identifier in codeset 5 or 6 still shows its detail in lapmon.
        seen["cause in codeset 5/6"] += 1
        ours_causes = ours_causes[:len(values)]
    check(ours_causes == list(zip(locations, values)), "Cause location/value", ours.causes,
          list(zip(locations, values)))
    seen["compared: Cause"] += len(values)


def int_or_none(show):
    return None if show is None else int(show)


if __name__ == "__main__":
    unittest.main()
