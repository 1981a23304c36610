#include "bricap/output.h"

#include <cerrno>
#include <cstring>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace bricap {

#ifdef _WIN32

bool CaptureOutput::Open(const std::string& path, std::string* error) {
  Close();
  if (path == "-") {
    _setmode(_fileno(stdout), _O_BINARY);
    file_ = stdout;
    owned_ = false;
    return true;
  }
  file_ = std::fopen(path.c_str(), "wb");
  if (file_ == nullptr) {
    *error = std::strerror(errno);
    return false;
  }
  owned_ = true;
  return true;
}

WriteResult CaptureOutput::Write(const capture::ByteBuffer& bytes, std::string* error) {
  if (file_ == nullptr) return WriteResult::kFailed;
  const bool written = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file_) == bytes.size();
  if (written && std::fflush(file_) == 0) return WriteResult::kOk;
  const DWORD code = GetLastError();
  if (code == ERROR_NO_DATA || code == ERROR_BROKEN_PIPE || code == ERROR_PIPE_NOT_CONNECTED) {
    return WriteResult::kReaderGone;
  }
  *error = std::strerror(errno);
  return WriteResult::kFailed;
}

bool CaptureOutput::ReaderGone() const { return false; }

void CaptureOutput::Close() {
  if (file_ != nullptr && owned_) std::fclose(file_);
  file_ = nullptr;
  owned_ = false;
}

bool StandardErrorIsTerminal() { return _isatty(_fileno(stderr)) != 0; }

void IgnoreBrokenPipe() {}

#else

bool CaptureOutput::Open(const std::string& path, std::string* error) {
  Close();
  if (path == "-") {
    fd_ = STDOUT_FILENO;
    owned_ = false;
  } else {
    do {
      fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    } while (fd_ < 0 && errno == EINTR);
    if (fd_ < 0) {
      *error = std::strerror(errno);
      return false;
    }
    owned_ = true;
  }
  struct stat info {};
  regular_ = ::fstat(fd_, &info) == 0 && S_ISREG(info.st_mode);
  return true;
}

WriteResult CaptureOutput::Write(const capture::ByteBuffer& bytes, std::string* error) {
  if (fd_ < 0) return WriteResult::kFailed;
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EPIPE) return WriteResult::kReaderGone;
    if (n <= 0) {
      *error = n < 0 ? std::strerror(errno) : "nothing could be written";
      return WriteResult::kFailed;
    }
    done += static_cast<std::size_t>(n);
  }
  // A file's frames reach the disk at every poll, so that a power loss costs at most the last.
  if (regular_ && !bytes.empty() && ::fdatasync(fd_) != 0 && errno != EINVAL) {
    *error = std::strerror(errno);
    return WriteResult::kFailed;
  }
  return WriteResult::kOk;
}

bool CaptureOutput::ReaderGone() const {
  if (fd_ < 0 || regular_) return false;
  // The write end of a pipe reports an error condition once no reader has it open.
  pollfd p{fd_, 0, 0};
  return ::poll(&p, 1, 0) == 1 && (p.revents & POLLERR) != 0;
}

void CaptureOutput::Close() {
  if (fd_ >= 0 && owned_) ::close(fd_);
  fd_ = -1;
  owned_ = false;
  regular_ = false;
}

bool StandardErrorIsTerminal() { return ::isatty(STDERR_FILENO) != 0; }

void IgnoreBrokenPipe() { ::signal(SIGPIPE, SIG_IGN); }

#endif

}  // namespace bricap
