#include "trace/poll_loop.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <new>
#include <system_error>
#include <thread>

#include "common/console.h"
#include "common/console_batch.h"
#include "common/driver.h"
#include "common/trace_poll.h"
#include "decode/frame_display.h"
#include "platform/platform.h"
#include "trace/console_control.h"
#include "trace/line_table.h"
#include "trace/switches.h"
#include "trace/teardown.h"
#include "trace/trace_event.h"

std::mutex hThdSem;

namespace {

// OP_LOG_FILE parameter.
constexpr std::uint32_t kLogFileOn = 2;
constexpr std::uint32_t kLogFileOff = 0;
constexpr std::uint32_t kPollIntervalMs = 1000;

// Whether the decode thread runs; the teardown waits for it to end before the rings go.
std::mutex DecodeStateLock;
std::condition_variable DecodeStateChanged;
bool DecodeRunning = false;  // guarded by DecodeStateLock

// Notifies under the lock: once the waiter sees the thread ended, the thread no longer touches
// the condition variable, which may then go away with the process.
void SetDecodeRunning(bool running) {
  std::lock_guard<std::mutex> guard(DecodeStateLock);
  DecodeRunning = running;
  DecodeStateChanged.notify_all();
}

// A request of the poll: sent unless the traces have been torn down, else it counts as failed.
// The lock is held for this one request only.
std::uint32_t SendUnlessTornDown(CommandBlock* block) {
  std::uint32_t status = kStatusDeviceCallFailed;
  UnlessTornDown([&] { status = ExecuteCmd(block); });
  return status;
}

// Displays every unread entry of one ring, in order, into the decode thread's batch. The slot is
// copied under the ring lock and stays taken until its text has been collected (the poll never
// writes an unread slot), but the console is written without the lock: a console that blocks
// must not hold up the poll.
void DrainRing(const char* lineName, TraceRing& ring, ConsoleBatch& batch) {
  std::array<std::uint8_t, kTraceEntrySize> entry{};
  while (RingUnread(ring) > 0) {
    {
      std::lock_guard<std::mutex> guard(hThdSem);
      const TraceEntryView slot = RingPeek(ring);
      std::copy(slot.begin(), slot.end(), entry.begin());
    }
    FormatTraceFrame(batch.Text(), lineName, TraceEntryBytes(entry), ViewFlagOn, PlatFileTimeToLocal);
    batch.EntryDone();
    std::lock_guard<std::mutex> guard(hThdSem);
    RingStepRead(ring);
  }
}

void DecodeThreadMain() {
  DecodeTrace();
  SetDecodeRunning(false);
}

std::atomic<bool> RunEndedByFailure{false};

// After a poll pass: false, with EndGame set, when the run cannot go on: the driver connection is
// lost for good (every later request would fail, and nothing more would ever be shown), or
// standard output is gone (nothing could be shown any more).
bool RunCanGoOn() {
  if (DriverConnectionLost()) {
    ConsoleWriteError("lapmon: the connection to the driver is lost\n");
  } else if (!ConsoleOutputGone()) {
    return true;
  }
  RunEndedByFailure.store(true);
  Set(EndGame, 1);
  return false;
}

}  // namespace

void WaitForDecodeEnd() {
  std::unique_lock<std::mutex> guard(DecodeStateLock);
  DecodeStateChanged.wait(guard, [] { return !DecodeRunning; });
}

bool WaitForDecodeEndUntil(std::chrono::steady_clock::time_point deadline) {
  std::unique_lock<std::mutex> guard(DecodeStateLock);
  return DecodeStateChanged.wait_until(guard, deadline, [] { return !DecodeRunning; });
}

bool RunFailed() { return RunEndedByFailure.load() || ConsoleOutputGone(); }

void StartTrace(std::uint32_t handle) { SendTraceStart(handle); }

void StopTrace(std::uint32_t handle) { SendTraceStop(handle); }

