// SPDX-License-Identifier: BSD-2-Clause
// The trace tool's process-wide switches: 0 = off, 1 = on, all 0 at start.
//
// They are written by the options, the keyboard thread and the console control handler and read
// by the poll and decode threads. A late view of a change is harmless, so relaxed atomics are
// enough; the view switches ShowRaw, ShowL2 and ShowL3 are in view_flags.h.
#pragma once

#include <atomic>
#include <cstdint>

#include "trace/view_flags.h"

extern std::atomic<std::int32_t> TraceAll;       // "-a": trace every line without asking
extern std::atomic<std::int32_t> ShowUsageFlag;  // "-?": show the usage screen and end
extern std::atomic<std::int32_t> EndGame;        // stop request: every loop ends when it reads 1
extern std::atomic<std::int32_t> PrintUpdate;    // a log-file switch is pending (keys P and N)
extern std::atomic<std::int32_t> PrintStatus;    // its direction: 1 = on, 0 = off

// Relaxed accessors for the common case.
inline std::int32_t Get(const std::atomic<std::int32_t>& flag) { return flag.load(std::memory_order_relaxed); }
inline void Set(std::atomic<std::int32_t>& flag, std::int32_t value) {
  flag.store(value, std::memory_order_relaxed);
}
