#include "common/console.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <mutex>

#include "base/program_message.h"
#include "platform/platform.h"

namespace {

std::mutex capture_mutex;
std::string* capture_text = nullptr;    // guarded by capture_mutex
std::string* capture_errors = nullptr;  // guarded by capture_mutex

// Set by the first write to standard output that fails; never cleared.
std::atomic<bool> output_gone{false};

// The format attribute lets the compiler check the callers' formats and know this one is checked.
BRI_PRINTF_FORMAT(2, 0) void AppendV(std::string& out, const char* format, va_list args) {
  va_list measure;
  va_copy(measure, args);
  char small[256];
  const int needed = std::vsnprintf(small, sizeof small, format, measure);
  va_end(measure);
  if (needed <= 0) return;
  const auto length = static_cast<std::size_t>(needed);
  if (length < sizeof small) {
    out.append(small, length);
    return;
  }
  const std::size_t start = out.size();
  out.resize(start + length + 1);
  std::vsnprintf(out.data() + start, length + 1, format, args);
  out.resize(start + length);
}

}  // namespace

void AppendF(std::string& out, const char* format, ...) {
  va_list args;
  va_start(args, format);
  AppendV(out, format, args);
  va_end(args);
}

std::string FormatF(const char* format, ...) {
  std::string out;
  va_list args;
  va_start(args, format);
  AppendV(out, format, args);
  va_end(args);
  return out;
}

bool ConsoleWrite(std::string_view text) {
  {
    std::lock_guard<std::mutex> lock(capture_mutex);
    if (capture_text != nullptr) {
      capture_text->append(text);
      return true;
    }
  }
  if (output_gone.load()) return false;
  if (PlatWriteStdout(text)) return true;
  output_gone.store(true);
  return false;
}

bool ConsoleOutputGone() { return output_gone.load(); }

void ConsoleWriteError(std::string_view text) {
  {
    std::lock_guard<std::mutex> lock(capture_mutex);
    if (capture_errors != nullptr) {
      capture_errors->append(text);
      return;
    }
  }
  WriteStderr(text);
}

void ConsolePrintf(const char* format, ...) {
  std::string out;
  va_list args;
  va_start(args, format);
  AppendV(out, format, args);
  va_end(args);
  ConsoleWrite(out);
}

ConsoleCapture::ConsoleCapture() {
  std::lock_guard<std::mutex> lock(capture_mutex);
  capture_text = new std::string;
  capture_errors = new std::string;
}

ConsoleCapture::~ConsoleCapture() {
  std::lock_guard<std::mutex> lock(capture_mutex);
  delete capture_text;
  capture_text = nullptr;
  delete capture_errors;
  capture_errors = nullptr;
}

std::string ConsoleCapture::text() const {
  std::lock_guard<std::mutex> lock(capture_mutex);
  return capture_text != nullptr ? *capture_text : std::string();
}

std::string ConsoleCapture::Take() {
  std::lock_guard<std::mutex> lock(capture_mutex);
  std::string out;
  if (capture_text != nullptr) out.swap(*capture_text);
  return out;
}

std::string ConsoleCapture::errors() const {
  std::lock_guard<std::mutex> lock(capture_mutex);
  return capture_errors != nullptr ? *capture_errors : std::string();
}
