// SPDX-License-Identifier: BSD-2-Clause
// Menu answers and keys from the one standard input stream, in order and none lost.
//
// A menu answer is read byte by byte, never past the number and its line end, so the keys typed
// (or piped) after it are still there for PlatReadKeys. The one byte that ended a number without
// being a line end is kept and handed out first.
#include <algorithm>
#include <climits>
#include <cstring>
#include <mutex>
#include <string>

#include "platform/platform.h"
#include "platform/stdin_input.h"

namespace {

std::mutex unread_mutex;
std::string unread;  // guarded by unread_mutex; bytes taken from the stream but not yet used

// The next byte of standard input, or -1 at its end (or on an error).
int NextByte() {
  {
    std::lock_guard<std::mutex> lock(unread_mutex);
    if (!unread.empty()) {
      const auto c = static_cast<unsigned char>(unread.front());
      unread.erase(0, 1);
      return c;
    }
  }
  char c = 0;
  return ReadStandardInput(&c, 1) == 1 ? static_cast<unsigned char>(c) : -1;
}

void Unget(int c) {
  if (c < 0) return;
  std::lock_guard<std::mutex> lock(unread_mutex);
  unread.insert(unread.begin(), static_cast<char>(c));
}

bool IsSpace(int c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }
bool IsDigit(int c) { return c >= '0' && c <= '9'; }

}  // namespace

// White space, an optional sign and digits, as scanf("%d") reads them.
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
    Unget(c);  // not a number: the byte stays for the next read
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

int PlatReadKeys(char* buffer, int max) {
  if (buffer == nullptr || max <= 0) return -1;
  {
    std::lock_guard<std::mutex> lock(unread_mutex);
    if (!unread.empty()) {
      const std::size_t count = std::min(unread.size(), static_cast<std::size_t>(max));
      std::memcpy(buffer, unread.data(), count);
      unread.erase(0, count);
      return static_cast<int>(count);
    }
  }
  return ReadStandardInput(buffer, max);
}
