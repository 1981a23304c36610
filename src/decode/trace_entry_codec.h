// SPDX-License-Identifier: BSD-2-Clause
// Writing and reading a trace entry's fields: the one place that packs and unpacks the 288 bytes.
// Writers are the driver stand-in, lapdecode (a captured frame shown as lapmon shows it), the
// benchmarks and the tests; readers are bricap and whoever needs the frame's octets.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "base/bytes.h"
#include "decode/trace_entry.h"

// A writable entry, exactly 288 bytes.
using MutableTraceEntry = std::span<std::uint8_t, kTraceEntrySize>;

// The fields of one frame's entry.
struct TraceEntryFields {
  std::uint64_t file_time = 0;    // FILETIME: 100 ns ticks since 1601-01-01
  std::uint32_t direction = 0;    // 0 user side, non-zero network side
  std::int32_t frame_length = 0;  // as the entry says, which may be negative or past the field
  ByteSpan octets;                // the valid octets: frame_length kept within 0 .. 260
};

// Zeroes the entry and writes the time, the direction, the frame octets (at most 260 are kept)
// and the frame length: the count of octets given (also past 260) unless `frame_length` says
// otherwise.
void WriteTraceEntry(MutableTraceEntry entry, std::uint64_t file_time, std::uint32_t direction,
                     ByteSpan octets, std::optional<std::int32_t> frame_length = std::nullopt);

// Reads the entry's fields; `octets` points into the entry.
TraceEntryFields ReadTraceEntry(TraceEntryBytes entry);
