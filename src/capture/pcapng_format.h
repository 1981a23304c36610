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

// Longest block accepted: far above any block of a LAPD capture (a packet block holds at most
// 262144 octets of packet, as a pcap record), far below what would strain memory. A longer length
// is a damaged block header, never a reason to buffer the rest of the file.
inline constexpr std::uint32_t kMaxBlockLength = 16u * 1024 * 1024;

// Option codes; each block type numbers its own, 0 ends the options of any block.
inline constexpr std::uint16_t kOptEnd = 0;
inline constexpr std::uint16_t kShbUserappl = 4;   // section header: the writing application
inline constexpr std::uint16_t kIfName = 2;        // interface description: its name
inline constexpr std::uint16_t kIfTsresol = 9;     // interface description: time resolution
inline constexpr std::uint16_t kIfTsoffset = 14;   // interface description: seconds added to stamps
inline constexpr std::uint16_t kEpbFlags = 2;      // enhanced packet: inbound/outbound and more
inline constexpr std::uint16_t kEpbDropcount = 4;  // enhanced packet: packets lost before it
inline constexpr std::uint16_t kIsbIfrecv = 4;     // interface statistics: packets received
inline constexpr std::uint16_t kIsbIfdrop = 5;     // interface statistics: packets dropped

}  // namespace capture::pcapng
