#include "areas/area_dump.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace {

AreaRecord MakeRecord(const std::vector<std::uint8_t>& params, std::int32_t params_len) {
  AreaRecord record{};
  std::copy(params.begin(), params.end(), record.raw.begin() + kParamsOffset);
  WriteLE32(MutableByteSpan(record.raw), kParamsLenOffset, static_cast<std::uint32_t>(params_len));
  return record;
}

AreaRecord MakeRecord(const std::vector<std::uint8_t>& params) {
  return MakeRecord(params, static_cast<std::int32_t>(params.size()));
}

std::vector<std::uint8_t> Bytes(std::initializer_list<std::uint8_t> head, const std::string& text = "",
                                std::initializer_list<std::uint8_t> tail = {}) {
  std::vector<std::uint8_t> out(head);
  out.insert(out.end(), text.begin(), text.end());
  out.insert(out.end(), tail);
  return out;
}

const std::string kLayer2Head = std::string("Area: 02 - Layer 2 (Q.921)\n") + kAreaRule;

struct DumpCase {
  const char* what;
  std::vector<std::uint8_t> params;
  std::string lines;  // what follows the heading and the rule
};

TEST(AreaDump, ParameterLinesAsPrinted) {
  const DumpCase cases[] = {
      {"type 0x0 with a value name", {0x64, 0x00, 0x02, 0x00}, " Tx_Info_Pattern\t\tINFO 3\n"},
      {"only the first value byte counts", {0x64, 0x00, 0x02, 0x01}, " Tx_Info_Pattern\t\tINFO 3\n"},
      {"type 0x0 without a value name", {0x66, 0x00, 0xFF, 0xFF}, " Tx_Frames\t\t\t255\n"},
      {"type 0x4", {0x66, 0x40, 0xD2, 0x04, 0x00, 0x00}, " Tx_Frames\t\t\t1234\n"},
      {"type 0x4 negative", {0x66, 0x40, 0xFF, 0xFF, 0xFF, 0xFF}, " Tx_Frames\t\t\t-1\n"},
      {"type 0x4 lowest", {0x66, 0x40, 0x00, 0x00, 0x00, 0x80}, " Tx_Frames\t\t\t-2147483648\n"},
      {"other type", {0x64, 0x10, 0x05, 0x00}, " Tx_Info_Pattern\t\t?? (1064) 05 00\n"},
      {"other type, high bits", {0x64, 0xF0, 0xAB, 0xCD}, " Tx_Info_Pattern\t\t?? (F064) AB CD\n"},
      {"unknown number", {0x63, 0x00, 0x07, 0x00}, " P0099\t\t\t\t7\n"},
      {"number 0", {0x00, 0x00, 0x00, 0x00}, " P0000\t\t\t\t0\n"},
      {"number 4095", {0xFF, 0x0F, 0x01, 0x00}, " P4095\t\t\t\t1\n"},
      {"value key 304.128", {0x30, 0x01, 0x80, 0x00}, " Usid\t\t\t\tNot Used\n"},
      {"value names of strings too", Bytes({0x30, 0x81}, "128", {0}), " Usid\t\t\t\tNot Used\n"},
      {"long name", Bytes({0xF9, 0x01}, "", {0x00, 0x00}), " Comp_Bytes_Transmitted\t\t0\n"},
      {"empty string", Bytes({0x2F, 0x81}, "", {0}), " Spid\t\t\t\t\n"},
      // After a string of even length the next parameter starts at an odd position.
      {"even string then more",
       Bytes({0x2F, 0x81}, "0123", {0, 0x66, 0x40, 0xD2, 0x04, 0x00, 0x00}),
       " Spid\t\t\t\t0123\n Tx_Frames\t\t\t1234\n"},
      {"odd string then more",
       Bytes({0x2F, 0x81}, "01234", {0, 0x64, 0x00, 0x01, 0x00}),
       " Spid\t\t\t\t01234\n Tx_Info_Pattern\t\tINFO 1\n"},
  };
  for (const DumpCase& c : cases) {
    EXPECT_EQ(FormatAreaDump(2, MakeRecord(c.params)), kLayer2Head + c.lines) << c.what;
  }
}

