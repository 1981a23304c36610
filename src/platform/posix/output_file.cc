// SPDX-License-Identifier: BSD-2-Clause
// Output files on Linux: a descriptor of our own, or standard output.
#include "platform/output_file.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

int Fd(std::intptr_t handle) { return static_cast<int>(handle); }

// Waits until a descriptor that said EAGAIN can take more; a reader that went away or a failure
// wakes it too, and the next write reports it.
void WaitForRoom(int fd) {
  pollfd entry{fd, POLLOUT, 0};
  while (::poll(&entry, 1, -1) < 0 && (errno == EINTR || errno == EAGAIN)) {
  }
}

}  // namespace

bool OutputFile::Open(const std::string& path, std::string* error) {
  Close();
  int fd = STDOUT_FILENO;
  if (path != "-") {
    do {
      fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
      *error = std::strerror(errno);
      return false;
    }
    owned_ = true;
  }
  handle_ = fd;
  path_ = path;
  struct stat info {};
  regular_ = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
  const off_t at = regular_ ? ::lseek(fd, 0, SEEK_CUR) : -1;
  whole_ = at > 0 ? static_cast<std::uint64_t>(at) : 0;
  return true;
}

OutputWriteResult OutputFile::Write(std::span<const std::uint8_t> bytes, std::string* error) {
  const int fd = Fd(handle_);
  if (fd < 0) return OutputWriteResult::kFailed;
  OutputWriteResult result = OutputWriteResult::kOk;
  std::size_t done = 0;
  while (done < bytes.size() && result == OutputWriteResult::kOk) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
    } else if (n < 0 && errno == EINTR) {
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      WaitForRoom(fd);
    } else if (n < 0 && errno == EPIPE) {
      result = OutputWriteResult::kReaderGone;
    } else {
      *error = n < 0 ? std::strerror(errno) : "nothing could be written";
      result = OutputWriteResult::kFailed;
    }
  }
  // A file's bytes reach the disk at every write, so that a power loss costs at most the last.
  if (result == OutputWriteResult::kOk && regular_ && !bytes.empty() && ::fdatasync(fd) != 0 &&
      errno != EINVAL) {
    *error = std::strerror(errno);
    result = OutputWriteResult::kFailed;
  }
  if (result == OutputWriteResult::kOk) {
    whole_ += bytes.size();
  } else if (regular_ && done > 0) {
    // What part of this write reached the file is cut off again: the file ends whole.
    if (::ftruncate(fd, static_cast<off_t>(whole_)) == 0) ::lseek(fd, static_cast<off_t>(whole_), SEEK_SET);
  }
  return result;
}

bool OutputFile::ReaderGone() const {
  const int fd = Fd(handle_);
  if (fd < 0 || regular_) return false;
  // The write end of a pipe reports an error condition once no reader has it open.
  pollfd p{fd, 0, 0};
  return ::poll(&p, 1, 0) == 1 && (p.revents & POLLERR) != 0;
}

void OutputFile::Close() {
  if (handle_ >= 0 && owned_) ::close(Fd(handle_));
  handle_ = -1;
  owned_ = false;
  regular_ = false;
  whole_ = 0;
}

void OutputFile::CloseAndRemove() {
  const bool made = owned_ && regular_;
  Close();
  if (made) ::unlink(path_.c_str());
}

std::optional<std::uint64_t> PlatFreeBytes(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  struct statvfs info {};
  if (::statvfs(folder.c_str(), &info) != 0) return std::nullopt;
  return static_cast<std::uint64_t>(info.f_bavail) * info.f_frsize;
}

bool PlatStandardErrorIsTerminal() { return ::isatty(STDERR_FILENO) != 0; }

void PlatIgnoreWriteSignals() {
  ::signal(SIGPIPE, SIG_IGN);
  ::signal(SIGXFSZ, SIG_IGN);
}
