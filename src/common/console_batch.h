// SPDX-License-Identifier: BSD-2-Clause
// Views collected for the console and written in few large writes.
//
// The decode thread appends the whole text of each entry it takes, then says so (EntryDone); the
// text is written once kConsoleBatchLimit characters are collected, and in any case when the
// thread has shown every entry that was ready and is about to wait again (Flush). Each write is
// one ConsoleWrite, so a view is never split between two writes and never interleaved with a
// message, which other threads write at once.
#pragma once

#include <cstddef>
#include <string>

inline constexpr std::size_t kConsoleBatchLimit = 64 * 1024;

class ConsoleBatch {
 public:
  // Where the next entry's text is appended; only whole entries may be left in it.
  std::string& Text() { return text_; }

  // An entry's text is complete: writes what is collected once it reaches kConsoleBatchLimit.
  // False when standard output is gone for good.
  bool EntryDone() { return text_.size() < kConsoleBatchLimit || Flush(); }

  // Writes what is collected, if anything, as one write. False when standard output is gone for
  // good (the text is dropped then).
  bool Flush();

 private:
  std::string text_;
};
