// SPDX-License-Identifier: BSD-2-Clause
// Text lookups and the formatting of a full status area.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "areas/area_dump.h"
#include "areas/textdb.h"

namespace {

// A key near the front of "idp_tmsg", one near its end, one absent, and one in the last section.
void BM_DbLookup(benchmark::State& state, const char* section, const char* key) {
  for (auto _ : state) benchmark::DoNotOptimize(db_lookup(textdb_dat, textdb_size, section, key));
}
BENCHMARK_CAPTURE(BM_DbLookup, first_entry, "idp_tmsg", "1206");
BENCHMARK_CAPTURE(BM_DbLookup, last_entry, "idp_tmsg", "100");
BENCHMARK_CAPTURE(BM_DbLookup, absent, "idp_tmsg", "100.4");
BENCHMARK_CAPTURE(BM_DbLookup, cause, "cause", "0");

// A full 512-byte list: named values, plain numbers, 4-byte counters and strings, repeated.
AreaRecord FullArea() {
  const std::vector<std::uint8_t> pattern = {
      0x64, 0x00, 0x02, 0x00,                    // Tx_Info_Pattern, named value
      0x66, 0x40, 0xD2, 0x04, 0x00, 0x00,        // Tx_Frames, 4 bytes
      0x2F, 0x81, '0', '1', '2', '3', '4', 0,    // Spid, string
      0x52, 0x04, 0x01, 0x00,                    // Channel State, named value
      0x63, 0x00, 0x07, 0x00,                    // unnamed parameter
  };
  AreaRecord record{};
  const MutableByteSpan raw(record.raw);
  std::size_t at = 0;
  while (at + pattern.size() <= kParamsSize) {
    for (std::uint8_t b : pattern) raw[kParamsOffset + at++] = b;
  }
  WriteLE32(raw, kParamsLenOffset, static_cast<std::uint32_t>(at));
  return record;
}

void BM_AreaDump(benchmark::State& state) {
  const AreaRecord record = FullArea();
  std::uint32_t count = 0;
  get_num_of_params(&count, AreaParams(record), AreaParamsLen(record));
  for (auto _ : state) benchmark::DoNotOptimize(FormatAreaDump(3, record));
  state.counters["params"] = count;
}
BENCHMARK(BM_AreaDump);

}  // namespace
