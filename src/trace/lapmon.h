// SPDX-License-Identifier: BSD-2-Clause
// lapmon's start-up, run and shutdown, after the arguments have been expanded.
#pragma once

// Returns the exit status: 0 after key 9 or "-?"; 1 without argument, on an unsupported system or
// without driver. A non-number at the line menu ends the program with 0 from inside.
int LapmonMain(int argc, char** argv);
