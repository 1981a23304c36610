#include "canned_driver.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/command_block.h"
#include "common/driver.h"

namespace {

int listener = -1;

[[noreturn]] void Fail(const char* what) {
  std::perror(what);
  std::abort();
}

void PutLE32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

}  // namespace

void SetUpCannedDevice() {
  if (listener >= 0) return;
  std::array<char, 64> dir{};
  std::snprintf(dir.data(), dir.size(), "/tmp/bri-fuzz-XXXXXX");
  if (mkdtemp(dir.data()) == nullptr) Fail("mkdtemp");
  setenv("BRI_DEVICE_DIR", dir.data(), 1);
  const std::string path = std::string(dir.data()) + "/TESSIX0";

  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listener < 0 || bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      listen(listener, 16) != 0) {
    Fail("canned device socket");
  }
  // The socket file is not needed once the fuzz program has connected; it goes with the folder.
  std::atexit([] {
    const char* d = std::getenv("BRI_DEVICE_DIR");
    if (d == nullptr) return;
    unlink((std::string(d) + "/TESSIX0").c_str());
    rmdir(d);
  });
}

int AcceptCannedConnection() {
  const int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
  if (fd < 0) Fail("accept");
  return fd;
}

int OpenCannedDriver() {
  SetUpCannedDevice();
  if (!OpenDriver(ChooseDevicePaths(kOsWindowsNt))) Fail("OpenDriver");
  return AcceptCannedConnection();
}

void WriteCanned(int fd, ByteSpan bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) Fail("send");
    done += static_cast<std::size_t>(n);
  }
}

void QueueCannedBlock(int fd, ByteSpan block) {
  const std::size_t sent = block.size() < kCommandBlockSize ? block.size() : kCommandBlockSize;
  std::vector<std::uint8_t> reply;
  PutLE32(reply, 1);
  PutLE32(reply, static_cast<std::uint32_t>(kCommandBlockSize));
  PutLE32(reply, static_cast<std::uint32_t>(sent));
  reply.insert(reply.end(), block.begin(), block.begin() + static_cast<std::ptrdiff_t>(sent));
  WriteCanned(fd, ByteSpan(reply));
}

void DrainCanned(int fd) {
  std::array<std::uint8_t, 4096> sink{};
  while (recv(fd, sink.data(), sink.size(), MSG_DONTWAIT) > 0) {
  }
}
