// The driver device on Windows: CreateFileA, DeviceIoControl and CloseHandle.
//
// A DeviceHandle is the index of a device record that lives until the process ends and is never
// reused, so a handle closed by one thread (the console control handler) while another still uses
// it can never reach a different object that happens to get the same Win32 handle value.
#include <windows.h>

#include <atomic>
#include <deque>
#include <mutex>

#include "platform/platform.h"

namespace {

struct Device {
  std::mutex mutex;  // one request at a time on the handle
  HANDLE handle = INVALID_HANDLE_VALUE;      // owned until PlatCloseDevice closes it
  bool open = false;                         // guarded by mutex
  std::atomic<bool> close_claimed{false};    // the first PlatCloseDevice does the closing
};

std::mutex table_mutex;
std::deque<Device> devices;  // guarded by table_mutex; elements never move or go away

Device* FindDevice(DeviceHandle handle) {
  if (handle < 0) return nullptr;
  std::lock_guard<std::mutex> lock(table_mutex);
  const auto index = static_cast<std::size_t>(handle);
  return index < devices.size() ? &devices[index] : nullptr;
}

}  // namespace

DeviceHandle PlatOpenDevice(const char* path) {
  if (path == nullptr) return kInvalidDevice;
  const HANDLE handle = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return kInvalidDevice;
  std::lock_guard<std::mutex> lock(table_mutex);
  Device& device = devices.emplace_back();
  device.handle = handle;
  device.open = true;
  return static_cast<DeviceHandle>(devices.size() - 1);
}

bool PlatDeviceControl(DeviceHandle handle, std::uint32_t code, const void* in, std::uint32_t in_len,
                       void* out, std::uint32_t out_len, std::uint32_t* returned) {
  if (returned != nullptr) *returned = 0;
  Device* device = FindDevice(handle);
  if (device == nullptr) return false;
  std::lock_guard<std::mutex> lock(device->mutex);
  if (!device->open) return false;
  // The driver completes every request before the call returns, so no OVERLAPPED is passed even
  // though the device was opened for overlapped I/O.
  DWORD count = 0;
  const BOOL ok = DeviceIoControl(device->handle, code, const_cast<void*>(in), in_len, out, out_len, &count, nullptr);
  if (!ok) return false;
  if (returned != nullptr) *returned = count;
  return true;
}

void PlatCloseDevice(DeviceHandle handle) {
  Device* device = FindDevice(handle);
  if (device == nullptr || device->close_claimed.exchange(true)) return;
  // Ends a request of another thread that is still waiting on the driver; the handle is still
  // ours here, as only this (the one claiming) call closes it.
  CancelIoEx(device->handle, nullptr);
  std::lock_guard<std::mutex> lock(device->mutex);
  device->open = false;
  CloseHandle(device->handle);
  device->handle = INVALID_HANDLE_VALUE;
}
