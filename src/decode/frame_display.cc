#include "decode/frame_display.h"

#include <algorithm>
#include <atomic>

#include "decode/hex_text.h"
#include "decode/q921.h"
#include "decode/q931.h"

namespace {

constexpr std::size_t kRawOctetsPerRow = 9;

constexpr std::uint64_t kFileTimeUnitsPerSecond = 10000000;  // 100 ns units
constexpr std::uint64_t kFileTimeUnitsPerMillisecond = 10000;
// FILETIME values with the top bit set are no time at all.
constexpr std::uint64_t kMaxFileTime = 0x7FFFFFFFFFFFFFFFULL;

// Bumped by ForgetLocalTimes: what was converted before belongs to another zone.
std::atomic<std::uint32_t> LocalZoneGeneration{0};

// One second of capture time as local time, "HH:MM:SS:". Frames come in capture-time order, many
// to a second, and the conversion to local time is what costs: it is done once per second.
struct LocalSecond {
  bool known = false;
  LocalTimeConversion convert = nullptr;  // the conversion that gave it
  std::uint32_t generation = 0;
  std::uint64_t second = 0;  // FILETIME / kFileTimeUnitsPerSecond
  bool converted = false;    // false: the system could not convert this second
  char clock[9] = {};
};

// The local time of the second that holds timeStamp, converted when this thread last converted
// another second or with another conversion (each thread keeps its own).
const LocalSecond& LocalSecondOf(std::uint64_t timeStamp, LocalTimeConversion convert) {
  thread_local LocalSecond cache;
  const std::uint64_t second = timeStamp / kFileTimeUnitsPerSecond;
  const std::uint32_t generation = LocalZoneGeneration.load(std::memory_order_relaxed);
  if (cache.known && cache.convert == convert && cache.second == second && cache.generation == generation) {
    return cache;
  }
  cache.known = true;
  cache.convert = convert;
  cache.second = second;
  cache.generation = generation;
  SystemTime local;
  cache.converted = convert != nullptr && convert(second * kFileTimeUnitsPerSecond, &local);
  std::string clock;
  for (const std::uint16_t field : {local.hour, local.minute, local.second}) {
    AppendDecimal(clock, field, 2);
    clock += ':';
  }
  if (clock.size() != sizeof cache.clock) cache.converted = false;  // not a time of day
  if (cache.converted) std::copy(clock.begin(), clock.end(), cache.clock);
  return cache;
}

// Where the text of a view that is off goes: it is decoded all the same and then dropped.
std::string& DiscardedText() {
  thread_local std::string text;
  text.clear();
  return text;
}

// The time-stamp rule: the first view shown for a frame puts the time-stamp line above its text.
void ShowTimeStampOnce(DecodeContext* context, std::string& out, std::uint32_t direction,
                       const char* lineName) {
  if (context->stampShown != 0) return;
  AppendTimeStamp(out, direction, context->timeStamp, lineName, context->localTime);
  context->stampShown = 1;
}

// The raw view of the whole frame, when shown. Consumes nothing.
void ShowRawFrame(DecodeContext* context, std::string& out, bool shown, const char* lineName,
                  std::uint32_t direction, ByteSpan frame) {
  if (!shown) return;
  ShowTimeStampOnce(context, out, direction, lineName);
  AppendRawFrame(out, direction, frame);
}

// The Q.921 view: always decodes and consumes; its text goes to out only when shown.
void ShowLapdFrame(DecodeContext* context, std::string& out, bool shown, const char* lineName,
                   std::uint8_t sapi, std::uint8_t tei, std::uint32_t direction, char crLetter) {
  if (shown) ShowTimeStampOnce(context, out, direction, lineName);
  AppendLapdFrame(shown ? out : DiscardedText(), context->frameLength >= 2, sapi, tei, direction, crLetter,
                  context->remaining, context->cursor);
}

// The Q.931 view: always decodes and consumes; its text goes to out only when shown.
void ShowL3Frame(DecodeContext* context, std::string& out, bool shown, const char* lineName,
                 std::uint8_t sapi, std::uint32_t direction) {
  if (shown) ShowTimeStampOnce(context, out, direction, lineName);
  AppendL3Frame(shown ? out : DiscardedText(), sapi, direction, context->remaining, context->cursor);
}

template <typename ViewOn>
void DecodeTraceFrame(std::string& out, const char* lineName, TraceEntryBytes entry, ViewOn viewOn,
                      LocalTimeConversion localTime) {
  const ByteSpan record(entry);
  std::uint64_t timeStamp = 0;
  ReadLE64(record, kTimeStampOffset, &timeStamp);
  const std::uint32_t direction = GetLE32(record, kDirectionOffset);
  const std::int32_t frameLength =
      ClampFrameLength(static_cast<std::int32_t>(GetLE32(record, kFrameLengthOffset)));
  const ByteSpan frame = record.subspan(kFrameDataOffset, static_cast<std::size_t>(frameLength));
  if (lineName == nullptr) lineName = "";

  DecodeContext context;
  context.stampShown = 0;
  context.timeStamp = timeStamp;
  context.remaining = frameLength;
  context.cursor = frame.data();
  context.frameLength = frameLength;
  context.localTime = localTime;

  // The LAPD address is always two octets; its EA bits are not looked at.
  std::uint8_t a1 = 0;
  std::uint8_t a2 = 0;
  ReadU8(frame, 0, &a1);
  ReadU8(frame, 1, &a2);
  const auto sapi = static_cast<std::uint8_t>(a1 >> 2);
  const auto tei = static_cast<std::uint8_t>(a2 >> 1);
  // Commands carry C/R 0 from the user side and C/R 1 from the network side.
  const std::uint32_t crBit = (a1 >> 1) & 1U;
  const char crLetter = crBit == (direction & 1U) ? 'C' : 'R';

  ShowRawFrame(&context, out, viewOn(TraceView::kRaw), lineName, direction, frame);

  const std::int32_t addressOctets = std::min<std::int32_t>(2, context.remaining);
  context.cursor += addressOctets;
  context.remaining -= addressOctets;

  ShowLapdFrame(&context, out, viewOn(TraceView::kL2), lineName, sapi, tei, direction, crLetter);
  if (context.remaining != 0) ShowL3Frame(&context, out, viewOn(TraceView::kL3), lineName, sapi, direction);
}

}  // namespace

