// SPDX-License-Identifier: BSD-2-Clause
// The numbers of the pcapng format that the reader and the writer share: block types, the
// byte-order magic and the option codes the tools use.
#pragma once

#include <cstdint>

namespace capture::pcapng {

inline constexpr std::uint32_t kSectionHeader = 0x0A0D0D0A;
inline constexpr std::uint32_t kByteOrderMagic = 0x1A2B3C4D;
inline constexpr std::uint32_t kInterfaceDescription = 1;
inline constexpr std::uint32_t kOldPacket = 2;
inline constexpr std::uint32_t kSimplePacket = 3;
inline constexpr std::uint32_t kInterfaceStatistics = 5;
inline constexpr std::uint32_t kEnhancedPacket = 6;

inline constexpr std::uint16_t kOptEnd = 0;
inline constexpr std::uint16_t kIfName = 2;
inline constexpr std::uint16_t kIfTsresol = 9;
inline constexpr std::uint16_t kIfTsoffset = 14;
inline constexpr std::uint16_t kEpbFlags = 2;
inline constexpr std::uint16_t kEpbDropcount = 4;

}  // namespace capture::pcapng
