// Everything printed for one captured frame: time-stamp line, raw view, Q.921 view, Q.931 view.
//
// Each view formats its whole text first (the Format* functions, usable without a console) and
// then hands it to the console as one write when its view flag is on. A view whose flag is off
// still decodes and consumes its octets, so the next view starts at the right place.
#pragma once

#include <cstdint>
#include <string>

#include "common/bytes.h"
#include "decode/trace_entry.h"
#include "platform/platform.h"

// Decodes one trace entry of the named line and prints the views whose flags are on, each view as
// one console write. Never reads outside the entry, whatever its FrameLength says.
void DecodeTraceFrame(const char* lineName, TraceEntryBytes entry);

// Per-frame state handed from DecodeTraceFrame to the views; lives for one frame.
struct DecodeContext {
  std::int32_t stampShown = 0;           // 1 once a view has printed the frame's time-stamp line
  std::uint64_t timeStamp = 0;           // capture time, FILETIME
  std::int32_t remaining = 0;            // octets of the frame not yet consumed
  const std::uint8_t* cursor = nullptr;  // next unconsumed octet
  std::int32_t frameLength = 0;          // octets of the frame, FrameLength limited to 0..260
};

// FrameLength as the decoders use it: negative counts as 0, more than FrameData holds as 260.
std::int32_t ClampFrameLength(std::int32_t frameLength);

// What starts every line of a view: nothing for a user-side frame (direction 0), 39 spaces for a
// network-side frame, so that the two directions stand in two columns.
const char* Indentation(std::uint32_t direction);

// The line a view shows where the frame ends before a field that the view needs; the view
// then consumes the rest of the frame.
void AppendFrameEndsEarly(std::string& text, const char* indent);

// The time-stamp line: an empty line, then "HH:MM:SS:mmm <line name> (T)" or "(N)".
std::string FormatTimeStamp(std::uint32_t direction, const SystemTime& local, const char* lineName);

// Prints the time-stamp line, the capture time shown as local time.
void ShowTimeStamp(std::uint32_t direction, std::uint64_t timeStamp, const char* lineName);

// The raw view: the heading RawFrame, then every octet of the frame in rows of nine.
std::string FormatRawFrame(std::uint32_t direction, ByteSpan frame);

// Prints the raw view of the whole frame when ShowRaw is on (the time-stamp line first, if no
// view has printed it yet). Consumes nothing.
void ShowRawFrame(DecodeContext* context, const char* lineName, std::uint64_t timeStamp,
                  std::uint32_t direction, ByteSpan frame);
