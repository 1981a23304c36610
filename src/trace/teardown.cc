// SPDX-License-Identifier: BSD-2-Clause
#include "trace/teardown.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <system_error>
#include <thread>

#include "common/driver.h"
#include "common/trace_poll.h"
#include "platform/platform.h"
#include "trace/line_table.h"
#include "trace/poll_loop.h"
#include "trace/trace_event.h"

std::mutex TeardownLock;
bool TornDown = false;

namespace {

// Under TeardownLock: stops and destroys every trace object in table order, each line's stop
// before its destroy, and marks the traces torn down. False when that was done before.
bool StopAndDestroyAll() {
  if (TornDown) return false;
  TornDown = true;
  CommandHolder block = AllocateCommand();
  if (block) {
    for (LineEntry& entry : idd_tbl) {
      if (!entry.Ring) continue;
      StopTrace(entry.Handle);
      SendTraceDestroy(*block, entry.Handle);
    }
  }
  return true;
}

std::atomic<ProcessEnd> EndHolder{ProcessEnd::kFree};

// Closes the driver at a deadline unless it is dismissed first: a request that the driver does not
// answer then fails (closing the handle ends a call that waits on it), and whoever waits for that
// request goes on. Without a thread of its own (the system refused one) it does nothing.
class DriverWatchdog {
 public:
  explicit DriverWatchdog(std::chrono::steady_clock::time_point deadline) {
    try {
      thread_ = std::thread([this, deadline] { Watch(deadline); });
    } catch (const std::system_error&) {
    }
  }
  ~DriverWatchdog() {
    {
      std::lock_guard<std::mutex> guard(lock_);
      dismissed_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable()) thread_.join();
  }
  DriverWatchdog(const DriverWatchdog&) = delete;
  DriverWatchdog& operator=(const DriverWatchdog&) = delete;

 private:
  void Watch(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock<std::mutex> guard(lock_);
    if (changed_.wait_until(guard, deadline, [this] { return dismissed_; })) return;
    guard.unlock();
    CloseDriver();
  }

  std::mutex lock_;
  std::condition_variable changed_;
  bool dismissed_ = false;  // guarded by lock_
  std::thread thread_;
};

}  // namespace

ProcessEnd ClaimProcessEnd(ProcessEnd who) {
  ProcessEnd holder = ProcessEnd::kFree;
  EndHolder.compare_exchange_strong(holder, who);
  return holder;
}

ProcessEnd TakeOverProcessEnd() {
  ProcessEnd holder = ProcessEnd::kMain;
  EndHolder.compare_exchange_strong(holder, ProcessEnd::kControl);
  return holder;
}

void LeaveProcess() {
  ProcessEnd holder = EndHolder.load();
  while (holder != ProcessEnd::kControl) {
    if (EndHolder.compare_exchange_weak(holder, ProcessEnd::kMainExit)) return;
  }
  // The control handler ends the process.
  for (;;) PlatSleep(1000);
}

void DestroyTrace() {
  if (ClaimProcessEnd(ProcessEnd::kMain) == ProcessEnd::kControl) {
    // The control handler has the teardown in hand and the system ends the process when the
    // handler returns.
    for (;;) PlatSleep(1000);
  }
  // Here the main thread holds the end (also on a later call, which then finds nothing to do).
  std::lock_guard<std::mutex> guard(TeardownLock);
  if (StopAndDestroyAll()) {
    // The rings go only once the decode thread has displayed what they hold and ended.
    ShutdownTraceEvents(TraceEvent);
    WaitForDecodeEnd();
    for (LineEntry& entry : idd_tbl) entry.Ring.reset();
  }
}

void DestroyTraceWithin(std::uint32_t limit_ms) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limit_ms);
  bool first = false;
  {
    // The stop and destroy requests may meet a driver that does not answer: at the deadline the
    // watchdog closes the handle, the request in hand fails and every later one fails at once.
    DriverWatchdog watchdog(deadline);
    // Half of the time for a request in flight, the rest for the teardown and the display of
    // what was read. (Tried again and again rather than a timed lock, which not every thread
    // checker follows.)
    const auto lock_deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limit_ms / 2);
    std::unique_lock<std::mutex> guard(TeardownLock, std::try_to_lock);
    while (!guard.owns_lock()) {
      if (std::chrono::steady_clock::now() >= lock_deadline) {
        CloseDriver();
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      guard.try_lock();
    }
    first = StopAndDestroyAll();
  }
  if (!first) return;
  ShutdownTraceEvents(TraceEvent);
  WaitForDecodeEndUntil(deadline);
}
