// SPDX-License-Identifier: BSD-2-Clause
// What the decoder benchmarks share: trace entries built from frames, and the loop that decodes
// them with every view on, output collected and discarded.
#pragma once

#include <benchmark/benchmark.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "base/bytes.h"
#include "decode/frame_display.h"
#include "decode/trace_entry.h"
#include "decode/trace_entry_codec.h"
#include "platform/platform.h"

using Entry = std::array<std::uint8_t, kTraceEntrySize>;

// A trace entry holding the frame's octets (as many as an entry takes).
inline Entry MakeEntry(std::uint64_t fileTime, std::uint32_t direction,
                       const std::vector<std::uint8_t>& frame) {
  Entry entry{};
  WriteTraceEntry(entry, fileTime, direction, frame);
  return entry;
}

// Decodes every frame with all three views on, as often as the benchmark asks; counts frames
// and the characters shown per frame. The text of one pass is collected and then dropped.
inline void DecodeWithAllViews(benchmark::State& state, const std::vector<Entry>& frames) {
  std::string text;
  std::size_t printed = 0;
  for (auto _ : state) {
    text.clear();
    for (const Entry& entry : frames)
      FormatTraceFrame(text, "Tessix1 LINE1 (U)", TraceEntryBytes(entry), ViewSwitches{},
                       PlatFileTimeToLocal);
    printed += text.size();
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(frames.size()));
  state.counters["chars/frame"] = benchmark::Counter(
      static_cast<double>(printed) / static_cast<double>(frames.size()), benchmark::Counter::kAvgIterations);
}
