// SPDX-License-Identifier: BSD-2-Clause
// Numbers and names as the views show them, appended without the printf family: frames are shown
// octet by octet and field by field, and this is the bulk of the text.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>

// Appends the octet as two hexadecimal digits, lower case ("%02x") or upper case ("%02X").
inline void AppendHexOctet(std::string& text, std::uint8_t octet, bool upperCase) {
  constexpr char kLower[] = "0123456789abcdef";
  constexpr char kUpper[] = "0123456789ABCDEF";
  const char* digits = upperCase ? kUpper : kLower;
  const char pair[2] = {digits[octet >> 4], digits[octet & 0x0F]};
  text.append(pair, 2);
}

// Appends the octets as lower-case hexadecimal pairs, perRow to a row: each pair followed by a
// space ("%02x ") or, with spaceFirst, preceded by one (" %2.2x"). Every further row starts with a
// newline, the indentation and pad spaces. The text is sized once and written in place.
inline void AppendOctetRows(std::string& text, std::span<const std::uint8_t> octets, std::size_t perRow,
                            std::string_view indent, std::size_t pad, bool spaceFirst) {
  constexpr char kLower[] = "0123456789abcdef";
  if (octets.empty() || perRow == 0) return;
  const std::size_t breaks = (octets.size() - 1) / perRow;
  const std::size_t start = text.size();
  text.resize(start + 3 * octets.size() + breaks * (1 + indent.size() + pad));
  char* out = text.data() + start;
  std::size_t column = 0;
  for (const std::uint8_t octet : octets) {
    if (column == perRow) {
      *out++ = '\n';
      // std::copy and std::fill_n, not memcpy: the user side's indentation is empty and may have
      // no data at all.
      out = std::copy(indent.begin(), indent.end(), out);
      out = std::fill_n(out, pad, ' ');
      column = 0;
    }
    if (spaceFirst) *out++ = ' ';
    *out++ = kLower[octet >> 4];
    *out++ = kLower[octet & 0x0F];
    if (!spaceFirst) *out++ = ' ';
    ++column;
  }
}

// Appends the value in decimal with at least minDigits digits, leading zeros filling up ("%3.3u",
// and "%3.3d" for values that are never negative).
inline void AppendDecimal(std::string& text, std::uint32_t value, std::size_t minDigits) {
  constexpr std::size_t kMaxDigits = 10;  // 4294967295
  char digits[kMaxDigits];
  char* const end = digits + kMaxDigits;
  char* first = end;
  do {
    *--first = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  if (minDigits > kMaxDigits) minDigits = kMaxDigits;
  while (static_cast<std::size_t>(end - first) < minDigits) *--first = '0';
  text.append(first, static_cast<std::size_t>(end - first));
}

// Appends the text padded with spaces or cut to exactly width characters ("%-5.5s").
inline void AppendPadded(std::string& text, const char* name, std::size_t width) {
  const std::size_t length = name != nullptr ? strnlen(name, width) : 0;
  text.append(name != nullptr ? name : "", length);
  text.append(width - length, ' ');
}

// The 32-character result buffer of a name lookup.
using NameBuffer = std::array<char, 32>;

// Writes prefix and the value as upper-case hexadecimal digits, at least minDigits of them
// ("U-%2.2X", "MTYPE-%4.4X"), into the lookup's buffer and returns it.
inline const char* HexFallbackName(NameBuffer& buffer, std::string_view prefix, std::uint16_t value,
                                   std::size_t minDigits) {
  constexpr char kUpper[] = "0123456789ABCDEF";
  std::size_t digits = 1;
  while (digits < 4 && (value >> (4 * digits)) != 0) ++digits;
  if (digits < minDigits) digits = minDigits;
  if (prefix.size() + digits >= buffer.size()) return "";
  std::memcpy(buffer.data(), prefix.data(), prefix.size());
  char* out = buffer.data() + prefix.size();
  for (std::size_t i = digits; i > 0; --i) {
    *out++ = i > 4 ? '0' : kUpper[(value >> (4 * (i - 1))) & 0x0F];
  }
  *out = '\0';
  return buffer.data();
}
