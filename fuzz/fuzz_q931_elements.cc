// SPDX-License-Identifier: BSD-2-Clause
// Arbitrary bytes as a run of LAPD frames (each a length octet, then that many octets, the first
// bit of the length telling the side), through the element decoders and the call tracker.
//
// Each frame is copied to a heap block of exactly its size, so that AddressSanitizer reports any
// read past it; every value a decoder returns must point inside its element, and the tracker must
// keep no more calls open than its bound.
#include <cstdint>
#include <memory>

#include "calls/call_tracker.h"
#include "decode/q931_elements.h"
#include "fuzz_check.h"

namespace {

void CheckInside(std::string_view text, ByteSpan contents) {
  if (text.empty()) return;
  const auto* p = reinterpret_cast<const std::uint8_t*>(text.data());
  FUZZ_CHECK(p >= contents.data() && p + text.size() <= contents.data() + contents.size());
}

void DecodeEveryElement(ByteSpan message) {
  std::size_t body = 0;
  if (!q931::ReadHeader(message, &body)) return;
  FUZZ_CHECK(body <= message.size());
  q931::ElementReader reader(message.subspan(body));
  q931::Element e;
  std::size_t elements = 0;
  while (reader.Next(&e)) {
    FUZZ_CHECK(++elements <= message.size());
    if (e.single_octet) continue;
    const ByteSpan c = e.contents;
    FUZZ_CHECK(c.empty() ||
               (c.data() >= message.data() && c.data() + c.size() <= message.data() + message.size()));
    q931::DecodeBearerCapability(c);
    char buf[8];
    const std::string_view channel = q931::ChannelName(q931::DecodeChannelIdentification(c), buf, sizeof buf);
    FUZZ_CHECK(channel.size() < sizeof buf);
    CheckInside(q931::DecodePartyNumber(e.identifier, c).digits, c);
    CheckInside(q931::DecodePartyNumber(q931::kRedirectingNumber, c).digits, c);
    const q931::Cause cause = q931::DecodeCause(c);
    FUZZ_CHECK(cause.diagnostics.empty() ||
               cause.diagnostics.data() + cause.diagnostics.size() <= c.data() + c.size());
    q931::DecodeProgressIndicator(c);
    CheckInside(q931::DecodeDisplay(c).text, c);
    CheckInside(q931::DecodeKeypad(c).text, c);
    q931::DecodeSignal(c);
    q931::DecodeDateTime(c);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  calls::TrackerOptions options;
  options.max_open_calls = 8;
  options.keep_ladder = true;
  options.max_ladder_rows = 4;
  calls::Tracker tracker(options, [](calls::Call&& call) { FUZZ_CHECK(call.ladder.size() <= 4); });
  std::uint64_t time = 0;
  for (std::size_t pos = 0; pos < size;) {
    const std::uint8_t head = data[pos++];
    const std::size_t length = std::min<std::size_t>(head & 0x7F, size - pos);
    auto frame = std::make_unique<std::uint8_t[]>(length + 1);
    std::copy(data + pos, data + pos + length, frame.get());
    const ByteSpan octets(frame.get(), length);
    pos += length;
    if (length > 4) DecodeEveryElement(octets.subspan(4));
    tracker.Feed(calls::Frame{"l", time += 10000,
                              (head & 0x80) != 0 ? calls::Side::kNetwork : calls::Side::kUser, octets});
    FUZZ_CHECK(tracker.open_calls() <= options.max_open_calls);
  }
  tracker.Finish();
  FUZZ_CHECK(tracker.open_calls() == 0);
  return 0;
}
