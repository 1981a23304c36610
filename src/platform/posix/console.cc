// The console on Linux: standard output, the menu answers and keys on standard input, and the
// terminal's key mode.
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "platform/platform.h"

namespace {

// ---- Standard output ----

std::mutex stdout_mutex;  // one text at a time, so texts of different threads never mix

bool SigpipePending() {
  sigset_t pending;
  sigemptyset(&pending);
  return sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1;
}

// ---- Standard input ----

std::mutex input_mutex;
std::string unread;  // guarded by input_mutex; bytes taken from fd 0 but not yet used

// The next byte of standard input, or -1 at its end (or on an error).
int NextByte() {
  {
    std::lock_guard<std::mutex> lock(input_mutex);
    if (!unread.empty()) {
      const auto c = static_cast<unsigned char>(unread.front());
      unread.erase(0, 1);
      return c;
    }
  }
  unsigned char c = 0;
  while (true) {
    const ssize_t n = read(STDIN_FILENO, &c, 1);
    if (n == 1) return c;
    if (n < 0 && errno == EINTR) continue;
    return -1;
  }
}

void Unget(int c) {
  if (c < 0) return;
  std::lock_guard<std::mutex> lock(input_mutex);
  unread.insert(unread.begin(), static_cast<char>(c));
}

bool IsSpace(int c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }
bool IsDigit(int c) { return c >= '0' && c <= '9'; }

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

}  // namespace

void PlatWriteStdout(std::string_view text) {
  std::lock_guard<std::mutex> lock(stdout_mutex);
  // A reader that went away must not end the program: SIGPIPE is held back for this thread while
  // writing and taken out again if the write raised it.
  sigset_t pipe_only, previous;
  sigemptyset(&pipe_only);
  sigaddset(&pipe_only, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe_only, &previous);
  const bool was_pending = SigpipePending();

  bool broken_pipe = false;
  const char* data = text.data();
  std::size_t left = text.size();
  while (left > 0) {
    const ssize_t n = write(STDOUT_FILENO, data, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      broken_pipe = errno == EPIPE;
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
}

bool PlatReadMenuNumber(long* value) {
  int c = NextByte();
  while (IsSpace(c)) c = NextByte();
  if (c < 0) return false;

  bool negative = false;
  if (c == '+' || c == '-') {
    negative = c == '-';
    c = NextByte();
  }
  if (!IsDigit(c)) {
    Unget(c);  // not a number: the byte stays for the next read, as with scanf
    return false;
  }
  long number = 0;
  for (; IsDigit(c); c = NextByte()) {
    const int digit = c - '0';
    // Saturates instead of overflowing.
    if (!negative) {
      number = number > (LONG_MAX - digit) / 10 ? LONG_MAX : number * 10 + digit;
    } else {
      number = number < (LONG_MIN + digit) / 10 ? LONG_MIN : number * 10 - digit;
    }
  }
  // The line end that closes the answer goes with it; any other byte is the next input.
  if (c == '\r') {
    const int next = NextByte();
    if (next != '\n') {
      Unget(next);
      Unget(c);
    }
  } else if (c != '\n') {
    Unget(c);
  }
  *value = number;
  return true;
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

int PlatReadKeys(char* buffer, int max) {
  if (buffer == nullptr || max <= 0) return -1;
  {
    std::lock_guard<std::mutex> lock(input_mutex);
    if (!unread.empty()) {
      const std::size_t count = std::min(unread.size(), static_cast<std::size_t>(max));
      std::memcpy(buffer, unread.data(), count);
      unread.erase(0, count);
      return static_cast<int>(count);
    }
  }
  while (true) {
    const ssize_t n = read(STDIN_FILENO, buffer, static_cast<std::size_t>(max));
    if (n >= 0) return static_cast<int>(n);
    if (errno != EINTR) return -1;
  }
}
