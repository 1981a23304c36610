// SPDX-License-Identifier: BSD-2-Clause
// What one device request costs its caller on Linux: the trace read of the poll (the 262,200-byte
// command block with 328 bytes of it written, a reply of the header and one 288-byte entry) over
// the device socket, to a driver in a thread of this process that answers at once. The CPU time
// is the calling thread's alone: the floor of what lapmon pays for each entry it reads and for
// each status request and refused read of an idle line, whatever lapmon does around it.
#include <benchmark/benchmark.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "common/command_block.h"
#include "platform/platform.h"
#include "platform/transport_framing.h"

namespace {

constexpr std::uint32_t kReplyBytes = kPayloadOffset + 288;

bool ReadAll(int fd, std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = recv(fd, data, size, 0);
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

// Answers every request on one connection with a successful reply of kReplyBytes bytes, header
// and bytes in one send, as brisim does.
void Answer(int fd) {
  std::vector<std::uint8_t> input;
  std::vector<std::uint8_t> reply(kReplyHeaderSize + kReplyBytes, 0x5A);
  const auto header = EncodeReplyHeader({1, static_cast<std::uint32_t>(kCommandBlockSize), kReplyBytes});
  std::copy(header.begin(), header.end(), reply.begin());
  for (;;) {
    std::array<std::uint8_t, kRequestHeaderSize> raw{};
    if (!ReadAll(fd, raw.data(), raw.size())) break;
    input.resize(DecodeRequestHeader(ByteSpan(raw)).in_sent);
    if (!ReadAll(fd, input.data(), input.size())) break;
    if (send(fd, reply.data(), reply.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(reply.size())) break;
  }
  close(fd);
}

// A driver socket in a folder of its own, served by a thread for as long as the connection lasts.
class Driver {
 public:
  Driver() {
    char dir[] = "/tmp/bri-transport-bench.XXXXXX";
    if (mkdtemp(dir) == nullptr) return;
    dir_ = dir;
    const std::string path = dir_ + "/TESSIX0";
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    listener_ = socket(AF_UNIX, SOCK_STREAM, 0);
    if (bind(listener_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 || listen(listener_, 1) != 0) {
      return;
    }
    setenv("BRI_DEVICE_DIR", dir_.c_str(), 1);
    server_ = std::thread([this] {
      const int fd = accept(listener_, nullptr, nullptr);
      if (fd >= 0) Answer(fd);
    });
  }
  ~Driver() {
    if (server_.joinable()) server_.join();
    if (listener_ >= 0) close(listener_);
    if (!dir_.empty()) {
      unlink((dir_ + "/TESSIX0").c_str());
      rmdir(dir_.c_str());
    }
  }
  Driver(const Driver&) = delete;
  Driver& operator=(const Driver&) = delete;

 private:
  std::string dir_;
  int listener_ = -1;
  std::thread server_;
};

void BM_TraceReadRoundTrip(benchmark::State& state) {
  Driver driver;
  const DeviceHandle device = PlatOpenDevice("\\\\.\\TESSIX0");
  if (device == kInvalidDevice) {
    state.SkipWithError("cannot reach the driver socket");
    return;
  }
  std::vector<std::uint8_t> block(kCommandBlockSize, 0);
  for (std::uint32_t i = 0; i < kReplyBytes; ++i) block[i] = static_cast<std::uint8_t>(i | 1);
  for (auto _ : state) {
    std::uint32_t returned = 0;
    std::uint32_t written = 0;
    const bool ok = PlatDeviceControlKnown(device, kDriverIoControl, block.data(), kCommandBlockSize, kReplyBytes,
                                           block.data(), kCommandBlockSize, &returned, &written);
    benchmark::DoNotOptimize(ok);
  }
  PlatCloseDevice(device);  // the driver's thread sees the connection end
}
BENCHMARK(BM_TraceReadRoundTrip);

}  // namespace
