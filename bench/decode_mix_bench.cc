// DecodeTraceFrame over the frame mix of the tshark cross-check (the capture that
// tests/e2e/lapd_capture.py writes for it), every view on, output collected and discarded.
#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "capture.h"
#include "common/bytes.h"
#include "common/console.h"
#include "decode/frame_display.h"
#include "decode/trace_entry.h"
#include "decode/view_flags.h"

namespace {

using Entry = std::array<std::uint8_t, kTraceEntrySize>;

// The capture's frames as trace entries, read once.
const std::vector<Entry>& MixEntries() {
  static const std::vector<Entry> entries = [] {
    brisim::CaptureSpec plan;
    plan.key = "frame mix";
    brisim::CaptureSummary summary;
    std::vector<Entry> out;
    for (const brisim::FrameSpec& f : brisim::ReadCapture(plan, BRI_FRAME_MIX_CAPTURE, &summary)) {
      Entry entry{};
      const MutableByteSpan e(entry);
      WriteLE32(e, kTimeStampOffset, static_cast<std::uint32_t>(*f.filetime));
      WriteLE32(e, kTimeStampOffset + 4, static_cast<std::uint32_t>(*f.filetime >> 32));
      WriteLE32(e, kDirectionOffset, f.direction);
      WriteLE32(e, kFrameLengthOffset, static_cast<std::uint32_t>(f.octets.size()));
      for (std::size_t i = 0; i < f.octets.size(); ++i) entry[kFrameDataOffset + i] = f.octets[i];
      out.push_back(entry);
    }
    return out;
  }();
  return entries;
}

void BM_DecodeTraceFrameCrossCheckMix(benchmark::State& state) {
  const std::vector<Entry>& frames = MixEntries();
  ShowRaw = 1;
  ShowL2 = 1;
  ShowL3 = 1;
  ConsoleCapture capture;
  std::size_t printed = 0;
  for (auto _ : state) {
    for (const Entry& entry : frames) DecodeTraceFrame("Tessix1 LINE1 (U)", TraceEntryBytes(entry));
    printed += capture.Take().size();
  }
  ShowRaw = 0;
  ShowL2 = 0;
  ShowL3 = 0;
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(frames.size()));
  state.counters["chars/frame"] = benchmark::Counter(
      static_cast<double>(printed) / static_cast<double>(frames.size()), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_DecodeTraceFrameCrossCheckMix)->Unit(benchmark::kMillisecond);

}  // namespace
