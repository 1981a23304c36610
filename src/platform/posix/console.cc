// SPDX-License-Identifier: BSD-2-Clause
// The console on Linux: standard output, the menu answers and keys on standard input, and the
// terminal's key mode.
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "platform/platform.h"
#include "platform/stdin_input.h"

namespace {

// ---- Standard output ----

std::mutex stdout_mutex;  // one text at a time, so texts of different threads never mix

bool SigpipePending() {
  sigset_t pending;
  sigemptyset(&pending);
  return sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1;
}

// ---- Key mode ----
//
// Key mode is wanted from PlatBeginKeyMode to PlatRestoreConsole. It is set only while this
// process may change the terminal's mode: a process outside the foreground process group of its
// controlling terminal would be stopped by SIGTTOU for trying, so it leaves the terminal alone
// and sets key mode once it is brought to the foreground. Ctrl-Z (SIGTSTP) gives the terminal its
// mode back before the process stops; SIGCONT sets key mode again.
//
// Every change runs with the signals whose handlers change the mode held back in the changing
// thread, and under a lock-free state word, so that it is safe from those handlers: they only
// call tcgetpgrp, tcgetattr, tcsetattr, sigaction, pthread_sigmask, raise and nanosleep.

// kStopped: Ctrl-Z gave the terminal its mode back and the process is stopping; no thread sets
// key mode again until the process is continued.
enum TerminalState : int { kNormalMode, kChangingMode, kKeyMode, kStopped };
std::atomic<int> terminal_state{kNormalMode};
std::atomic<bool> keys_wanted{false};
termios saved_mode{};  // the mode found when key mode was last set; written under kChangingMode
termios keys_mode{};   // the key mode set then; written under kChangingMode
std::once_flag exit_hook_once;

// The signals whose handlers change the terminal's mode.
sigset_t ModeSignals() {
  sigset_t set;
  sigemptyset(&set);
  for (int s : {SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGTSTP, SIGCONT}) sigaddset(&set, s);
  return set;
}

// Holds the mode-changing signals back in this thread while it lives.
class ModeSignalsHeld {
 public:
  ModeSignalsHeld() {
    const sigset_t set = ModeSignals();
    pthread_sigmask(SIG_BLOCK, &set, &previous_);
  }
  ~ModeSignalsHeld() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }
  ModeSignalsHeld(const ModeSignalsHeld&) = delete;
  ModeSignalsHeld& operator=(const ModeSignalsHeld&) = delete;

 private:
  sigset_t previous_;
};

// Takes the state from `from` to kChangingMode; false when it is not `from`. Another thread that
// is changing the mode (it cannot be interrupted by these handlers) is waited for.
bool TakeState(int from) {
  while (true) {
    int expected = from;
    if (terminal_state.compare_exchange_strong(expected, kChangingMode)) return true;
    if (expected != kChangingMode) return false;
    const timespec pause{0, 1000000};
    nanosleep(&pause, nullptr);
  }
}

// Whether this process may change standard input's terminal mode. A terminal that is not the
// controlling terminal of this process (ENOTTY) has no foreground process group that matters.
bool MayChangeMode() {
  const pid_t foreground = tcgetpgrp(STDIN_FILENO);
  if (foreground == -1) return errno == ENOTTY;
  return foreground == getpgrp();
}

// Sets key mode when it is wanted and the terminal may be changed. again: key mode that is set
// already is set once more (a job that was continued may find its terminal changed meanwhile).
// Whether the terminal may be changed is asked while the state is held: asked before, the answer
// could be stale by the time of the change (the process stopped by Ctrl-Z in between and continued
// in the background), and the change would then stop the process with SIGTTOU.
void EnterKeyMode(bool again) {
  const int saved_errno = errno;
  ModeSignalsHeld held;
  if (keys_wanted.load()) {
    if (TakeState(kNormalMode)) {
      termios found{};
      if (MayChangeMode() && tcgetattr(STDIN_FILENO, &found) == 0) {
        saved_mode = found;
        keys_mode = found;
        keys_mode.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
        // Enter arrives as the carriage return that a console in this mode delivers.
        keys_mode.c_iflag &= ~static_cast<tcflag_t>(ICRNL);
        keys_mode.c_lflag |= ISIG;
        keys_mode.c_cc[VMIN] = 1;
        keys_mode.c_cc[VTIME] = 0;
        tcsetattr(STDIN_FILENO, TCSANOW, &keys_mode);
        terminal_state.store(kKeyMode);
      } else {
        terminal_state.store(kNormalMode);
      }
    } else if (again && TakeState(kKeyMode)) {
      if (MayChangeMode()) tcsetattr(STDIN_FILENO, TCSANOW, &keys_mode);
      terminal_state.store(kKeyMode);
    }
  }
  errno = saved_errno;
}

