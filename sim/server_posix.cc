// SPDX-License-Identifier: BSD-2-Clause
// The Unix stream socket endpoint: DIR/NAME, one thread per connection.
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <list>
#include <memory>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "connections.h"
#include "server.h"

namespace brisim {
namespace {

// Bytes a connection reads into its buffer at a time; a larger read goes straight to its caller.
constexpr std::size_t kReadBufferSize = 64 * 1024;

// Owns a file descriptor.
class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() {
    if (fd_ >= 0) close(fd_);
  }
  int get() const { return fd_; }

 private:
  int fd_;
};

// One connection's end of the socket; reads go through a ReadBuffer.
class SocketStream : public Stream {
 public:
  explicit SocketStream(int fd) : fd_(fd) {}

  bool ReadExact(std::uint8_t* data, std::size_t size) override {
    return reads_.ReadExact(data, size, [this](std::uint8_t* p, std::size_t n) {
      return Retried([&] { return recv(fd_, p, n, 0); });
    });
  }

  bool WriteAll(const std::uint8_t* data, std::size_t size) override {
    return MoveAll(const_cast<std::uint8_t*>(data), size, [this](std::uint8_t* p, std::size_t n) {
      return Retried([&] { return send(fd_, p, n, MSG_NOSIGNAL); });
    });
  }

 private:
  // A call that a signal interrupted is made again.
  template <typename Call>
  static long long Retried(Call call) {
    ssize_t n;
    do {
      n = call();
    } while (n < 0 && errno == EINTR);
    return n;
  }

