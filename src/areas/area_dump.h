// SPDX-License-Identifier: BSD-2-Clause
// Printing a status area parameter by parameter.
//
// A parameter list is packed without padding: a 16-bit little-endian identifier (type in bits
// 15-12, number in bits 11-0), then the value: 2 bytes for type 0x0, 4 bytes for type 0x4, a
// NUL-terminated string for type 0x8, 2 bytes for any other type. Values are read byte by byte at
// any position. Every read is bounded by the list buffer: a byte past it reads as 0, and a string
// whose NUL is not inside the buffer ends at the buffer's end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "areas/area_record.h"
#include "areas/get_area.h"
#include "base/bytes.h"

inline constexpr unsigned kParamTypeByte = 0x0;    // 2-byte value, the first byte shown
inline constexpr unsigned kParamTypeLong = 0x4;    // 4-byte signed value
inline constexpr unsigned kParamTypeString = 0x8;  // NUL-terminated string

// Working buffers of the line builder (79 characters and the NUL), and the caller's line buffer.
inline constexpr std::size_t kDumpTextSize = 80;
inline constexpr std::size_t kDumpLineSize = 256;

// The rule under an area heading.
inline constexpr const char* kAreaRule = "--------------------------------------------------------------\n";

// One parameter of an area as read: what the dump prints for it, and the number behind the text.
// The texts are cut to the dump's working buffers, so a printed line is built from them alone.
struct AreaParam {
  std::uint16_t identifier = 0;
  int number = 0;      // bits 11-0 of the identifier
  unsigned type = 0;   // bits 15-12
  bool named = false;  // the number has a name in the textdb (else name is "P%4.4d")
  std::string name;
  // Types 0x0 and 0x4 carry a number: the first value byte, or the signed 32-bit value.
  bool numeric = false;
  std::int64_t value = 0;
  std::string text;    // the value text, replaced by the textdb's value name where it has one
};

// Every parameter of the list, in order, walked once: those starting within the first `length`
// bytes (the last may run past it, never past the list).
std::vector<AreaParam> ReadAreaParams(ByteSpan list, std::int32_t length);
std::vector<AreaParam> ReadAreaParams(const AreaRecord& record);

// The display line of one parameter: name, tabs, value text, cut as the dump's line buffer cuts it.
std::string DisplayLine(const AreaParam& param);

// Steps over the parameter at *cursor (an offset into list): gives its identifier and the offset of
// its value, advances *cursor past it and takes the bytes stepped over from *remaining, which may go
// below zero when the parameter runs past the stated length.
void get_next_param(ByteSpan list, std::size_t* cursor, std::int32_t* remaining, std::uint16_t* identifier,
                    std::size_t* value);

// The number of parameters that start within the first `length` bytes of the list.
void get_num_of_params(std::uint32_t* count, ByteSpan list, std::int32_t length);

// Builds the display line of parameter `index` (from 0): name, tabs, value text. 0 when built;
// -1 when the list holds no such parameter, and then `line` is left untouched.
int convert_line_to_text(ByteSpan list, std::int32_t length, std::uint32_t index,
                         std::span<char, kDumpLineSize> line);

// Tabs between a name and its value: with n = 31 - name length, 1 when n <= 0, else n / 8 rounded
// up; printed after one space this starts every value in column 32.
int DisplayTabCount(std::size_t name_length);

// The heading of an area number ("- Layer 1 (S/T)\n", ...), or null for a number without one.
const char* AreaHeading(std::int32_t area);

// The whole printed text of one fetched area: "Area: NN ", heading and rule, " line\n" per parameter.
std::string FormatAreaDump(std::int32_t area, const AreaRecord& record);
std::string FormatAreaDump(std::int32_t area, const std::vector<AreaParam>& params);

// Prints area `area` of the line: heading, rule, one line per parameter. 1 only when no record
// could be allocated; 0 otherwise (a failed fetch prints GetArea's message).
int GetStatus(std::uint32_t line_handle, std::int32_t area);

// GetStatus fetching through the given driver and clock.
int GetStatusWith(const AreaDriver& driver, std::uint32_t line_handle, std::int32_t area);
