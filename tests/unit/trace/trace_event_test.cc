#include "trace/trace_event.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <vector>

namespace {

using namespace std::chrono_literals;

std::unique_ptr<EventSet> MakeEvents(std::size_t count) {
  auto events = std::make_unique<EventSet>();
  for (std::size_t i = 0; i < count; ++i) CreateTraceEvent(*events, i);
  return events;
}

TEST(TraceEvent, LowestSignalledLineIsServedFirst) {
  auto events = MakeEvents(5);
  for (std::size_t i : {4u, 1u, 3u}) SetTraceEvent(*events, i);
  std::vector<int> order;
  for (int n = 0; n < 3; ++n) order.push_back(WaitForAnyTraceEvent(*events, 5));
  EXPECT_EQ(order, (std::vector<int>{1, 3, 4}));
}

TEST(TraceEvent, AutoResetGivesOneWakeForSeveralSignals) {
  auto events = MakeEvents(2);
  SetTraceEvent(*events, 0);
  SetTraceEvent(*events, 0);
  EXPECT_EQ(WaitForAnyTraceEvent(*events, 2), 0);
  ShutdownTraceEvents(*events);
  EXPECT_EQ(WaitForAnyTraceEvent(*events, 2), kEventShutdown);
}

TEST(TraceEvent, ShutdownComesAfterTheSignalledEvents) {
  auto events = MakeEvents(3);
  SetTraceEvent(*events, 2);
  SetTraceEvent(*events, 0);
  ShutdownTraceEvents(*events);
  EXPECT_EQ(WaitForAnyTraceEvent(*events, 3), 0);
  EXPECT_EQ(WaitForAnyTraceEvent(*events, 3), 2);
  EXPECT_EQ(WaitForAnyTraceEvent(*events, 3), kEventShutdown);
  EXPECT_EQ(WaitForAnyTraceEvent(*events, 3), kEventShutdown);
}

TEST(TraceEvent, EventsOutsideTheWaitOrNeverCreatedDoNotWake) {
  auto events = MakeEvents(2);
  SetTraceEvent(*events, 5);          // never created
  SetTraceEvent(*events, kMaxLines);  // out of range
  SetTraceEvent(*events, 1);          // created, but the wait covers only line 0
  auto waiter = std::async(std::launch::async, [&] { return WaitForAnyTraceEvent(*events, 1); });
  EXPECT_EQ(waiter.wait_for(50ms), std::future_status::timeout);
  SetTraceEvent(*events, 0);
  ASSERT_EQ(waiter.wait_for(5s), std::future_status::ready);
  EXPECT_EQ(waiter.get(), 0);
}

// With no line to wait for, the waiter sleeps until the shutdown instead of returning at once.
TEST(TraceEvent, WaitOnNoEventsBlocksUntilShutdown) {
  EventSet events;
  auto waiter = std::async(std::launch::async, [&] { return WaitForAnyTraceEvent(events, 0); });
  EXPECT_EQ(waiter.wait_for(50ms), std::future_status::timeout);
  ShutdownTraceEvents(events);
  ASSERT_EQ(waiter.wait_for(5s), std::future_status::ready);
  EXPECT_EQ(waiter.get(), kEventShutdown);
}

TEST(TraceEvent, SignalFromAnotherThreadWakesTheWaiter) {
  auto events = MakeEvents(4);
  auto waiter = std::async(std::launch::async, [&] { return WaitForAnyTraceEvent(*events, 4); });
  std::this_thread::sleep_for(10ms);
  SetTraceEvent(*events, 3);
  ASSERT_EQ(waiter.wait_for(5s), std::future_status::ready);
  EXPECT_EQ(waiter.get(), 3);
}

}  // namespace
