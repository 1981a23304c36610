// Octets as two hexadecimal digits, appended without a printf call per octet: frames are shown
// octet by octet and this is the bulk of the text.
#pragma once

#include <cstdint>
#include <string>

// Appends the octet as two hexadecimal digits, lower case ("%02x") or upper case ("%02X").
inline void AppendHexOctet(std::string& text, std::uint8_t octet, bool upperCase) {
  constexpr char kLower[] = "0123456789abcdef";
  constexpr char kUpper[] = "0123456789ABCDEF";
  const char* digits = upperCase ? kUpper : kLower;
  text += digits[octet >> 4];
  text += digits[octet & 0x0F];
}
