// SPDX-License-Identifier: BSD-2-Clause
// Trace creation and the one-time teardown. A program of its own: the teardown is once per process.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>
#include <tuple>
#include <vector>

#include "common/console.h"
#include "fake_trace_driver.h"
#include "trace/line_table.h"
#include "trace/poll_loop.h"
#include "trace/teardown.h"

namespace {

TEST(Teardown, CreatesInTableOrderAndTearsDownEachCreatedTraceOnce) {
  FakeTraceDriver driver;
  ASSERT_TRUE(driver.Open());
  ClearLineTable();
  NumIdd = 4;
  const std::uint32_t handles[] = {0x11, 0x22, 0x33, 0x44};
  for (std::size_t i = 0; i < NumIdd; ++i) {
    idd_tbl[i].Handle = handles[i];
    std::snprintf(idd_tbl[i].Name.data(), idd_tbl[i].Name.size(), "LINE%zu", i);
  }
  idd_tbl[0].Selected = 1;
  idd_tbl[1].Selected = 1;  // refused below
  idd_tbl[3].Selected = 1;
  driver.SetLine(0x22, {0, 0, false, true});

  ConsoleCapture capture;
  CreateTrace();
  EXPECT_EQ(capture.Take(), "Error Creating Trace Object for Line LINE1\n");
  EXPECT_EQ(idd_tbl[1].Selected, 0);
  EXPECT_EQ(idd_tbl[1].Ring, nullptr);
  ASSERT_NE(idd_tbl[0].Ring, nullptr);
  ASSERT_NE(idd_tbl[3].Ring, nullptr);

  // The control handler and the main thread both reach the teardown.
  std::vector<std::thread> callers;
  for (int i = 0; i < 3; ++i) callers.emplace_back(DestroyTrace);
  for (std::thread& t : callers) t.join();
  DestroyTrace();

  std::vector<std::tuple<std::uint32_t, std::uint32_t, std::uint32_t>> sent;
  for (const LoggedRequest& r : driver.Requests()) sent.emplace_back(r.opcode, r.handle, r.parameter);
  const std::vector<std::tuple<std::uint32_t, std::uint32_t, std::uint32_t>> expected{
      {OP_TRACE_CREATE, 0x11, 20}, {OP_TRACE_START, 0x11, 0},   {OP_TRACE_CREATE, 0x22, 20},
      {OP_TRACE_CREATE, 0x44, 20}, {OP_TRACE_START, 0x44, 0},   {OP_TRACE_STOP, 0x11, 0},
      {OP_TRACE_DESTROY, 0x11, 20}, {OP_TRACE_STOP, 0x44, 0},   {OP_TRACE_DESTROY, 0x44, 20}};
  EXPECT_EQ(sent, expected);
  for (const LineEntry& entry : idd_tbl) EXPECT_EQ(entry.Ring, nullptr);

  // After the teardown the main thread sends nothing more.
  idd_tbl[2].Selected = 1;
  CreateTrace();
  EnumerateIdd();
  EXPECT_EQ(driver.Requests().size(), expected.size());
}

using Sent = std::vector<std::tuple<std::uint32_t, std::uint32_t, std::uint32_t>>;

Sent SentBy(const FakeTraceDriver& driver) {
  Sent sent;
  for (const LoggedRequest& r : driver.Requests()) sent.emplace_back(r.opcode, r.handle, r.parameter);
  return sent;
}

// Two traced lines, as CreateTrace leaves them, without their create requests.
void TwoTracedLines() {
  ClearLineTable();
  NumIdd = 2;
  idd_tbl[0].Handle = 0x11;
  idd_tbl[1].Handle = 0x22;
  for (std::size_t i = 0; i < NumIdd; ++i) {
    idd_tbl[i].Selected = 1;
    idd_tbl[i].Ring = std::make_unique<TraceRing>();
  }
}

// The control handler's teardown, in a process of its own each (the teardown is once per
// process). Each child reports what it found on standard error and exits 0 when all was right.

[[noreturn]] void TeardownOfADriverThatAnswers() {
  FakeTraceDriver driver;
  if (!driver.Open()) _exit(2);
  TwoTracedLines();
  const auto started = std::chrono::steady_clock::now();
  DestroyTraceWithin(3000);
  const auto took = std::chrono::steady_clock::now() - started;
  const Sent expected{{OP_TRACE_STOP, 0x11, 0}, {OP_TRACE_DESTROY, 0x11, 20}, {OP_TRACE_STOP, 0x22, 0},
                      {OP_TRACE_DESTROY, 0x22, 20}};
  const bool sent_ok = SentBy(driver) == expected;
  const bool open = hf.load() != kInvalidDevice;  // the watchdog did not close it
  const bool quick = took < std::chrono::milliseconds(1500);
  std::fprintf(stderr, "sent %d open %d quick %d\n", sent_ok, open, quick);
  _exit(sent_ok && open && quick ? 0 : 1);
}

[[noreturn]] void TeardownOfADriverThatSitsOnTheStop() {
  FakeTraceDriver driver;
  if (!driver.Open()) _exit(2);
  TwoTracedLines();
  driver.SetLine(0x11, {0, 0, false, false, false, true});
  const auto started = std::chrono::steady_clock::now();
  DestroyTraceWithin(600);
  const auto took = std::chrono::steady_clock::now() - started;
  // The handle was closed at the limit: the held stop failed, and nothing more went out.
  const bool sent_ok = SentBy(driver) == Sent{{OP_TRACE_STOP, 0x11, 0}};
  const bool closed = hf.load() == kInvalidDevice;
  const bool in_time = took >= std::chrono::milliseconds(550) && took < std::chrono::milliseconds(1200);
  std::fprintf(stderr, "sent %d closed %d in time %d\n", sent_ok, closed, in_time);
  _exit(sent_ok && closed && in_time ? 0 : 1);
}

TEST(CtrlTeardownDeathTest, DriverThatAnswersGetsStopThenDestroyPerLineAndKeepsItsHandle) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(TeardownOfADriverThatAnswers(), testing::ExitedWithCode(0), "sent 1 open 1 quick 1");
}

TEST(CtrlTeardownDeathTest, StopThatIsNeverAnsweredIsEndedAtTheLimit) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(TeardownOfADriverThatSitsOnTheStop(), testing::ExitedWithCode(0), "sent 1 closed 1 in time 1");
}

}  // namespace
