// SPDX-License-Identifier: BSD-2-Clause
// The table of opened driver devices that each backend keeps.
//
// A DeviceHandle is a number given to one opened device and never given again, so a handle closed
// by one thread (the console control handler) while another still uses it can never reach a later
// device that happens to get the same system handle or descriptor. Only open devices hold a
// record: a close lets go of it (and of the buffers it holds) as soon as no call of another thread
// still uses it, so a program that opens and closes devices over and over holds no more memory
// than the devices it has open.
#pragma once

#include <atomic>
#include <cstddef>
#include <map>
#include <memory>
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
    auto device = std::make_shared<Device>();
    fill(*device);
    device->usable = true;
    std::lock_guard<std::mutex> lock(mutex_);
    const DeviceHandle handle = next_++;
    devices_.emplace(handle, std::move(device));
    return handle;
  }

  // Runs request(record) under the record's lock when the handle names a usable device; returns
  // its result, or false.
  template <typename Request>
  bool Use(DeviceHandle handle, Request&& request) {
    const std::shared_ptr<Device> device = Find(handle);
    if (device == nullptr) return false;
    std::lock_guard<std::mutex> lock(device->mutex);
    return device->usable && request(*device);
  }

  // Marks the device lost for good unless a close of ours is under way (a close ends the request
  // that is in flight, which then fails as if the device had broken). Under the record's lock.
  static void MarkLost(Device& device) {
    if (!device.close_claimed.load()) device.lost.store(true);
  }

  // Whether the handle names an open device that was lost for good.
  bool Lost(DeviceHandle handle) {
    const std::shared_ptr<Device> device = Find(handle);
    return device != nullptr && device->lost.load();
  }

  // Closes the device once, whichever thread asks first. wake(record) runs first, without the
  // record's lock, to end a request of another thread that still waits on the device (the system
  // handle is still the record's then: only this claiming call closes it); close(record) runs
  // under the lock once that request has let go of it, and lets go of the record's buffers. The
  // handle then names nothing; the record goes when the last call that still holds it returns.
  template <typename Wake, typename Close>
  void CloseOnce(DeviceHandle handle, Wake&& wake, Close&& close) {
    const std::shared_ptr<Device> device = Find(handle);
    if (device == nullptr || device->close_claimed.exchange(true)) return;
    wake(*device);
    {
      std::lock_guard<std::mutex> lock(device->mutex);
      device->usable = false;
      close(*device);
    }
    std::lock_guard<std::mutex> lock(mutex_);
    devices_.erase(handle);
  }

 private:
  std::shared_ptr<Device> Find(DeviceHandle handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = devices_.find(handle);
    return found != devices_.end() ? found->second : nullptr;
  }

  std::mutex mutex_;
  DeviceHandle next_ = 0;                                    // guarded by mutex_; the next handle to give
  std::map<DeviceHandle, std::shared_ptr<Device>> devices_;  // guarded by mutex_; the open devices
};
