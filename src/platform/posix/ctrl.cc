// SPDX-License-Identifier: BSD-2-Clause
// Console control events on Linux: Ctrl-C (SIGINT), Ctrl-Break (SIGQUIT), and SIGHUP / SIGTERM for
// the close and shutdown events. The signals are taken by a thread of their own with sigwait, so
// the handler runs as ordinary code on that thread, as a console control handler does.
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "platform/platform.h"

namespace {

std::atomic<CtrlHandler> installed_handler{nullptr};
std::once_flag thread_once;

sigset_t ControlSignals() {
  sigset_t set;
  sigemptyset(&set);
  for (int s : {SIGINT, SIGQUIT, SIGTERM, SIGHUP}) sigaddset(&set, s);
  return set;
}

std::uint32_t EventOf(int signal_number) {
  switch (signal_number) {
    case SIGINT:
      return kCtrlCEvent;
    case SIGQUIT:
      return kCtrlBreakEvent;
    case SIGHUP:
      return kCtrlCloseEvent;
    default:
      return kCtrlShutdownEvent;
  }
}

// The signal's default action ends the process, with the terminal mode restored first.
[[noreturn]] void EndBySignal(int signal_number) {
  PlatRestoreConsole();
  signal(signal_number, SIG_DFL);
  sigset_t one;
  sigemptyset(&one);
  sigaddset(&one, signal_number);
  pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
  raise(signal_number);
  _exit(128 + signal_number);  // not reached: every one of these signals ends the process
}

void ControlThread() {
  const sigset_t set = ControlSignals();
  while (true) {
    int signal_number = 0;
    if (sigwait(&set, &signal_number) != 0) continue;
    const CtrlHandler handler = installed_handler.load();
    const bool handled = handler != nullptr && handler(EventOf(signal_number));
    if (!handled) EndBySignal(signal_number);
  }
}

}  // namespace

bool PlatSetCtrlHandler(CtrlHandler handler) {
  installed_handler.store(handler);
  bool started = true;
  std::call_once(thread_once, [&started] {
    // Blocked in the calling thread (main, before it starts any other), so every later thread
    // inherits the mask and the signals reach only the control thread.
    const sigset_t set = ControlSignals();
    if (pthread_sigmask(SIG_BLOCK, &set, nullptr) != 0) {
      started = false;
      return;
    }
    try {
      std::thread(ControlThread).detach();
    } catch (...) {
      pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
      started = false;
    }
  });
  return started;
}

bool PlatCloseEventEndsOnReturn() { return false; }
