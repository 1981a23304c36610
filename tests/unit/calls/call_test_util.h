// Frames of call traffic for the tracker and format tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "calls/call_tracker.h"

namespace calls::test {

using Octets = std::vector<std::uint8_t>;

inline constexpr std::uint64_t kSecond = 10000000;           // FILETIME ticks
inline constexpr std::uint64_t kStart = 134097147000000000;  // 2025-12-09T00:45:00Z

enum Type : std::uint8_t {
  kAlert = 0x01,
  kProceed = 0x02,
  kSetup = 0x05,
  kConnect = 0x07,
  kConnAck = 0x0F,
  kInfo = 0x7B,
  kDisc = 0x45,
  kRel = 0x4D,
  kRelComp = 0x5A,
};

inline Octets Cause(std::uint8_t value) {
  return {0x08, 0x02, 0x80, static_cast<std::uint8_t>(0x80 | value)};
}
inline Octets Channel(std::uint8_t octet) { return {0x18, 0x01, octet}; }
inline Octets Number(std::uint8_t id, const std::string& digits) {
  Octets e(digits.size() + 3);
  e[0] = id;
  e[1] = static_cast<std::uint8_t>(digits.size() + 1);
  e[2] = 0x81;
  for (std::size_t i = 0; i < digits.size(); ++i) e[i + 3] = static_cast<std::uint8_t>(digits[i]);
  return e;
}
inline Octets Speech() { return {0x04, 0x03, 0x80, 0x90, 0xA3}; }

// One message of a call: who sends it, on which TEI, the flag and the elements.
struct Step {
  Side from;
  std::uint8_t type;
  Octets elements = {};
  std::uint8_t tei = 64;
  std::uint16_t call_ref = 1;
  bool broadcast = false;  // a UI frame on TEI 127
  int flag = -1;           // the call reference flag; -1: set when the sender did not place the call
};

// The LAPD frame of a step: an I frame on its TEI (or a UI frame on TEI 127), the flag set when
// the sender is not the side that placed the call.
inline Octets FrameOf(const Step& s, Side placed_by) {
  // A network-side command carries C/R 1, a user-side one C/R 0.
  Octets f;
  f.reserve(16 + s.elements.size());
  const auto put = [&f](unsigned octet) { f.push_back(static_cast<std::uint8_t>(octet)); };
  put(s.from == Side::kNetwork ? 0x02 : 0x00);
  put(((s.broadcast ? 127u : s.tei) << 1) | 1u);
  if (s.broadcast) {
    put(0x03);
  } else {
    put(0x00);
    put(0x00);
  }
  const bool flag = s.flag >= 0 ? s.flag == 1 : s.from != placed_by;
  const unsigned flag_bit = flag ? 0x80 : 0;
  put(0x08);
  if (s.call_ref > 0x7F) {
    put(0x02);
    put(flag_bit | (s.call_ref >> 8));
    put(s.call_ref & 0xFF);
  } else {
    put(0x01);
    put(flag_bit | s.call_ref);
  }
  put(s.type);
  for (const std::uint8_t octet : s.elements) f.push_back(octet);
  return f;
}

// A link-layer frame: control octet as given, on SAPI 0 and the TEI.
inline Octets LinkFrame(std::uint8_t control, std::uint8_t tei = 64) {
  return {0x00, static_cast<std::uint8_t>((tei << 1) | 1), control};
}

// Feeds the steps one second apart and returns the calls in the order they ended (Finish included).
inline std::vector<Call> Track(const std::vector<Step>& steps, Side placed_by, TrackerOptions options = {},
                               const std::vector<std::pair<std::size_t, Octets>>& link_frames = {}) {
  std::vector<Call> ended;
  Tracker tracker(options, [&ended](Call&& c) { ended.push_back(std::move(c)); });
  std::uint64_t t = kStart;
  for (std::size_t i = 0; i <= steps.size(); ++i) {
    for (const auto& [at, octets] : link_frames) {
      if (at == i) tracker.Feed(Frame{"bri0", t, Side::kNetwork, octets});
    }
    if (i == steps.size()) break;
    const Octets f = FrameOf(steps[i], placed_by);
    tracker.Feed(Frame{"bri0", t, steps[i].from, f});
    t += kSecond;
  }
  tracker.Finish();
  return ended;
}

}  // namespace calls::test