void AppendTimeStamp(std::string& out, std::uint32_t direction, std::uint64_t timeStamp, const char* lineName,
                     LocalTimeConversion localTime) {
  out += '\n';  // "\n%s%2.2d:%2.2d:%2.2d:%2.2d %s (%s)\n"
  out += Indentation(direction);
  // A time the system cannot convert shows as 00:00:00:00.
  const LocalSecond* local = timeStamp <= kMaxFileTime ? &LocalSecondOf(timeStamp, localTime) : nullptr;
  if (local != nullptr && local->converted) {
    out.append(local->clock, sizeof local->clock);
    AppendDecimal(out, static_cast<std::uint32_t>((timeStamp / kFileTimeUnitsPerMillisecond) % 1000), 2);
  } else {
    out += "00:00:00:00";
  }
  out += ' ';
  out += lineName != nullptr ? lineName : "";
  out += direction != 0 ? " (N)\n" : " (T)\n";
}

void ForgetLocalTimes() { LocalZoneGeneration.fetch_add(1, std::memory_order_relaxed); }

std::string FormatTimeStamp(std::uint32_t direction, std::uint64_t timeStamp, const char* lineName,
                            LocalTimeConversion localTime) {
  std::string text;
  AppendTimeStamp(text, direction, timeStamp, lineName, localTime);
  return text;
}

void AppendRawFrame(std::string& text, std::uint32_t direction, ByteSpan frame) {
  const std::string_view indent = Indentation(direction);
  text += indent;  // "%sRawFrame\n%s  "
  text += "RawFrame\n";
  text += indent;
  text += "  ";
  AppendOctetRows(text, frame, kRawOctetsPerRow, indent, 2, false);  // "%02x "
  text += '\n';
}

std::string FormatRawFrame(std::uint32_t direction, ByteSpan frame) {
  std::string text;
  AppendRawFrame(text, direction, frame);
  return text;
}

void FormatTraceFrame(std::string& out, const char* lineName, TraceEntryBytes entry, ViewSwitches views,
                      LocalTimeConversion localTime) {
  const auto viewOn = [views](TraceView view) {
    switch (view) {
      case TraceView::kRaw:
        return views.raw;
      case TraceView::kL2:
        return views.l2;
      case TraceView::kL3:
        return views.l3;
    }
    return false;
  };
  DecodeTraceFrame(out, lineName, entry, viewOn, localTime);
}

void FormatTraceFrame(std::string& out, const char* lineName, TraceEntryBytes entry, ViewSwitchReader viewOn,
                      LocalTimeConversion localTime) {
  DecodeTraceFrame(out, lineName, entry, viewOn, localTime);
}
