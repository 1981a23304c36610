// SPDX-License-Identifier: BSD-2-Clause
// The OP_ENUM_IDD reply as the trace tool reads it: an arbitrary payload (line count, handles,
// names with or without their NUL) through EnumerateIdd with "-a" (the line table, the events, the
// listing) and through the selection menu's text, the request going through the real send
// operation and transport.
#include <cstdint>
#include <cstring>
#include <vector>

#include "canned_driver.h"
#include "common/command_block.h"
#include "common/console.h"
#include "fuzz_check.h"
#include "trace/line_table.h"
#include "trace/switches.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const int driver = OpenCannedDriver();
  static ConsoleCapture* const discard = new ConsoleCapture;

  std::vector<std::uint8_t> block(kPayloadOffset, 0);
  WriteLE32(MutableByteSpan(block), kOpcodeOffset, OP_ENUM_IDD);
  block.insert(block.end(), data, data + size);
  QueueCannedBlock(driver, ByteSpan(block));

  ClearLineTable();
  Set(TraceAll, 1);
  EnumerateIdd();
  DrainCanned(driver);

  FUZZ_CHECK(NumIdd <= kMaxLines);
  for (std::size_t i = 0; i < idd_tbl.size(); ++i) {
    const LineEntry& entry = idd_tbl[i];
    FUZZ_CHECK(std::memchr(entry.Name.data(), 0, entry.Name.size()) != nullptr);
    FUZZ_CHECK(entry.Selected == (i < NumIdd ? 1 : 0));
  }
  const std::string listing = discard->Take();
  FUZZ_CHECK(listing.rfind("Lines In System:\n", 0) == 0);
  FUZZ_CHECK(MenuText().size() < 4096);
  return 0;
}