// Gives the terminal back the mode found. In the background the terminal belongs to another job
// (the shell): it is left as it is.
void LeaveKeyMode() {
  const int saved_errno = errno;
  ModeSignalsHeld held;
  if (TakeState(kKeyMode)) {
    if (MayChangeMode()) tcsetattr(STDIN_FILENO, TCSANOW, &saved_mode);
    terminal_state.store(kNormalMode);
  }
  errno = saved_errno;
}

// Ctrl-Z: gives the terminal its mode back, whatever state it is in, and keeps it so until
// ContinueAfterStop: the other threads run on until the process really stops, and a key reader
// among them would otherwise set key mode again in between.
void LeaveKeyModeForStop() {
  const int saved_errno = errno;
  ModeSignalsHeld held;
  while (true) {
    int state = terminal_state.load();
    if (state == kStopped) break;
    if (state == kChangingMode) {
      const timespec pause{0, 1000000};
      nanosleep(&pause, nullptr);
      continue;
    }
    if (!terminal_state.compare_exchange_strong(state, kChangingMode)) continue;
    if (state == kKeyMode && MayChangeMode()) tcsetattr(STDIN_FILENO, TCSANOW, &saved_mode);
    terminal_state.store(kStopped);
    break;
  }
  errno = saved_errno;
}

// Continued after Ctrl-Z: key mode may be set again, and is, when it is wanted.
void ContinueAfterStop() {
  int stopped = kStopped;
  terminal_state.compare_exchange_strong(stopped, kNormalMode);
  EnterKeyMode(true);
}

void RestoreAtExit() { PlatRestoreConsole(); }

// Until a console control handler takes these signals over, they end the process with the
// terminal mode restored.
void RestoreAndDie(int signal_number) {
  PlatRestoreConsole();
  signal(signal_number, SIG_DFL);
  raise(signal_number);
}

void GuardTerminatingSignals() {
  for (int signal_number : {SIGINT, SIGQUIT, SIGTERM, SIGHUP}) {
    struct sigaction current {};
    if (sigaction(signal_number, nullptr, &current) != 0 || current.sa_handler != SIG_DFL) continue;
    struct sigaction guard {};
    guard.sa_handler = RestoreAndDie;
    sigemptyset(&guard.sa_mask);
    guard.sa_flags = 0;  // the handler puts the default action back itself
    sigaction(signal_number, &guard, nullptr);
  }
}

void StopWithModeRestored(int signal_number);
void ResumeKeyMode(int);

void SetHandler(int signal_number, void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  action.sa_mask = ModeSignals();
  action.sa_flags = SA_RESTART;
  sigaction(signal_number, &action, nullptr);
}

// Ctrl-Z: the terminal gets its mode back, then the process stops as the default action does.
// When it is continued (or at once, when the system discards the stop for a process group that no
// shell controls), key mode is set again.
void StopWithModeRestored(int signal_number) {
  const int saved_errno = errno;
  LeaveKeyModeForStop();
  signal(signal_number, SIG_DFL);
  raise(signal_number);  // held back here until unblocked
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, signal_number);
  pthread_sigmask(SIG_UNBLOCK, &only, nullptr);  // the process stops here
  pthread_sigmask(SIG_BLOCK, &only, nullptr);
  SetHandler(signal_number, StopWithModeRestored);
  ContinueAfterStop();
  errno = saved_errno;
}

// SIGCONT: back from a stop, or brought to the foreground.
void ResumeKeyMode(int) { EnterKeyMode(true); }

