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

struct Lists {
  std::vector<std::string> address, friendly, usage;
};

struct Match {
  std::string friendly, usage;
};

Match Correlate(const Lists& lists, std::string_view line_name) {
  SetMultiString(&AddressBuffer, lists.address);
  SetMultiString(&FriendlyBuffer, lists.friendly);
  SetMultiString(&UsageBuffer, lists.usage);
  LineText friendly{}, usage{};
  CoorelateRasAssignments(AdapterNumberOf(line_name), LineCharacterOf(line_name), &friendly, &usage);
  return Match{std::string(TextOf(friendly)), std::string(TextOf(usage))};
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

TEST(CoorelateRasAssignments, MatchesByAdapterNumberAndLineCharacter) {
  struct Case {
    const char* what;
    Lists lists;
    std::string line_name;
    Match expected;
  };
  // The registry examples of the line list are run end to end through registry files; these are
  // the cases around them.
  const std::vector<Case> cases = {
      {"first match wins", {{"1.2", "1.2"}, {"A", "B"}, {"U1", "U2"}}, "Tessix1 LINE1", {"A", "U1"}},
      {"letter case ignored", {{"3.r"}, {"A"}, {"U"}}, "Tessix3 LINEA", {"A", "U"}},
      {"short usage list ends the walk", {{"1.0", "1.2"}, {"A", "B"}, {"U1"}}, "Tessix1 LINE1", {"", ""}},
      {"empty lists", {{}, {}, {}}, "Tessix1 LINE1", {"", ""}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Match m = Correlate(c.lists, c.line_name);
    EXPECT_EQ(m.friendly, c.expected.friendly);
    EXPECT_EQ(m.usage, c.expected.usage);
  }
}

TEST(CoorelateRasAssignments, LeavesOutputsAloneWithoutMatch) {
  SetMultiString(&AddressBuffer, {"1.3"});
  SetMultiString(&FriendlyBuffer, {"A"});
  SetMultiString(&UsageBuffer, {"U"});
  LineText friendly{}, usage{};
  friendly[0] = 'k';
  usage[0] = 'q';
  CoorelateRasAssignments("1", '2', &friendly, &usage);
  EXPECT_EQ(TextOf(friendly), "k");
  EXPECT_EQ(TextOf(usage), "q");
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
