// SPDX-License-Identifier: BSD-2-Clause
// Everything shown for one captured frame: time-stamp line, raw view, Q.921 view, Q.931 view.
//
// The frame display formats into text that its caller owns and writes nowhere itself: the trace
// tool hands the text to the console, the benchmarks, the fuzzer and the tests look at it. Which
// views are shown is the caller's word, passed in, and so is the conversion of capture times to
// local time (the system's, PlatFileTimeToLocal for the tools); a view that is off still decodes
// and consumes its octets, so the next view starts at the right place.
#pragma once

#include <cstdint>
#include <string>

#include "base/bytes.h"
#include "base/system_time.h"
#include "decode/trace_entry.h"
#include "decode/view_text.h"

// Which of the three views are shown.
struct ViewSwitches {
  bool raw = true;
  bool l2 = true;
  bool l3 = true;
};

// Appends everything shown for one trace entry of the named line to out (the caller owns it).
// Never reads outside the entry, whatever its FrameLength says. The capture time is shown as
// localTime converts it.
void FormatTraceFrame(std::string& out, const char* lineName, TraceEntryBytes entry, ViewSwitches views,
                      LocalTimeConversion localTime);

// The three views, in the order they are shown.
enum class TraceView { kRaw, kL2, kL3 };

// Asked once for each view of a frame, just before the view is shown: whether it is on. For
// switches that may change while a frame is being shown (a key of the trace tool).
using ViewSwitchReader = bool (*)(TraceView view);

// FormatTraceFrame with each view's switch read once, when that view's turn comes.
void FormatTraceFrame(std::string& out, const char* lineName, TraceEntryBytes entry, ViewSwitchReader viewOn,
                      LocalTimeConversion localTime);

// Per-frame state handed from one view to the next; lives for one frame.
struct DecodeContext {
  std::int32_t stampShown = 0;              // 1 once a view has shown the frame's time-stamp line
  std::uint64_t timeStamp = 0;              // capture time, FILETIME
  std::int32_t remaining = 0;               // octets of the frame not yet consumed
  const std::uint8_t* cursor = nullptr;     // next unconsumed octet
  std::int32_t frameLength = 0;             // octets of the frame, FrameLength limited to 0..260
  LocalTimeConversion localTime = nullptr;  // for the time-stamp line
};

// Appends the time-stamp line: an empty line, then "HH:MM:SS:mmm <line name> (T)" or "(N)", the
// capture time (a FILETIME) shown as local time as localTime converts it; a time it cannot
// convert as zeros.
void AppendTimeStamp(std::string& out, std::uint32_t direction, std::uint64_t timeStamp, const char* lineName,
                     LocalTimeConversion localTime);

// The time-stamp lines convert the capture time to local time once per second of capture time
// and keep the result for the other frames of that second. Whoever changes the local time zone
// while frames are shown calls this, so that the next line converts afresh.
void ForgetLocalTimes();

// The time-stamp line as a string of its own.
std::string FormatTimeStamp(std::uint32_t direction, std::uint64_t timeStamp, const char* lineName,
                            LocalTimeConversion localTime);

// Appends the raw view: the heading RawFrame, then every octet of the frame in rows of nine.
void AppendRawFrame(std::string& out, std::uint32_t direction, ByteSpan frame);

// The raw view as a string of its own.
std::string FormatRawFrame(std::uint32_t direction, ByteSpan frame);
