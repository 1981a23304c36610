#include "decode/frame_display.h"

#include <algorithm>
#include <atomic>

#include "common/console.h"
#include "decode/q921.h"
#include "decode/hex_text.h"
#include "decode/q931.h"
#include "decode/view_flags.h"

namespace {

constexpr std::size_t kNetworkIndent = 39;
constexpr char kSpaces[kNetworkIndent + 1] = "                                       ";
static_assert(sizeof kSpaces == kNetworkIndent + 1 && kSpaces[kNetworkIndent - 1] == ' ');

constexpr int kRawOctetsPerRow = 9;

bool ViewOn(const std::atomic<std::int32_t>& flag) { return flag.load(std::memory_order_relaxed) != 0; }

}  // namespace

std::int32_t ClampFrameLength(std::int32_t frameLength) {
  return std::clamp<std::int32_t>(frameLength, 0, static_cast<std::int32_t>(kFrameDataSize));
}

const char* Indentation(std::uint32_t direction) { return direction != 0 ? kSpaces : ""; }

void AppendFrameEndsEarly(std::string& text, const char* indent) {
  AppendF(text, "%s  Frame ends early\n", indent);
}

std::string FormatTimeStamp(std::uint32_t direction, const SystemTime& local, const char* lineName) {
  std::string text;
  AppendF(text, "\n%s%2.2d:%2.2d:%2.2d:%2.2d ", Indentation(direction), local.hour, local.minute,
          local.second, local.milliseconds);
  AppendF(text, "%s ", lineName != nullptr ? lineName : "");
  AppendF(text, "(%s)\n", direction != 0 ? "N" : "T");
  return text;
}

void ShowTimeStamp(std::uint32_t direction, std::uint64_t timeStamp, const char* lineName) {
  SystemTime local;
  // A time the system cannot convert shows as 00:00:00:00.
  if (!PlatFileTimeToLocal(timeStamp, &local)) local = SystemTime{};
  ConsoleWrite(FormatTimeStamp(direction, local, lineName));
}

std::string FormatRawFrame(std::uint32_t direction, ByteSpan frame) {
  const char* indent = Indentation(direction);
  std::string text;
  text.reserve(64 + frame.size() * 3 + (frame.size() / kRawOctetsPerRow + 1) * (kNetworkIndent + 3));
  AppendF(text, "%sRawFrame\n%s  ", indent, indent);
  int column = 0;
  for (const std::uint8_t octet : frame) {
    if (column == kRawOctetsPerRow) {
      text += '\n';
      text += indent;
      text += "  ";
      column = 0;
    }
    AppendHexOctet(text, octet, false);  // "%02x "
    text += ' ';
    ++column;
  }
  text += '\n';
  return text;
}

void ShowRawFrame(DecodeContext* context, const char* lineName, std::uint64_t timeStamp,
                  std::uint32_t direction, ByteSpan frame) {
  if (!ViewOn(ShowRaw)) return;
  if (context->stampShown == 0) {
    ShowTimeStamp(direction, timeStamp, lineName);
    context->stampShown = 1;
  }
  std::string text = FormatRawFrame(direction, frame);
  // The key may have switched the view off meanwhile.
  if (ViewOn(ShowRaw)) ConsoleWrite(text);
}

void DecodeTraceFrame(const char* lineName, TraceEntryBytes entry) {
  const ByteSpan record(entry);
  std::uint64_t timeStamp = 0;
  ReadLE64(record, kTimeStampOffset, &timeStamp);
  const std::uint32_t direction = GetLE32(record, kDirectionOffset);
  const std::int32_t frameLength =
      ClampFrameLength(static_cast<std::int32_t>(GetLE32(record, kFrameLengthOffset)));
  const ByteSpan frame = record.subspan(kFrameDataOffset, static_cast<std::size_t>(frameLength));

  DecodeContext context;
  context.stampShown = 0;
  context.timeStamp = timeStamp;
  context.remaining = frameLength;
  context.cursor = frame.data();
  context.frameLength = frameLength;

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

  ShowRawFrame(&context, lineName, timeStamp, direction, frame);

  const std::int32_t addressOctets = std::min<std::int32_t>(2, context.remaining);
  context.cursor += addressOctets;
  context.remaining -= addressOctets;

  ShowLapdFrame(&context, lineName, timeStamp, sapi, tei, direction, crLetter, context.remaining,
                context.cursor);
  if (context.remaining != 0) {
    ShowL3Frame(&context, lineName, timeStamp, sapi, direction, context.remaining, context.cursor);
  }
}
