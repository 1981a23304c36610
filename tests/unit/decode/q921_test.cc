// SPDX-License-Identifier: BSD-2-Clause
// The Q.921 view: control field, TEI management, and what it leaves for the Q.931 view.
#include "decode/q921.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "decode_test_util.h"
#include "platform/platform.h"

namespace {

using decode_test::Decode;
using decode_test::kNet;
using decode_test::MakeEntry;
using decode_test::Views;

struct LapdResult {
  std::string text;
  std::int32_t remaining;
  std::ptrdiff_t consumed;
};

// Runs the Q.921 formatter over the octets behind the address.
LapdResult Lapd(std::uint8_t sapi, const std::vector<std::uint8_t>& rest, std::uint32_t direction = 0) {
  std::int32_t remaining = static_cast<std::int32_t>(rest.size());
  const std::uint8_t* cursor = rest.data();
  std::string text = FormatLapdFrame(true, sapi, 64, direction, 'C', remaining, cursor);
  return {text, remaining, cursor - rest.data()};
}

const std::string kHead = "Q.921 Decode\n  Sapi: 00 Tei: 064 C/R: C\n";
const std::string kTeiHead = "Q.921 Decode\n  Sapi: 63 Tei: 064 C/R: C\n";

TEST(Q921, ControlField) {
  struct Case {
    std::vector<std::uint8_t> control;
    const char* line;
    std::ptrdiff_t consumed;
  };
  const Case cases[] = {
      {{0x7F}, "  SABME P/F: F\n", 1},
      {{0x6F}, "  SABME P/F: P\n", 1},
      {{0x13}, "  UI    P/F: F\n", 1},
      {{0x03}, "  UI    P/F: P\n", 1},
      {{0x73}, "  UA    P/F: F\n", 1},
      {{0x53}, "  DISC  P/F: F\n", 1},
      {{0x1F}, "  DM    P/F: F\n", 1},
      {{0x87}, "  FRMR  P/F: P\n", 1},
      {{0xBF}, "  XID   P/F: F\n", 1},
      {{0x3F}, "  U-2F  P/F: F\n", 1},  // named with the P/F bit cleared
      {{0x01, 0x01}, "  RR    P/F: F Nr: 000\n", 2},
      {{0x05, 0xFE}, "  RNR   P/F: P Nr: 127\n", 2},
      {{0x09, 0x08}, "  REJ   P/F: P Nr: 004\n", 2},
      {{0x0D, 0x00}, "  ?     P/F: P Nr: 000\n", 2},
      {{0x02, 0x05}, "  I Frame P/F: F Ns: 001 Nr: 002\n", 2},
      {{0xFE, 0xFE}, "  I Frame P/F: P Ns: 127 Nr: 127\n", 2},
  };
  for (const Case& c : cases) {
    std::vector<std::uint8_t> rest = c.control;
    rest.push_back(0x08);  // an information octet that stays for the Q.931 view
    const LapdResult r = Lapd(0, rest);
    EXPECT_EQ(r.text, kHead + c.line);
    EXPECT_EQ(r.consumed, c.consumed);
    EXPECT_EQ(r.remaining, 1);
  }
}

TEST(Q921, UFrameFallbackBufferHoldsTheLatestKey) {
  const char* first = UFrameName(0x2F);
  EXPECT_STREQ(first, "U-2F");
  EXPECT_EQ(UFrameName(0x0B), first);
  EXPECT_STREQ(first, "U-0B");
  EXPECT_STREQ(UFrameName(0x6F), "SABME");
}

TEST(Q921, TeiManagement) {
  struct Case {
    std::uint8_t sapi;
    std::vector<std::uint8_t> rest;
    std::string expected;
    std::int32_t remaining;
  };
  const Case cases[] = {
      {63,
       {0x13, 0x0F, 0x12, 0x34, 0x01, 0xFF},
       kTeiHead + "  UI    P/F: F\n  Id Req     Ri: 04660 Ai: 127\n",
       0},
      {63,
       {0x03, 0x0F, 0x00, 0x01, 0x02, 0x81, 0x99},
       kTeiHead + "  UI    P/F: P\n  Id Assign  Ri: 00001 Ai: 064\n",
       1},
      {63,
       {0x03, 0x0F, 0xFF, 0xFF, 0x06, 0x01},
       kTeiHead + "  UI    P/F: P\n  Id Remove  Ri: 65535 Ai: 000\n",
       0},
      {63,
       {0x03, 0x0F, 0x00, 0x00, 0x07, 0x01},
       kTeiHead + "  UI    P/F: P\n  <mdl-?}    Ri: 00000 Ai: 000\n",
       0},
      // Decoded after an I frame too.
      {63,
       {0x00, 0x00, 0x0F, 0x00, 0x00, 0x04, 0x01},
       kTeiHead + "  I Frame P/F: P Ns: 000 Nr: 000\n  Id Chk Req Ri: 00000 Ai: 000\n",
       0},
      // Another first octet: no management line, the octets stay.
      {63, {0x03, 0x08, 0x12, 0x34, 0x01, 0xFF}, kTeiHead + "  UI    P/F: P\n", 5},
      // 0x0F on another SAPI is not TEI management.
      {0, {0x03, 0x0F, 0x12, 0x34, 0x01, 0xFF}, kHead + "  UI    P/F: P\n", 5},
  };
  for (const Case& c : cases) {
    const LapdResult r = Lapd(c.sapi, c.rest);
    EXPECT_EQ(r.text, c.expected);
    EXPECT_EQ(r.remaining, c.remaining);
    EXPECT_EQ(r.consumed, static_cast<std::ptrdiff_t>(c.rest.size()) - c.remaining);
  }
}

// Whole frames: a TEI request leaves nothing for the Q.931 view; a SAPI 63 frame that is not TEI
// management, and a SAPI 0 frame starting 0x0F, reach the Q.931 view as not Q.931.
TEST(Q921, WhatReachesTheQ931View) {
  const Views views(false, false, true);
  EXPECT_EQ(Decode(MakeEntry(0, {0xFC, 0xFF, 0x03, 0x0F, 0x12, 0x34, 0x01, 0xFF})), "");
  EXPECT_EQ(Decode(MakeEntry(0, {0x00, 0x81, 0x03})), "");
  EXPECT_NE(Decode(MakeEntry(0, {0xFC, 0xFF, 0x03, 0x08, 0x01})).find("Not Q931!\n  0x08 0x01 \n"),
            std::string::npos);
  EXPECT_NE(Decode(MakeEntry(0, {0x00, 0x81, 0x03, 0x0F, 0x01})).find("Not Q931!\n  0x0F 0x01 \n"),
            std::string::npos);
}

// With the view off nothing of it shows, and the Q.931 view still starts behind the same octets.
TEST(Q921, ViewOffStillConsumes) {
  const auto entry = MakeEntry(0, {0x00, 0x81, 0x02, 0x05, 0x08, 0x01, 0x01, 0x05});
  std::string l3Only;
  std::string both;
  FormatTraceFrame(l3Only, "L", TraceEntryBytes(entry), ViewSwitches{false, false, true},
                   PlatFileTimeToLocal);
  FormatTraceFrame(both, "L", TraceEntryBytes(entry), ViewSwitches{false, true, true}, PlatFileTimeToLocal);
  EXPECT_EQ(l3Only.find("Q.921"), std::string::npos);
  const std::string l3 = "Q.931 Decode\n  Crv=001(T) SETUP\n\n";
  EXPECT_EQ(l3Only.substr(l3Only.find("Q.931")), l3);
  EXPECT_EQ(both.substr(both.find("Q.931")), l3);
}

}  // namespace
