// SPDX-License-Identifier: BSD-2-Clause
// The capture engine of the trace tool: trace objects in the driver, the once-a-second poll into
// the trace rings, the decode thread that displays the entries, and the teardown.
#pragma once

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

// Who ends the process. The main thread ends it by returning from main after its own teardown;
// the console control handler ends it by returning to the system, whose default handler ends the
// process. Only one of them may: with both, the exit handlers of one would run under the other's
// feet, and two ends of one process at once can leave it hanging half-ended.
// kMain is the main thread in its teardown; kMainExit the main thread on its way out of the
// process, which the control handler then leaves alone.
enum class ProcessEnd { kFree, kMain, kControl, kMainExit };

// Takes the end for `who` unless one of them holds it already. Returns who held it before:
// kFree when `who` has it now.
ProcessEnd ClaimProcessEnd(ProcessEnd who);

// The control handler, when the main thread's teardown has not ended the process in the time it
// was given: takes the end over from it (the main thread, woken when the handler closes the
// driver, then waits for the process to end). Returns who held the end before; kMainExit means
// the main thread is leaving already and keeps the end.
ProcessEnd TakeOverProcessEnd();

// The main thread right before it ends the process (returning from main or exiting): takes the
// end for good, or, when the control handler holds it, waits for the handler to end the process.
void LeaveProcess();

// The main thread's teardown. When the control handler holds the end, the handler tears down and
// the system ends the process: this thread then only waits for that. Otherwise it takes the end,
// then stops and destroys every trace object once, whoever calls first, waits until the decode
// thread no longer reads the rings, then releases them. Later calls do nothing.
void DestroyTrace();

// The teardown of the console control handler, which must let the process end soon whatever the
// driver and the console do: it returns within about limit_ms. It waits at most half of that for
// a request of the main thread that is in flight; when that does not return in time the driver is
// not answering, and the handle is closed instead (which fails that request). Otherwise it stops
// and destroys every trace object once, as DestroyTrace does; a stop or destroy request that is
// still unanswered at the limit is ended by closing the handle, and the requests after it fail.
// The decode thread gets the rest of the time to display what the rings hold. The rings are not
// released: the process ends right after, and the main thread may still be between two requests
// of a poll.
void DestroyTraceWithin(std::uint32_t limit_ms);
