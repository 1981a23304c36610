// SPDX-License-Identifier: BSD-2-Clause
// Helpers of the decode tests: building trace entries, switching views, capturing output.
#pragma once

#include <array>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "base/bytes.h"
#include "decode/frame_display.h"
#include "decode/trace_entry.h"
#include "decode/trace_entry_codec.h"
#include "platform/platform.h"

namespace decode_test {

using Entry = std::array<std::uint8_t, kTraceEntrySize>;

// Sets the local time zone of the process (POSIX TZ form), which the time-stamp line shows.
inline void UseTimeZone(const char* tz) {
#if defined(_WIN32)
  _putenv_s("TZ", tz);
  _tzset();
#else
  setenv("TZ", tz, 1);
  tzset();
#endif
  ForgetLocalTimes();
}

inline void UseUtc() { UseTimeZone("UTC0"); }

// 2024-01-02 03:04:05 UTC as a FILETIME, plus the given milliseconds.
inline std::uint64_t FileTimeAt(unsigned milliseconds) {
  constexpr std::uint64_t kUnixEpoch = 116444736000000000ULL;  // 1970-01-01 in 100 ns units
  constexpr std::uint64_t kSeconds = 1704164645ULL;            // 2024-01-02 03:04:05 UTC
  return kUnixEpoch + kSeconds * 10000000ULL + milliseconds * 10000ULL;
}

// An entry holding the frame octets; FrameLength is their count unless given.
inline Entry MakeEntry(std::uint32_t direction, const std::vector<std::uint8_t>& frame,
                       std::optional<std::int32_t> frameLength = std::nullopt,
                       std::uint64_t fileTime = FileTimeAt(7)) {
  Entry entry{};
  WriteTraceEntry(entry, fileTime, direction, frame, frameLength);
  return entry;
}

// The views that Decode shows: none unless a Views object says otherwise.
inline ViewSwitches& CurrentViews() {
  static ViewSwitches views{false, false, false};
  return views;
}

// Sets the three views for one test and switches them off afterwards.
class Views {
 public:
  Views(bool raw, bool l2, bool l3) { CurrentViews() = ViewSwitches{raw, l2, l3}; }
  ~Views() { CurrentViews() = ViewSwitches{false, false, false}; }
  Views(const Views&) = delete;
  Views& operator=(const Views&) = delete;
};

// Everything the frame display shows for the entry.
inline std::string Decode(const Entry& entry, const char* lineName = "LINE1") {
  std::string text;
  FormatTraceFrame(text, lineName, TraceEntryBytes(entry), CurrentViews(), PlatFileTimeToLocal);
  return text;
}

// The 39 spaces that start every line of a network-side frame.
inline const std::string kNet(39, ' ');

}  // namespace decode_test
