// SPDX-License-Identifier: BSD-2-Clause
// Console output: once standard output is gone, the tool knows it and writes nothing more.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

#include "common/console.h"

namespace {

// Runs in a process of its own: the "output gone" state is the process's for good.
[[noreturn]] void WriteToAReaderThatWentAway() {
  // A pipe whose reader went away.
  int gone[2];
  if (pipe(gone) != 0) _exit(2);
  close(gone[0]);
  dup2(gone[1], STDOUT_FILENO);
  const bool first = ConsoleWrite("lost\n");
  const bool latched = ConsoleOutputGone();
  // A reader again: the tool still writes nothing more, so that no view is ever shown in part.
  int back[2];
  if (pipe(back) != 0) _exit(2);
  dup2(back[1], STDOUT_FILENO);
  const bool second = ConsoleWrite("late\n");
  fcntl(back[0], F_SETFL, O_NONBLOCK);
  char byte = 0;
  const bool nothing_arrived = read(back[0], &byte, 1) < 0;
  std::fprintf(stderr, "first %d latched %d second %d nothing %d\n", first, latched, second, nothing_arrived);
  _exit(0);
}

TEST(ConsoleDeathTest, OutputGoneIsLatchedAndLaterTextsAreDropped) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(WriteToAReaderThatWentAway(), testing::ExitedWithCode(0),
              "first 0 latched 1 second 0 nothing 1");
}

TEST(Console, CaptureTakesTheErrorLineApart) {
  ConsoleCapture capture;
  ConsoleWrite("out\n");
  ConsoleWriteError("err\n");
  EXPECT_EQ(capture.text(), "out\n");
  EXPECT_EQ(capture.errors(), "err\n");
  EXPECT_FALSE(ConsoleOutputGone());
}

}  // namespace
