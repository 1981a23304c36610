#include "trace/line_table.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

class LineTableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearLineTable();
    NumIdd = 3;
    const char* names[] = {"Tessix1 LINE1", "Tessix1 LINE2", "Tessix2 LINE1"};
    for (std::size_t i = 0; i < NumIdd; ++i) std::strcpy(idd_tbl[i].Name.data(), names[i]);
  }
  void TearDown() override { ClearLineTable(); }
};

TEST_F(LineTableTest, MenuListsSelectedLinesThenEveryLine) {
  EXPECT_EQ(MenuText(),
            "\nLines currently being traced:\n"
            "\nTrace which lines?\n"
            "0. Tessix1 LINE1\n"
            "1. Tessix1 LINE2\n"
            "2. Tessix2 LINE1\n"
            "99. Start Tracing!\n"
            "\n?: ");
  ASSERT_EQ(ApplyMenuAnswer(2), MenuAnswer::kSelected);
  ASSERT_EQ(ApplyMenuAnswer(0), MenuAnswer::kSelected);
  ASSERT_EQ(ApplyMenuAnswer(0), MenuAnswer::kSelected);
  EXPECT_EQ(MenuText(),
            "\nLines currently being traced:\n"
            "Tessix1 LINE1\n"
            "Tessix2 LINE1\n"
            "\nTrace which lines?\n"
            "0. Tessix1 LINE1\n"
            "1. Tessix1 LINE2\n"
            "2. Tessix2 LINE1\n"
            "99. Start Tracing!\n"
            "\n?: ");
}

TEST_F(LineTableTest, AnswersOutsideTheListAreInvalid) {
  for (long answer : {3L, -1L, 100L, 98L, 20L, 2147483648L}) {
    EXPECT_EQ(ApplyMenuAnswer(answer), MenuAnswer::kInvalid) << answer;
  }
  EXPECT_EQ(ApplyMenuAnswer(99), MenuAnswer::kStartTracing);
  for (const LineEntry& entry : idd_tbl) EXPECT_EQ(entry.Selected, 0);
}

}  // namespace
