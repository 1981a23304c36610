#include "status/options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>


namespace {

const std::string kUsage =
    "\nUsage: linestat       (default)\n"
    "       linestat -v    (default verbose)\n"
    "       linestat -a    (dump of all areas)\n"
    "       linestat -ax   (x is any valid area: 1, 2, 3, 10, 11, 12, 21, 22)\n"
    "       linestat -h    (print this screen)\n";

const std::string kLongOrNonDigit = "\nInvalid argument!\n\n";
const std::string kBadLetter = "Invalid Argument!\n";
const std::string kBadArea = "Invalid Area!\n";

struct OptionCase {
  std::string arg;
  ParsedOption::Outcome outcome;
  std::string message;  // printed before the usage text when the outcome is not kGo
  bool verbose;
  bool all_areas;
  int area;  // 0: no single area
};

class OptionTable : public ::testing::TestWithParam<OptionCase> {};

TEST_P(OptionTable, ParsesAsExpected) {
  const OptionCase& c = GetParam();
  const ParsedOption parsed = ParseOption(c.arg);
  EXPECT_EQ(parsed.outcome, c.outcome);
  if (c.outcome == ParsedOption::kGo) {
    EXPECT_EQ(parsed.text, "");
  } else {
    EXPECT_EQ(parsed.text, c.message + kUsage);
  }
  if (c.outcome == ParsedOption::kGo) {
    EXPECT_EQ(parsed.verbose, c.verbose);
    EXPECT_EQ(parsed.all_areas, c.all_areas);
    EXPECT_EQ(parsed.area, c.area);
    EXPECT_EQ(parsed.area_mode, c.all_areas || c.area != 0);
  }
}

constexpr auto kGo = ParsedOption::kGo;
constexpr auto kHelp = ParsedOption::kHelp;
constexpr auto kBad = ParsedOption::kInvalid;

INSTANTIATE_TEST_SUITE_P(
    Arguments, OptionTable,
    ::testing::Values(
        // Verbose: any switch character, digits after the letter ignored, a letter after it refused.
        OptionCase{"-v", kGo, "", true, false, 0}, OptionCase{"/v", kGo, "", true, false, 0},
        OptionCase{"xv", kGo, "", true, false, 0}, OptionCase{"-V", kGo, "", true, false, 0},
        OptionCase{"-v1", kGo, "", true, false, 0}, OptionCase{"-v12", kGo, "", true, false, 0},
        OptionCase{"-vx", kBad, kLongOrNonDigit, false, false, 0},
        OptionCase{"-v1x", kBad, kLongOrNonDigit, false, false, 0},
        // Help.
        OptionCase{"-h", kHelp, "", false, false, 0}, OptionCase{"-H", kHelp, "", false, false, 0},
        OptionCase{"-?", kHelp, "", false, false, 0}, OptionCase{"-h1", kHelp, "", false, false, 0},
        OptionCase{"-hx", kBad, kLongOrNonDigit, false, false, 0},
        // Areas.
        OptionCase{"-a", kGo, "", false, true, 0}, OptionCase{"/A", kGo, "", false, true, 0},
        OptionCase{"-a1", kGo, "", false, false, 1}, OptionCase{"-a2", kGo, "", false, false, 2},
        OptionCase{"/a2", kGo, "", false, false, 2}, OptionCase{"-a3", kGo, "", false, false, 3},
        OptionCase{"-a10", kGo, "", false, false, 10}, OptionCase{"-a11", kGo, "", false, false, 11},
        OptionCase{"-a12", kGo, "", false, false, 12}, OptionCase{"-a21", kGo, "", false, false, 21},
        OptionCase{"-a22", kGo, "", false, false, 22},
        OptionCase{"-a0", kBad, kBadLetter, false, false, 0}, OptionCase{"-a4", kBad, kBadLetter, false, false, 0},
        OptionCase{"-a9", kBad, kBadLetter, false, false, 0}, OptionCase{"-a05", kBad, kBadLetter, false, false, 0},
        OptionCase{"-a13", kBad, kBadArea, false, false, 0}, OptionCase{"-a19", kBad, kBadArea, false, false, 0},
        OptionCase{"-a20", kBad, kBadArea, false, false, 0}, OptionCase{"-a23", kBad, kBadArea, false, false, 0},
        OptionCase{"-a30", kBad, kBadArea, false, false, 0}, OptionCase{"-a31", kBad, kBadArea, false, false, 0},
        OptionCase{"-a222", kBad, kLongOrNonDigit, false, false, 0},
        OptionCase{"-ax", kBad, kLongOrNonDigit, false, false, 0},
        // Anything else.
        OptionCase{"", kBad, kBadLetter, false, false, 0}, OptionCase{"-", kBad, kBadLetter, false, false, 0},
        OptionCase{"-x", kBad, kBadLetter, false, false, 0}, OptionCase{"-b1", kBad, kBadLetter, false, false, 0},
        OptionCase{"-verbose", kBad, kLongOrNonDigit, false, false, 0}));

TEST(Banner, ShowsSystemAndVersionNumbers) {
  const std::string head =
      "linestat - Version  2.51\n"
      "Copyright (C) The bri-tools authors. All rights reserved.\n";
  EXPECT_EQ(BannerText(0, OsVersion{4, 0, 1381, 2}), head + "OS = Windows NT  Version: 4.0   Build:1381 \n");
  EXPECT_EQ(BannerText(1, OsVersion{4, 10, 67766222, 1}),
            head + "OS = Windows 95  Version: 4.10   Build:67766222 \n");
  // After a failed version query: NT with an all-zero record.
  EXPECT_EQ(BannerText(0, OsVersion{}), head + "OS = Windows NT  Version: 0.0   Build:0 \n");
  // Fields are printed whole as signed decimals.
  EXPECT_EQ(BannerText(0, OsVersion{5, 1, 0xFFFFFFFFu, 2}), head + "OS = Windows NT  Version: 5.1   Build:-1 \n");
}

TEST(TellVerbose, HintOnlyAfterStopWithoutVerbose) {
  EXPECT_EQ(TellVerboseText(true, false), "\nRun linestat -v for more information!\nOr, use -h for more info\n");
  EXPECT_EQ(TellVerboseText(true, true), "");
  EXPECT_EQ(TellVerboseText(false, false), "");
  EXPECT_EQ(TellVerboseText(false, true), "");
}

}  // namespace
