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

#include <poll.h>
#include <pthread.h>
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

// True when something accepts connections on the socket at path.
bool SomeoneListens(const sockaddr_un& addr) {
  Fd probe(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (probe.get() < 0) return false;
  return connect(probe.get(), reinterpret_cast<const sockaddr*>(&addr), sizeof(addr)) == 0;
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

  // A socket file left by a brisim that did not end cleanly is removed; a live one, or a file
  // that is no socket, is left alone.
  struct stat st{};
  if (lstat(path.c_str(), &st) == 0) {
    if (!S_ISSOCK(st.st_mode)) {
      std::fprintf(stderr, "brisim: %s exists and is not a socket\n", path.c_str());
      return 1;
    }
    if (SomeoneListens(addr)) {
      std::fprintf(stderr, "brisim: another simulator already listens on %s\n", path.c_str());
      return 1;
    }
    unlink(path.c_str());
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

  // The socket is bound under a temporary name and renamed into place once it listens, so that
  // whoever sees DIR/NAME appear can connect at once.
  const std::string temp_path = path + ".brisim-" + std::to_string(getpid());
  sockaddr_un temp_addr{};
  if (!FillAddress(temp_path, &temp_addr)) {
    std::fprintf(stderr, "brisim: socket path too long: %s\n", temp_path.c_str());
    return 1;
  }
  unlink(temp_path.c_str());
  Fd listener(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (listener.get() < 0 ||
      bind(listener.get(), reinterpret_cast<const sockaddr*>(&temp_addr), sizeof(temp_addr)) != 0 ||
      listen(listener.get(), 64) != 0 || rename(temp_path.c_str(), path.c_str()) != 0) {
    std::fprintf(stderr, "brisim: cannot listen on %s: %s\n", path.c_str(), std::strerror(errno));
    unlink(temp_path.c_str());
    return 1;
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
  unlink(path.c_str());
  for (auto& c : conns) shutdown(c->endpoint.get(), SHUT_RDWR);
  for (auto& c : conns) c->thread.join();
  return 0;
}

void StopServer() {
  // SIGTERM is blocked in every thread of brisim and taken by the accept loop's signalfd.
  kill(getpid(), SIGTERM);
}

}  // namespace brisim
