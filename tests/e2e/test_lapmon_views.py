# SPDX-License-Identifier: BSD-2-Clause
"""lapmon -a -p against brisim: every captured frame printed with its time-stamp line and views."""

import time
import unittest

from harness import LAPMON, Sim, run, start, wait_for_log

NAME = "Tessix1 LINE1 (U)"
N = " " * 39
# 2024-01-02 03:04:05 UTC as a FILETIME
BASE = 116444736000000000 + 1704164645 * 10**7


def at(ms):
    return BASE + ms * 10**4


FRAMES = [
    # user-side SABME, P bit set
    ({"dir": 0, "hex": "00 81 7F", "filetime": at(7)},
     "\n03:04:05:07 %s (T)\nRawFrame\n  00 81 7f \n"
     "Q.921 Decode\n  Sapi: 00 Tei: 064 C/R: C\n  SABME P/F: F\n" % NAME),
    # network-side UA
    ({"dir": 1, "hex": "00 81 73", "filetime": at(250)},
     "\n{N}03:04:05:250 {name} (N)\n{N}RawFrame\n{N}  00 81 73 \n"
     "{N}Q.921 Decode\n{N}  Sapi: 00 Tei: 064 C/R: R\n{N}  UA    P/F: F\n".format(N=N, name=NAME)),
    # SETUP in an I frame
    ({"dir": 0, "hex": "00 81 00 00 08 01 01 05 A1 04 03 80 90 A2", "filetime": at(7)},
     "\n03:04:05:07 %s (T)\nRawFrame\n  00 81 00 00 08 01 01 05 a1 \n  04 03 80 90 a2 \n"
     "Q.921 Decode\n  Sapi: 00 Tei: 064 C/R: C\n  I Frame P/F: P Ns: 000 Nr: 000\n"
     "Q.931 Decode\n  Crv=001(T) SETUP\n  [SndCmplt  ] A1\n  [BearerCap ] 04 (03) 80 90 a2\n\n" % NAME),
    # network-side DISCONNECT with a Cause element and diagnostics
    ({"dir": 1, "hex": "02 81 02 02 08 01 81 45 08 03 80 D8 04", "filetime": at(7)},
     "\n{N}03:04:05:07 {name} (N)\n{N}RawFrame\n{N}  02 81 02 02 08 01 81 45 08 \n{N}  03 80 d8 04 \n"
     "{N}Q.921 Decode\n{N}  Sapi: 00 Tei: 064 C/R: C\n{N}  I Frame P/F: P Ns: 001 Nr: 001\n"
     "{N}Q.931 Decode\n{N}  Crv=001(O) DISCONNECT\n{N}  [Cause     ] 08 (03) 80 d8 04\n"
     "{N}    User\n{N}    Invalid Message\n{N}    Incompatible Destination\nDiagnostics:  04\n\n"
     .format(N=N, name=NAME)),
    # TEI identity request
    ({"dir": 0, "hex": "FC FF 03 0F 12 34 01 FF", "filetime": at(7)},
     "\n03:04:05:07 %s (T)\nRawFrame\n  fc ff 03 0f 12 34 01 ff \n"
     "Q.921 Decode\n  Sapi: 63 Tei: 127 C/R: C\n  UI    P/F: P\n  Id Req     Ri: 04660 Ai: 127\n" % NAME),
    # a negative FrameLength counts as an empty frame
    ({"dir": 0, "hex": "00 81 7F", "length": -5, "filetime": at(7)},
     "\n03:04:05:07 %s (T)\nRawFrame\n  \nQ.921 Decode\n  Frame ends early\n" % NAME),
]


class LapmonViews(unittest.TestCase):
    def setUp(self):
        usage = run(LAPMON, ["-?"], timeout=10)
        if b"Usage" not in usage.stdout:
            self.skipTest("lapmon is not built yet")

    def test_every_frame_printed_exactly(self):
        scenario = {"lines": [{"name": NAME, "trace": {"frames": [f for f, _ in FRAMES]}}]}
        with Sim(scenario) as sim:
            proc = start(LAPMON, ["-a", "-p"], sim=sim)
            try:
                wait_for_log(sim, lambda log: sum(r["name"] == "OP_TRACE_READ" and r["status"] == 0
                                                  for r in log) >= len(FRAMES), timeout=20)
                time.sleep(0.5)  # the decode thread prints within moments of the read
                out, err = proc.communicate(b"9", timeout=20)
            finally:
                if proc.poll() is None:
                    proc.kill()
                    proc.wait()
        self.assertEqual(proc.returncode, 0, err)
        text = out.decode("latin-1")
        self.assertIn("".join(expected for _, expected in FRAMES), text)


if __name__ == "__main__":
    unittest.main()
