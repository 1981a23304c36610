// SPDX-License-Identifier: BSD-2-Clause
// The trace entry: the fixed 288-byte record of one captured D-channel frame, as the driver lays it
// down in an OP_TRACE_READ reply and as a trace ring slot holds it. Little-endian throughout.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

inline constexpr std::size_t kTraceEntrySize = 288;
inline constexpr std::size_t kTimeStampOffset = 8;     // FILETIME: low 32 bits, then high 32 bits
inline constexpr std::size_t kDirectionOffset = 16;    // 0 user side "T", non-zero network side "N"
inline constexpr std::size_t kFrameLengthOffset = 24;  // valid octets of FrameData, signed 32-bit
inline constexpr std::size_t kFrameDataOffset = 28;
inline constexpr std::size_t kFrameDataSize = 260;

static_assert(kFrameDataOffset + kFrameDataSize == kTraceEntrySize);
static_assert(kTimeStampOffset + 8 <= kDirectionOffset && kDirectionOffset + 4 <= kFrameLengthOffset);

// One entry as the decoder and the rings see it: read only, exactly 288 bytes.
using TraceEntryBytes = std::span<const std::uint8_t, kTraceEntrySize>;
