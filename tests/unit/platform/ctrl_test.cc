// SPDX-License-Identifier: BSD-2-Clause
// Console control events: each signal reaches the handler on its own thread, then ends the
// process with the signal's default action unless the handler keeps it alive.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>

#include "platform/platform.h"

namespace {

std::atomic<bool> handled{false};

void Report(std::uint32_t event) {
  char text[] = "event ?\n";
  text[6] = static_cast<char>('0' + event);
  (void)!write(STDERR_FILENO, text, sizeof text - 1);
}

bool ReportAndEnd(std::uint32_t event) {
  Report(event);
  return false;
}

bool ReportAndStay(std::uint32_t event) {
  Report(event);
  handled = true;
  return true;
}

void RaiseAndWait(int signal_number) {
  const rlimit no_core{0, 0};
  setrlimit(RLIMIT_CORE, &no_core);
  kill(getpid(), signal_number);
  for (int i = 0; i < 1000 && !handled; ++i) usleep(10000);
}

TEST(CtrlHandlerDeathTest, SignalRunsHandlerThenDefaultAction) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  struct Case {
    int signal_number;
    const char* output;
  };
  for (const Case& tc : {Case{SIGINT, "event 0"}, Case{SIGQUIT, "event 1"}, Case{SIGHUP, "event 2"},
                         Case{SIGTERM, "event 6"}}) {
    EXPECT_EXIT(
        {
          PlatSetCtrlHandler(ReportAndEnd);
          RaiseAndWait(tc.signal_number);
          _exit(0);
        },
        testing::KilledBySignal(tc.signal_number), tc.output)
        << tc.signal_number;
  }
}

TEST(CtrlHandlerDeathTest, HandlerThatTakesTheEventKeepsTheProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        PlatSetCtrlHandler(ReportAndStay);
        RaiseAndWait(SIGINT);
        _exit(handled ? 3 : 4);
      },
      testing::ExitedWithCode(3), "event 0");
}

}  // namespace
