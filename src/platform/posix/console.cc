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

termios saved_mode{};
std::atomic<bool> mode_saved{false};
std::once_flag exit_hook_once;

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

// Waits until the descriptor can take more (a non-blocking descriptor that said EAGAIN) or has
// something to read. A descriptor that failed or hung up counts as ready: the next call reports it.
void WaitUntilReady(int fd, short events) {
  pollfd entry{fd, events, 0};
  while (poll(&entry, 1, -1) < 0) {
    if (errno != EINTR && errno != EAGAIN) return;
  }
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
  termios mode{};
  if (tcgetattr(STDIN_FILENO, &mode) != 0) return true;
  if (!mode_saved.load()) {
    saved_mode = mode;
    mode_saved.store(true);
  }
  std::call_once(exit_hook_once, [] {
    std::atexit(RestoreAtExit);
    GuardTerminatingSignals();
  });
  mode.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
  // Enter arrives as the carriage return that a console in this mode delivers.
  mode.c_iflag &= ~static_cast<tcflag_t>(ICRNL);
  mode.c_lflag |= ISIG;
  mode.c_cc[VMIN] = 1;
  mode.c_cc[VTIME] = 0;
  tcsetattr(STDIN_FILENO, TCSANOW, &mode);
  return true;
}

// Safe to call from a signal handler: only tcsetattr and a lock-free flag.
void PlatRestoreConsole() {
  if (mode_saved.exchange(false)) tcsetattr(STDIN_FILENO, TCSANOW, &saved_mode);
}

int ReadStandardInput(char* buffer, int max) {
  while (true) {
    const ssize_t n = read(STDIN_FILENO, buffer, static_cast<std::size_t>(max));
    if (n >= 0) return static_cast<int>(n);
    // A terminal shares its non-blocking mode between input and output: no key yet is no error.
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      WaitUntilReady(STDIN_FILENO, POLLIN);
      continue;
    }
    if (errno != EINTR) return -1;
  }
}
