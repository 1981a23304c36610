// SPDX-License-Identifier: BSD-2-Clause
// One area record of arbitrary bytes through the area dump and the three layer summaries, and its
// parameter list through the parameter walk on a buffer of its own.
//
// The record, and the list copy, are exact-size heap blocks, so that AddressSanitizer reports any
// read past them.
#include <array>
#include <cstdint>
#include <cstring>
#include <memory>

#include "areas/area_dump.h"
#include "areas/area_record.h"
#include "fuzz_check.h"
#include "status/layer_status.h"

namespace {

// The area numbers the tool asks for, and one it has no heading for.
constexpr std::array<std::int32_t, 9> kAreas = {1, 2, 3, 10, 11, 12, 21, 22, 7};

void WalkList(const AreaRecord& record) {
  const std::unique_ptr<std::uint8_t[]> list(new std::uint8_t[kParamsSize]);
  std::memcpy(list.get(), record.raw.data() + kParamsOffset, kParamsSize);
  const ByteSpan params(list.get(), kParamsSize);
  const std::int32_t length = AreaParamsLen(record);
  FUZZ_CHECK(length <= static_cast<std::int32_t>(kParamsSize));

  std::uint32_t count = 0;
  get_num_of_params(&count, params, length);
  FUZZ_CHECK(count <= kParamsSize / 2 + 1);  // every parameter takes at least two bytes
  std::array<char, kDumpLineSize> line{};
  // Each line walks the list from its start, so the first and the last line stand for all (the
  // dump above has built every one of them from the record).
  for (const std::uint32_t i : {0u, count - 1}) {
    if (i >= count) continue;
    FUZZ_CHECK(convert_line_to_text(params, length, i, line) == 0);
    FUZZ_CHECK(std::memchr(line.data(), 0, line.size()) != nullptr);
  }
  FUZZ_CHECK(convert_line_to_text(params, length, count, line) == -1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::unique_ptr<AreaRecord> record(new AreaRecord{});
  std::memcpy(record->raw.data(), data, size < kAreaRecordSize ? size : kAreaRecordSize);

  // Record byte 0 is a header byte the tool never reads: here it picks the area number.
  const std::int32_t area = kAreas[record->raw[0] % kAreas.size()];
  const std::string dump = FormatAreaDump(area, *record);
  FUZZ_CHECK(dump.rfind("Area: ", 0) == 0);

  for (const bool verbose : {false, true}) {
    FUZZ_CHECK(!FormatL1Summary(ReadL1Values(*record), verbose).text.empty());
    FUZZ_CHECK(!FormatL2Summary(ReadL2State(*record), verbose).text.empty());
    FUZZ_CHECK(!FormatL3Summary(ReadL3Values(*record), verbose).text.empty());
  }
  WalkList(*record);
  return 0;
}
