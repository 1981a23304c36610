// SPDX-License-Identifier: BSD-2-Clause
// The framing of the device transport: how one device control call travels over a byte stream
// between a tool and the driver's stand-in (a Unix stream socket, or a named pipe on Windows).
//
// Request, tool -> driver:  code, in_len, in_sent, out_len, then in_sent bytes of input
//                           (bytes in_sent .. in_len-1 of the input are zero and are not sent).
// Reply, driver -> tool:    ok (1 success, 0 failure), returned, out_sent, then out_sent bytes
//                           (bytes out_sent .. returned-1 are zero and are not sent).
// Every header field is a little-endian unsigned 32-bit value. Both ends use this one header, so
// the two can never disagree on it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "base/bytes.h"

inline constexpr std::size_t kRequestHeaderSize = 16;
inline constexpr std::size_t kReplyHeaderSize = 12;

// Field offsets within the two headers.
inline constexpr std::size_t kRequestCodeOffset = 0;
inline constexpr std::size_t kRequestInLenOffset = 4;
inline constexpr std::size_t kRequestInSentOffset = 8;
inline constexpr std::size_t kRequestOutLenOffset = 12;
inline constexpr std::size_t kReplyOkOffset = 0;
inline constexpr std::size_t kReplyReturnedOffset = 4;
inline constexpr std::size_t kReplyOutSentOffset = 8;

struct RequestHeader {
  std::uint32_t code = 0;
  std::uint32_t in_len = 0;
  std::uint32_t in_sent = 0;
  std::uint32_t out_len = 0;
};

struct ReplyHeader {
  std::uint32_t ok = 0;
  std::uint32_t returned = 0;
  std::uint32_t out_sent = 0;
};

constexpr std::array<std::uint8_t, kRequestHeaderSize> EncodeRequestHeader(const RequestHeader& h) {
  std::array<std::uint8_t, kRequestHeaderSize> raw{};
  WriteLE32(raw, kRequestCodeOffset, h.code);
  WriteLE32(raw, kRequestInLenOffset, h.in_len);
  WriteLE32(raw, kRequestInSentOffset, h.in_sent);
  WriteLE32(raw, kRequestOutLenOffset, h.out_len);
  return raw;
}

// Fields that lie past the end of raw read as zero.
constexpr RequestHeader DecodeRequestHeader(ByteSpan raw) {
  return RequestHeader{GetLE32(raw, kRequestCodeOffset), GetLE32(raw, kRequestInLenOffset),
                       GetLE32(raw, kRequestInSentOffset), GetLE32(raw, kRequestOutLenOffset)};
}

constexpr std::array<std::uint8_t, kReplyHeaderSize> EncodeReplyHeader(const ReplyHeader& h) {
  std::array<std::uint8_t, kReplyHeaderSize> raw{};
  WriteLE32(raw, kReplyOkOffset, h.ok);
  WriteLE32(raw, kReplyReturnedOffset, h.returned);
  WriteLE32(raw, kReplyOutSentOffset, h.out_sent);
  return raw;
}

// Fields that lie past the end of raw read as zero.
constexpr ReplyHeader DecodeReplyHeader(ByteSpan raw) {
  return ReplyHeader{GetLE32(raw, kReplyOkOffset), GetLE32(raw, kReplyReturnedOffset),
                     GetLE32(raw, kReplyOutSentOffset)};
}

static_assert(DecodeRequestHeader(EncodeRequestHeader({1, 2, 3, 4})).out_len == 4);
static_assert(EncodeReplyHeader({1, 0x0A0B0C0D, 0})[kReplyReturnedOffset] == 0x0D);
