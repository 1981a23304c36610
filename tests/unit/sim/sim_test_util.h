// SPDX-License-Identifier: BSD-2-Clause
// Helpers for driving the simulated device with command blocks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "device.h"
#include "scenario.h"
#include "session.h"

namespace brisim::testing {

// A command block as ExecuteCmd sends it.
inline std::vector<std::uint8_t> Request(std::uint32_t opcode, std::uint32_t handle = 0, std::uint32_t parameter = 0) {
  std::vector<std::uint8_t> block(kCommandBlockSize, 0);
  MutableByteSpan b(block);
  WriteLE32(b, kSignatureOffset, kSignature);
  WriteLE16(b, kHeaderWord0Offset, kHeaderWord0);
  WriteLE16(b, kHeaderWord1Offset, kHeaderWord1);
  WriteLE32(b, kOpcodeOffset, opcode);
  WriteLE32(b, kLineHandleOffset, handle);
  WriteLE32(b, kParameterOffset, parameter);
  return block;
}

// A command block framed as the device transport carries it: code, in_len, in_sent, out_len, then
// the block without its trailing zeros.
inline std::vector<std::uint8_t> Frame(const std::vector<std::uint8_t>& block, std::uint32_t code = kControlCode,
                                       std::uint32_t in_len = kCommandBlockSize,
                                       std::uint32_t out_len = kCommandBlockSize) {
  std::size_t sent = block.size();
  while (sent > 0 && block[sent - 1] == 0) --sent;
  std::vector<std::uint8_t> out;
  for (std::uint32_t v : {code, in_len, static_cast<std::uint32_t>(sent), out_len}) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  }
  out.insert(out.end(), block.begin(), block.begin() + static_cast<std::ptrdiff_t>(sent));
  return out;
}

// A connection fed from a byte string, recording what is written back and counting the writes.
class MemoryStream : public Stream {
 public:
  explicit MemoryStream(std::vector<std::uint8_t> in) : in_(std::move(in)) {}
  bool ReadExact(std::uint8_t* data, std::size_t size) override {
    if (in_.size() - pos_ < size) return false;
    std::memcpy(data, in_.data() + pos_, size);
    pos_ += size;
    return true;
  }
  bool WriteAll(const std::uint8_t* data, std::size_t size) override {
    out.insert(out.end(), data, data + size);
    ++replies;
    return true;
  }
  std::vector<std::uint8_t> out;
  int replies = 0;

 private:
  std::vector<std::uint8_t> in_;
  std::size_t pos_ = 0;
};

inline std::uint32_t U32(const std::vector<std::uint8_t>& block, std::size_t offset) {
  return GetLE32(ByteSpan(block), offset);
}

inline std::uint16_t U16(const std::vector<std::uint8_t>& block, std::size_t offset) {
  return GetLE16(ByteSpan(block), offset);
}

// The simulated device at a controllable time.
class Rig {
 public:
  explicit Rig(const std::string& json) : device_(ParseScenario(json)) {}
  explicit Rig(Scenario scenario) : device_(std::move(scenario)) {}

  // Sends one request at the current time; returns the reply block.
  std::vector<std::uint8_t> Send(std::uint32_t opcode, std::uint32_t handle = 0, std::uint32_t parameter = 0) {
    std::vector<std::uint8_t> block = Request(opcode, handle, parameter);
    Execute(block);
    return block;
  }

  std::uint32_t Execute(std::vector<std::uint8_t>& block) {
    return device_.Execute(Block(block.data(), kCommandBlockSize), now_);
  }

  std::uint32_t Status(std::uint32_t opcode, std::uint32_t handle = 0, std::uint32_t parameter = 0) {
    return U32(Send(opcode, handle, parameter), kStatusOffset);
  }

  void At(double ms) {
    now_.filetime += static_cast<std::uint64_t>((ms - now_.mono_ms) * 10000.0);
    now_.mono_ms = ms;
  }
  const SimTime& now() const { return now_; }
  const Device& device() const { return device_; }

 private:
  Device device_;
  SimTime now_{0.0, 133000000000000000ull};
};

}  // namespace brisim::testing
