// SPDX-License-Identifier: BSD-2-Clause
// The command block: the one request/reply buffer handed to the driver and back by a device
// control call. A 40-byte header, then the payload; all fields little-endian.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>

#include "base/bytes.h"

inline constexpr std::size_t kCommandBlockSize = 262200;  // 0x40038
inline constexpr std::size_t kCommandHeaderSize = 40;

// Field offsets within the block.
inline constexpr std::size_t kSignatureOffset = 0;    // 4 bytes, set by the send operation
inline constexpr std::size_t kHeaderWord0Offset = 4;  // 2 bytes, always 0
inline constexpr std::size_t kHeaderWord1Offset = 6;  // 2 bytes, always 1
inline constexpr std::size_t kOpcodeOffset = 8;       // 4 bytes, set by the caller
inline constexpr std::size_t kStatusOffset = 12;      // 4 bytes, set by the driver; 0 = success
inline constexpr std::size_t kLineHandleOffset = 20;  // 4 bytes, set by the caller
inline constexpr std::size_t kParameterOffset = 24;   // 4 bytes, set by the caller
inline constexpr std::size_t kPayloadOffset = 40;     // opcode-specific reply data

inline constexpr std::uint32_t kSignature = 0x321B71B7;
inline constexpr std::uint16_t kHeaderWord0 = 0;
inline constexpr std::uint16_t kHeaderWord1 = 1;

// Opcodes sent by the two tools.
inline constexpr std::uint32_t OP_ENUM_IDD = 0x101;
inline constexpr std::uint32_t OP_TRACE_CREATE = 0x30A;
inline constexpr std::uint32_t OP_TRACE_START = 0x302;
inline constexpr std::uint32_t OP_TRACE_STATUS = 0x306;
inline constexpr std::uint32_t OP_TRACE_READ = 0x307;
inline constexpr std::uint32_t OP_LOG_FILE = 0xF01;
inline constexpr std::uint32_t OP_TRACE_STOP = 0x301;
inline constexpr std::uint32_t OP_TRACE_DESTROY = 0x30B;
inline constexpr std::uint32_t OP_AREA_REQUEST = 0x900;
inline constexpr std::uint32_t OP_AREA_POLL = 0x902;
inline constexpr std::uint32_t OP_AREA_GIVE_UP = 0x901;

// Status that ExecuteCmd reports (and leaves in the block) when the device call itself failed,
// so that a reused block never shows the stale status of an earlier reply.
inline constexpr std::uint32_t kStatusDeviceCallFailed = 0xFFFFFFFF;

// The block knows how much of it can be non-zero: `extent`, below which every byte written since
// the block was last all zeros lies (setters, replies). The send operation hands only that part to
// the transport to look at, rather than scanning 262,200 bytes for trailing zeros before every
// request. Write the block through the setters or, to write anywhere, through MarkAllWritten(),
// which gives up that knowledge (extent becomes the whole block) until the next Zero(); bytes()
// only reads.
struct CommandBlock {
  std::array<std::uint8_t, kCommandBlockSize> raw;
  std::size_t extent = kCommandBlockSize;  // bytes from here to the end are zero

  ByteSpan bytes() const { return ByteSpan(raw); }
  // The whole block for writing anywhere; from now on all of it counts as written.
  MutableByteSpan MarkAllWritten() {
    extent = kCommandBlockSize;
    return MutableByteSpan(raw);
  }

  std::uint32_t Signature() const { return GetLE32(bytes(), kSignatureOffset); }
  std::uint16_t HeaderWord0() const { return GetLE16(bytes(), kHeaderWord0Offset); }
  std::uint16_t HeaderWord1() const { return GetLE16(bytes(), kHeaderWord1Offset); }
  std::uint32_t Opcode() const { return GetLE32(bytes(), kOpcodeOffset); }
  std::uint32_t Status() const { return GetLE32(bytes(), kStatusOffset); }
  std::uint32_t LineHandle() const { return GetLE32(bytes(), kLineHandleOffset); }
  std::uint32_t Parameter() const { return GetLE32(bytes(), kParameterOffset); }

  void SetOpcode(std::uint32_t v) { Put32(kOpcodeOffset, v); }
  void SetStatus(std::uint32_t v) { Put32(kStatusOffset, v); }
  void SetLineHandle(std::uint32_t v) { Put32(kLineHandleOffset, v); }
  void SetParameter(std::uint32_t v) { Put32(kParameterOffset, v); }

  // Writes the header stamps that the send operation puts on every request.
  void StampHeader() {
    Put32(kSignatureOffset, kSignature);
    WriteLE16(MutableByteSpan(raw), kHeaderWord0Offset, kHeaderWord0);
    WriteLE16(MutableByteSpan(raw), kHeaderWord1Offset, kHeaderWord1);
  }

  // Payload bytes from the given payload-relative offset to the end of the block.
  ByteSpan Payload(std::size_t off = 0) const { return bytes().subspan(kPayloadOffset + off); }

  // Clears the block; only the part that can be non-zero needs clearing.
  void Zero() {
    std::fill_n(raw.begin(), extent, std::uint8_t{0});
    extent = 0;
  }

  // The block is all zeros as it stands (freshly value-initialised).
  void KnownZero() { extent = 0; }

 private:
  void Put32(std::size_t offset, std::uint32_t v) {
    WriteLE32(MutableByteSpan(raw), offset, v);
    if (extent < offset + 4) extent = offset + 4;
  }
};

static_assert(sizeof(CommandBlock::raw) == kCommandBlockSize);
static_assert(kPayloadOffset == kCommandHeaderSize);
static_assert(kParameterOffset + 4 <= kCommandHeaderSize);
static_assert(kLineHandleOffset == 20 && kParameterOffset == 24 && kStatusOffset == 12);
