// The area record: 536 bytes that the driver returns for one status area of one line.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

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
