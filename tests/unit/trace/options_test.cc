#include "trace/options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "switch_reset.h"

namespace {

struct Flags {
  int all, l2, l3, raw, usage;
  bool operator==(const Flags&) const = default;
};

Flags Current() {
  return {TraceAll.load(), ShowL2.load(), ShowL3.load(), ShowRaw.load(), ShowUsageFlag.load()};
}

struct ParseCase {
  std::vector<std::string> args;
  Flags expected;
};

class ParseCommandLineTest : public SwitchTest, public ::testing::WithParamInterface<ParseCase> {};

TEST_P(ParseCommandLineTest, SetsTheNamedSwitches) {
  std::vector<std::string> args = GetParam().args;
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  ParseCommandLine(static_cast<int>(argv.size()), argv.data());
  EXPECT_EQ(Current(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Options, ParseCommandLineTest,
    ::testing::Values(
        ParseCase{{"lapmon"}, {0, 0, 0, 0, 0}},
        ParseCase{{"lapmon", "-x", "raw", "--raw", "-l", "-ab"}, {0, 0, 0, 0, 0}},
        ParseCase{{"lapmon", "-a"}, {1, 0, 0, 0, 0}},
        ParseCase{{"lapmon", "-A", "-L2"}, {1, 1, 0, 0, 0}},
        ParseCase{{"lapmon", "-RAW"}, {0, 0, 0, 1, 0}},
        ParseCase{{"lapmon", "-Raw", "-l3"}, {0, 0, 1, 1, 0}},
        ParseCase{{"lapmon", "-p"}, {0, 1, 1, 1, 0}},
        ParseCase{{"lapmon", "-P", "-p", "-a", "-a"}, {1, 1, 1, 1, 0}},
        ParseCase{{"lapmon", "-?", "-a", "-p"}, {1, 1, 1, 1, 1}},
        // The program name is compared too.
        ParseCase{{"-l2"}, {0, 1, 0, 0, 0}}),
    [](const ::testing::TestParamInfo<ParseCase>& param_info) { return "Case" + std::to_string(param_info.index); });

TEST(Usage, ScreenIsTheBannerThenTheOptionLines) {
  EXPECT_EQ(UsageText(),
            "Norvale ISDN BRI Trace - Version  2.51\n"
            "Copyright (C) Norvale. All rights reserved.\n"
            "\n"
            "Usage - trace -a -p -l2 -l3 -raw -?\n"
            "-a   - trace all lines\n"
            "-p   - show decode for all ISDN Protocols\n"
            "-l2  - show decode for ISDN Layer 2 (Q.921) Protocol\n"
            "-l3  - show decode for ISDN Layer 3 (Q.931) Protocol\n"
            "-raw - show raw hex dump of all ISDN Protocols\n"
            "-?   - show this screen\n");
}

}  // namespace
