#include "trace/console_control.h"

#include <gtest/gtest.h>

#include <string>

#include "common/console.h"
#include "switch_reset.h"

namespace {

struct State {
  int l2, l3, raw, end, update, status;
  bool operator==(const State&) const = default;
};

State Current() {
  return {ShowL2.load(), ShowL3.load(), ShowRaw.load(), EndGame.load(), PrintUpdate.load(), PrintStatus.load()};
}

struct KeyCase {
  const char* name;
  State start;
  std::string keys;
  State expected;
  std::string printed;
};

class HandleKeyTest : public SwitchTest, public ::testing::WithParamInterface<KeyCase> {};

TEST_P(HandleKeyTest, ActsAndPrints) {
  const KeyCase& c = GetParam();
  ShowL2 = c.start.l2;
  ShowL3 = c.start.l3;
  ShowRaw = c.start.raw;
  EndGame = c.start.end;
  PrintUpdate = c.start.update;
  PrintStatus = c.start.status;
  ConsoleCapture capture;
  for (char key : c.keys) HandleKey(key);
  EXPECT_EQ(Current(), c.expected);
  EXPECT_EQ(capture.text(), c.printed);
}

INSTANTIATE_TEST_SUITE_P(
    Keys, HandleKeyTest,
    ::testing::Values(
        KeyCase{"OneTwiceRestoresL2", {0, 1, 1, 0, 0, 0}, "11", {0, 1, 1, 0, 0, 0}, ""},
        KeyCase{"ToggleTurnsAnyOnValueOff", {5, 0, -1, 0, 0, 0}, "13", {0, 0, 0, 0, 0, 0}, ""},
        KeyCase{"ZeroThenThreeLeavesOnlyRaw", {1, 1, 0, 0, 0, 0}, "03", {0, 0, 1, 0, 0, 0}, ""},
        KeyCase{"TwoTogglesL3", {0, 0, 0, 0, 0, 0}, "2", {0, 1, 0, 0, 0, 0}, ""},
        KeyCase{"NineStops", {0, 0, 0, 0, 0, 0}, "9", {0, 0, 0, 1, 0, 0}, ""},
        KeyCase{"KeysAfterNineStillAct", {0, 0, 0, 0, 0, 0}, "93", {0, 0, 1, 1, 0, 0}, ""},
        KeyCase{"PAsksForTheLogFile", {0, 0, 0, 0, 0, 0}, "P", {0, 0, 0, 0, 1, 1}, "Log file enabled\n"},
        KeyCase{"PThenNLeavesOneSwitchOff",
                {0, 0, 0, 0, 0, 0},
                "PN",
                {0, 0, 0, 0, 1, 0},
                "Log file enabled\nLog file disabled\n"},
        KeyCase{"LowerCaseIsNoCommand", {0, 0, 0, 0, 0, 0}, "np", {0, 0, 0, 0, 0, 0}, "c = n (0x6e)\nc = p (0x70)\n"},
        KeyCase{"EnterIsEchoedAsCarriageReturn", {0, 0, 0, 0, 0, 0}, "\r", {0, 0, 0, 0, 0, 0}, "c = \r (0xd)\n"},
        KeyCase{"HighCharacterShowsItsByteValue",
                {0, 0, 0, 0, 0, 0},
                "\xe9",
                {0, 0, 0, 0, 0, 0},
                "c = \xe9 (0xe9)\n"}),
    [](const ::testing::TestParamInfo<KeyCase>& param_info) { return param_info.param.name; });

}  // namespace
