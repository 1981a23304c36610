// SPDX-License-Identifier: BSD-2-Clause
// Driver device on Linux: "\\.\NAME" is the Unix stream socket NAME in the device folder (device_dir.h:
// $BRI_DEVICE_DIR, else one per user), one connection per opened handle, framed as
// platform/transport_framing.h says.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "platform/device_table.h"
#include "platform/platform.h"
#include "platform/posix/device_dir.h"
#include "platform/transport_framing.h"

namespace {

// One connection a record; usable is false once the connection broke or was closed.
struct Device : DeviceRecord {
  int fd = -1;                      // owned until PlatCloseDevice closes it
  std::vector<std::uint8_t> reply;  // guarded by mutex; reused reply buffer
};

DeviceTable<Device> devices;

// "\\.\NAME" -> NAME; anything else is not a device path.
bool DeviceName(std::string_view path, std::string_view* name) {
  constexpr std::string_view kPrefix = "\\\\.\\";
  if (path.substr(0, kPrefix.size()) != kPrefix) return false;
  *name = path.substr(kPrefix.size());
  return !name->empty() && name->find('/') == std::string_view::npos && *name != "." && *name != "..";
}

bool SendAll(int fd, const std::uint8_t* data, std::size_t length) {
  while (length > 0) {
    const ssize_t n = send(fd, data, length, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    length -= static_cast<std::size_t>(n);
  }
  return true;
}

bool ReceiveAll(int fd, std::uint8_t* data, std::size_t length) {
  while (length > 0) {
    const ssize_t n = recv(fd, data, length, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;  // error, or the driver closed the connection mid-reply
    data += n;
    length -= static_cast<std::size_t>(n);
  }
  return true;
}

// The connection is in an unknown state: no later request may use it. The descriptor stays owned
// by the record (shut down) until PlatCloseDevice closes it.
void Break(Device& device) {
  device.usable = false;
  DeviceTable<Device>::MarkLost(device);
  shutdown(device.fd, SHUT_RDWR);
}

}  // namespace

DeviceHandle PlatOpenDevice(const char* path) {
  std::string_view name;
  if (path == nullptr || !DeviceName(path, &name)) return kInvalidDevice;
  std::string socket_path = DeviceDir() + '/';
  socket_path += name;

  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (socket_path.size() >= sizeof address.sun_path) return kInvalidDevice;
  std::memcpy(address.sun_path, socket_path.data(), socket_path.size());

  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return kInvalidDevice;
  int rc;
  do {
    rc = connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  } while (rc < 0 && errno == EINTR);
  if (rc < 0) {
    close(fd);
    return kInvalidDevice;
  }

  return devices.Add([fd](Device& device) { device.fd = fd; });
}

namespace {

// One request and its reply on a usable connection, under the record's lock. The input bytes from
// in_used on are zero by the caller's word; *out_written receives how many reply bytes were sent.
bool Exchange(Device& device, std::uint32_t code, const void* in, std::uint32_t in_len, std::uint32_t in_used,
              void* out, std::uint32_t out_len, std::uint32_t* returned, std::uint32_t* out_written) {
  // Trailing zero bytes of the input are implied by in_len and not sent. A command block is
  // mostly zeros: the scan starts where the caller knows the zeros to begin and compares 64 bytes
  // at a time.
  static constexpr std::uint8_t kZeros[64] = {};
  const auto* input = static_cast<const std::uint8_t*>(in);
  std::uint32_t in_sent = std::min(in_used, in_len);
  while (in_sent >= sizeof kZeros &&
         std::memcmp(input + in_sent - sizeof kZeros, kZeros, sizeof kZeros) == 0) {
    in_sent -= static_cast<std::uint32_t>(sizeof kZeros);
  }
  while (in_sent > 0 && input[in_sent - 1] == 0) --in_sent;

  const auto request = EncodeRequestHeader({code, in_len, in_sent, out_len});
  if (!SendAll(device.fd, request.data(), request.size()) || !SendAll(device.fd, input, in_sent)) {
    Break(device);
    return false;
  }

  std::array<std::uint8_t, kReplyHeaderSize> header{};
  if (!ReceiveAll(device.fd, header.data(), header.size())) {
    Break(device);
    return false;
  }
  const auto [ok, reply_returned, out_sent] = DecodeReplyHeader(header);
  if (ok > 1 || reply_returned > out_len || out_sent > reply_returned) {
    // Not a reply this transport can make sense of; the stream position is lost with it.
    Break(device);
    return false;
  }

  // The whole reply is read before the caller's buffer is touched: input and output are usually
  // the same buffer, and a failed call must leave it as it was.
  device.reply.resize(out_sent);
  if (!ReceiveAll(device.fd, device.reply.data(), out_sent)) {
    Break(device);
    return false;
  }
  if (ok == 0) return false;

  auto* output = static_cast<std::uint8_t*>(out);
  if (out_sent > 0) std::memcpy(output, device.reply.data(), out_sent);
  // Bytes out_sent .. returned-1 read as zero. When the output is the input buffer, the bytes
  // from in_sent on are zero already (the caller said so from in_used on, the scan found so
  // below that), and only the part between needs clearing.
  std::uint32_t clear_to = reply_returned;
  if (out == in && in_len >= reply_returned) clear_to = std::min(reply_returned, std::max(out_sent, in_sent));
  if (clear_to > out_sent) std::memset(output + out_sent, 0, clear_to - out_sent);
  if (returned != nullptr) *returned = reply_returned;
  if (out_written != nullptr) *out_written = out_sent;
  return true;
}

}  // namespace

bool PlatDeviceControlKnown(DeviceHandle handle, std::uint32_t code, const void* in, std::uint32_t in_len,
                            std::uint32_t in_used, void* out, std::uint32_t out_len, std::uint32_t* returned,
                            std::uint32_t* out_written) {
  if (returned != nullptr) *returned = 0;
  if (out_written != nullptr) *out_written = 0;
  if ((in == nullptr && in_len != 0) || (out == nullptr && out_len != 0)) return false;
  return devices.Use(handle, [&](Device& device) {
    return Exchange(device, code, in, in_len, in_used, out, out_len, returned, out_written);
  });
}

bool PlatDeviceControl(DeviceHandle handle, std::uint32_t code, const void* in, std::uint32_t in_len,
                       void* out, std::uint32_t out_len, std::uint32_t* returned) {
  return PlatDeviceControlKnown(handle, code, in, in_len, in_len, out, out_len, returned, nullptr);
}

void PlatCloseDevice(DeviceHandle handle) {
  // A call of another thread that waits for a reply is woken by the shutdown.
  devices.CloseOnce(
      handle, [](Device& device) { shutdown(device.fd, SHUT_RDWR); },
      [](Device& device) {
        close(device.fd);
        device.fd = -1;
      });
}

bool PlatDeviceLost(DeviceHandle handle) { return devices.Lost(handle); }
