// SPDX-License-Identifier: BSD-2-Clause
// LAPD address and control values that the followers of calls and data links look for: the
// signalling and management SAPIs, the broadcast TEI, TEI removal, and the U frames' control
// octets with the P/F bit clear.
#pragma once

#include <cstdint>

namespace lapd {

inline constexpr std::uint8_t kSignallingSapi = 0;
inline constexpr std::uint8_t kManagementSapi = 63;
inline constexpr std::uint8_t kBroadcastTei = 127;
inline constexpr std::uint8_t kTeiManagementEntity = 0x0F;
inline constexpr std::uint8_t kIdRemove = 6;

inline constexpr std::uint8_t kUi = 0x03;
inline constexpr std::uint8_t kDm = 0x0F;
inline constexpr std::uint8_t kDisc = 0x43;
inline constexpr std::uint8_t kUa = 0x63;
inline constexpr std::uint8_t kSabme = 0x6F;
inline constexpr std::uint8_t kFrmr = 0x87;

}  // namespace lapd
