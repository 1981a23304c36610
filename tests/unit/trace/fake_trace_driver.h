// SPDX-License-Identifier: BSD-2-Clause
// A small trace driver for the poll and teardown tests, served through FakeDriver: per line a window of
// available entry numbers, with refusals on demand. Entry n carries n in its first four bytes.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

#include "common/command_block.h"
#include "common/driver.h"
#include "decode/trace_entry.h"
#include "fake_driver.h"

struct FakeTraceLine {
  std::uint32_t oldest = 0;  // oldest entry number still held
  std::uint32_t end = 0;     // one past the newest (numbers wrap at 2^32)
  bool refuse_status = false;
  bool refuse_create = false;
  bool hang_up_on_status = false;  // the connection breaks instead of a status reply
  bool hold_stop = false;          // a stop request is answered only once the driver is released
};

struct LoggedRequest {
  std::uint32_t opcode, handle, parameter;
  std::vector<std::uint8_t> input;  // the block as sent (first 4096 bytes)
};

class FakeTraceDriver {
 public:
  FakeTraceDriver()
      : driver_([this](const FakeRequest& r) { return Answer(r); }), env_("BRI_DEVICE_DIR", driver_.dir()) {}
  ~FakeTraceDriver() {
    Release();
    CloseDriver();
  }

  bool Open() { return OpenDriver(ChooseDevicePaths(kOsWindowsNt)); }

  void SetLine(std::uint32_t handle, FakeTraceLine line) {
    std::lock_guard<std::mutex> guard(mutex_);
    lines_[handle] = line;
  }

  // Lets a held stop request be answered (the destructor does it too).
  void Release() {
    {
      std::lock_guard<std::mutex> guard(mutex_);
      released_ = true;
    }
    changed_.notify_all();
  }

  std::vector<LoggedRequest> Requests() const {
    std::vector<LoggedRequest> out;
    for (const FakeRequest& r : driver_.requests()) out.push_back({r.U32(8), r.U32(20), r.U32(24), r.input});
    return out;
  }

  static std::uint32_t EntryNumber(std::span<const std::uint8_t> entry) { return GetLE32(entry, 0); }

 private:
  FakeReply Answer(const FakeRequest& r) {
    std::vector<std::uint8_t> block = r.input;
    const MutableByteSpan bytes(block);
    const std::uint32_t opcode = r.U32(kOpcodeOffset);
    const std::uint32_t handle = r.U32(kLineHandleOffset);
    const std::uint32_t parameter = r.U32(kParameterOffset);
    std::uint32_t status = 0;
    std::unique_lock<std::mutex> guard(mutex_);
    FakeTraceLine& line = lines_[handle];
    switch (opcode) {
      case OP_TRACE_STOP:
        // Held for five seconds at most, so that a tool that waits for it fails its test rather
        // than hanging it.
        if (line.hold_stop) changed_.wait_for(guard, std::chrono::seconds(5), [this] { return released_; });
        break;
      case OP_TRACE_CREATE:
        status = line.refuse_create ? 1 : 0;
        break;
      case OP_TRACE_STATUS:
        if (line.hang_up_on_status) return FakeReply::Hangup();
        if (line.refuse_status) {
          status = 1;
        } else {
          // Fourth and fifth words: their difference is the oldest entry held.
          WriteLE32(bytes, 52, 1000);
          WriteLE32(bytes, 56, 1000 + line.oldest);
        }
        break;
      case OP_TRACE_READ:
        if (parameter - line.oldest < line.end - line.oldest) {
          std::fill(block.begin() + kPayloadOffset, block.begin() + kPayloadOffset + kTraceEntrySize, 0);
          WriteLE32(bytes, kPayloadOffset, parameter);
          block[kPayloadOffset + kTraceEntrySize - 1] = 0xEE;
        } else {
          status = 1;
        }
        break;
      default:
        break;
    }
    WriteLE32(bytes, kStatusOffset, status);
    return FakeReply::Bytes(std::move(block));
  }

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  bool released_ = false;                         // guarded by mutex_
  std::map<std::uint32_t, FakeTraceLine> lines_;  // guarded by mutex_
  FakeDriver driver_;
  ScopedEnv env_;
};
