// SPDX-License-Identifier: BSD-2-Clause
// Reading the line enumeration reply, including replies that break its limits.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "common/enum_reply.h"

namespace {

std::unique_ptr<CommandBlock> ReplyWith(std::uint16_t count) {
  auto block = std::make_unique<CommandBlock>();
  block->Zero();
  WriteLE16(block->MarkAllWritten(), kLineCountOffset, count);
  return block;
}

void SetLine(CommandBlock& block, std::size_t i, std::uint32_t handle, const std::string& field) {
  WriteLE32(block.MarkAllWritten(), kLineHandlesOffset + 4 * i, handle);
  for (std::size_t c = 0; c < field.size() && c < kLineNameFieldSize; ++c) {
    block.raw[kLineNamesOffset + kLineNameFieldSize * i + c] = static_cast<std::uint8_t>(field[c]);
  }
}

TEST(EnumReply, ReadsHandlesAndNames) {
  auto block = ReplyWith(2);
  SetLine(*block, 0, 0x1001, "Tessix1 LINE1 (U)");
  SetLine(*block, 1, 0x1002, "Tessix1 LINE2 (U)");
  SetLine(*block, 2, 0x1003, "not counted");
  const EnumReply reply = ReadEnumReply(*block);
  ASSERT_EQ(reply.count, 2u);
  EXPECT_EQ(reply.lines[0].handle, 0x1001u);
  EXPECT_STREQ(reply.lines[0].name.data(), "Tessix1 LINE1 (U)");
  EXPECT_EQ(reply.lines[1].handle, 0x1002u);
  EXPECT_STREQ(reply.lines[1].name.data(), "Tessix1 LINE2 (U)");
  EXPECT_EQ(reply.lines[2].handle, 0u);
}

TEST(EnumReply, NamesAreCutToWhatTheTableHolds) {
  struct Case {
    std::string field;
    std::string want;
  };
  const Case cases[] = {
      {std::string(31, 'a'), std::string(31, 'a')},
      {std::string(32, 'b'), std::string(31, 'b')},
      {std::string(63, 'c'), std::string(31, 'c')},
      {std::string(64, 'd'), std::string(31, 'd')},  // no zero byte anywhere in the field
      {"", ""},
  };
  auto block = ReplyWith(static_cast<std::uint16_t>(std::size(cases)));
  for (std::size_t i = 0; i < std::size(cases); ++i) SetLine(*block, i, static_cast<std::uint32_t>(i), cases[i].field);
  const EnumReply reply = ReadEnumReply(*block);
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(std::string(reply.lines[i].name.data()), cases[i].want) << i;
    EXPECT_EQ(reply.lines[i].name.back(), '\0');
  }
}

TEST(EnumReply, CountAboveTwentyIsTakenAsTwenty) {
  for (std::uint16_t count : {std::uint16_t{20}, std::uint16_t{21}, std::uint16_t{0xFFFF}}) {
    auto block = ReplyWith(count);
    for (std::size_t i = 0; i < kMaxLines; ++i) SetLine(*block, i, static_cast<std::uint32_t>(0x100 + i), "L" + std::to_string(i));
    const EnumReply reply = ReadEnumReply(*block);
    ASSERT_EQ(reply.count, kMaxLines) << count;
    EXPECT_EQ(reply.lines[19].handle, 0x113u);
    EXPECT_STREQ(reply.lines[19].name.data(), "L19");
  }
}

}  // namespace
