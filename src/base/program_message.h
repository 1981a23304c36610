// SPDX-License-Identifier: BSD-2-Clause
// A message for a person: one "program: what happened" line on standard error, written whole.
#pragma once

#include <string>
#include <string_view>

// "program: message\n" (a newline is added unless the message ends in one).
std::string ProgramMessageLine(std::string_view program, std::string_view message);

// Writes text to standard error as one piece and flushes it; a standard error that would block
// is waited for (about 5 seconds at most), one that is gone is given up silently.
void WriteStderr(std::string_view text);

// WriteStderr(ProgramMessageLine(program, message)).
void WriteProgramMessage(std::string_view program, std::string_view message);
