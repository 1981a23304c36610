// SPDX-License-Identifier: BSD-2-Clause
// The table of opened driver devices that each backend keeps.
//
// A DeviceHandle is the index of a record that lives until the process ends and is never reused,
// so a handle closed by one thread (the console control handler) while another still uses it can
// never reach a later device that happens to get the same system handle or descriptor.
#pragma once

#include <atomic>
#include <cstddef>
#include <deque>
#include <mutex>

#include "platform/platform.h"

// What every backend's device record holds besides its system handle.
struct DeviceRecord {
  std::mutex mutex;                        // one request at a time on the device
  bool usable = false;                     // guarded by mutex; false once broken or closed
  std::atomic<bool> close_claimed{false};  // the first close does the closing
  std::atomic<bool> lost{false};           // broken for good, and not by a close of ours
};

// Device is a backend's record, derived from DeviceRecord.
template <typename Device>
class DeviceTable {
 public:
  // Keeps a new record, filled in by fill(record), and returns its handle.
  template <typename Fill>
  DeviceHandle Add(Fill&& fill) {
    std::lock_guard<std::mutex> lock(mutex_);
    Device& device = devices_.emplace_back();
    fill(device);
    device.usable = true;
    return static_cast<DeviceHandle>(devices_.size() - 1);
  }

  // Runs request(record) under the record's lock when the handle names a usable device; returns
  // its result, or false.
  template <typename Request>
  bool Use(DeviceHandle handle, Request&& request) {
    Device* device = Find(handle);
    if (device == nullptr) return false;
    std::lock_guard<std::mutex> lock(device->mutex);
    return device->usable && request(*device);
  }

  // Marks the device lost for good unless a close of ours is under way (a close ends the request
  // that is in flight, which then fails as if the device had broken). Under the record's lock.
  static void MarkLost(Device& device) {
    if (!device.close_claimed.load()) device.lost.store(true);
  }

  // Whether the handle names a device that was lost for good.
  bool Lost(DeviceHandle handle) {
    Device* device = Find(handle);
    return device != nullptr && device->lost.load();
  }

  // Closes the device once, whichever thread asks first. wake(record) runs first, without the
  // record's lock, to end a request of another thread that still waits on the device (the system
  // handle is still the record's then: only this claiming call closes it); close(record) runs
  // under the lock once that request has let go of it.
  template <typename Wake, typename Close>
  void CloseOnce(DeviceHandle handle, Wake&& wake, Close&& close) {
    Device* device = Find(handle);
    if (device == nullptr || device->close_claimed.exchange(true)) return;
    wake(*device);
    std::lock_guard<std::mutex> lock(device->mutex);
    device->usable = false;
    close(*device);
  }

 private:
  Device* Find(DeviceHandle handle) {
    if (handle < 0) return nullptr;
    std::lock_guard<std::mutex> lock(mutex_);
    const auto index = static_cast<std::size_t>(handle);
    return index < devices_.size() ? &devices_[index] : nullptr;
  }

  std::mutex mutex_;
  std::deque<Device> devices_;  // guarded by mutex_; elements never move or go away
};
