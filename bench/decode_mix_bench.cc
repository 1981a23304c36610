// SPDX-License-Identifier: BSD-2-Clause
// FormatTraceFrame over the frame mix of the tshark cross-check (the capture that
// tests/e2e/lapd_capture.py writes for it), every view on, output collected and discarded.
#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "capture.h"
#include "decode_entries.h"

namespace {

// The capture's frames as trace entries, read once.
const std::vector<Entry>& MixEntries() {
  static const std::vector<Entry> entries = [] {
    brisim::CaptureSpec plan;
    plan.key = "frame mix";
    brisim::CaptureSummary summary;
    std::vector<Entry> out;
    for (const brisim::FrameSpec& f : brisim::ReadCapture(plan, BRI_FRAME_MIX_CAPTURE, &summary)) {
      out.push_back(MakeEntry(*f.filetime, f.direction, f.octets));
    }
    return out;
  }();
  return entries;
}

void BM_DecodeTraceFrameCrossCheckMix(benchmark::State& state) { DecodeWithAllViews(state, MixEntries()); }
BENCHMARK(BM_DecodeTraceFrameCrossCheckMix)->Unit(benchmark::kMillisecond);

}  // namespace
