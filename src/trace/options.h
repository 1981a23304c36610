// SPDX-License-Identifier: BSD-2-Clause
// lapmon's command line, sign-on banner and usage screen.
#pragma once

#include <string>

// Compares every argument, the program name included, against the options ("-a", "-l2", "-l3",
// "-raw", "-p", "-?") whatever the letter case, and sets the switches they name. Anything else is
// skipped without a message.
void ParseCommandLine(int argc, char** argv);

// The banner with its copyright line and an empty line.
std::string SignonBannerText();
// The banner followed by the option lines.
std::string UsageText();

void DoSignonBanner();
void ShowUsage();
