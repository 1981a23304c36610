// SPDX-License-Identifier: BSD-2-Clause
// The trace tool's poll: trace objects in the driver for the selected lines, the once-a-second
// poll of them into the trace rings, and the decode thread that displays the entries. Their
// teardown, and who ends the process, are in trace/teardown.h.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>

#include "trace/trace_ring.h"

// The ring lock over all trace rings: held around each slot write with its WriteIndex step and
// around each slot display with its ReadIndex step.
extern std::mutex hThdSem;

// Creates and starts a trace object, with a ring, for every selected line, in table order. A line
// whose create is refused prints "Error Creating Trace Object for Line %s\n" and is dropped.
void CreateTrace();

void StartTrace(std::uint32_t handle);
void StopTrace(std::uint32_t handle);

// The poll loop of the main thread: every traced line once a second until EndGame is set. It
// also ends, setting EndGame, after a pass that finds the driver connection lost for good (said
// once on standard error) or standard output gone.
void DoTrace();

// Whether the run ended because it could not go on (the driver connection lost, or standard
// output gone): the tool then exits with status 1 after its teardown.
bool RunFailed();

// One poll of one line: its trace status, a report of entries the driver dropped, then every entry
// the driver holds (while the ring has room) into the ring, and one wake-up of the decode thread
// when any was read. A pending log-file switch goes out right after an entry was read.
void GetTraceEntry(std::uint32_t handle, TraceRing* ring, std::uint32_t* nextEntry, std::size_t event);

// The decode thread: waits for the lines' events, lowest line first, and displays every entry of
// the signalled line's ring. Ends when the teardown wakes it and nothing is left to display.
int DecodeTrace();

// Starts the decode thread and the keyboard thread (unless the traces were already torn down).
void StartTraceThreads();

// Waits until the decode thread has ended (at once when it never ran): the teardown releases the
// rings only then. The second form gives up at the deadline and says whether it ended.
void WaitForDecodeEnd();
bool WaitForDecodeEndUntil(std::chrono::steady_clock::time_point deadline);
