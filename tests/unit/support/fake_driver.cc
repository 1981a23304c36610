#include "fake_driver.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace {

bool ReadAll(int fd, std::uint8_t* data, std::size_t length) {
  while (length > 0) {
    const ssize_t n = recv(fd, data, length, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    length -= static_cast<std::size_t>(n);
  }
  return true;
}

bool WriteAll(int fd, const std::uint8_t* data, std::size_t length) {
  while (length > 0) {
    const ssize_t n = send(fd, data, length, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    length -= static_cast<std::size_t>(n);
  }
  return true;
}

std::uint32_t Le32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

void PutLe32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

std::string MakeTempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "bri-unit-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  return pattern;
}

}  // namespace

std::uint32_t FakeRequest::U32(std::size_t offset) const {
  if (offset > input.size() || input.size() - offset < 4) return 0;
  return Le32(&input[offset]);
}

std::uint16_t FakeRequest::U16(std::size_t offset) const {
  if (offset > input.size() || input.size() - offset < 2) return 0;
  return static_cast<std::uint16_t>(input[offset] | (input[offset + 1] << 8));
}

FakeReply FakeReply::Bytes(std::vector<std::uint8_t> bytes) {
  FakeReply reply;
  reply.returned = static_cast<std::uint32_t>(bytes.size());
  while (!bytes.empty() && bytes.back() == 0) bytes.pop_back();
  reply.output = std::move(bytes);
  return reply;
}

FakeReply FakeReply::Failure() {
  FakeReply reply;
  reply.ok = false;
  return reply;
}

FakeReply FakeReply::Hangup() {
  FakeReply reply;
  reply.raw = std::vector<std::uint8_t>{};
  reply.close_after = true;
  return reply;
}

FakeDriver::FakeDriver(FakeHandler handler, std::string device)
    : handler_(std::move(handler)), device_(std::move(device)), dir_(MakeTempDir()) {
  listen_fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string path = socket_path();
  if (listen_fd_ < 0 || path.size() >= sizeof address.sun_path) throw std::runtime_error("socket failed");
  std::memcpy(address.sun_path, path.c_str(), path.size());
  if (bind(listen_fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      listen(listen_fd_, 16) != 0 || pipe(stop_pipe_) != 0) {
    throw std::runtime_error("listen failed");
  }
  acceptor_ = std::thread([this] { AcceptLoop(); });
}

FakeDriver::~FakeDriver() {
  Stop();
  std::error_code ec;
  std::filesystem::remove_all(dir_, ec);
}

void FakeDriver::Stop() {
  if (stopping_.exchange(true)) return;
  const char byte = 0;
  (void)!write(stop_pipe_[1], &byte, 1);
  acceptor_.join();
  std::vector<std::thread> threads;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (int fd : connection_fds_) shutdown(fd, SHUT_RDWR);
    threads.swap(threads_);
  }
  for (std::thread& t : threads) t.join();
  close(listen_fd_);
  close(stop_pipe_[0]);
  close(stop_pipe_[1]);
  unlink(socket_path().c_str());
}

std::vector<FakeRequest> FakeDriver::requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return log_;
}

void FakeDriver::AcceptLoop() {
  while (true) {
    pollfd fds[2] = {{listen_fd_, POLLIN, 0}, {stop_pipe_[0], POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents != 0) return;
    const int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    std::lock_guard<std::mutex> lock(mutex_);
    const int connection = ++connections_;
    connection_fds_.push_back(fd);
    threads_.emplace_back([this, fd, connection] { Serve(fd, connection); });
  }
}

void FakeDriver::Serve(int fd, int connection) {
  constexpr std::uint32_t kMaxInput = 16u << 20;
  while (true) {
    std::uint8_t header[16];
    if (!ReadAll(fd, header, sizeof header)) break;
    FakeRequest request;
    request.connection = connection;
    request.code = Le32(header);
    request.in_len = Le32(header + 4);
    request.in_sent = Le32(header + 8);
    request.out_len = Le32(header + 12);
    if (request.in_sent > request.in_len || request.in_len > kMaxInput) break;
    request.input.assign(request.in_len, 0);
    if (!ReadAll(fd, request.input.data(), request.in_sent)) break;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      FakeRequest logged = request;
      if (logged.input.size() > kLoggedInputBytes) {
        logged.input.resize(kLoggedInputBytes);
        logged.input.shrink_to_fit();  // the log keeps the head of each input, not its buffer
      }
      log_.push_back(std::move(logged));
    }

    const FakeReply reply = handler_(request);
    std::vector<std::uint8_t> bytes;
    if (reply.raw) {
      bytes = *reply.raw;
    } else {
      PutLe32(bytes, reply.ok ? 1 : 0);
      PutLe32(bytes, reply.returned);
      PutLe32(bytes, static_cast<std::uint32_t>(reply.output.size()));
      bytes.insert(bytes.end(), reply.output.begin(), reply.output.end());
    }
    // In pieces when asked, each its own send a moment after the last: the reader must join them.
    const std::size_t piece = reply.piece > 0 ? reply.piece : std::max<std::size_t>(bytes.size(), 1);
    bool sent = true;
    for (std::size_t at = 0; sent && at < bytes.size(); at += piece) {
      if (at > 0) std::this_thread::sleep_for(std::chrono::milliseconds(2));
      sent = WriteAll(fd, bytes.data() + at, std::min(piece, bytes.size() - at));
    }
    if (!sent || reply.close_after) break;
  }
  shutdown(fd, SHUT_RDWR);
  // Closed under the lock, so Stop() never shuts down a descriptor number that was reused.
  std::lock_guard<std::mutex> lock(mutex_);
  std::erase(connection_fds_, fd);
  close(fd);
}

ScopedEnv::ScopedEnv(std::string name, std::optional<std::string> value) : name_(std::move(name)) {
  if (const char* old = std::getenv(name_.c_str())) old_ = old;
  if (value) {
    setenv(name_.c_str(), value->c_str(), 1);
  } else {
    unsetenv(name_.c_str());
  }
}

ScopedEnv::~ScopedEnv() {
  if (old_) {
    setenv(name_.c_str(), old_->c_str(), 1);
  } else {
    unsetenv(name_.c_str());
  }
}

TempDir::TempDir() : path_(MakeTempDir()) {}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::string TempDir::Write(const std::string& name, const std::string& contents) const {
  const std::string file = path_ + "/" + name;
  std::ofstream out(file, std::ios::binary);
  out << contents;
  return file;
}
