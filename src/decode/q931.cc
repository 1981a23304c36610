#include "decode/q931.h"

#include <algorithm>
#include <cstddef>

#include "base/bytes.h"
#include "decode/hex_text.h"
#include "decode/q931_names.h"

namespace {

constexpr std::uint8_t kQ931Discriminator = 0x08;
constexpr std::uint8_t kCauseIdentifier = 0x08;
constexpr std::size_t kContentOctetsPerRow = 5;
constexpr int kNotQ931OctetsFirstRow = 10;

// The start of an element line: the name in brackets, ten columns wide, and the identifier.
void AppendElementName(std::string& text, std::string_view indent, const char* name,
                       std::uint8_t identifier) {
  text += indent;
  text += "  [";
  AppendPadded(text, name, 10);
  text += "] ";
  AppendHexOctet(text, identifier, true);
}

// Content octets as " xx", five to a row; each further row starts with the indentation and 22
// spaces, so that its octets stand under those of the element line.
void AppendContentRows(std::string& text, std::string_view indent, ByteSpan octets) {
  AppendOctetRows(text, octets, kContentOctetsPerRow, indent, 22, true);  // " %2.2x"
}

// The detail of a Cause element: location, class and cause value as text, then the diagnostics,
// then a newline (an empty line when there are no diagnostics). contents are the element's
// content octets that the frame holds, at most length of them.
//
// Bit 8 of the location octet marks it as the last octet of its group. When the bit is 0 the
// optional recommendation octet follows, and the cause value octet comes after that.
//
// A field beyond the element's length shows "Cause ends early" in place of the missing lines.
// A field beyond the end of the frame ends the detail at once; the caller then says that the
// frame ends early.
void AppendCauseDetail(std::string& text, std::string_view indent, std::size_t length, ByteSpan contents) {
  const auto causeEndsEarly = [&] {
    text += indent;
    text += "    Cause ends early\n\n";
  };
  const auto detailLine = [&](const char* name) {  // "%s    %s\n"
    text += indent;
    text += "    ";
    text += name;
    text += '\n';
  };

  if (length < 1) return causeEndsEarly();
  std::uint8_t location = 0;
  if (!ReadU8(contents, 0, &location)) return;
  detailLine(GetGeneralLocation(static_cast<std::uint8_t>(location & 0x0F)));

  const std::size_t causeIndex = (location & 0x80) != 0 ? 1 : 2;
  if (length <= causeIndex) return causeEndsEarly();
  std::uint8_t cause = 0;
  if (!ReadU8(contents, causeIndex, &cause)) return;
  detailLine(GetCauseClass(static_cast<std::uint8_t>((cause & 0x70) >> 4)));
  detailLine(GetCauseValueInClass(static_cast<std::uint8_t>(cause & 0x7F)));

  const std::size_t firstDiagnostic = causeIndex + 1;
  if (length > firstDiagnostic) {
    // This line starts at the left margin, for network-side frames too.
    text += "Diagnostics: ";
    AppendContentRows(text, indent, contents.subspan(std::min(firstDiagnostic, contents.size())));
  }
  text += '\n';
}

// An information field that is not Q.931, in hex: ten octets in the first row, nine in each
// further row.
void AppendNotQ931(std::string& text, std::string_view indent, ByteSpan octets) {
  text += indent;
  text += "Not Q931!\n";
  text += indent;
  text += "  ";
  int column = 0;
  for (const std::uint8_t octet : octets) {
    text += "0x";  // "0x%02X "
    AppendHexOctet(text, octet, true);
    text += ' ';
    if (column == kNotQ931OctetsFirstRow - 1) {
      text += '\n';
      text += indent;
      text += "  ";
      column = 0;
    }
    ++column;
  }
}

// The message header behind the protocol discriminator.
struct MessageHeader {
  std::uint16_t callReference = 0;
  bool callReferenceFlag = false;
  std::uint16_t messageType = 0;  // the type octet, or 0x8000 + the octet after an escape
};

// Reads the call reference length n, the n call reference octets and the message type, starting
// at pos and leaving pos behind them. False when the message ends inside the header.
bool ReadHeader(ByteSpan message, std::size_t& pos, MessageHeader& header) {
  std::uint8_t lengthOctet = 0;
  if (!ReadU8(message, pos++, &lengthOctet)) return false;
  const std::size_t n = lengthOctet & 0x0FU;
  for (std::size_t i = 0; i < n; ++i) {
    std::uint8_t octet = 0;
    if (!ReadU8(message, pos++, &octet)) return false;
    if (i == 0) {
      // Bit 8 of the first octet is the flag, not part of the value.
      header.callReferenceFlag = (octet & 0x80) != 0;
      header.callReference = static_cast<std::uint16_t>(octet & 0x7F);
    } else {
      // A call reference longer than two octets keeps its last two.
      header.callReference = static_cast<std::uint16_t>((header.callReference << 8) + octet);
    }
  }
  std::uint8_t type = 0;
  if (!ReadU8(message, pos++, &type)) return false;
  header.messageType = type;
  if (type == 0) {  // the escape: the type is in the next octet
    if (!ReadU8(message, pos++, &type)) return false;
    header.messageType = static_cast<std::uint16_t>(0x8000 + type);
  }
  return true;
}

// Appends one line per information element from pos to the end of the message. False when the
// message ends inside an element.
//
// A locking shift (0x90-0x97) changes the codeset for the rest of the message; a non-locking shift
// (0x98-0x9F) names only the element right after it in its codeset. A shift octet is itself named
// in the codeset active before it.
bool AppendElements(std::string& text, std::string_view indent, ByteSpan message, std::size_t pos) {
  std::int32_t lockedCodeset = 0;
  std::int32_t nextCodeset = -1;  // codeset of the next element only, after a non-locking shift
  while (pos < message.size()) {
    const std::uint8_t identifier = message[pos];
    const std::int32_t codeset = nextCodeset >= 0 ? nextCodeset : lockedCodeset;
    nextCodeset = -1;

    if ((identifier & 0x80) != 0) {  // single-octet element
      AppendElementName(text, indent, GetElementName(identifier, codeset), identifier);
      text += '\n';  // "%s  [%-10.10s] %2.2X\n"
      if ((identifier & 0xF0) == 0x90) {
        if ((identifier & 0x08) != 0) {
          nextCodeset = identifier & 0x07;
        } else {
          lockedCodeset = identifier & 0x07;
        }
      }
      ++pos;
      continue;
    }

    std::uint8_t length = 0;
    if (!ReadU8(message, pos + 1, &length)) return false;
    AppendElementName(text, indent, GetElementName(identifier, codeset), identifier);
    text += " (";  // "%s  [%-10.10s] %2.02X (%2.02X)"
    AppendHexOctet(text, length, true);
    text += ')';
    const std::size_t contentStart = pos + 2;
    const ByteSpan contents =
        message.subspan(contentStart, std::min<std::size_t>(length, message.size() - contentStart));
    AppendContentRows(text, indent, contents);
    text += '\n';
    if (identifier == kCauseIdentifier) AppendCauseDetail(text, indent, length, contents);
    if (contents.size() < length) return false;
    pos = contentStart + length;
  }
  return true;
}

}  // namespace

