// SPDX-License-Identifier: BSD-2-Clause
// Frames whose recorded length is out of range or too short for the fields the views read.
//
// Each view shows the fields the frame holds completely; at the first field that the frame does
// not hold it shows "Frame ends early" and consumes the rest, so the later views see nothing.
// Inside a Cause element the element's own length is the limit: a field beyond it shows
// "Cause ends early".
#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "decode/frame_display.h"
#include "decode/q921.h"
#include "decode/q931.h"
#include "decode_test_util.h"
#include "platform/platform.h"

namespace {

using decode_test::Decode;
using decode_test::MakeEntry;
using decode_test::Views;

class MalformedFrame : public ::testing::Test {
 protected:
  void SetUp() override { decode_test::UseUtc(); }
};

const std::string kStamp = "\n03:04:05:07 LINE1 (T)\n";

TEST_F(MalformedFrame, FrameLengthOutOfRange) {
  const Views views(true, false, false);
  std::vector<std::uint8_t> full(260, 0xEE);
  // More than the record holds: the 260 octets of the record, 29 rows.
  const std::string big = Decode(MakeEntry(0, full, 100000));
  EXPECT_EQ(big, Decode(MakeEntry(0, full, 260)));
  // 260 octets: 28 rows of nine and a last row of eight.
  EXPECT_EQ(big.substr(big.size() - 28), "\n  ee ee ee ee ee ee ee ee \n");
  EXPECT_EQ(std::count(big.begin(), big.end(), '\n'), 3 + 29);  // stamp, heading, rows

  // Negative: an empty frame.
  for (const std::int32_t length : {-1, -100000, std::numeric_limits<std::int32_t>::min()}) {
    EXPECT_EQ(Decode(MakeEntry(0, {0x00, 0x81, 0x7F}, length)), kStamp + "RawFrame\n  \n");
  }
}

TEST_F(MalformedFrame, ShortLapdFields) {
  const Views views(false, true, true);
  struct Case {
    std::vector<std::uint8_t> frame;
    std::string expected;
  };
  const std::string head = kStamp + "Q.921 Decode\n";
  const std::string address = head + "  Sapi: 00 Tei: 064 C/R: C\n";
  const std::string tei = kStamp + "Q.921 Decode\n  Sapi: 63 Tei: 127 C/R: C\n";
  const Case cases[] = {
      {{}, head + "  Frame ends early\n"},
      {{0x00}, head + "  Frame ends early\n"},
      {{0x00, 0x81}, address + "  Frame ends early\n"},
      {{0x00, 0x81, 0x00}, address + "  Frame ends early\n"},  // I frame without its second octet
      {{0x00, 0x81, 0x01}, address + "  Frame ends early\n"},  // S frame without its second octet
      {{0xFC, 0xFF, 0x03, 0x0F, 0x12, 0x34, 0x01}, tei + "  UI    P/F: P\n  Frame ends early\n"},
      {{0xFC, 0xFF, 0x03, 0x0F}, tei + "  UI    P/F: P\n  Frame ends early\n"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Decode(MakeEntry(0, c.frame)), c.expected);
  }
}

TEST_F(MalformedFrame, ShortQ931Fields) {
  struct Case {
    std::vector<std::uint8_t> field;
    std::string expected;
  };
  const std::string head = "Q.931 Decode\n";
  const std::string setup = head + "  Crv=001(T) SETUP\n";
  const Case cases[] = {
      {{0x08}, head + "  Frame ends early\n"},
      {{0x08, 0x02, 0x12}, head + "  Frame ends early\n"},
      {{0x08, 0x0F, 1, 2, 3}, head + "  Frame ends early\n"},
      {{0x08, 0x01, 0x01}, head + "  Frame ends early\n"},
      {{0x08, 0x01, 0x01, 0x00}, head + "  Frame ends early\n"},
      {{0x08, 0x01, 0x01, 0x05, 0x04}, setup + "  Frame ends early\n"},
      {{0x08, 0x01, 0x01, 0x05, 0xA1, 0x04, 0x03, 0x80},
       setup + "  [SndCmplt  ] A1\n  [BearerCap ] 04 (03) 80\n  Frame ends early\n"},
      {{0x08, 0x01, 0x01, 0x05, 0x70, 0xFF, 1, 2, 3, 4, 5, 6},
       setup + "  [CalledAdr ] 70 (FF) 01 02 03 04 05\n                       06\n  Frame ends early\n"},
      // Cause elements too short for their fields; the next element is not taken into them.
      {{0x08, 0x01, 0x01, 0x05, 0x08, 0x00, 0xA1},
       setup + "  [Cause     ] 08 (00)\n    Cause ends early\n\n  [SndCmplt  ] A1\n"},
      {{0x08, 0x01, 0x01, 0x05, 0x08, 0x01, 0x80, 0xA1},
       setup + "  [Cause     ] 08 (01) 80\n    User\n    Cause ends early\n\n  [SndCmplt  ] A1\n"},
      {{0x08, 0x01, 0x01, 0x05, 0x08, 0x02, 0x00, 0x80},  // recommendation octet but no cause value
       setup + "  [Cause     ] 08 (02) 00 80\n    User\n    Cause ends early\n\n"},
      // Cause elements cut off by the end of the frame.
      {{0x08, 0x01, 0x01, 0x05, 0x08, 0x03}, setup + "  [Cause     ] 08 (03)\n  Frame ends early\n"},
      {{0x08, 0x01, 0x01, 0x05, 0x08, 0x03, 0x80},
       setup + "  [Cause     ] 08 (03) 80\n    User\n  Frame ends early\n"},
      {{0x08, 0x01, 0x01, 0x05, 0x08, 0x05, 0x80, 0x90, 0x01},
       setup + "  [Cause     ] 08 (05) 80 90 01\n    User\n    Normal Event\n    Normal Clearing\n"
               "Diagnostics:  01\n  Frame ends early\n"},
  };
  for (const Case& c : cases) {
    std::int32_t remaining = static_cast<std::int32_t>(c.field.size());
    const std::uint8_t* cursor = c.field.data();
    EXPECT_EQ(FormatL3Frame(0, 0, remaining, cursor), c.expected + "\n");
    EXPECT_EQ(remaining, 0);
    EXPECT_EQ(cursor, c.field.data() + c.field.size());
  }
}

// The formatters run over heap buffers of exactly the octets they are given, so that a read past
// the end is caught by the address sanitizer; the whole entry is decoded from a heap copy of
// exactly 288 bytes for the same reason.
TEST_F(MalformedFrame, RandomFramesStayInBounds) {
  std::mt19937 random(20261207);
  std::uniform_int_distribution<int> octet(0, 255);
  std::uniform_int_distribution<int> size(0, 40);
  std::string text;
  for (int round = 0; round < 3000; ++round) {
    const auto n = static_cast<std::size_t>(size(random));
    auto bytes = std::make_unique<std::uint8_t[]>(n + 1);
    for (std::size_t i = 0; i < n; ++i) bytes[i] = static_cast<std::uint8_t>(octet(random));
    // Favour Q.931 messages and Cause elements so that the deep paths run often.
    if (n > 0 && round % 2 == 0) bytes[0] = 0x08;
    if (n > 3 && round % 3 == 0) bytes[3] = 0x08;
    const auto sapi = static_cast<std::uint8_t>(round % 5 == 0 ? 63 : 0);

    std::int32_t remaining = static_cast<std::int32_t>(n);
    const std::uint8_t* cursor = bytes.get();
    FormatL3Frame(sapi, 0, remaining, cursor);
    EXPECT_EQ(remaining, 0);
    EXPECT_LE(cursor, bytes.get() + n);

    remaining = static_cast<std::int32_t>(n);
    cursor = bytes.get();
    FormatLapdFrame(true, sapi, 0, 1, 'C', remaining, cursor);
    EXPECT_GE(remaining, 0);
    EXPECT_EQ(cursor, bytes.get() + (n - static_cast<std::size_t>(remaining)));

    auto entry = std::make_unique<std::uint8_t[]>(kTraceEntrySize);
    for (std::size_t i = 0; i < kTraceEntrySize; ++i) entry[i] = static_cast<std::uint8_t>(octet(random));
    std::int32_t frameLength = octet(random) * 4 - 200;  // -200 .. 820
    if (round % 7 == 0) frameLength = static_cast<std::int32_t>(entry[kFrameLengthOffset] << 24);
    WriteLE32(MutableByteSpan(entry.get(), kTraceEntrySize), kFrameLengthOffset,
              static_cast<std::uint32_t>(frameLength));
    text.clear();
    FormatTraceFrame(text, "FUZZ", TraceEntryBytes(entry.get(), kTraceEntrySize), ViewSwitches{},
                     PlatFileTimeToLocal);
    EXPECT_FALSE(text.empty());
  }
}

}  // namespace