TEST(AreaDump, HeadingsAndEmptyLists) {
  const std::vector<std::uint8_t> one = {0x64, 0x00, 0x02, 0x00};
  EXPECT_EQ(FormatAreaDump(1, MakeRecord(one, 0)), std::string("Area: 01 - Layer 1 (S/T)\n") + kAreaRule);
  EXPECT_EQ(FormatAreaDump(2, MakeRecord(one, -1)), kLayer2Head);
  EXPECT_EQ(FormatAreaDump(2, MakeRecord(one, INT32_MIN)), kLayer2Head);
  EXPECT_EQ(FormatAreaDump(22, MakeRecord({}, 0)), std::string("Area: 22 - B2 IDP Compression\n") + kAreaRule);
  // No heading and no rule: the first line continues the "Area: " line.
  EXPECT_EQ(FormatAreaDump(5, MakeRecord(one)), "Area: 05  Tx_Info_Pattern\t\tINFO 3\n");
  EXPECT_EQ(FormatAreaDump(5, MakeRecord(one, 0)), "Area: 05 ");

  const std::pair<std::int32_t, const char*> headings[] = {
      {1, "- Layer 1 (S/T)\n"},       {2, "- Layer 2 (Q.921)\n"},    {3, "- Layer 3 (Q.931)\n"},
      {10, "- D Channel (HDLC)\n"},   {11, "- B1 Data (HDLC)\n"},    {12, "- B2 Data (HDLC)\n"},
      {21, "- B1 IDP Compression\n"}, {22, "- B2 IDP Compression\n"}, {0, nullptr}, {4, nullptr}, {20, nullptr},
  };
  for (const auto& [area, heading] : headings) {
    if (heading == nullptr) {
      EXPECT_EQ(AreaHeading(area), nullptr) << area;
    } else {
      EXPECT_STREQ(AreaHeading(area), heading) << area;
    }
  }
  EXPECT_EQ(std::string(kAreaRule), std::string(62, '-') + "\n");
}

TEST(AreaDump, TabsLineValuesUpAtColumn32) {
  // name length -> tabs
  const std::pair<std::size_t, int> cases[] = {{0, 4}, {4, 4}, {7, 3}, {15, 2}, {22, 2},
                                               {23, 1}, {30, 1}, {31, 1}, {32, 1}, {79, 1}};
  for (const auto& [length, tabs] : cases) EXPECT_EQ(DisplayTabCount(length), tabs) << length;
}

TEST(AreaDump, LastParameterRunningPastTheStatedLengthIsShown) {
  const std::vector<std::uint8_t> params = {0x64, 0x00, 0x02, 0x00, 0x66, 0x40, 0xD2, 0x04, 0x00, 0x00};
  EXPECT_EQ(FormatAreaDump(2, MakeRecord(params, 5)),
            kLayer2Head + " Tx_Info_Pattern\t\tINFO 3\n Tx_Frames\t\t\t1234\n");
  EXPECT_EQ(FormatAreaDump(2, MakeRecord(params, 4)), kLayer2Head + " Tx_Info_Pattern\t\tINFO 3\n");
}

TEST(AreaDump, StaysInsideTheParameterList) {
  // A stated length beyond 512 is taken as 512: 128 four-byte parameters fill the list.
  std::vector<std::uint8_t> full;
  for (int i = 0; i < 128; ++i) full.insert(full.end(), {0x64, 0x00, 0x00, 0x00});
  std::string lines;
  for (int i = 0; i < 128; ++i) lines += " Tx_Info_Pattern\t\tINFO 0\n";
  EXPECT_EQ(FormatAreaDump(2, MakeRecord(full, 100000)), kLayer2Head + lines);
  EXPECT_EQ(FormatAreaDump(2, MakeRecord(full, INT32_MAX)), kLayer2Head + lines);

  // A 4-byte value whose last two bytes would lie past the list reads them as 0.
  // (The last four bytes are overwritten in place: GCC 12 at -O3 warns falsely of an array bound
  // inside std::vector::insert of an initializer list here.)
  std::vector<std::uint8_t> edge = full;
  const std::array<std::uint8_t, 4> tail = {0x66, 0x40, 0xD2, 0x04};
  std::copy(tail.begin(), tail.end(), edge.end() - 4);
  std::string edge_lines(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(lines.size() / 128 * 127));
  EXPECT_EQ(FormatAreaDump(2, MakeRecord(edge, 512)), kLayer2Head + edge_lines + " Tx_Frames\t\t\t1234\n");

  // A string without its NUL ends at the list's end; its text is cut to the working buffer, and
  // the whole display line to 79 characters.
  std::vector<std::uint8_t> unterminated = {0x2F, 0x81};
  unterminated.resize(512, 'A');
  const std::string line = "Spid\t\t\t\t" + std::string(79 - 8, 'A');
  EXPECT_EQ(FormatAreaDump(2, MakeRecord(unterminated, 512)), kLayer2Head + " " + line + "\n");
}

