// SPDX-License-Identifier: BSD-2-Clause
// Coordination of the trace teardown, which both the main thread (after the poll loop) and the
// console control handler (on Ctrl-C or Ctrl-Break) can reach.
//
// Every driver exchange of the main thread runs under TeardownLock and only while the traces have
// not been torn down. The teardown takes the same lock, so it never meets a request in flight, and
// once it has run no request of the main thread goes out, in particular none on the closed handle.
// The lock is held for single requests only, never while the console is written, so a console
// that nobody reads cannot keep the teardown waiting, and the control handler can give up on a
// driver that does not answer (it only tries the lock until its time is up).
#pragma once

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
