// Trace creation and the one-time teardown. A program of its own: the teardown is once per process.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

#include "common/console.h"
#include "fake_trace_driver.h"
#include "trace/capture.h"
#include "trace/line_table.h"

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

}  // namespace
