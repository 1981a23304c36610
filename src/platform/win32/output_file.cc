// SPDX-License-Identifier: BSD-2-Clause
// Output files on Windows: a file or named pipe opened with the C library, written through its
// system handle so that nothing is held back in a buffer of the process.
#include "platform/output_file.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <system_error>

namespace {

std::FILE* File(std::intptr_t handle) { return reinterpret_cast<std::FILE*>(handle); }

HANDLE SystemHandle(std::intptr_t handle) {
  return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(File(handle))));
}

std::string SystemMessage(DWORD code) { return std::system_category().message(static_cast<int>(code)); }

}  // namespace

bool OutputFile::Open(const std::string& path, std::string* error) {
  Close();
  std::FILE* file = stdout;
  if (path == "-") {
    _setmode(_fileno(stdout), _O_BINARY);
  } else {
    file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
      *error = std::strerror(errno);
      return false;
    }
    owned_ = true;
  }
  handle_ = reinterpret_cast<std::intptr_t>(file);
  path_ = path;
  const HANDLE system = SystemHandle(handle_);
  regular_ = GetFileType(system) == FILE_TYPE_DISK;
  LARGE_INTEGER at{};
  whole_ = regular_ && SetFilePointerEx(system, LARGE_INTEGER{}, &at, FILE_CURRENT) && at.QuadPart > 0
               ? static_cast<std::uint64_t>(at.QuadPart)
               : 0;
  return true;
}

OutputWriteResult OutputFile::Write(std::span<const std::uint8_t> bytes, std::string* error) {
  if (handle_ == -1) return OutputWriteResult::kFailed;
  const HANDLE system = SystemHandle(handle_);
  OutputWriteResult result = OutputWriteResult::kOk;
  std::size_t done = 0;
  while (done < bytes.size() && result == OutputWriteResult::kOk) {
    const std::size_t left = bytes.size() - done;
    const DWORD chunk = left > 0x10000000u ? 0x10000000u : static_cast<DWORD>(left);
    DWORD written = 0;
    if (WriteFile(system, bytes.data() + done, chunk, &written, nullptr) && written > 0) {
      done += written;
      continue;
    }
    const DWORD code = GetLastError();
    if (code == ERROR_NO_DATA || code == ERROR_BROKEN_PIPE || code == ERROR_PIPE_NOT_CONNECTED) {
      result = OutputWriteResult::kReaderGone;
    } else {
      *error = SystemMessage(code);
      result = OutputWriteResult::kFailed;
    }
  }
  if (result == OutputWriteResult::kOk && regular_ && !bytes.empty() && !FlushFileBuffers(system)) {
    *error = SystemMessage(GetLastError());
    result = OutputWriteResult::kFailed;
  }
  if (result == OutputWriteResult::kOk) {
    whole_ += bytes.size();
  } else if (regular_ && done > 0) {
    // What part of this write reached the file is cut off again: the file ends whole.
    LARGE_INTEGER at{};
    at.QuadPart = static_cast<LONGLONG>(whole_);
    if (SetFilePointerEx(system, at, nullptr, FILE_BEGIN)) SetEndOfFile(system);
  }
  return result;
}

bool OutputFile::ReaderGone() const { return false; }

void OutputFile::Close() {
  if (handle_ != -1 && owned_) std::fclose(File(handle_));
  handle_ = -1;
  owned_ = false;
  regular_ = false;
  whole_ = 0;
}

void OutputFile::CloseAndRemove() {
  const bool made = owned_ && regular_;
  Close();
  if (made) std::remove(path_.c_str());
}

std::optional<std::uint64_t> PlatFreeBytes(const std::string& path) {
  const std::size_t slash = path.find_last_of("/\\");
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  ULARGE_INTEGER available{};
  if (!GetDiskFreeSpaceExA(folder.c_str(), &available, nullptr, nullptr)) return std::nullopt;
  return static_cast<std::uint64_t>(available.QuadPart);
}

bool PlatStandardErrorIsTerminal() { return _isatty(_fileno(stderr)) != 0; }

void PlatIgnoreWriteSignals() {}
