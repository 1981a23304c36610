// SPDX-License-Identifier: BSD-2-Clause
// linestat's line list: each adapter line's handle and name from the driver's enumeration, and on
// Windows NT the RAS/TAPI friendly name and usage that the registry assigns to the line.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "common/enum_reply.h"

inline constexpr std::size_t kLineTextSize = 32;  // 31 characters and a NUL
inline constexpr std::size_t kLineListSize = kMaxLines;

using LineText = std::array<char, kLineTextSize>;

struct LineInfo {
  std::uint32_t handle = 0;
  LineText name{};           // the line's name
  LineText friendly_name{};  // the matched "Friendly Name" entry; empty when none matched
  LineText usage{};          // the matched "Usage" entry; empty when none matched
};

using LineList = std::array<LineInfo, kLineListSize>;

// The RAS/TAPI device values, multi-strings read once before the enumeration.
inline constexpr std::size_t kRegBufferSize = 1024;
using RegBuffer = std::array<char, kRegBufferSize>;
extern RegBuffer AddressBuffer;
extern RegBuffer FriendlyBuffer;
extern RegBuffer UsageBuffer;

inline constexpr const char* kRasTapiKey = "SOFTWARE\\MICROSOFT\\RAS\\Tapi Devices\\TESSIX";

// Reads one value under HKEY_LOCAL_MACHINE into buffer; *size is the buffer's size on entry and
// the value's size on return. The registry result code, 0 on success.
long GetRegMultiStringValue(const char* subkey, const char* value_name, char* buffer, std::uint32_t* size);

// Reads "Address", "Friendly Name" and "Usage" into the three buffers. 0, or the error code of the
// first value that failed after printing its message.
long GetRasAssignments();
// The same without a word: *failure is the message GetRasAssignments prints.
long ReadRasAssignments(const char** failure);

// Fills the line's friendly name and usage from the registry data read, when its name holds both
// "Tessix" and "LINE".
void CorrelateLine(LineInfo* line);

// The adapter number of a line name: the digits right after the first "Tessix" (maybe none).
std::string_view AdapterNumberOf(std::string_view name);
// The line character of a line name: twice the line's number, as a character, computed from the
// character right after the first "LINE" (NUL when the name ends there).
char LineCharacterOf(std::string_view name);

// Finds the first registry device whose "Address" entry belongs to the adapter number and line
// character, walking the three lists in step, and copies its friendly name and usage into the two
// outputs. Without a match the outputs are left alone.
void CoorelateRasAssignments(std::string_view adapter, char line_char, LineText* friendly_name,
                             LineText* usage);

// Fills the list from the driver's enumeration; the registry data is used only when ras_result is
// 0. Returns the number of lines filled, 0 to 20 (0 also when the request failed).
int enum_idd(LineList* list, long ras_result);

// A text as a view up to its NUL, never past its array.
std::string_view TextOf(const LineText& text);
