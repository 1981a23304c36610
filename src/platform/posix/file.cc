// SPDX-License-Identifier: BSD-2-Clause
// Replacing a file whole on Linux: a new file beside it, written, closed, then renamed over it.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
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

bool PlatReplaceTarget(const std::string& path, std::string* target, std::string* error) {
  constexpr int kMaxLinks = 40;  // as the kernel's own limit on links in one lookup
  std::string current = path;
  for (int hop = 0; hop <= kMaxLinks; ++hop) {
    struct stat info {};
    if (::lstat(current.c_str(), &info) != 0 || S_ISREG(info.st_mode) || S_ISDIR(info.st_mode)) {
      // A new file, a file to replace, or a failure that creating the new file will report. A
      // folder stays: the rename over it fails.
      *target = current;
      return true;
    }
    if (!S_ISLNK(info.st_mode)) {
      *error = current + " is not a regular file";
      return false;
    }
    std::string link(PATH_MAX, '\0');
    const ssize_t n = ::readlink(current.c_str(), link.data(), link.size());
    if (n <= 0 || static_cast<std::size_t>(n) >= link.size()) {
      if (n >= 0) errno = ENAMETOOLONG;
      *error = Reason("cannot follow the link", current);
      return false;
    }
    link.resize(static_cast<std::size_t>(n));
    const std::size_t slash = current.rfind('/');
    current = link[0] == '/' || slash == std::string::npos ? link : current.substr(0, slash + 1) + link;
  }
  errno = ELOOP;
  *error = Reason("cannot follow the link", path);
  return false;
}

namespace {

// Copies the file's bytes into the new file `to` and pushes them to the disk.
bool CopyInto(const std::string& from, const std::string& to, std::string* error) {
  const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) {
    *error = Reason("cannot open", from);
    return false;
  }
  const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (out < 0) {
    *error = Reason("cannot create", to);
    ::close(in);
    return false;
  }
  bool ok = true;
  char buffer[64 * 1024];
  for (;;) {
    const ssize_t n = ::read(in, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      *error = Reason("cannot read", from);
      ok = false;
    }
    if (n <= 0) break;
    if (!WriteAll(out, std::string_view(buffer, static_cast<std::size_t>(n)))) {
      *error = Reason("cannot write", to);
      ok = false;
      break;
    }
  }
  if (ok && ::fsync(out) != 0) {
    *error = Reason("cannot write", to);
    ok = false;
  }
  if (::close(out) != 0 && ok) {
    *error = Reason("cannot write", to);
    ok = false;
  }
  ::close(in);
  if (!ok) ::unlink(to.c_str());
  return ok;
}

}  // namespace

bool PlatMoveFile(const std::string& from, const std::string& to, std::string* error) {
  struct stat there {};
  if (::lstat(to.c_str(), &there) == 0) {
    errno = EEXIST;
    *error = Reason("cannot move the file to", to);
    return false;
  }
  if (::rename(from.c_str(), to.c_str()) == 0) return true;
  if (errno != EXDEV) {
    *error = Reason("cannot move the file to", to);
    return false;
  }
  if (!CopyInto(from, to, error)) return false;
  if (::unlink(from.c_str()) != 0) {
    // The original stays where it was, so the copy goes: the file is never in two places.
    *error = Reason("cannot remove", from);
    ::unlink(to.c_str());
    return false;
  }
  return true;
}

void PlatRemoveFile(const std::string& path) { ::unlink(path.c_str()); }

std::uint32_t PlatProcessId() { return static_cast<std::uint32_t>(::getpid()); }
