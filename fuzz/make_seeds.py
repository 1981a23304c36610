#!/usr/bin/env python3
# SPDX-License-Identifier: BSD-2-Clause
"""Writes the seed corpus of every fuzz program into fuzz/corpus/<program>/.

The seeds are small well-formed inputs (and a few near misses) from which the fuzzers mutate.
Run it again after changing it; the files are committed.
"""

import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def write(program, name, data):
    folder = os.path.join(HERE, "corpus", program)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def hexbytes(text):
    return bytes.fromhex(text.replace(" ", ""))


# ---- Trace entries: number, FILETIME, direction, 0, FrameLength, FrameData (288 bytes) ----
def entry(frame_hex, direction=0, length=None):
    octets = hexbytes(frame_hex)
    n = len(octets) if length is None else length
    head = struct.pack("<IIQIIi", 7, 0, 132223104000000000, direction, 0, n)
    return (head + octets).ljust(288, b"\0")[:288]


FRAMES = {
    "sabme": ("00 81 7F", 0, None),
    "ua_network": ("00 81 73", 1, None),
    "rr": ("00 81 01 02", 0, None),
    "setup": ("00 81 00 00 08 01 01 05 04 03 80 90 A2 18 01 83 6C 08 A1 35 35 35 39 38 37 36 70 08 A1 35 35 35 31 32 33 34", 0, None),
    "disconnect_cause": ("00 81 04 06 08 01 01 45 08 02 80 90", 1, None),
    "cause_with_diagnostics": ("00 81 04 06 08 01 01 45 08 05 00 81 90 11 22", 1, None),
    "tei_request": ("FC FF 03 0F 12 34 01 FF", 0, None),
    "tei_assign": ("FE FF 03 0F 12 34 02 81", 1, None),
    "shifts": ("00 81 02 06 08 01 81 07 96 01 02 11 22 9D 03 01 55", 0, None),
    "escape_type": ("00 81 06 08 08 02 81 23 00 62", 0, None),
    "not_q931": ("04 81 00 00 01 02 03 04 05 06 07 08 09 0A 0B", 0, None),
    "length_negative": ("00 81 7F", 0, -5),
    "length_too_long": ("00 81 00 00 08 01 01 05", 0, 1000),
    "one_octet": ("00", 0, None),
}
for name, (frame, direction, length) in FRAMES.items():
    write("fuzz_trace_entry", name, entry(frame, direction, length))


# ---- Area records: area number at 0, area_state at 8, parameters at 20, params_len at 532 ----
def param(number, ptype, value):
    ident = struct.pack("<H", ((ptype & 0xF) << 12) | (number & 0xFFF))
    if ptype == 8:
        return ident + value.encode() + b"\0"
    if ptype == 4:
        return ident + struct.pack("<i", value)
    return ident + struct.pack("<H", value & 0xFFFF)


def area(number, params, params_len=None):
    packed = b"".join(params)
    n = len(packed) if params_len is None else params_len
    return (struct.pack("<III", number, 0, 2).ljust(20, b"\0") + packed.ljust(512, b"\0")[:512]
            + struct.pack("<i", n))


write("fuzz_area_record", "layer1", area(1, [param(100, 0, 2), param(101, 0, 2), param(102, 4, 1234)]))
write("fuzz_area_record", "layer2", area(2, [param(200, 0, 2), param(201, 0, 0), param(202, 0, 64),
                                              param(203, 0, 7)]))
write("fuzz_area_record", "layer3", area(3, [param(300, 0, 4), param(301, 0, 64), param(302, 0, 2),
                                              param(303, 8, "0155512340101"), param(304, 0, 127),
                                              param(305, 0, 1), param(306, 0, 2)]))
write("fuzz_area_record", "channel", area(11, [param(1100, 8, "B1"), param(1106, 0, 10),
                                                param(1105, 4, 64000), param(999, 3, 0x1234)]))
write("fuzz_area_record", "len_past_list", area(10, [param(400, 0, 0)], params_len=600))
write("fuzz_area_record", "len_negative", area(21, [param(500, 0, 1)], params_len=-1))
write("fuzz_area_record", "string_to_end", area(22, [param(1000, 8, "x" * 600)], params_len=512))