void HandleJobControl() {
  struct sigaction current {};
  // A stop signal that is ignored (a shell without job control) stays ignored.
  if (sigaction(SIGTSTP, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) {
    SetHandler(SIGTSTP, StopWithModeRestored);
  }
  SetHandler(SIGCONT, ResumeKeyMode);
}

// How often a terminal reader looks whether its job is still in the foreground.
constexpr int kForegroundCheckMs = 100;

// Waits until the descriptor can take more (a non-blocking descriptor that said EAGAIN) or has
// something to read, at most timeout_ms (-1: no limit). A descriptor that failed or hung up counts
// as ready: the next call reports it. False when the time ran out.
bool WaitUntilReady(int fd, short events, int timeout_ms = -1) {
  pollfd entry{fd, events, 0};
  while (true) {
    const int n = poll(&entry, 1, timeout_ms);
    if (n >= 0) return n > 0;
    if (errno != EINTR && errno != EAGAIN) return true;
  }
}

// A job in the background that reads its terminal is stopped (SIGTTIN). Keys are read only in the
// foreground (key mode is set on the way there), and a reader waits for them in short steps, so
// that a job sent to the background (Ctrl-Z, then bg) stops reading instead of being stopped.
// True when input is there to be read.
bool TerminalInputInForeground() {
  while (!MayChangeMode()) {
    const timespec pause{0, kForegroundCheckMs * 1000000L};
    nanosleep(&pause, nullptr);
  }
  EnterKeyMode(false);
  return WaitUntilReady(STDIN_FILENO, POLLIN, kForegroundCheckMs);
}

}  // namespace

void PlatInitStdHandles() {
  // Each descriptor found closed is the lowest free one, so open() gives exactly that descriptor.
  for (const int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    const int opened = open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
    if (opened >= 0 && opened != fd) {
      dup2(opened, fd);
      close(opened);
    }
  }
}

bool PlatWriteStdout(std::string_view text) {
  std::lock_guard<std::mutex> lock(stdout_mutex);
  // A reader that went away must not end the program: SIGPIPE is held back for this thread while
  // writing and taken out again if the write raised it.
  sigset_t pipe_only, previous;
  sigemptyset(&pipe_only);
  sigaddset(&pipe_only, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe_only, &previous);
  const bool was_pending = SigpipePending();

  bool broken_pipe = false;
  bool written = true;
  const char* data = text.data();
  std::size_t left = text.size();
  while (left > 0) {
    const ssize_t n = write(STDOUT_FILENO, data, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) {
        // A non-blocking output that is full for now: wait for room and go on with the rest of the
        // text, still under the lock, so that no other text comes between its parts.
        WaitUntilReady(STDOUT_FILENO, POLLOUT);
        continue;
      }
      broken_pipe = errno == EPIPE;
      written = false;
      break;  // output is gone (closed, broken pipe, full disk): the text is dropped
    }
    data += n;
    left -= static_cast<std::size_t>(n);
  }

  if (broken_pipe && !was_pending) {
    const timespec no_wait{0, 0};
    while (sigtimedwait(&pipe_only, nullptr, &no_wait) < 0 && errno == EINTR) {
    }
  }
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  return written;
}

bool PlatBeginKeyMode() {
  if (fcntl(STDIN_FILENO, F_GETFL) == -1) return false;
  if (isatty(STDIN_FILENO) == 0) return true;  // keys come from the stream as they are
  keys_wanted.store(true);
  std::call_once(exit_hook_once, [] {
    std::atexit(RestoreAtExit);
    GuardTerminatingSignals();
    HandleJobControl();
  });
  EnterKeyMode(false);
  return true;
}

// Safe to call from a signal handler (see LeaveKeyMode).
void PlatRestoreConsole() {
  keys_wanted.store(false);
  LeaveKeyMode();
}

int ReadStandardInput(char* buffer, int max) {
  const bool terminal = isatty(STDIN_FILENO) != 0;
  while (true) {
    if (terminal && !TerminalInputInForeground()) continue;
    const ssize_t n = read(STDIN_FILENO, buffer, static_cast<std::size_t>(max));
    if (n >= 0) return static_cast<int>(n);
    // A terminal shares its non-blocking mode between input and output: no key yet is no error.
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      if (!terminal) WaitUntilReady(STDIN_FILENO, POLLIN);
      continue;
    }
    if (errno != EINTR) return -1;
  }
}
