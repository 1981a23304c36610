// SPDX-License-Identifier: BSD-2-Clause
// Driver device on Linux: "\\.\NAME" is the Unix stream socket NAME in the device folder (device_dir.h:
// $BRI_DEVICE_DIR, else one per user), one connection per opened handle, framed as
// platform/transport_framing.h says.
#include <sys/socket.h>
#include <sys/uio.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "base/program_message.h"
#include "platform/device_table.h"
#include "platform/platform.h"
#include "platform/posix/device_dir.h"
#include "platform/transport_framing.h"

namespace {

// One connection a record; usable is false once the connection broke or was closed.
struct Device : DeviceRecord {
  int fd = -1;                      // owned until PlatCloseDevice closes it
  std::vector<std::uint8_t> reply;  // guarded by mutex; reused reply buffer (header, then data)
};

DeviceTable<Device> devices;

// "\\.\NAME" -> NAME; anything else is not a device path.
bool DeviceName(std::string_view path, std::string_view* name) {
  constexpr std::string_view kPrefix = "\\\\.\\";
  if (path.substr(0, kPrefix.size()) != kPrefix) return false;
  *name = path.substr(kPrefix.size());
  return !name->empty() && name->find('/') == std::string_view::npos && *name != "." && *name != "..";
}

// Sends the request header and its input as one message: one system call for the usual request.
bool SendRequest(int fd, const std::array<std::uint8_t, kRequestHeaderSize>& header, const std::uint8_t* input,
                 std::size_t length) {
  std::array<iovec, 2> parts{};
  parts[0] = {const_cast<std::uint8_t*>(header.data()), header.size()};
  parts[1] = {const_cast<std::uint8_t*>(input), length};
  std::size_t first = 0;
  const std::size_t count = length > 0 ? 2 : 1;
  while (first < count) {
    msghdr message{};
    message.msg_iov = parts.data() + first;
    message.msg_iovlen = count - first;
    ssize_t n = sendmsg(fd, &message, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    // A part sent in full is passed over, a part sent in part goes on from where it stopped.
    auto left = static_cast<std::size_t>(n);
    while (first < count && left >= parts[first].iov_len) left -= parts[first++].iov_len;
    if (first < count) {
      parts[first].iov_base = static_cast<std::uint8_t*>(parts[first].iov_base) + left;
      parts[first].iov_len -= left;
    }
  }
  return true;
}

// Receives one reply into buffer: its header, then the out_sent bytes the header announces. The
// reply is asked for whole, so that the usual reply takes one system call; no more is asked for
// than the longest reply the request allows (header and out_len bytes), so nothing beyond a
// correct reply can be taken. False when the connection broke, the header makes no sense or more
// bytes came than the header announces: the stream position is then lost.
bool ReceiveReply(int fd, std::vector<std::uint8_t>& buffer, std::uint32_t out_len, ReplyHeader* header) {
  const std::size_t capacity = kReplyHeaderSize + std::size_t{out_len};
  if (buffer.size() < capacity) buffer.resize(capacity);
  std::size_t got = 0;
  std::size_t need = kReplyHeaderSize;
  bool known = false;
  while (got < need) {
    const ssize_t n = recv(fd, buffer.data() + got, capacity - got, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;  // error, or the driver closed the connection mid-reply
    got += static_cast<std::size_t>(n);
    if (!known && got >= kReplyHeaderSize) {
      known = true;
      *header = DecodeReplyHeader(ByteSpan(buffer.data(), kReplyHeaderSize));
      if (header->ok > 1 || header->returned > out_len || header->out_sent > header->returned) return false;
      need = kReplyHeaderSize + header->out_sent;
    }
  }
  return got == need;
}

// The connection is in an unknown state: no later request may use it. The descriptor stays owned
// by the record (shut down) until PlatCloseDevice closes it.
void Break(Device& device) {
  device.usable = false;
  DeviceTable<Device>::MarkLost(device);
  shutdown(device.fd, SHUT_RDWR);
}

}  // namespace

namespace {

// False, after a message on standard error (once a process), when the default device folder is
// one of another user's: the open then fails as when no driver listens.
bool DeviceDirUsable() {
  const std::string foreign = ForeignDefaultDeviceDir();
  if (foreign.empty()) return true;
  static std::atomic<bool> told{false};
  if (!told.exchange(true)) {
    WriteProgramMessage(program_invocation_short_name, ForeignDeviceDirMessage(foreign, "BRI_DEVICE_DIR"));
  }
  return false;
}

}  // namespace

DeviceHandle PlatOpenDevice(const char* path) {
  std::string_view name;
  if (path == nullptr || !DeviceName(path, &name) || !DeviceDirUsable()) return kInvalidDevice;
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
  if (!SendRequest(device.fd, request, input, in_sent)) {
    Break(device);
    return false;
  }

  // The whole reply is read before the caller's buffer is touched: input and output are usually
  // the same buffer, and a failed call must leave it as it was.
  ReplyHeader reply{};
  if (!ReceiveReply(device.fd, device.reply, out_len, &reply)) {
    Break(device);
    return false;
  }
  const auto [ok, reply_returned, out_sent] = reply;
  if (ok == 0) return false;

  auto* output = static_cast<std::uint8_t*>(out);
  if (out_sent > 0) std::memcpy(output, device.reply.data() + kReplyHeaderSize, out_sent);
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
        std::vector<std::uint8_t>().swap(device.reply);  // up to a command block's size
      });
}

bool PlatDeviceLost(DeviceHandle handle) { return devices.Lost(handle); }
