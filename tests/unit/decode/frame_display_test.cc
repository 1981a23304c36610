// SPDX-License-Identifier: BSD-2-Clause
// The frame as a whole: time-stamp line, raw view, address and C/R letter, and which views print.
#include "decode/frame_display.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "decode_test_util.h"
#include "platform/platform.h"

namespace {

using decode_test::Decode;
using decode_test::FileTimeAt;
using decode_test::kNet;
using decode_test::MakeEntry;
using decode_test::Views;

class FrameDisplay : public ::testing::Test {
 protected:
  void SetUp() override { decode_test::UseUtc(); }
};

TEST_F(FrameDisplay, TimeStampLine) {
  struct Case {
    std::uint32_t direction;
    unsigned milliseconds;
    std::string expected;
  };
  const Case cases[] = {
      {0, 7, "\n03:04:05:07 LINE1 (T)\n"},
      {0, 250, "\n03:04:05:250 LINE1 (T)\n"},
      {1, 0, "\n" + kNet + "03:04:05:00 LINE1 (N)\n"},
      {0x80000000U, 999, "\n" + kNet + "03:04:05:999 LINE1 (N)\n"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FormatTimeStamp(c.direction, FileTimeAt(c.milliseconds), "LINE1", PlatFileTimeToLocal),
              c.expected)
        << c.milliseconds;
  }
}

// A capture time the system cannot convert shows as zeros rather than as stale or random digits.
TEST_F(FrameDisplay, UnconvertibleTimeStampShowsZeros) {
  EXPECT_EQ(FormatTimeStamp(0, 0xFFFFFFFFFFFFFFFFULL, "LINE1", PlatFileTimeToLocal),
            "\n00:00:00:00 LINE1 (T)\n");
}

// The line shows what the caller's conversion gives, and one second kept from one conversion is
// never shown for another (or for none).
TEST_F(FrameDisplay, TimeStampShowsTheCallersConversion) {
  const LocalTimeConversion noon = [](std::uint64_t, SystemTime* local) {
    local->hour = 12;
    return true;
  };
  const LocalTimeConversion fails = [](std::uint64_t, SystemTime*) { return false; };
  const std::uint64_t t = FileTimeAt(7);
  EXPECT_EQ(FormatTimeStamp(0, t, "L", noon), "\n12:00:00:07 L (T)\n");
  EXPECT_EQ(FormatTimeStamp(0, t, "L", fails), "\n00:00:00:00 L (T)\n");
  EXPECT_EQ(FormatTimeStamp(0, t, "L", PlatFileTimeToLocal), "\n03:04:05:07 L (T)\n");
  EXPECT_EQ(FormatTimeStamp(0, t, "L", nullptr), "\n00:00:00:00 L (T)\n");
}

TEST_F(FrameDisplay, TimeStampFollowsTheLocalZone) {
#if defined(_WIN32)
  GTEST_SKIP() << "Windows takes the time zone from the system";
#endif
  decode_test::UseTimeZone("UTC-2");  // two hours east of UTC
  EXPECT_EQ(FormatTimeStamp(0, FileTimeAt(7), "L", PlatFileTimeToLocal), "\n05:04:05:07 L (T)\n");
}

// Local time is converted once per second of capture time and kept for the frames of that
// second: every line still shows what a conversion of its own frame gives, across second
// boundaries, a change to summer time, times out of order, times that cannot be converted, and a
// change of zone.
TEST_F(FrameDisplay, TimeStampsOfManyFramesMatchTheirOwnConversion) {
#if defined(_WIN32)
  GTEST_SKIP() << "Windows takes the time zone from the system";
#endif
  // The line that the conversion of this one frame gives.
  const auto expected = [](std::uint64_t fileTime) {
    SystemTime local;
    if (!PlatFileTimeToLocal(fileTime, &local)) local = SystemTime{};
    char text[64];
    std::snprintf(text, sizeof text, "\n%2.2d:%2.2d:%2.2d:%2.2d L (T)\n", local.hour, local.minute,
                  local.second, local.milliseconds);
    return std::string(text);
  };
  // 2024-03-31 00:59:59.000 UTC: a second before central Europe moves from 02:00 CET to 03:00 CEST.
  constexpr std::uint64_t kSecond = 10000000ULL;
  constexpr std::uint64_t kBeforeSummer = 116444736000000000ULL + 1711846799ULL * kSecond;
  std::vector<std::uint64_t> times;
  for (std::uint64_t ms = 0; ms < 2100; ms += 7) times.push_back(kBeforeSummer + ms * 10000ULL);
  times.push_back(kBeforeSummer - 3 * kSecond);  // back in time
  times.push_back(kBeforeSummer + 5 * kSecond + 1);
  times.push_back(0xFFFFFFFFFFFFFFFFULL);  // no time at all
  times.push_back(kBeforeSummer + 5 * kSecond + 2);
  times.push_back(0x7FFFFFFFFFFFFFFFULL);  // the last FILETIME: the last second it starts, and beyond
  times.push_back(0x8000000000000000ULL);
  times.push_back(0);

  for (const char* zone : {"CET-1CEST,M3.5.0,M10.5.0/3", "UTC0", "CET-1CEST,M3.5.0,M10.5.0/3"}) {
    decode_test::UseTimeZone(zone);
    for (const std::uint64_t t : times) {
      ASSERT_EQ(FormatTimeStamp(0, t, "L", PlatFileTimeToLocal), expected(t)) << zone << " " << t;
    }
  }
  decode_test::UseTimeZone("CET-1CEST,M3.5.0,M10.5.0/3");
  EXPECT_EQ(FormatTimeStamp(0, kBeforeSummer + 999 * 10000ULL, "L", PlatFileTimeToLocal),
            "\n01:59:59:999 L (T)\n");
  EXPECT_EQ(FormatTimeStamp(0, kBeforeSummer + kSecond + 5 * 10000ULL, "L", PlatFileTimeToLocal),
            "\n03:00:00:05 L (T)\n");
}

TEST_F(FrameDisplay, RawRowsOfNine) {
  struct Case {
    std::uint32_t direction;
    std::vector<std::uint8_t> frame;
    std::string expected;
  };
  const Case cases[] = {
      {0, {}, "RawFrame\n  \n"},
      {0, {0x00, 0x81, 0x7F}, "RawFrame\n  00 81 7f \n"},
      {0, {1, 2, 3, 4, 5, 6, 7, 8, 0xAB}, "RawFrame\n  01 02 03 04 05 06 07 08 ab \n"},
      {0, {1, 2, 3, 4, 5, 6, 7, 8, 9, 0xFF}, "RawFrame\n  01 02 03 04 05 06 07 08 09 \n  ff \n"},
      {1,
       {1, 2, 3, 4, 5, 6, 7, 8, 9, 10},
       kNet + "RawFrame\n" + kNet + "  01 02 03 04 05 06 07 08 09 \n" + kNet + "  0a \n"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FormatRawFrame(c.direction, c.frame), c.expected);
  }
}

TEST_F(FrameDisplay, AddressAndCommandResponseLetter) {
  struct Case {
    std::uint32_t direction;
    std::uint8_t a1, a2;
    const char* addressLine;
  };
  const Case cases[] = {
      {0, 0x00, 0x81, "  Sapi: 00 Tei: 064 C/R: C\n"},
      {0, 0x02, 0x81, "  Sapi: 00 Tei: 064 C/R: R\n"},
      {1, 0x02, 0x81, "  Sapi: 00 Tei: 064 C/R: C\n"},
      {1, 0x00, 0x81, "  Sapi: 00 Tei: 064 C/R: R\n"},
      {0, 0xFC, 0xFF, "  Sapi: 63 Tei: 127 C/R: C\n"},
      {0, 0xFE, 0xFF, "  Sapi: 63 Tei: 127 C/R: R\n"},
      // Only bit 0 of the direction enters the letter: 2 counts as the user side here.
      {2, 0x00, 0x81, "  Sapi: 00 Tei: 064 C/R: C\n"},
      {2, 0x02, 0x81, "  Sapi: 00 Tei: 064 C/R: R\n"},
      {3, 0x02, 0x81, "  Sapi: 00 Tei: 064 C/R: C\n"},
  };
  const Views views(false, true, false);
  for (const Case& c : cases) {
    const std::string text = Decode(MakeEntry(c.direction, {c.a1, c.a2, 0x7F}));
    const std::string indent = c.direction != 0 ? kNet : "";
    EXPECT_NE(text.find("\n" + indent + c.addressLine), std::string::npos)
        << "direction " << c.direction << " a1 " << int{c.a1} << "\n"
        << text;
  }
}

TEST_F(FrameDisplay, AllViewsOfAUserSideFrame) {
  const Views views(true, true, true);
  const std::string text = Decode(MakeEntry(0, {0x00, 0x81, 0x00, 0x00, 0x08, 0x01, 0x01, 0x05, 0xA1}));
  EXPECT_EQ(text,
            "\n03:04:05:07 LINE1 (T)\n"
            "RawFrame\n"
            "  00 81 00 00 08 01 01 05 a1 \n"
            "Q.921 Decode\n"
            "  Sapi: 00 Tei: 064 C/R: C\n"
            "  I Frame P/F: P Ns: 000 Nr: 000\n"
            "Q.931 Decode\n"
            "  Crv=001(T) SETUP\n"
            "  [SndCmplt  ] A1\n"
            "\n");
}

// Every line of a network-side frame starts with 39 spaces, except the empty lines and the line
// that starts with "Diagnostics: ".
TEST_F(FrameDisplay, NetworkSideFrameStandsInTheSecondColumn) {
  const Views views(true, true, true);
  const std::string text = Decode(MakeEntry(
      1, {0x02, 0x81, 0x00, 0x00, 0x08, 0x01, 0x81, 0x45, 0x08, 0x03, 0x80, 0xD8, 0x04, 0x04, 0x01, 0x88}));
  std::istringstream lines(text);
  std::string line;
  int diagnostics = 0;
  int checked = 0;
  while (std::getline(lines, line)) {
    if (line.empty()) continue;
    if (line.rfind("Diagnostics: ", 0) == 0) {
      EXPECT_EQ(line, "Diagnostics:  04");
      ++diagnostics;
      continue;
    }
    EXPECT_EQ(line.rfind(kNet, 0), 0U) << line;
    ++checked;
  }
  EXPECT_EQ(diagnostics, 1);
  EXPECT_GT(checked, 10);
  EXPECT_NE(text.find(kNet + "03:04:05:07 LINE1 (N)\n"), std::string::npos);
}

TEST_F(FrameDisplay, WhichViewsPrint) {
  const auto rr = MakeEntry(0, {0x00, 0x81, 0x01, 0x01});
  const auto setup = MakeEntry(0, {0x00, 0x81, 0x00, 0x00, 0x08, 0x01, 0x01, 0x05});
  const std::string stamp = "\n03:04:05:07 LINE1 (T)\n";
  const std::string l2 = "Q.921 Decode\n  Sapi: 00 Tei: 064 C/R: C\n  I Frame P/F: P Ns: 000 Nr: 000\n";
  const std::string l3 = "Q.931 Decode\n  Crv=001(T) SETUP\n\n";
  {
    const Views views(false, false, false);
    EXPECT_EQ(Decode(setup), "");
  }
  {
    // No information field: the Q.931 view is not reached, so nothing at all shows.
    const Views views(false, false, true);
    EXPECT_EQ(Decode(rr), "");
  }
  {
    const Views views(false, true, false);
    EXPECT_EQ(Decode(setup), stamp + l2);
  }
  {
    // The Q.921 view consumed its octets without printing; the Q.931 view starts behind them.
    const Views views(false, false, true);
    EXPECT_EQ(Decode(setup), stamp + l3);
  }
  {
    const Views views(false, true, true);
    EXPECT_EQ(Decode(setup), stamp + l2 + l3);
  }
}

// The text is appended to what the caller's buffer holds already.
TEST_F(FrameDisplay, AppendsToTheCallersText) {
  const auto rr = MakeEntry(0, {0x00, 0x81, 0x01, 0x01});
  std::string text = "before";
  FormatTraceFrame(text, "LINE1", TraceEntryBytes(rr), ViewSwitches{false, true, false}, PlatFileTimeToLocal);
  EXPECT_EQ(text,
            "before\n03:04:05:07 LINE1 (T)\nQ.921 Decode\n  Sapi: 00 Tei: 064 C/R: C\n"
            "  RR    P/F: F Nr: 000\n");
}

// With a reader, each view's switch is asked for once, in the order the views are shown, and a
// switch that changes between two views of a frame counts from the next view on. The Q.931 view
// is not asked for when the frame has nothing left for it.
TEST_F(FrameDisplay, SwitchesReadOncePerView) {
  static std::vector<TraceView> asked;
  static bool l3On = true;
  const ViewSwitchReader reader = [](TraceView view) {
    asked.push_back(view);
    if (view == TraceView::kL2) l3On = false;  // a key switches the Q.931 view off meanwhile
    return view != TraceView::kL3 || l3On;
  };
  const auto setup = MakeEntry(0, {0x00, 0x81, 0x00, 0x00, 0x08, 0x01, 0x01, 0x05});
  std::string text;
  FormatTraceFrame(text, "LINE1", TraceEntryBytes(setup), reader, PlatFileTimeToLocal);
  EXPECT_EQ(asked, (std::vector<TraceView>{TraceView::kRaw, TraceView::kL2, TraceView::kL3}));
  EXPECT_EQ(text.find("Q.931"), std::string::npos);
  EXPECT_NE(text.find("RawFrame\n"), std::string::npos);

  asked.clear();
  text.clear();
  FormatTraceFrame(text, "LINE1", TraceEntryBytes(MakeEntry(0, {0x00, 0x81, 0x01, 0x01})), reader,
                   PlatFileTimeToLocal);
  EXPECT_EQ(asked, (std::vector<TraceView>{TraceView::kRaw, TraceView::kL2}));
}

}  // namespace