# ---- Text database lookups: (known section?) section, key, image ----
def image(sections):
    directory = b""
    body = b""
    offsets = []
    base = sum(len(name) + 3 for name, _ in sections) + 1
    for name, rows in sections:
        offsets.append(base + len(body))
        for key, text in rows:
            body += key.encode() + b"\0" + text.encode() + b"\0"
        body += b"\0"
    for (name, _), off in zip(sections, offsets):
        directory += name.encode() + b"\0" + struct.pack("<H", off)
    return directory + b"\0" + body


def provider_string(s):
    # FuzzedDataProvider's random-length strings end at a backslash not followed by another one.
    return s.encode().replace(b"\\", b"\\\\") + b"\\x"


small = image([("idp_tmsg", [("203.7", "Multiframe Established"), ("203", "Lap_State")]),
               ("cause", [("16", "normal, clearing")])])
write("fuzz_textdb", "known_key", provider_string("203") + small + b"\x01")
write("fuzz_textdb", "value_key", provider_string("203.7") + small + b"\x01")
write("fuzz_textdb", "other_section", provider_string("cause") + provider_string("16") + small + b"\x00")
write("fuzz_textdb", "text_without_nul", provider_string("203") + small[:-6] + b"\x01")

# ---- Registry export files ----
KEY = r"SOFTWARE\MICROSOFT\RAS\Tapi Devices\TESSIX"


def hex7(strings, wide):
    data = b""
    for s in strings:
        data += (s.encode("utf-16-le") + b"\0\0") if wide else (s.encode() + b"\0")
    data += b"\0\0" if wide else b"\0"
    return ",".join("%02x" % b for b in data)


def regfile(header, wide):
    return ("%s\r\n\r\n[HKEY_LOCAL_MACHINE\\%s]\r\n"
            '"Address"=hex(7):%s\r\n'
            '"Friendly Name"=hex(7):%s\\\r\n  \r\n'
            '"Usage"="ClientAndServer"\r\n'
            '"Count"=dword:00000002\r\n' % (header, KEY, hex7(["Tessix1-2", "Tessix1-4"], wide),
                                            hex7(["ISDN 1", "ISDN 2"], wide)))


# The control bytes that FuzzedDataProvider reads from the end: known key, known value, value index,
# buffer size.
CONTROL = b"\x00\x04\x01\x01\x01"
write("fuzz_registry_export", "regedit4", regfile("REGEDIT4", False).encode() + CONTROL)
write("fuzz_registry_export", "version5", regfile("Windows Registry Editor Version 5.00", True).encode() + CONTROL)
write("fuzz_registry_export", "version5_utf16",
      b"\xff\xfe" + regfile("Windows Registry Editor Version 5.00", True).encode("utf-16-le") + CONTROL)
write("fuzz_registry_export", "deleted_key",
      ("REGEDIT4\n[-HKEY_LOCAL_MACHINE\\%s]\n[HKEY_LOCAL_MACHINE\\%s]\n\"Address\"=\"x\"\n" % (KEY, KEY)).encode()
      + CONTROL)


# ---- Device transport: the driver's byte stream, then the calls' control bytes ----
def reply(ok, returned, data, out_sent=None):
    sent = len(data) if out_sent is None else out_sent
    return struct.pack("<III", ok, returned, sent) + data


CALLS = b"\x00\x10\x01\x02"
write("fuzz_transport", "one_reply", reply(1, 16, bytes(range(16))) + CALLS)
write("fuzz_transport", "trailing_zeros", reply(1, 64, b"\x01\x02") + reply(1, 8, b"") + CALLS)
write("fuzz_transport", "failure", reply(0, 0, b"") + reply(0, 32, b"\x05" * 8) + CALLS)
write("fuzz_transport", "returned_too_large", reply(1, 0x40038 + 1, b"\x01") + CALLS)
write("fuzz_transport", "cut_short", reply(1, 64, b"\x01" * 64)[:40] + CALLS)
write("fuzz_transport", "sent_above_returned", reply(1, 4, b"\x01" * 8) + CALLS)


# ---- OP_ENUM_IDD payloads: count at 40, handles from 44, 64-byte names from 124 ----
def enum_payload(names, count=None, handles=None):
    n = len(names) if count is None else count
    hs = handles or [0x1001 + i for i in range(len(names))]
    out = struct.pack("<HH", n & 0xFFFF, 0)
    out += b"".join(struct.pack("<I", h) for h in hs[:20]).ljust(80, b"\0")
    for name in names[:20]:
        raw = name if isinstance(name, bytes) else name.encode() + b"\0"
        out += raw[:64].ljust(64, b"\0")
    return out


