// A small trace driver for the capture tests, served through FakeDriver: per line a window of
// available entry numbers, with refusals on demand. Entry n carries n in its first four bytes.
#pragma once

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
  std::uint32_t end = 0;     // one past the newest
  bool refuse_status = false;
  bool refuse_create = false;
};

struct LoggedRequest {
  std::uint32_t opcode, handle, parameter;
  std::vector<std::uint8_t> input;  // the block as sent (first 4096 bytes)
};

class FakeTraceDriver {
 public:
  FakeTraceDriver()
      : driver_([this](const FakeRequest& r) { return Answer(r); }), env_("BRI_DEVICE_DIR", driver_.dir()) {}
  ~FakeTraceDriver() { CloseDriver(); }

  bool Open() { return OpenDriver(ChooseDevicePaths(kOsWindowsNt)); }

  void SetLine(std::uint32_t handle, FakeTraceLine line) {
    std::lock_guard<std::mutex> guard(mutex_);
    lines_[handle] = line;
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
    std::lock_guard<std::mutex> guard(mutex_);
    FakeTraceLine& line = lines_[handle];
    switch (opcode) {
      case OP_TRACE_CREATE:
        status = line.refuse_create ? 1 : 0;
        break;
      case OP_TRACE_STATUS:
        if (line.refuse_status) {
          status = 1;
        } else {
          // Fourth and fifth words: their difference is the oldest entry held.
          WriteLE32(bytes, 52, 1000);
          WriteLE32(bytes, 56, 1000 + line.oldest);
        }
        break;
      case OP_TRACE_READ:
        if (parameter >= line.oldest && parameter < line.end) {
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
  std::map<std::uint32_t, FakeTraceLine> lines_;  // guarded by mutex_
  FakeDriver driver_;
  ScopedEnv env_;
};
