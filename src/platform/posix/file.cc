// SPDX-License-Identifier: BSD-2-Clause
// Replacing a file whole on Linux: a new file beside it, written, closed, then renamed over it.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/platform.h"

namespace {

std::string Reason(const char* step, const std::string& path) {
  return std::string(step) + " " + path + ": " + std::strerror(errno);
}

bool WriteAll(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t n = ::write(fd, text.data(), text.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    text.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

}  // namespace

bool PlatReplaceFile(const std::string& path, const std::string& temp, std::string_view text,
                     std::string* error) {
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (fd < 0) {
    *error = Reason("cannot create", temp);
    return false;
  }
  bool ok = WriteAll(fd, text);
  if (!ok) *error = Reason("cannot write", temp);
  if (::close(fd) != 0 && ok) {
    ok = false;
    *error = Reason("cannot write", temp);
  }
  if (ok && ::rename(temp.c_str(), path.c_str()) != 0) {
    ok = false;
    *error = Reason("cannot rename the new file over", path);
  }
  if (!ok) ::unlink(temp.c_str());
  return ok;
}

void PlatRemoveFile(const std::string& path) { ::unlink(path.c_str()); }

std::uint32_t PlatProcessId() { return static_cast<std::uint32_t>(::getpid()); }