for program in ("fuzz_enum_linestat", "fuzz_enum_lapmon"):
    write(program, "two_lines", enum_payload(["Tessix1 LINE1 (U)", "Tessix1 LINE2 (U)"]))
    write(program, "twenty_lines", enum_payload(["Tessix%d LINE%d (S/T)" % (i // 2, i % 2 + 1) for i in range(20)]))
    write(program, "count_above_twenty", enum_payload(["Tessix1 LINE1"], count=0xFFFF))
    write(program, "names_without_nul", enum_payload([b"A" * 64, b"Tessix1 LINE" + b"B" * 52]))
    write(program, "no_lines", enum_payload([], count=0))


# ---- Capture files: classic pcap and pcapng, with LAPD frames ----
def pcap(records, linktype=203, magic=0xA1B2C3D4, endian="<"):
    out = struct.pack(endian + "IHHiIII", magic, 2, 4, 0, 0, 65535, linktype)
    for sec, frac, data in records:
        out += struct.pack(endian + "IIII", sec, frac, len(data), len(data)) + data
    return out


def block(kind, body, endian="<"):
    body += bytes(-len(body) % 4)
    total = len(body) + 12
    return struct.pack(endian + "II", kind, total) + body + struct.pack(endian + "I", total)


def option(code, value, endian="<"):
    return struct.pack(endian + "HH", code, len(value)) + value + bytes(-len(value) % 4)


def pcapng(interfaces, packets, endian="<"):
    out = block(0x0A0D0D0A, struct.pack(endian + "IHHq", 0x1A2B3C4D, 1, 0, -1), endian)
    for linktype, name, tsresol in interfaces:
        opts = (option(2, name.encode(), endian) if name else b"") + option(9, bytes([tsresol]), endian)
        out += block(1, struct.pack(endian + "HHI", linktype, 0, 0) + opts + bytes(4), endian)
    for iface, stamp, data, flags in packets:
        opts = option(2, struct.pack(endian + "I", flags), endian) + bytes(4) if flags else b""
        body = struct.pack(endian + "IIIII", iface, stamp >> 32, stamp & 0xFFFFFFFF, len(data), len(data))
        out += block(6, body + data + bytes(-len(data) % 4) + opts, endian)
    return out


SABME, UA = hexbytes("00 81 7F"), hexbytes("02 81 73")
SETUP = hexbytes(FRAMES["setup"][0])
LINUX_LAPD_USER = struct.pack(">HHH", 4, 8445, 1) + bytes(8) + struct.pack(">H", 0x30)
write("fuzz_capture_reader", "pcap_lapd", pcap([(1765000000, 0, SABME), (1765000000, 1000, UA)]))
write("fuzz_capture_reader", "pcap_nano_big_endian",
      pcap([(1, 999999999, SETUP)], magic=0xA1B23C4D, endian=">"))
write("fuzz_capture_reader", "pcap_linux_lapd", pcap([(5, 0, LINUX_LAPD_USER + SETUP)], linktype=177))
write("fuzz_capture_reader", "pcapng_flags",
      pcapng([(203, "Tessix1 LINE1", 6)], [(0, 1765000000000000, SABME, 2), (0, 1765000000000001, UA, 1)]))
write("fuzz_capture_reader", "pcapng_two_interfaces",
      pcapng([(177, "", 9), (203, "B", 0x8A)], [(1, 7, SETUP, 0), (0, 9, LINUX_LAPD_USER + UA, 0)]))
write("fuzz_capture_reader", "pcapng_big_endian", pcapng([(203, "X", 7)], [(0, 1, SABME, 1)], endian=">"))
write("fuzz_capture_reader", "pcapng_cut", pcapng([(203, "", 6)], [(0, 1, SETUP, 0)])[:-9])
write("fuzz_capture_reader", "pcap_linux_lapd_short",
      pcap([(5, 0, LINUX_LAPD_USER[:5]), (6, 0, LINUX_LAPD_USER + UA)], linktype=177))
write("fuzz_capture_reader", "pcapng_huge_block",
      pcapng([(203, "", 6)], [(0, 1, SABME, 0)]) + struct.pack("<II", 6, 0xFFFFFFF0) + bytes(64))