void CreateTrace() {
  UnlessTornDown([] {
    CommandHolder block = AllocateCommand();
    if (!block) return;
    for (LineEntry& entry : idd_tbl) {
      if (entry.Selected != 1) continue;
      if (SendTraceCreate(*block, entry.Handle) != 0) {
        ConsolePrintf("Error Creating Trace Object for Line %s\n", entry.Name.data());
        entry.Selected = 0;
        continue;
      }
      entry.Ring.reset(new (std::nothrow) TraceRing());
      if (!entry.Ring) {
        // The object exists but cannot be traced without a ring: remove it again.
        ConsoleWrite("Error: Error Allocating Memory.\n");
        SendTraceDestroy(*block, entry.Handle);
        entry.Selected = 0;
        continue;
      }
      StartTrace(entry.Handle);
    }
  });
}

namespace {

// lapmon's side of the poll of one line: the requests go out unless the traces are torn down,
// entries go into the line's ring while it has room and the tool has not been stopped, and a
// pending log-file switch follows right after an entry was read.
struct RingPollHooks {
  TraceRing* ring;
  bool read = false;

  std::uint32_t Send(CommandBlock* block) { return SendUnlessTornDown(block); }
  void Lost(std::uint32_t count) { ConsolePrintf("Lost %d Entries\n", static_cast<int>(count)); }
  // Unread entries are never overwritten; what does not fit stays with the driver until the
  // next poll.
  bool MayRead() const { return Get(EndGame) == 0 && RingHasRoom(*ring); }
  void Take(CommandBlock& block, TraceEntryView entry) {
    read = true;
    {
      std::lock_guard<std::mutex> guard(hThdSem);
      RingPut(*ring, entry);
    }
    if (PrintUpdate.exchange(0, std::memory_order_acquire) != 0) {
      block.SetOpcode(OP_LOG_FILE);
      block.SetParameter(Get(PrintStatus) != 0 ? kLogFileOn : kLogFileOff);
      SendUnlessTornDown(&block);
    }
  }
};

}  // namespace

void GetTraceEntry(std::uint32_t handle, TraceRing* ring, std::uint32_t* nextEntry, std::size_t event) {
  CommandHolder block = AllocateCommand();
  if (!block) return;
  RingPollHooks hooks{ring};
  PollTraceLine(*block, handle, TracePosition{*nextEntry, ring->StatusSeen}, hooks);
  if (hooks.read) SetTraceEvent(TraceEvent, event);
}

void DoTrace() {
  while (Get(EndGame) == 0) {
    const std::uint32_t passStart = PlatTickCount();
    // Each request of a poll takes the teardown lock by itself (the rings stay until this loop
    // has ended: only the main thread's own teardown releases them).
    for (std::size_t i = 0; i < idd_tbl.size(); ++i) {
      LineEntry& entry = idd_tbl[i];
      if (entry.Selected == 1 && entry.Ring) {
        GetTraceEntry(entry.Handle, entry.Ring.get(), &entry.Ring->NextEntry, i);
      }
    }
    if (!RunCanGoOn()) return;
    // One pass a second: the pass itself takes time (a round trip per entry), so only what is left
    // of the second is slept. A pass of a second or more starts the next one at once.
    const std::uint32_t spent = PlatTickCount() - passStart;  // the tick count wraps: unsigned
    if (spent < kPollIntervalMs) PlatSleep(kPollIntervalMs - spent);
  }
}

int DecodeTrace() {
  // The views are collected and written when every entry that was ready has been shown, before
  // the next wait (or at kConsoleBatchLimit): few writes, each of whole views.
  ConsoleBatch batch;
  for (;;) {
    batch.Flush();
    const int index = WaitForAnyTraceEvent(TraceEvent, NumIdd);
    if (index == kEventShutdown) break;
    LineEntry& entry = idd_tbl[static_cast<std::size_t>(index)];
    if (entry.Ring) DrainRing(entry.Name.data(), *entry.Ring, batch);
  }
  return 0;
}

void StartTraceThreads() {
  UnlessTornDown([] {
    // A thread the system refuses to start is done without; the teardown must then not wait
    // for it.
    SetDecodeRunning(true);
    try {
      std::thread(DecodeThreadMain).detach();
    } catch (const std::system_error&) {
      SetDecodeRunning(false);
    }
    try {
      std::thread(KeyboardMonitor).detach();
    } catch (const std::system_error&) {
    }
  });
}
