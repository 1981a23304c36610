// SPDX-License-Identifier: BSD-2-Clause
// The trace teardown, which both the main thread (after the poll loop) and the console control
// handler (on Ctrl-C or Ctrl-Break) can reach, and who of them ends the process.
//
// Every driver exchange of the main thread runs under TeardownLock and only while the traces have
// not been torn down. The teardown takes the same lock, so it never meets a request in flight, and
// once it has run no request of the main thread goes out, in particular none on the closed handle.
// The lock is held for single requests only, never while the console is written, so a console
// that nobody reads cannot keep the teardown waiting, and the control handler can give up on a
// driver that does not answer (it only tries the lock until its time is up).
#pragma once

#include <cstdint>
#include <mutex>

extern std::mutex TeardownLock;
extern bool TornDown;  // guarded by TeardownLock

// Runs fn under TeardownLock unless the traces have been torn down; returns whether it ran.
template <typename Fn>
bool UnlessTornDown(Fn&& fn) {
  std::lock_guard<std::mutex> guard(TeardownLock);
  if (TornDown) return false;
  fn();
  return true;
}

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