void AppendL3Frame(std::string& text, std::uint8_t sapi, std::uint32_t direction, std::int32_t& remaining,
                   const std::uint8_t*& cursor) {
  std::string_view indent = Indentation(direction);
  const ByteSpan message(cursor, static_cast<std::size_t>(remaining > 0 ? remaining : 0));
  text += indent;
  text += "Q.931 Decode\n";

  std::uint8_t discriminator = 0;
  if (sapi != 0 || !ReadU8(message, 0, &discriminator) || discriminator != kQ931Discriminator) {
    AppendNotQ931(text, indent, message);
    text += '\n';
    remaining = 0;
    return;
  }

  std::size_t pos = 1;
  MessageHeader header;
  bool complete = ReadHeader(message, pos, header);
  if (complete) {
    text += indent;  // "%s  Crv=%3.3d(%c) %s\n"
    text += "  Crv=";
    AppendDecimal(text, header.callReference, 3);
    text += '(';
    text += header.callReferenceFlag ? 'O' : 'T';
    text += ") ";
    text += GetMessageTypeName(header.messageType);
    text += '\n';
    complete = AppendElements(text, indent, message, pos);
  }
  if (!complete) AppendFrameEndsEarly(text, indent);
  text += '\n';  // the view ends with an empty line
  cursor += message.size();
  remaining = 0;
}

std::string FormatL3Frame(std::uint8_t sapi, std::uint32_t direction, std::int32_t& remaining,
                          const std::uint8_t*& cursor) {
  std::string text;
  AppendL3Frame(text, sapi, direction, remaining, cursor);
  return text;
}
