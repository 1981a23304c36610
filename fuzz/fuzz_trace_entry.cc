// SPDX-License-Identifier: BSD-2-Clause
// One trace entry of arbitrary bytes through the frame display with every view on (the text is
// discarded), and through the Q.921 and Q.931 views one after the other, checking what they hand
// on: the octets left never go below zero and the cursor never leaves the frame.
//
// The entry is exactly 288 bytes of heap, so that AddressSanitizer reports any read past it.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "base/bytes.h"
#include "decode/frame_display.h"
#include "decode/q921.h"
#include "decode/q931.h"
#include "fuzz_check.h"
#include "platform/platform.h"

namespace {

// The views hand the octets they leave over to the next one; each must stay inside the frame.
void CheckViewChain(const std::uint8_t* entry) {
  const ByteSpan record(entry, kTraceEntrySize);
  const std::uint32_t direction = GetLE32(record, kDirectionOffset);
  const std::int32_t length =
      ClampFrameLength(static_cast<std::int32_t>(GetLE32(record, kFrameLengthOffset)));
  FUZZ_CHECK(length >= 0 && length <= static_cast<std::int32_t>(kFrameDataSize));
  const std::uint8_t* begin = entry + kFrameDataOffset;
  const std::uint8_t* end = begin + length;

  const std::int32_t address = length < 2 ? length : 2;
  const std::uint8_t* cursor = begin + address;
  std::int32_t remaining = length - address;
  const auto sapi = static_cast<std::uint8_t>(length > 0 ? begin[0] >> 2 : 0);
  const auto tei = static_cast<std::uint8_t>(length > 1 ? begin[1] >> 1 : 0);

  FormatLapdFrame(length >= 2, sapi, tei, direction, 'C', remaining, cursor);
  FUZZ_CHECK(remaining >= 0);
  FUZZ_CHECK(cursor >= begin && cursor + remaining == end);

  if (remaining != 0) {
    FormatL3Frame(sapi, direction, remaining, cursor);
    FUZZ_CHECK(remaining == 0);
    FUZZ_CHECK(cursor >= begin && cursor <= end);
  }

  // The Q.931 decoder on the whole information field, whatever the SAPI says.
  cursor = begin + address;
  remaining = length - address;
  FormatL3Frame(0, direction, remaining, cursor);
  FUZZ_CHECK(remaining == 0);
  FUZZ_CHECK(cursor >= begin && cursor <= end);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::unique_ptr<std::uint8_t[]> entry(new std::uint8_t[kTraceEntrySize]);
  std::memset(entry.get(), 0, kTraceEntrySize);
  std::memcpy(entry.get(), data, size < kTraceEntrySize ? size : kTraceEntrySize);

  std::string text;
  FormatTraceFrame(text, "Tessix1 LINE1 (U)", TraceEntryBytes(entry.get(), kTraceEntrySize), ViewSwitches{},
                   PlatFileTimeToLocal);
  FUZZ_CHECK(!text.empty());

  CheckViewChain(entry.get());
  return 0;
}
