// SPDX-License-Identifier: BSD-2-Clause
// Standard input shared by the menu answers and the keys, standard output into pipes, and the
// terminal's key mode.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"

namespace {

using namespace std::string_literals;

// Standard input reads the given bytes (then ends) while the object lives.
class StdinFrom {
 public:
  explicit StdinFrom(const std::string& bytes) {
    int p[2];
    EXPECT_EQ(pipe(p), 0);
    EXPECT_EQ(write(p[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    close(p[1]);
    saved_ = dup(STDIN_FILENO);
    dup2(p[0], STDIN_FILENO);
    close(p[0]);
  }
  ~StdinFrom() {
    dup2(saved_, STDIN_FILENO);
    close(saved_);
  }

 private:
  int saved_ = -1;
};

std::string AllKeys() {
  std::string keys;
  char buffer[3];
  int n;
  while ((n = PlatReadKeys(buffer, sizeof buffer)) > 0) keys.append(buffer, static_cast<std::size_t>(n));
  EXPECT_EQ(n, 0);
  return keys;
}

TEST(StandardInput, MenuAnswersThenKeysInOrder) {
  struct Case {
    std::string input;
    int reads;                  // menu answers asked for (fewer when one fails)
    std::vector<long> numbers;  // the answers read
    std::string keys;           // what the keys then see, to the end of input
  };
  const Case cases[] = {
      {"0\n1\n99\n19N", 3, {0, 1, 99}, "19N"},
      {" 12\r\n-3x", 3, {12, -3}, "x"},  // the byte that ends a number stays for the next read
      {"7\rq", 1, {7}, "\rq"},           // a lone carriage return is no line end
      {"7\r", 1, {7}, "\r"},
      {"\t+5 \n", 2, {5}, ""},           // white space before the end of input is skipped
      {"abc", 1, {}, "abc"},             // no number: nothing of it is lost
      {"-x1", 1, {}, "x1"},              // a lone sign is taken, as with scanf
      {"", 1, {}, ""},
      {"99999999999999999999\nq", 2, {LONG_MAX}, "q"},
      {"-99999999999999999999\n", 1, {LONG_MIN}, ""},
  };
  for (const Case& tc : cases) {
    StdinFrom input(tc.input);
    std::vector<long> numbers;
    long value = 0;
    for (int i = 0; i < tc.reads && PlatReadMenuNumber(&value); ++i) numbers.push_back(value);
    const std::string keys = AllKeys();
    EXPECT_EQ(numbers, tc.numbers) << tc.input;
    EXPECT_EQ(keys, tc.keys) << tc.input;
  }
}

// Standard output goes to a pipe for the object's lifetime.
class StdoutTo {
 public:
  explicit StdoutTo(int fd) : saved_(dup(STDOUT_FILENO)) { dup2(fd, STDOUT_FILENO); }
  ~StdoutTo() { Restore(); }
  void Restore() {
    if (saved_ < 0) return;
    dup2(saved_, STDOUT_FILENO);
    close(saved_);
    saved_ = -1;
  }

 private:
  int saved_;
};

TEST(StandardOutput, LargeTextArrivesWhole) {
  int p[2];
  ASSERT_EQ(pipe(p), 0);
  std::string received;
  std::thread reader([&] {
    char buffer[4096];
    ssize_t n;
    while ((n = read(p[0], buffer, sizeof buffer)) > 0) received.append(buffer, static_cast<std::size_t>(n));
  });
  std::string text;
  for (int i = 0; text.size() < 1'000'000; ++i) text += "line " + std::to_string(i) + "\n";
  {
    StdoutTo redirect(p[1]);
    PlatWriteStdout(text);
  }
  close(p[1]);
  reader.join();
  close(p[0]);
  EXPECT_EQ(received.size(), text.size());
  EXPECT_TRUE(received == text);
}

// Standard descriptors closed at start end up on the null device, so that nothing opened later
// takes their place; open ones are kept. Each case runs in a child process.
TEST(StandardHandles, ClosedOnesAreOpenedOnTheNullDevice) {
  for (const std::vector<int>& closed : {std::vector<int>{0}, {1}, {2}, {1, 2}, {0, 1, 2}, {}}) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      struct stat before {};
      fstat(STDOUT_FILENO, &before);
      for (int fd : closed) close(fd);
      PlatInitStdHandles();
      int failures = 0;
      const int next = socket(AF_UNIX, SOCK_STREAM, 0);
      if (next <= STDERR_FILENO) ++failures;
      char byte = 0;
      for (int fd : closed) {
        if (fd == STDIN_FILENO ? read(fd, &byte, 1) != 0 : write(fd, "x", 1) != 1) ++failures;
      }
      struct stat out {};
      const bool stdout_kept = std::find(closed.begin(), closed.end(), 1) != closed.end() ||
                               (fstat(STDOUT_FILENO, &out) == 0 && out.st_ino == before.st_ino);
      if (!stdout_kept) ++failures;
      _exit(failures);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "closed " << closed.size() << " status " << status;
  }
}

// A non-blocking pipe that a slow reader empties: every text arrives, whole and in order, even
// when two threads write at once.
TEST(StandardOutput, NonBlockingPipeWithSlowReaderLosesNothing) {
  int p[2];
  ASSERT_EQ(pipe(p), 0);
  fcntl(p[1], F_SETPIPE_SZ, 4096);  // the smallest pipe: it fills at once
  ASSERT_EQ(fcntl(p[1], F_SETFL, fcntl(p[1], F_GETFL) | O_NONBLOCK), 0);
  std::string received;
  std::thread reader([&] {
    char buffer[1000];
    ssize_t n;
    while ((n = read(p[0], buffer, sizeof buffer)) > 0) {
      received.append(buffer, static_cast<std::size_t>(n));
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  });
  // Texts of 1 to 9000 bytes, each one letter throughout: a text cut by another reads as a change of
  // letter before its end.
  auto text_of = [](int writer, int i) {
    const char letter = static_cast<char>((writer == 0 ? 'a' : 'A') + i % 26);
    return std::string(static_cast<std::size_t>(1 + (i * 997) % 9000), letter);
  };
  constexpr int kTexts = 150;
  bool all_written = true;
  {
    StdoutTo redirect(p[1]);
    std::thread other([&] {
      for (int i = 0; i < kTexts; ++i) all_written &= PlatWriteStdout(text_of(1, i));
    });
    bool mine = true;
    for (int i = 0; i < kTexts; ++i) mine &= PlatWriteStdout(text_of(0, i));
    other.join();
    all_written &= mine;
  }
  close(p[1]);
  reader.join();
  close(p[0]);
  EXPECT_TRUE(all_written);
  // Split the stream back into texts: each writer's texts come in order, each one whole.
  std::size_t pos = 0;
  int next[2] = {0, 0};
  while (pos < received.size()) {
    const int writer = received[pos] >= 'a' ? 0 : 1;
    ASSERT_LT(next[writer], kTexts);
    const std::string expected = text_of(writer, next[writer]++);
    ASSERT_EQ(received.compare(pos, expected.size(), expected), 0)
        << "text " << next[writer] - 1 << " of writer " << writer;
    pos += expected.size();
  }
  EXPECT_EQ(next[0], kTexts);
  EXPECT_EQ(next[1], kTexts);
}

TEST(StandardOutput, ReaderGoneDoesNotEndTheProgram) {
  int p[2];
  ASSERT_EQ(pipe(p), 0);
  close(p[0]);
  {
    StdoutTo redirect(p[1]);
    PlatWriteStdout("nobody reads this\n");
    PlatWriteStdout("nor this\n");
  }
  close(p[1]);
  sigset_t pending, mask;
  sigpending(&pending);
  pthread_sigmask(SIG_SETMASK, nullptr, &mask);
  EXPECT_EQ(sigismember(&pending, SIGPIPE), 0);
  EXPECT_EQ(sigismember(&mask, SIGPIPE), 0);  // the signal mask is as it was
}

TEST(KeyMode, TerminalIsRawWithSignalsAndRestored) {
  int master = -1, slave = -1;
  ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
  const int saved = dup(STDIN_FILENO);
  dup2(slave, STDIN_FILENO);
  termios before{};
  tcgetattr(STDIN_FILENO, &before);

  ASSERT_TRUE(PlatBeginKeyMode());
  termios during{};
  tcgetattr(STDIN_FILENO, &during);
  // Keys typed arrive one by one, Enter as a carriage return.
  ASSERT_EQ(write(master, "a\r", 2), 2);
  char keys[4] = {};
  int got = 0;
  while (got < 2) {
    const int n = PlatReadKeys(keys + got, 2 - got);
    if (n <= 0) break;
    got += n;
  }
  PlatRestoreConsole();
  termios after{};
  tcgetattr(STDIN_FILENO, &after);
  dup2(saved, STDIN_FILENO);
  close(saved);
  close(slave);
  close(master);

  EXPECT_EQ(during.c_lflag & (ICANON | ECHO), 0u);
  EXPECT_NE(during.c_lflag & ISIG, 0u);
  EXPECT_EQ(during.c_cc[VMIN], 1);
  EXPECT_EQ(std::string(keys, 2), "a\r");
  EXPECT_EQ(after.c_lflag, before.c_lflag);
  EXPECT_EQ(after.c_iflag, before.c_iflag);
}

// A job that is continued sets key mode again, whatever was done to the terminal while it was
// stopped; once the mode is restored, a later SIGCONT leaves the terminal alone.
TEST(KeyMode, ContinuedJobSetsKeyModeAgain) {
  int master = -1, slave = -1;
  ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
  const int saved = dup(STDIN_FILENO);
  dup2(slave, STDIN_FILENO);
  termios before{};
  tcgetattr(STDIN_FILENO, &before);

  ASSERT_TRUE(PlatBeginKeyMode());
  tcsetattr(STDIN_FILENO, TCSANOW, &before);  // as a shell leaves it for its own prompt
  raise(SIGCONT);
  termios continued{};
  tcgetattr(STDIN_FILENO, &continued);
  PlatRestoreConsole();
  raise(SIGCONT);
  termios after{};
  tcgetattr(STDIN_FILENO, &after);
  dup2(saved, STDIN_FILENO);
  close(saved);
  close(slave);
  close(master);

  EXPECT_EQ(continued.c_lflag & (ICANON | ECHO), 0u);
  EXPECT_EQ(after.c_lflag, before.c_lflag);
  EXPECT_EQ(after.c_iflag, before.c_iflag);
}

TEST(KeyMode, PipeNeedsNoModeAndClosedInputIsReported) {
  {
    StdinFrom input("9");
    EXPECT_TRUE(PlatBeginKeyMode());
    EXPECT_EQ(AllKeys(), "9");
    PlatRestoreConsole();
  }
  const int saved = dup(STDIN_FILENO);
  close(STDIN_FILENO);
  EXPECT_FALSE(PlatBeginKeyMode());
  dup2(saved, STDIN_FILENO);
  close(saved);
}

}  // namespace
