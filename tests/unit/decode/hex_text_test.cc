// SPDX-License-Identifier: BSD-2-Clause
// The number and name pieces of the views against the printf formats they stand in for.
#include "decode/hex_text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "common/console.h"

namespace {

TEST(TextPieces, DecimalAsPrintf) {
  for (const std::uint32_t value :
       {0U, 1U, 7U, 9U, 10U, 63U, 99U, 100U, 127U, 999U, 1000U, 4660U, 65535U, 100000U, 4294967295U}) {
    for (const int digits : {2, 3, 5}) {
      std::string text = "x";
      AppendDecimal(text, value, static_cast<std::size_t>(digits));
      EXPECT_EQ(text, FormatF("x%*.*u", digits, digits, value)) << value << " " << digits;
    }
  }
}

TEST(TextPieces, PaddedAsPrintf) {
  for (const char* name : {"", "RR", "SABME", "Id Chk Req", "KeypadControl", "<unknow Codeset>"}) {
    for (const int width : {5, 10}) {
      std::string text;
      AppendPadded(text, name, static_cast<std::size_t>(width));
      EXPECT_EQ(text, FormatF("%-*.*s", width, width, name)) << name;
    }
  }
}

TEST(TextPieces, HexOctetAndFallbackNamesAsPrintf) {
  for (unsigned octet = 0; octet < 256; ++octet) {
    std::string text;
    AppendHexOctet(text, static_cast<std::uint8_t>(octet), false);
    AppendHexOctet(text, static_cast<std::uint8_t>(octet), true);
    EXPECT_EQ(text, FormatF("%02x%02X", octet, octet));
  }
  NameBuffer buffer;
  for (const unsigned value : {0x0U, 0x2FU, 0xEFU, 0x123U, 0x8001U, 0xFFFFU}) {
    EXPECT_EQ(std::string(HexFallbackName(buffer, "U-", static_cast<std::uint16_t>(value), 2)),
              FormatF("U-%2.2X", value));
    EXPECT_EQ(std::string(HexFallbackName(buffer, "GeneralLocation-", static_cast<std::uint16_t>(value), 4)),
              FormatF("GeneralLocation-%4.4X", value));
  }
}

// Rows of octets against the same rows built one printf piece at a time.
TEST(TextPieces, OctetRowsAsPrintf) {
  const std::string indent(39, ' ');
  for (const std::size_t count : {0U, 1U, 4U, 5U, 6U, 9U, 10U, 19U, 260U}) {
    std::vector<std::uint8_t> octets(count);
    for (std::size_t i = 0; i < count; ++i) octets[i] = static_cast<std::uint8_t>(i * 37 + 5);
    for (const bool spaceFirst : {false, true}) {
      const std::size_t perRow = spaceFirst ? 5 : 9;
      const std::size_t pad = spaceFirst ? 22 : 2;
      std::string expected = "head";
      for (std::size_t i = 0; i < count; ++i) {
        if (i != 0 && i % perRow == 0) expected += "\n" + indent + std::string(pad, ' ');
        expected += spaceFirst ? FormatF(" %2.2x", octets[i]) : FormatF("%02x ", octets[i]);
      }
      std::string text = "head";
      AppendOctetRows(text, octets, perRow, indent, pad, spaceFirst);
      EXPECT_EQ(text, expected) << count << " " << spaceFirst;
    }
  }
}

}  // namespace
