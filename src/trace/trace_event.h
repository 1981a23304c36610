// SPDX-License-Identifier: BSD-2-Clause
// The per-line wake-up events of the trace tool: auto-reset events, one per listed line, that the
// poll signals after it has put a batch of entries into the line's ring. The decode thread waits
// for any of them; when several are signalled it is given the lowest index first. Teardown ends
// the wait with a shutdown wake, which is reported only once no event is signalled any more, so
// that entries already in the rings are still displayed.
#pragma once

#include <array>
#include <condition_variable>
#include <cstddef>
#include <mutex>

#include "common/enum_reply.h"

struct EventSet {
  std::mutex lock;
  std::condition_variable changed;
  std::array<bool, kMaxLines> created{};    // guarded by lock
  std::array<bool, kMaxLines> signalled{};  // guarded by lock
  bool shutdown = false;                    // guarded by lock
};

// Returned by WaitForAnyTraceEvent once the set has been shut down.
inline constexpr int kEventShutdown = -1;

// Makes event index: auto-reset, not signalled. Out-of-range indices are ignored.
void CreateTraceEvent(EventSet& events, std::size_t index);

// Signals event index (if it was created).
void SetTraceEvent(EventSet& events, std::size_t index);

// Waits without time limit until one of the first count events is signalled, resets it and
// returns its index, the lowest one when several are; or returns kEventShutdown when the set has
// been shut down and none of them is signalled. With count 0 it waits for the shutdown alone.
int WaitForAnyTraceEvent(EventSet& events, std::size_t count);

// Ends every present and future wait (after the signalled events have been handed out).
void ShutdownTraceEvents(EventSet& events);

// The events of the listed lines; index i belongs to line i of the line table.
extern EventSet TraceEvent;
