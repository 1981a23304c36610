// Helpers for driving the simulated device with command blocks.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "device.h"
#include "scenario.h"

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

 private:
  Device device_;
  SimTime now_{0.0, 133000000000000000ull};
};

}  // namespace brisim::testing
