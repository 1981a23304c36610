// SPDX-License-Identifier: BSD-2-Clause
// The OP_ENUM_IDD reply as the status tool reads it: an arbitrary payload (line count, handles,
// names with or without their NUL) through enum_idd, which sends the request through the real
// send operation and transport, and through the registry correlation of every listed line.
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "canned_driver.h"
#include "common/command_block.h"
#include "fuzz_check.h"
#include "status/line_list.h"

namespace {

// Registry data naming lines of adapter 1, as "Address", "Friendly Name" and "Usage" hold them.
void FillRegistry() {
  constexpr std::string_view kAddress("Tessix1-2\0Tessix1-4\0", 20);
  constexpr std::string_view kFriendly("ISDN 1\0ISDN 2\0", 14);
  constexpr std::string_view kUsage("ClientAndServer\0Client\0", 23);
  std::memcpy(AddressBuffer.data(), kAddress.data(), kAddress.size());
  std::memcpy(FriendlyBuffer.data(), kFriendly.data(), kFriendly.size());
  std::memcpy(UsageBuffer.data(), kUsage.data(), kUsage.size());
}

bool Terminated(const LineText& text) { return std::memchr(text.data(), 0, text.size()) != nullptr; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const int driver = [] {
    FillRegistry();
    return OpenCannedDriver();
  }();

  // The reply block: a header saying success, then the input as the payload.
  std::vector<std::uint8_t> block(kPayloadOffset, 0);
  WriteLE32(MutableByteSpan(block), kOpcodeOffset, OP_ENUM_IDD);
  block.insert(block.end(), data, data + size);
  QueueCannedBlock(driver, ByteSpan(block));

  LineList lines{};
  const long ras_result = size > 0 && (data[size - 1] & 1) != 0 ? 2 : 0;
  const int count = enum_idd(&lines, ras_result);
  DrainCanned(driver);

  FUZZ_CHECK(count >= 0 && count <= static_cast<int>(kLineListSize));
  for (const LineInfo& line : lines) {
    FUZZ_CHECK(Terminated(line.name) && Terminated(line.friendly_name) && Terminated(line.usage));
    FUZZ_CHECK(TextOf(line.name).size() < kLineTextSize);
  }
  return 0;
}
