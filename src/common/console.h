// SPDX-License-Identifier: BSD-2-Clause
// Console text: formatting apart from printing.
//
// Views build their whole text into a string with AppendF (printf formats, snprintf-style) and
// hand it to ConsoleWrite, which is one write to standard output, flushed. Tests capture what
// would have been written with ConsoleCapture instead of reading a console.
#pragma once

#include <string>
#include <string_view>

#if defined(__GNUC__)
#define BRI_PRINTF_FORMAT(fmt_index, first_arg) __attribute__((format(printf, fmt_index, first_arg)))
#else
#define BRI_PRINTF_FORMAT(fmt_index, first_arg)
#endif

// Appends printf-formatted text to out; the text is never cut, whatever its length.
void AppendF(std::string& out, const char* format, ...) BRI_PRINTF_FORMAT(2, 3);

// printf-formatted text as a new string.
std::string FormatF(const char* format, ...) BRI_PRINTF_FORMAT(1, 2);

// One console write of the whole text, flushed. False when standard output is gone for good:
// once a write has failed, every later text is dropped without trying (the output is gone).
bool ConsoleWrite(std::string_view text);

// Whether a write to standard output has failed: what the tool prints can no longer be delivered.
bool ConsoleOutputGone();

// One line of the tool's own on standard error (not the console output), written at once and
// whole (WriteStderr); a ConsoleCapture takes it instead.
void ConsoleWriteError(std::string_view text);

// printf to the console as one write.
void ConsolePrintf(const char* format, ...) BRI_PRINTF_FORMAT(1, 2);

// While an object of this type lives, console writes of every thread are collected in it instead
// of reaching standard output. One at a time.
class ConsoleCapture {
 public:
  ConsoleCapture();
  ~ConsoleCapture();
  ConsoleCapture(const ConsoleCapture&) = delete;
  ConsoleCapture& operator=(const ConsoleCapture&) = delete;

  // What was written so far.
  std::string text() const;
  // What was written so far, and forget it.
  std::string Take();
  // What was written to standard error so far.
  std::string errors() const;
};
