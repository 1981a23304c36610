// SPDX-License-Identifier: BSD-2-Clause
// The frame display over 3,000 frames of the cross-check mix (tests/e2e/lapd_capture.py, seed 7),
// every view on, compared with the text that the printf-based formatting gave for the same frames:
// its length and its FNV-1a hash. Any change of a single character in any view fails here; the
// text is then left in the test's working directory for a comparison by hand.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "capture.h"
#include "decode/frame_display.h"
#include "decode_test_util.h"
#include "platform/platform.h"

namespace {

std::uint64_t Fnv1a64(const std::string& text) {
  std::uint64_t hash = 0xcbf29ce484222325ULL;
  for (const char c : text) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 0x100000001b3ULL;
  }
  return hash;
}

std::string DecodeMix() {
  brisim::CaptureSpec plan;
  plan.key = "frame mix";
  brisim::CaptureSummary summary;
  const std::vector<brisim::FrameSpec> frames = brisim::ReadCapture(plan, BRI_DECODE_MIX_CAPTURE, &summary);
  EXPECT_EQ(frames.size(), 3000U);
  std::string text;
  for (const brisim::FrameSpec& f : frames) {
    const decode_test::Entry entry = decode_test::MakeEntry(f.direction, f.octets, std::nullopt, *f.filetime);
    FormatTraceFrame(text, "Tessix1 LINE1", TraceEntryBytes(entry), ViewSwitches{}, PlatFileTimeToLocal);
  }
  return text;
}

TEST(GoldenMix, SameTextAsBefore) {
  struct Case {
    const char* zone;
    std::uint64_t hash;
  };
  // A zone with summer time, and UTC. The capture's times lie in winter: CET is one hour ahead.
  const Case cases[] = {
      {"CET-1CEST,M3.5.0,M10.5.0/3", 0x0186454309527eeeULL},
      {"UTC0", 0x61c6a4aa8aaa52e0ULL},
  };
  for (const Case& c : cases) {
    decode_test::UseTimeZone(c.zone);
    const std::string text = DecodeMix();
    const std::uint64_t hash = Fnv1a64(text);
    EXPECT_EQ(text.size(), 1178529U) << c.zone;
    EXPECT_EQ(hash, c.hash) << c.zone;
    if (hash != c.hash) std::ofstream("golden_mix_actual.txt", std::ios::binary) << text;
  }
  decode_test::UseUtc();
}

}  // namespace
