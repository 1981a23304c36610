// SPDX-License-Identifier: BSD-2-Clause
// The OP_ENUM_IDD reply, read the same way by both tools.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "common/command_block.h"

inline constexpr std::size_t kMaxLines = 20;
inline constexpr std::size_t kLineCountOffset = 40;    // 2 bytes
inline constexpr std::size_t kLineHandlesOffset = 44;  // 4 bytes x 20
inline constexpr std::size_t kLineNamesOffset = 124;   // 64 bytes x 20
inline constexpr std::size_t kLineNameFieldSize = 64;
inline constexpr std::size_t kLineNameSize = 32;  // a kept name: 31 characters and a zero

static_assert(kLineHandlesOffset + 4 * kMaxLines == kLineNamesOffset);
static_assert(kLineNamesOffset + kLineNameFieldSize * kMaxLines <= kCommandBlockSize);

struct EnumeratedLine {
  std::uint32_t handle = 0;
  std::array<char, kLineNameSize> name{};  // always zero-terminated
};

struct EnumReply {
  std::size_t count = 0;  // at most kMaxLines
  std::array<EnumeratedLine, kMaxLines> lines{};
};

// Reads the reply of a successful OP_ENUM_IDD. A LineCount above 20 is taken as 20; a name is cut
// at its zero byte, at the end of its 64-byte field, or after 31 characters, whichever comes first.
EnumReply ReadEnumReply(const CommandBlock& block);
