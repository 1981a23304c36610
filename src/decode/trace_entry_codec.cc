// SPDX-License-Identifier: BSD-2-Clause
#include "decode/trace_entry_codec.h"

#include <algorithm>

void WriteTraceEntry(MutableTraceEntry entry, std::uint64_t file_time, std::uint32_t direction,
                     ByteSpan octets, std::optional<std::int32_t> frame_length) {
  std::fill(entry.begin(), entry.end(), std::uint8_t{0});
  const MutableByteSpan e(entry);
  WriteLE64(e, kTimeStampOffset, file_time);
  WriteLE32(e, kDirectionOffset, direction);
  constexpr std::size_t kLargest = 0x7FFFFFFF;
  const auto length = frame_length.value_or(static_cast<std::int32_t>(std::min(octets.size(), kLargest)));
  WriteLE32(e, kFrameLengthOffset, static_cast<std::uint32_t>(length));
  const ByteSpan kept = octets.first(std::min(octets.size(), kFrameDataSize));
  std::copy(kept.begin(), kept.end(), entry.begin() + kFrameDataOffset);
}

TraceEntryFields ReadTraceEntry(TraceEntryBytes entry) {
  TraceEntryFields fields;
  ReadLE64(entry, kTimeStampOffset, &fields.file_time);
  fields.direction = GetLE32(entry, kDirectionOffset);
  fields.frame_length = static_cast<std::int32_t>(GetLE32(entry, kFrameLengthOffset));
  const std::size_t valid =
      fields.frame_length <= 0
          ? 0
          : std::min<std::size_t>(static_cast<std::size_t>(fields.frame_length), kFrameDataSize);
  fields.octets = ByteSpan(entry).subspan(kFrameDataOffset, valid);
  return fields;
}
