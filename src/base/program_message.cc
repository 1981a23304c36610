// SPDX-License-Identifier: BSD-2-Clause
#include "base/program_message.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <thread>

std::string ProgramMessageLine(std::string_view program, std::string_view message) {
  std::string line;
  line.reserve(program.size() + message.size() + 3);
  line.append(program).append(": ").append(message);
  if (line.empty() || line.back() != '\n') line.push_back('\n');
  return line;
}

void WriteStderr(std::string_view text) {
  constexpr int kTries = 500;  // 10 ms apart
  std::size_t done = 0;
  for (int attempt = 0; attempt < kTries && done < text.size(); ++attempt) {
    errno = 0;
    done += std::fwrite(text.data() + done, 1, text.size() - done, stderr);
    const bool flushed = std::fflush(stderr) == 0;
    if (done == text.size() && flushed) return;
    if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return;
    std::clearerr(stderr);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

void WriteProgramMessage(std::string_view program, std::string_view message) {
  WriteStderr(ProgramMessageLine(program, message));
}