TEST(AreaDump, CountingAndLineSelection) {
  // string "ab" (5 bytes), empty string (3), type 0x4 (6), type 0x0 (4), other type (4)
  const std::vector<std::uint8_t> params = Bytes({0x2F, 0x81}, "ab", {0, 0x2F, 0x81, 0, 0x66, 0x40, 1, 0, 0, 0,
                                                                      0x64, 0x00, 3, 0, 0x64, 0x30, 9, 9});
  struct Case {
    std::int32_t length;
    std::uint32_t count;
  };
  const Case counts[] = {{-5, 0}, {0, 0}, {1, 1}, {5, 1}, {6, 2}, {8, 2}, {9, 3}, {14, 3}, {15, 4}, {22, 5}};
  for (const Case& c : counts) {
    std::uint32_t count = 99;
    get_num_of_params(&count, ByteSpan(params), c.length);
    EXPECT_EQ(count, c.count) << c.length;
  }

  std::array<char, kDumpLineSize> line{};
  line.fill('#');
  const auto length = static_cast<std::int32_t>(params.size());
  EXPECT_EQ(convert_line_to_text(ByteSpan(params), length, 5, line), -1);
  EXPECT_EQ(convert_line_to_text(ByteSpan(params), 0, 0, line), -1);
  EXPECT_EQ(convert_line_to_text(ByteSpan(params), -1, 0, line), -1);
  EXPECT_EQ(line[0], '#');  // left untouched
  ASSERT_EQ(convert_line_to_text(ByteSpan(params), length, 3, line), 0);
  EXPECT_STREQ(line.data(), "Tx_Info_Pattern\t\tINFO 3");
  ASSERT_EQ(convert_line_to_text(ByteSpan(params), length, 4, line), 0);
  EXPECT_STREQ(line.data(), "Tx_Info_Pattern\t\t?? (3064) 09 09");
}

}  // namespace

// The values behind the printed text: the number a parameter carries, and whether it has a name.
TEST(AreaParams, NumbersBehindTheText) {
  struct Case {
    const char* what;
    std::vector<std::uint8_t> params;
    bool named, numeric;
    std::int64_t value;
    std::string text;
  };
  const std::vector<Case> cases = {
      {"byte value with a value name", {0x64, 0x00, 0x02, 0x01}, true, true, 2, "INFO 3"},
      {"long value", {0x66, 0x40, 0xD2, 0x04, 0x00, 0x00}, true, true, 1234, "1234"},
      {"negative long", {0x66, 0x40, 0xFF, 0xFF, 0xFF, 0xFF}, true, true, -1, "-1"},
      {"string", Bytes({0x2F, 0x81}, "0155", {0}), true, false, 0, "0155"},
      {"unknown type", {0x64, 0x10, 0x05, 0x00}, true, false, 0, "?? (1064) 05 00"},
      {"number without a name", {0x63, 0x00, 0x07, 0x00}, false, true, 7, "7"},
  };
  for (const Case& c : cases) {
    const std::vector<AreaParam> params = ReadAreaParams(MakeRecord(c.params));
    ASSERT_EQ(params.size(), 1U) << c.what;
    EXPECT_EQ(params[0].named, c.named) << c.what;
    EXPECT_EQ(params[0].numeric, c.numeric) << c.what;
    EXPECT_EQ(params[0].value, c.value) << c.what;
    EXPECT_EQ(params[0].text, c.text) << c.what;
  }
  // A list stated longer than the record is walked to the record's end, never past it.
  std::vector<std::uint8_t> full;
  while (full.size() + 4 <= kParamsSize) full.insert(full.end(), {0x64, 0x00, 0x02, 0x00});
  EXPECT_EQ(ReadAreaParams(MakeRecord(full, INT32_MAX)).size(), kParamsSize / 4);
}
