// SPDX-License-Identifier: BSD-2-Clause
// Cost of decoding captured frames: every view on, output collected and thrown away.
#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "decode/frame_display.h"
#include "decode/q931.h"
#include "decode_entries.h"
#include "platform/platform.h"

namespace {

// Every frame of the mix is stamped with the same time.
Entry MakeEntry(std::uint32_t direction, const std::vector<std::uint8_t>& frame) {
  return ::MakeEntry(133485000000000000ULL, direction, frame);
}

// A call's worth of traffic: link set-up, TEI assignment, SETUP to RELEASE COMPLETE, a foreign
// protocol and a long element.
std::vector<Entry> FrameMix() {
  std::vector<std::uint8_t> longElement = {0x00, 0x81, 0x04, 0x04, 0x08, 0x01, 0x01, 0x7B, 0x7E, 0xC8};
  for (int i = 0; i < 200; ++i) longElement.push_back(static_cast<std::uint8_t>(i));
  return {
      MakeEntry(0, {0xFC, 0xFF, 0x03, 0x0F, 0x12, 0x34, 0x01, 0xFF}),
      MakeEntry(1, {0xFE, 0xFF, 0x03, 0x0F, 0x12, 0x34, 0x02, 0x81}),
      MakeEntry(0, {0x00, 0x81, 0x7F}),
      MakeEntry(1, {0x00, 0x81, 0x73}),
      MakeEntry(0, {0x00, 0x81, 0x00, 0x00, 0x08, 0x01, 0x01, 0x05, 0xA1, 0x04, 0x03, 0x80,
                    0x90, 0xA2, 0x18, 0x01, 0x83, 0x70, 0x05, 0x81, 0x31, 0x32, 0x33, 0x34}),
      MakeEntry(1, {0x02, 0x81, 0x01, 0x02}),
      MakeEntry(1, {0x02, 0x81, 0x00, 0x02, 0x08, 0x01, 0x81, 0x02, 0x18, 0x01, 0x89}),
      MakeEntry(1, {0x02, 0x81, 0x02, 0x02, 0x08, 0x01, 0x81, 0x45, 0x08, 0x03, 0x80, 0xD8, 0x04, 0x96, 0x32,
                    0x01, 0x41}),
      MakeEntry(0, {0x00, 0x81, 0x02, 0x04, 0x08, 0x01, 0x01, 0x4D}),
      MakeEntry(1, {0x02, 0x81, 0x04, 0x04, 0x08, 0x01, 0x81, 0x5A, 0x08, 0x02, 0x80, 0x90}),
      MakeEntry(0, {0x40, 0x81, 0x06, 0x06, 0x09, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A,
                    0x0B, 0x0C}),
      MakeEntry(0, longElement),
  };
}

void BM_DecodeTraceFrameAllViews(benchmark::State& state) { DecodeWithAllViews(state, FrameMix()); }
BENCHMARK(BM_DecodeTraceFrameAllViews);

// The decoders with every view off: what a frame costs when nothing is shown.
void BM_DecodeTraceFrameViewsOff(benchmark::State& state) {
  const std::vector<Entry> frames = FrameMix();
  std::string text;
  for (auto _ : state) {
    for (const Entry& entry : frames) {
      FormatTraceFrame(text, "Tessix1 LINE1 (U)", TraceEntryBytes(entry), ViewSwitches{false, false, false},
                       PlatFileTimeToLocal);
    }
    benchmark::DoNotOptimize(text.data());
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(frames.size()));
}
BENCHMARK(BM_DecodeTraceFrameViewsOff);

// The Q.931 formatter alone over a DISCONNECT with a Cause element.
void BM_FormatL3Frame(benchmark::State& state) {
  const std::vector<std::uint8_t> field = {0x08, 0x01, 0x81, 0x45, 0x08, 0x03, 0x80,
                                           0xD8, 0x04, 0x96, 0x32, 0x01, 0x41};
  for (auto _ : state) {
    std::int32_t remaining = static_cast<std::int32_t>(field.size());
    const std::uint8_t* cursor = field.data();
    benchmark::DoNotOptimize(FormatL3Frame(0, 1, remaining, cursor));
  }
}
BENCHMARK(BM_FormatL3Frame);

}  // namespace
