// SPDX-License-Identifier: BSD-2-Clause
// linestat's start-up: the process-wide switches, the one option, the banner, the usage text and
// the closing hint.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/platform.h"

// Set by -v: a state text follows each Go!/Stop! line, and the closing hint is not printed.
extern std::int32_t Verbose;
// Set whenever a summary line says Stop!; read only by TellVerbose.
extern std::int32_t TellFlag;
// Set by every -a form: area dumps instead of the layer summary.
extern std::uint8_t NewLineInf;
// Set by -a without digits: all eight areas.
extern std::uint8_t PrintAllAreas;
// The area of -a followed by digits: 1, 2, 3, 10, 11, 12, 21 or 22.
extern std::int32_t AreaToPrint;
// The version query's answer, for the banner (all zero when the query failed).
extern OsVersion VerInfoStruc;

// Exit statuses of linestat.
inline constexpr int kExitOk = 0;            // a complete report, or the help text
inline constexpr int kExitFailure = 1;       // no driver, unsupported system, no lines, no memory,
                                             // connection lost, standard output not written
inline constexpr int kExitInvalidArgument = 2;

// The areas of the all-areas mode, in the order they are dumped.
inline constexpr std::int32_t kAllAreas[] = {1, 2, 3, 10, 11, 12, 21, 22};

// What one option argument asks for, worked out without touching any state.
struct ParsedOption {
  enum Outcome { kGo, kHelp, kInvalid };
  Outcome outcome = kGo;
  std::string text;  // printed before ending (messages and usage); empty when going on
  bool verbose = false;
  bool area_mode = false;   // NewLineInf
  bool all_areas = false;   // PrintAllAreas
  std::int32_t area = 0;    // AreaToPrint
};
ParsedOption ParseOption(std::string_view arg);

// Looks at argv[1], sets the switches, prints any message with the usage text. True when the
// program goes on; false when it ends, with *exit_status set (0 after help, 2 after an error).
bool ParseCommandLine(int argc, char** argv, int* exit_status);

std::string UsageText();
void UsageInfo();

// The banner for the given system (0 NT, 1 95) and version record.
std::string BannerText(int os, const OsVersion& version);
// Prints the banner for CurrentOS and VerInfoStruc.
void DoSignonBanner();

// The closing hint, due after a Stop! line without -v; empty otherwise.
std::string TellVerboseText(bool tell, bool verbose);
void TellVerbose();
