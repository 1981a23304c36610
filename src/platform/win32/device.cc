// SPDX-License-Identifier: BSD-2-Clause
// The driver device on Windows: CreateFileA, DeviceIoControl and CloseHandle.
#include <windows.h>

#include "platform/device_table.h"
#include "platform/platform.h"

namespace {

struct Device : DeviceRecord {
  HANDLE handle = INVALID_HANDLE_VALUE;  // owned until PlatCloseDevice closes it
  HANDLE done = nullptr;                 // owned; manual-reset event of the request in flight
};

DeviceTable<Device> devices;

// DeviceIoControl errors that mean the device, or the pipe behind it, is gone: no later request
// can reach the driver through this handle.
bool MeansGone(DWORD error) {
  switch (error) {
    case ERROR_INVALID_HANDLE:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_BROKEN_PIPE:
    case ERROR_NO_DATA:
    case ERROR_PIPE_NOT_CONNECTED:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEVICE_REMOVED:
      return true;
    default:
      return false;
  }
}

}  // namespace

DeviceHandle PlatOpenDevice(const char* path) {
  if (path == nullptr) return kInvalidDevice;
  const HANDLE handle =
      CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                  OPEN_EXISTING, FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return kInvalidDevice;
  const HANDLE done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (done == nullptr) {
    CloseHandle(handle);
    return kInvalidDevice;
  }
  return devices.Add([handle, done](Device& device) {
    device.handle = handle;
    device.done = done;
  });
}

namespace {

// One request on the handle, which is open for overlapped I/O: the request carries an OVERLAPPED,
// and when the driver pends it the call waits here until the driver has completed it (or, after
// a cancel, given it back), so that the buffers are the caller's again on return. A driver may
// write the reply at any time before it completes the request: returning any earlier would let
// it land in a block that was freed or reused. False with the error in *error on failure.
bool DeviceRequest(Device& device, std::uint32_t code, const void* in, std::uint32_t in_len, void* out,
                   std::uint32_t out_len, DWORD* count, DWORD* error) {
  OVERLAPPED overlapped{};
  overlapped.hEvent = device.done;
  ResetEvent(device.done);
  *count = 0;
  if (DeviceIoControl(device.handle, code, const_cast<void*>(in), in_len, out, out_len, count, &overlapped)) {
    return true;
  }
  *error = GetLastError();
  if (*error != ERROR_IO_PENDING) return false;
  if (GetOverlappedResult(device.handle, &overlapped, count, TRUE)) return true;
  *error = GetLastError();
  return false;
}

}  // namespace

bool PlatDeviceControlKnown(DeviceHandle handle, std::uint32_t code, const void* in, std::uint32_t in_len,
                            std::uint32_t /*in_used*/, void* out, std::uint32_t out_len,
                            std::uint32_t* returned, std::uint32_t* out_written) {
  if (returned != nullptr) *returned = 0;
  if (out_written != nullptr) *out_written = 0;
  return devices.Use(handle, [&](Device& device) {
    // The driver takes the whole input buffer; what it writes back is not known beyond its count.
    DWORD count = 0;
    DWORD error = 0;
    if (!DeviceRequest(device, code, in, in_len, out, out_len, &count, &error)) {
      if (MeansGone(error)) {
        device.usable = false;
        DeviceTable<Device>::MarkLost(device);
      }
      return false;
    }
    if (returned != nullptr) *returned = count;
    if (out_written != nullptr) *out_written = count;
    return true;
  });
}

bool PlatDeviceControl(DeviceHandle handle, std::uint32_t code, const void* in, std::uint32_t in_len,
                       void* out, std::uint32_t out_len, std::uint32_t* returned) {
  return PlatDeviceControlKnown(handle, code, in, in_len, in_len, out, out_len, returned, nullptr);
}

void PlatCloseDevice(DeviceHandle handle) {
  // A request of another thread that still waits on the driver is ended by the cancel: the driver
  // gives it back cancelled (or completes it), and its wait in DeviceRequest then returns.
  devices.CloseOnce(
      handle, [](Device& device) { CancelIoEx(device.handle, nullptr); },
      [](Device& device) {
        CloseHandle(device.handle);
        CloseHandle(device.done);
        device.handle = INVALID_HANDLE_VALUE;
        device.done = nullptr;
      });
}

bool PlatDeviceLost(DeviceHandle handle) { return devices.Lost(handle); }
