// SPDX-License-Identifier: BSD-2-Clause
// The console on Windows: standard output, standard input (a console in key mode, or a pipe or
// file read as a stream) and the console control handler.
#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <mutex>

#include "platform/platform.h"
#include "platform/stdin_input.h"

namespace {

std::mutex stdout_mutex;  // one text at a time, so texts of different threads never mix

std::atomic<DWORD> saved_mode{0};
std::atomic<bool> mode_saved{false};
std::once_flag exit_hook_once;

std::atomic<CtrlHandler> installed_handler{nullptr};

void RestoreAtExit() { PlatRestoreConsole(); }

BOOL WINAPI ControlThunk(DWORD event) {
  const CtrlHandler handler = installed_handler.load();
  if (handler != nullptr && handler(event)) return TRUE;
  // The next handler (in the end the default one) ends the process: put the console back first.
  PlatRestoreConsole();
  return FALSE;
}

bool IsConsole(HANDLE handle) {
  DWORD mode = 0;
  return GetConsoleMode(handle, &mode) != 0;
}

bool IsMissing(HANDLE handle) { return handle == nullptr || handle == INVALID_HANDLE_VALUE; }

}  // namespace

void PlatInitStdHandles() {
  // A missing standard handle reads as the end of input and discards output, as the null device
  // does: it is given one, so that every part of the program meets an ordinary handle.
  for (const DWORD which : {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
    if (!IsMissing(GetStdHandle(which))) continue;
    const DWORD access = which == STD_INPUT_HANDLE ? GENERIC_READ : GENERIC_WRITE;
    const HANDLE null_device = CreateFileA("NUL", access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (!IsMissing(null_device)) SetStdHandle(which, null_device);
  }
}

bool PlatWriteStdout(std::string_view text) {
  std::lock_guard<std::mutex> lock(stdout_mutex);
  const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  if (IsMissing(out)) return true;  // no output at all: discarded
  const char* data = text.data();
  std::size_t left = text.size();
  while (left > 0) {
    const DWORD chunk = left > 0x10000000u ? 0x10000000u : static_cast<DWORD>(left);
    DWORD written = 0;
    // WriteFile keeps nothing back in the process, so the text has left once it returns.
    if (!WriteFile(out, data, chunk, &written, nullptr) || written == 0) return false;  // output is gone
    data += written;
    left -= written;
  }
  return true;
}

int ReadStandardInput(char* buffer, int max) {
  const HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
  if (IsMissing(in)) return 0;  // no input at all: at its end
  DWORD count = 0;
  if (IsConsole(in)) {
    // A console read can come back empty when Ctrl-C interrupts it; the console has not ended.
    while (true) {
      if (!ReadConsoleA(in, buffer, static_cast<DWORD>(max), &count, nullptr)) {
        if (GetLastError() == ERROR_OPERATION_ABORTED) continue;
        return -1;
      }
      if (count > 0) return static_cast<int>(count);
    }
  }
  if (!ReadFile(in, buffer, static_cast<DWORD>(max), &count, nullptr)) {
    // The writer of a pipe went away: the end of input.
    return GetLastError() == ERROR_BROKEN_PIPE ? 0 : -1;
  }
  return static_cast<int>(count);
}

bool PlatBeginKeyMode() {
  const HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
  if (IsMissing(in)) return true;  // no input at all: the keys are at their end at once
  DWORD mode = 0;
  if (!GetConsoleMode(in, &mode)) return true;  // a pipe or file: keys come from the stream
  if (!mode_saved.load()) {
    saved_mode.store(mode);
    mode_saved.store(true);
  }
  std::call_once(exit_hook_once, [] { std::atexit(RestoreAtExit); });
  SetConsoleMode(in, mode & ~static_cast<DWORD>(ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT));
  return true;
}

void PlatRestoreConsole() {
  if (!mode_saved.exchange(false)) return;
  const HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
  if (!IsMissing(in)) SetConsoleMode(in, saved_mode.load());
}

bool PlatSetCtrlHandler(CtrlHandler handler) {
  installed_handler.store(handler);
  static std::atomic<bool> installed{false};
  if (installed.exchange(true)) return true;
  if (SetConsoleCtrlHandler(ControlThunk, TRUE)) return true;
  installed.store(false);
  return false;
}

bool PlatCloseEventEndsOnReturn() { return true; }
