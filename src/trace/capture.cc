#include "trace/capture.h"

#include <condition_variable>
#include <new>
#include <system_error>
#include <thread>

#include "common/console.h"
#include "common/driver.h"
#include "decode/frame_display.h"
#include "trace/console_control.h"
#include "trace/line_table.h"
#include "trace/switches.h"
#include "trace/teardown.h"
#include "trace/trace_event.h"

std::mutex hThdSem;
std::mutex TeardownLock;
bool TornDown = false;

namespace {

// The driver's own argument of the create and destroy requests.
constexpr std::uint32_t kTraceObjectParameter = 20;
// OP_TRACE_STATUS reply: the oldest entry still held is the fifth word minus the fourth.
constexpr std::size_t kStatusHeldFromOffset = 52;
constexpr std::size_t kStatusHeldToOffset = 56;
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

void WaitForDecodeEnd() {
  std::unique_lock<std::mutex> guard(DecodeStateLock);
  DecodeStateChanged.wait(guard, [] { return !DecodeRunning; });
}

void SendLineRequest(std::uint32_t opcode, std::uint32_t handle, std::uint32_t parameter) {
  CommandHolder block = AllocateCommand();
  if (!block) return;
  block->SetOpcode(opcode);
  block->SetLineHandle(handle);
  block->SetParameter(parameter);
  ExecuteCmd(block.get());
}

void SendDestroy(CommandBlock& block, std::uint32_t handle) {
  block.Zero();
  block.SetOpcode(OP_TRACE_DESTROY);
  block.SetLineHandle(handle);
  block.SetParameter(kTraceObjectParameter);
  ExecuteCmd(&block);
}

// Displays every unread entry of one ring, in order, each under the ring lock.
void DrainRing(const char* lineName, TraceRing& ring) {
  while (RingUnread(ring) > 0) {
    std::lock_guard<std::mutex> guard(hThdSem);
    DecodeTraceFrame(lineName, RingPeek(ring));
    RingStepRead(ring);
  }
}

void DecodeThreadMain() {
  DecodeTrace();
  SetDecodeRunning(false);
}

}  // namespace

void StartTrace(std::uint32_t handle) { SendLineRequest(OP_TRACE_START, handle, 0); }

void StopTrace(std::uint32_t handle) { SendLineRequest(OP_TRACE_STOP, handle, 0); }

void CreateTrace() {
  UnlessTornDown([] {
    CommandHolder block = AllocateCommand();
    if (!block) return;
    for (LineEntry& entry : idd_tbl) {
      if (entry.Selected != 1) continue;
      block->Zero();
      block->SetOpcode(OP_TRACE_CREATE);
      block->SetLineHandle(entry.Handle);
      block->SetParameter(kTraceObjectParameter);
      if (ExecuteCmd(block.get()) != 0) {
        ConsolePrintf("Error Creating Trace Object for Line %s\n", entry.Name.data());
        entry.Selected = 0;
        continue;
      }
      entry.Ring.reset(new (std::nothrow) TraceRing());
      if (!entry.Ring) {
        // The object exists but cannot be traced without a ring: remove it again.
        ConsoleWrite("Error: Error Allocating Memory.\n");
        SendDestroy(*block, entry.Handle);
        entry.Selected = 0;
        continue;
      }
      StartTrace(entry.Handle);
    }
  });
}

void GetTraceEntry(std::uint32_t handle, TraceRing* ring, std::uint32_t* nextEntry, std::size_t event) {
  CommandHolder block = AllocateCommand();
  if (!block) return;

  block->SetOpcode(OP_TRACE_STATUS);
  block->SetLineHandle(handle);
  if (ExecuteCmd(block.get()) != 0) return;

  const ByteSpan reply = block->bytes();
  const std::uint32_t oldest = GetLE32(reply, kStatusHeldToOffset) - GetLE32(reply, kStatusHeldFromOffset);
  if (oldest > *nextEntry) {
    ConsolePrintf("Lost %d Entries\n", static_cast<int>(oldest - *nextEntry));
    *nextEntry = oldest;
  }

  bool read = false;
  // The block is reused without zeroing: each request rewrites only the fields it sends.
  while (Get(EndGame) == 0) {
    // Unread entries are never overwritten; what does not fit stays with the driver until the
    // next poll.
    if (!RingHasRoom(*ring)) break;
    block->SetOpcode(OP_TRACE_READ);
    block->SetLineHandle(handle);
    block->SetParameter(*nextEntry);
    if (ExecuteCmd(block.get()) != 0) break;
    read = true;
    {
      std::lock_guard<std::mutex> guard(hThdSem);
      RingPut(*ring, block->Payload().first<kTraceEntrySize>());
    }
    ++*nextEntry;

    if (PrintUpdate.exchange(0, std::memory_order_acquire) != 0) {
      block->SetOpcode(OP_LOG_FILE);
      block->SetParameter(Get(PrintStatus) != 0 ? kLogFileOn : kLogFileOff);
      ExecuteCmd(block.get());
    }
  }

  if (read) SetTraceEvent(TraceEvent, event);
}

void DoTrace() {
  while (Get(EndGame) == 0) {
    for (std::size_t i = 0; i < idd_tbl.size(); ++i) {
      UnlessTornDown([i] {
        LineEntry& entry = idd_tbl[i];
        if (entry.Selected == 1 && entry.Ring) {
          GetTraceEntry(entry.Handle, entry.Ring.get(), &entry.Ring->NextEntry, i);
        }
      });
    }
    PlatSleep(kPollIntervalMs);
  }
}

int DecodeTrace() {
  for (;;) {
    const int index = WaitForAnyTraceEvent(TraceEvent, NumIdd);
    if (index == kEventShutdown) break;
    LineEntry& entry = idd_tbl[static_cast<std::size_t>(index)];
    if (entry.Ring) DrainRing(entry.Name.data(), *entry.Ring);
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

void DestroyTrace() {
  std::lock_guard<std::mutex> guard(TeardownLock);
  if (TornDown) return;
  TornDown = true;

  // Stop and destroy in table order, each line's stop before its destroy.
  CommandHolder block = AllocateCommand();
  if (block) {
    for (LineEntry& entry : idd_tbl) {
      if (!entry.Ring) continue;
      StopTrace(entry.Handle);
      SendDestroy(*block, entry.Handle);
    }
  }

  // The rings go only once the decode thread has displayed what they hold and ended.
  ShutdownTraceEvents(TraceEvent);
  WaitForDecodeEnd();
  for (LineEntry& entry : idd_tbl) entry.Ring.reset();
}
