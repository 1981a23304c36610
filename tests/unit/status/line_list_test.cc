#include "status/line_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Fills a registry buffer with a multi-string: each entry with its NUL, then the empty entry.
void SetMultiString(RegBuffer* buffer, const std::vector<std::string>& entries) {
  buffer->fill('\0');
  std::size_t pos = 0;
  for (const std::string& entry : entries) {
    entry.copy(buffer->data() + pos, entry.size());
    pos += entry.size() + 1;
  }
}

TEST(LineNameKeys, AdapterNumberAndLineCharacter) {
  struct Case {
    std::string name;
    std::string adapter;
    char line_char;
  };
  const std::vector<Case> cases = {
      {"Tessix1 LINE1", "1", '2'},
      {"Tessix12 LINE0", "12", '0'},
      {"xTessix7a LINE4 Tessix9", "7", '8'},  // the first "Tessix" counts
      {"Tessix LINE2", "", '4'},                // no digits: empty adapter number
      {"Tessix3 LINE3 LINE1", "3", '6'},        // the first "LINE" counts
      {"Tessix3 LINE", "3", 'P'},               // nothing after "LINE": the NUL gives (16 mod 64)*2+48
      {"Tessix3 LINEA", "3", 'R'},              // 'A' 65: (81 mod 64)*2+48 = 82
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(AdapterNumberOf(c.name), c.adapter);
    EXPECT_EQ(LineCharacterOf(c.name), c.line_char);
  }
  // An 8-bit character after "LINE" is taken unsigned: 0xE9 gives ((233+16) mod 64)*2+48 = 162.
  EXPECT_EQ(static_cast<unsigned char>(LineCharacterOf("Tessix1 LINE\xE9")), 162u);
}

TEST(CoorelateRasAssignments, BuffersWithoutFinalNulEndAtTheirEnd) {
  // Every buffer full to its last byte with one entry and no NUL: the entry ends at the buffer's end.
  std::string address = "1.2" + std::string(kRegBufferSize - 3, 'z');
  std::copy(address.begin(), address.end(), AddressBuffer.begin());
  FriendlyBuffer.fill('F');
  UsageBuffer.fill('U');
  LineText friendly{}, usage{};
  CoorelateRasAssignments("1", '2', &friendly, &usage);
  EXPECT_EQ(TextOf(friendly), std::string(31, 'F'));
  EXPECT_EQ(TextOf(usage), std::string(31, 'U'));

  // Same without a match: the walk stops at the end of the buffers.
  AddressBuffer.fill('9');
  friendly = LineText{};
  usage = LineText{};
  CoorelateRasAssignments("1", '2', &friendly, &usage);
  EXPECT_EQ(TextOf(friendly), "");
  EXPECT_EQ(TextOf(usage), "");

  // The last entry runs into the buffer's end after an earlier one.
  SetMultiString(&AddressBuffer, {"5.5"});
  std::string tail = "1.2" + std::string(kRegBufferSize - 4 - 3, 'y');
  std::copy(tail.begin(), tail.end(), AddressBuffer.begin() + 4);
  SetMultiString(&FriendlyBuffer, {"A", "B"});
  SetMultiString(&UsageBuffer, {"U1", "U2"});
  CoorelateRasAssignments("1", '2', &friendly, &usage);
  EXPECT_EQ(TextOf(friendly), "B");
  EXPECT_EQ(TextOf(usage), "U2");
}

}  // namespace
