// SPDX-License-Identifier: BSD-2-Clause
// Guarded little-endian reads and writes of driver data.
//
// Every value that comes from the driver is read byte by byte through these helpers, which know
// where the buffer ends: a read that would pass the end yields false (or the given fallback) and
// touches nothing. There are no casts of driver buffers to structures.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

using ByteSpan = std::span<const std::uint8_t>;
using MutableByteSpan = std::span<std::uint8_t>;

// True when size bytes starting at offset lie inside a buffer of length bytes.
constexpr bool InBounds(std::size_t length, std::size_t offset, std::size_t size) {
  return offset <= length && size <= length - offset;
}

constexpr bool ReadU8(ByteSpan buf, std::size_t off, std::uint8_t* out) {
  if (!InBounds(buf.size(), off, 1)) return false;
  *out = buf[off];
  return true;
}

constexpr bool ReadLE16(ByteSpan buf, std::size_t off, std::uint16_t* out) {
  if (!InBounds(buf.size(), off, 2)) return false;
  *out = static_cast<std::uint16_t>(buf[off] | (buf[off + 1] << 8));
  return true;
}

constexpr bool ReadLE32(ByteSpan buf, std::size_t off, std::uint32_t* out) {
  if (!InBounds(buf.size(), off, 4)) return false;
  *out = static_cast<std::uint32_t>(buf[off]) | (static_cast<std::uint32_t>(buf[off + 1]) << 8) |
         (static_cast<std::uint32_t>(buf[off + 2]) << 16) | (static_cast<std::uint32_t>(buf[off + 3]) << 24);
  return true;
}

constexpr bool ReadLE64(ByteSpan buf, std::size_t off, std::uint64_t* out) {
  std::uint32_t lo = 0, hi = 0;
  if (!ReadLE32(buf, off, &lo) || !ReadLE32(buf, off + 4, &hi)) return false;
  *out = (static_cast<std::uint64_t>(hi) << 32) | lo;
  return true;
}

// Big-endian reads, for file formats that may be written in either byte order.
constexpr bool ReadBE16(ByteSpan buf, std::size_t off, std::uint16_t* out) {
  if (!InBounds(buf.size(), off, 2)) return false;
  *out = static_cast<std::uint16_t>((buf[off] << 8) | buf[off + 1]);
  return true;
}

constexpr bool ReadBE32(ByteSpan buf, std::size_t off, std::uint32_t* out) {
  if (!InBounds(buf.size(), off, 4)) return false;
  *out = (static_cast<std::uint32_t>(buf[off]) << 24) | (static_cast<std::uint32_t>(buf[off + 1]) << 16) |
         (static_cast<std::uint32_t>(buf[off + 2]) << 8) | static_cast<std::uint32_t>(buf[off + 3]);
  return true;
}

// Reads that fall back to 0 past the end, for fields whose absence reads as zero.
constexpr std::uint16_t GetLE16(ByteSpan buf, std::size_t off) {
  std::uint16_t v = 0;
  return ReadLE16(buf, off, &v) ? v : 0;
}

constexpr std::uint32_t GetLE32(ByteSpan buf, std::size_t off) {
  std::uint32_t v = 0;
  return ReadLE32(buf, off, &v) ? v : 0;
}

constexpr bool WriteLE16(MutableByteSpan buf, std::size_t off, std::uint16_t v) {
  if (!InBounds(buf.size(), off, 2)) return false;
  buf[off] = static_cast<std::uint8_t>(v);
  buf[off + 1] = static_cast<std::uint8_t>(v >> 8);
  return true;
}

constexpr bool WriteLE32(MutableByteSpan buf, std::size_t off, std::uint32_t v) {
  if (!InBounds(buf.size(), off, 4)) return false;
  for (std::size_t i = 0; i < 4; ++i) buf[off + i] = static_cast<std::uint8_t>(v >> (8 * i));
  return true;
}

constexpr bool WriteLE64(MutableByteSpan buf, std::size_t off, std::uint64_t v) {
  return InBounds(buf.size(), off, 8) && WriteLE32(buf, off, static_cast<std::uint32_t>(v)) &&
         WriteLE32(buf, off + 4, static_cast<std::uint32_t>(v >> 32));
}
