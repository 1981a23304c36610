// SPDX-License-Identifier: BSD-2-Clause
// The area record: 536 bytes that the driver returns for one status area of one line.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "base/bytes.h"

inline constexpr std::size_t kAreaRecordSize = 536;
inline constexpr std::size_t kAreaStateOffset = 8;   // unsigned 32-bit; 2 = ready
inline constexpr std::size_t kParamsOffset = 20;     // the packed parameter list
inline constexpr std::size_t kParamsSize = 512;
inline constexpr std::size_t kParamsLenOffset = 532; // signed 32-bit: bytes of params in use
inline constexpr std::uint32_t kAreaReady = 2;

static_assert(kParamsOffset + kParamsSize == kParamsLenOffset);
static_assert(kParamsLenOffset + 4 == kAreaRecordSize);

struct AreaRecord {
  std::array<std::uint8_t, kAreaRecordSize> raw;
};
static_assert(sizeof(AreaRecord) == kAreaRecordSize);

// The record's parameter list, all 512 bytes of it.
inline ByteSpan AreaParams(const AreaRecord& record) { return ByteSpan(record.raw).subspan(kParamsOffset, kParamsSize); }

// The number of parameter-list bytes in use, as signed; a value above 512 is taken as 512, so a
// walk bounded by it stays inside the list.
inline std::int32_t AreaParamsLen(const AreaRecord& record) {
  const std::uint32_t raw = GetLE32(ByteSpan(record.raw), kParamsLenOffset);
  if (raw >= 0x80000000U) return static_cast<std::int32_t>(static_cast<std::int64_t>(raw) - 0x100000000LL);
  return static_cast<std::int32_t>(raw < kParamsSize ? raw : kParamsSize);
}