  int fd_;
  ReadBuffer reads_{kReadBufferSize};
};

bool FillAddress(const std::string& path, sockaddr_un* addr) {
  std::memset(addr, 0, sizeof(*addr));
  addr->sun_family = AF_UNIX;
  if (path.size() >= sizeof(addr->sun_path)) return false;
  std::memcpy(addr->sun_path, path.c_str(), path.size() + 1);
  return true;
}

// True when something accepts connections on the socket at addr. The probe does not wait: a
// listener whose backlog is full (one that does not accept) still counts.
bool SomeoneListens(const sockaddr_un& addr) {
  Fd probe(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (probe.get() < 0) return false;
  return connect(probe.get(), reinterpret_cast<const sockaddr*>(&addr), sizeof(addr)) == 0 || errno == EAGAIN;
}

// Which file a socket is: brisim removes the device socket at its end only while it is still the
// one it put in place.
struct FileId {
  dev_t dev = 0;
  ino_t ino = 0;
  bool operator==(const FileId&) const = default;
};

bool IdOf(int dir_fd, const std::string& name, FileId* id) {
  struct stat st{};
  if (fstatat(dir_fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return false;
  *id = FileId{st.st_dev, st.st_ino};
  return true;
}

// A lock on the device folder (flock), held while a brisim puts its socket in place and while it
// removes it: two brisims starting at once take turns, and only one finds the name free. The
// holder keeps it for a few file operations only, so it is tried for a bounded time, every 10 ms.
class FolderLock {
 public:
  FolderLock(int dir_fd, int wait_ms) : fd_(dir_fd) {
    for (int waited = 0; waited <= wait_ms; waited += 10) {
      if (flock(fd_, LOCK_EX | LOCK_NB) == 0) {
        held_ = true;
        return;
      }
      error_ = errno;
      if (error_ != EWOULDBLOCK && error_ != EINTR) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;
  ~FolderLock() {
    if (held_) flock(fd_, LOCK_UN);
  }
  bool held() const { return held_; }
  // Why it is not held.
  std::string Reason() const {
    return error_ == EWOULDBLOCK ? "another process holds it" : std::strerror(error_);
  }

 private:
  int fd_;
  bool held_ = false;
  int error_ = 0;
};

// Where to bind a name of the folder: through the folder's descriptor, so that the address stays
// short however long the folder's path is (it must fit the 108 bytes of a socket address).
// Without /proc, the folder's path itself.
std::string BindPath(int dir_fd, const std::string& dir, const std::string& name) {
  const std::string via_fd = "/proc/self/fd/" + std::to_string(dir_fd);
  struct stat st{};
  if (stat(via_fd.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return via_fd + "/" + name;
  return (std::filesystem::path(dir) / name).string();
}

// Under the folder lock: makes way for the socket. A socket file left by a brisim that did not
// end cleanly is removed; a live one, or a file that is no socket, is left alone (false, said).
bool MakeWay(int dir_fd, const std::string& path, const std::string& device, const sockaddr_un& addr) {
  struct stat st{};
  if (fstatat(dir_fd, device.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return true;
  if (!S_ISSOCK(st.st_mode)) {
    std::fprintf(stderr, "brisim: %s exists and is not a socket\n", path.c_str());
    return false;
  }
  if (SomeoneListens(addr)) {
    std::fprintf(stderr, "brisim: another simulator already listens on %s\n", path.c_str());
    return false;
  }
  unlinkat(dir_fd, device.c_str(), 0);
  return true;
}

// Under the folder lock: binds the listener under a temporary name and, once it listens, links it
// in as the device (a link never replaces a file that is there), so that whoever sees DIR/NAME
// appear can connect at once. False, said, when it cannot.
bool PutInPlace(int listener, int dir_fd, const ServerOptions& options, const std::string& path, FileId* id) {
  const std::string temp = ".brisim-" + std::to_string(getpid());
  unlinkat(dir_fd, temp.c_str(), 0);  // a leftover of a killed brisim that had the same number
  sockaddr_un temp_addr{};
  bool ok = FillAddress(BindPath(dir_fd, options.dir, temp), &temp_addr);
  int error = ENAMETOOLONG;
  if (ok) {
    ok = bind(listener, reinterpret_cast<const sockaddr*>(&temp_addr), sizeof(temp_addr)) == 0 &&
         listen(listener, 64) == 0 && linkat(dir_fd, temp.c_str(), dir_fd, options.device.c_str(), 0) == 0 &&
         IdOf(dir_fd, options.device, id);
    error = errno;
  }
  unlinkat(dir_fd, temp.c_str(), 0);
  if (!ok) std::fprintf(stderr, "brisim: cannot listen on %s: %s\n", path.c_str(), std::strerror(error));
  return ok;
}

// At the end: removes the device socket if it is still the one this brisim put in place.
void RemoveIfOurs(int dir_fd, const std::string& device, const FileId& ours) {
  // Within a second of the stop request; without the lock after that, the check is still made.
  FolderLock lock(dir_fd, 1000);
  FileId now;
  if (IdOf(dir_fd, device, &now) && now == ours) unlinkat(dir_fd, device.c_str(), 0);
}

}  // namespace

int RunServer(const ServerOptions& options, Simulator& sim) {
  std::error_code ec;
  std::filesystem::create_directories(options.dir, ec);
  if (ec) {
    std::fprintf(stderr, "brisim: cannot create %s: %s\n", options.dir.c_str(), ec.message().c_str());
    return 1;
  }
  const std::string path = (std::filesystem::path(options.dir) / options.device).string();
  sockaddr_un addr{};
  if (!FillAddress(path, &addr)) {
    std::fprintf(stderr, "brisim: socket path too long: %s\n", path.c_str());
    return 1;
  }
  // The folder is used through one descriptor for the whole run.
  Fd dir(open(options.dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() < 0) {
    std::fprintf(stderr, "brisim: cannot open %s: %s\n", options.dir.c_str(), std::strerror(errno));
    return 1;
  }

  // SIGTERM and SIGINT are taken as events by the accept loop; connection threads inherit the mask.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGTERM);
  sigaddset(&stop_signals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
  std::signal(SIGPIPE, SIG_IGN);
  Fd signals(signalfd(-1, &stop_signals, SFD_CLOEXEC));
  if (signals.get() < 0) {
    std::fprintf(stderr, "brisim: signalfd: %s\n", std::strerror(errno));
    return 1;
  }

  Fd listener(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  FileId ours;
  {
    FolderLock lock(dir.get(), 5000);
    if (!lock.held()) {
      std::fprintf(stderr, "brisim: cannot lock %s: %s\n", options.dir.c_str(), lock.Reason().c_str());
      return 1;
    }
    if (!MakeWay(dir.get(), path, options.device, addr)) return 1;
    if (listener.get() < 0) {
      std::fprintf(stderr, "brisim: cannot listen on %s: %s\n", path.c_str(), std::strerror(errno));
      return 1;
    }
    if (!PutInPlace(listener.get(), dir.get(), options, path, &ours)) return 1;
  }
  std::printf("brisim: listening on %s\n", path.c_str());
  std::fflush(stdout);

  Connections<Fd> conns;
  for (;;) {
    pollfd fds[2] = {{listener.get(), POLLIN, 0}, {signals.get(), POLLIN, 0}};
    const int n = poll(fds, 2, 1000);
    Reap(conns);
    if (n < 0) {
      if (errno == EINTR) continue;
      std::fprintf(stderr, "brisim: poll: %s\n", std::strerror(errno));
      break;
    }
    if (fds[1].revents != 0) break;
    if ((fds[0].revents & POLLIN) == 0) continue;
    const int fd = accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
      // Out of descriptors: give the open connections a moment to end instead of spinning.
      if (errno == EMFILE || errno == ENFILE) std::this_thread::sleep_for(std::chrono::milliseconds(100));
      continue;
    }
    const std::uint64_t number = sim.NextConnection();
    StartConnection(
        conns,
        [&sim, number](Connection<Fd>& c) {
          SocketStream stream(c.endpoint.get());
          RunSession(stream, sim, number);
          // The tool sees the end at once; the descriptor is closed when the thread is reaped.
          shutdown(c.endpoint.get(), SHUT_RDWR);
        },
        fd);
  }

  // Stop: no new connections, wake every connection thread and wait for it.
  RemoveIfOurs(dir.get(), options.device, ours);
  for (auto& c : conns) shutdown(c->endpoint.get(), SHUT_RDWR);
  for (auto& c : conns) c->thread.join();
  return 0;
}

void StopServer() {
  // SIGTERM is blocked in every thread of brisim and taken by the accept loop's signalfd.
  kill(getpid(), SIGTERM);
}

}  // namespace brisim
