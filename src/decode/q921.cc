#include "decode/q921.h"

#include <array>
#include <cstddef>

#include "base/bytes.h"
#include "decode/hex_text.h"

namespace {

struct FrameName {
  std::uint16_t key;
  const char* name;
};

// S frames by bits 2-3 of the first control octet.
constexpr std::array<const char*, 4> SFrameNames = {"RR", "RNR", "REJ", "?"};

// U frames by the control octet with the P/F bit (0x10) cleared.
constexpr auto kUFrameNames = std::to_array<FrameName>({
    {0x03, "UI"},
    {0x0F, "DM"},
    {0x43, "DISC"},
    {0x63, "UA"},
    {0x6F, "SABME"},
    {0x87, "FRMR"},
    {0xAF, "XID"},
});

// TEI management messages by their message type octet.
constexpr auto kMdlFrameNames = std::to_array<FrameName>({
    {1, "Id Req"},
    {2, "Id Assign"},
    {3, "Id Denied"},
    {4, "Id Chk Req"},
    {5, "Id Chk Rsp"},
    {6, "Id Remove"},
});

constexpr std::uint8_t kTeiManagementSapi = 63;
constexpr std::uint8_t kTeiManagementEntity = 0x0F;
constexpr std::size_t kTeiManagementOctets = 5;

char PollFinal(bool bit) { return bit ? 'F' : 'P'; }

// The start of an S or U frame line: the name in five columns and the P/F letter.
void AppendFrameName(std::string& text, std::string_view indent, const char* name, char pollFinal) {
  text += indent;
  text += "  ";
  AppendPadded(text, name, 5);
  text += " P/F: ";
  text += pollFinal;
}

}  // namespace

const char* UFrameName(std::uint16_t key) {
  static NameBuffer RetBuffer;
  for (const FrameName& entry : kUFrameNames) {
    if (entry.key == key) return entry.name;
  }
  return HexFallbackName(RetBuffer, "U-", key, 2);
}

const char* MdlFrameName(std::uint16_t messageType) {
  for (const FrameName& entry : kMdlFrameNames) {
    if (entry.key == messageType) return entry.name;
  }
  return "<mdl-?}";
}

void AppendLapdFrame(std::string& text, bool addressComplete, std::uint8_t sapi, std::uint8_t tei,
                     std::uint32_t direction, char crLetter, std::int32_t& remaining,
                     const std::uint8_t*& cursor) {
  const std::string_view indent = Indentation(direction);
  const ByteSpan rest(cursor, static_cast<std::size_t>(remaining > 0 ? remaining : 0));
  text += indent;
  text += "Q.921 Decode\n";

  std::size_t consumed = 0;
  bool endsEarly = !addressComplete;
  if (addressComplete) {
    text += indent;  // "%s  Sapi: %2.2d Tei: %3.3d C/R: %c\n"
    text += "  Sapi: ";
    AppendDecimal(text, sapi, 2);
    text += " Tei: ";
    AppendDecimal(text, tei, 3);
    text += " C/R: ";
    text += crLetter;
    text += '\n';

    std::uint8_t c1 = 0;
    std::uint8_t c2 = 0;
    if (!ReadU8(rest, 0, &c1)) {
      endsEarly = true;
    } else if ((c1 & 0x01) == 0) {
      if (ReadU8(rest, 1, &c2)) {
        text += indent;  // "%s  I Frame P/F: %c Ns: %3.3d Nr: %3.3d\n"
        text += "  I Frame P/F: ";
        text += PollFinal((c2 & 0x01) != 0);
        text += " Ns: ";
        AppendDecimal(text, c1 >> 1, 3);
        text += " Nr: ";
        AppendDecimal(text, c2 >> 1, 3);
        text += '\n';
        consumed = 2;
      } else {
        endsEarly = true;
      }
    } else if ((c1 & 0x03) == 0x01) {
      if (ReadU8(rest, 1, &c2)) {
        AppendFrameName(text, indent, SFrameNames[(c1 >> 2) & 0x03], PollFinal((c2 & 0x01) != 0));
        text += " Nr: ";  // "%s  %-5.5s P/F: %c Nr: %3.3d\n"
        AppendDecimal(text, c2 >> 1, 3);
        text += '\n';
        consumed = 2;
      } else {
        endsEarly = true;
      }
    } else {
      AppendFrameName(text, indent, UFrameName(c1 & 0xEF), PollFinal((c1 & 0x10) != 0));
      text += '\n';  // "%s  %-5.5s P/F: %c\n"
      consumed = 1;
    }

    // TEI management follows the control field on the management SAPI, whatever the frame type.
    std::uint8_t entity = 0;
    if (!endsEarly && sapi == kTeiManagementSapi && ReadU8(rest, consumed, &entity) &&
        entity == kTeiManagementEntity) {
      if (InBounds(rest.size(), consumed, kTeiManagementOctets)) {
        const ByteSpan m = rest.subspan(consumed, kTeiManagementOctets);
        const unsigned ri = static_cast<unsigned>(m[1]) * 256U + m[2];
        const unsigned ai = static_cast<unsigned>(m[4]) >> 1;
        text += indent;  // "%s  %-10.10s Ri: %5.5u Ai: %3.3u\n"
        text += "  ";
        AppendPadded(text, MdlFrameName(m[3]), 10);
        text += " Ri: ";
        AppendDecimal(text, ri, 5);
        text += " Ai: ";
        AppendDecimal(text, ai, 3);
        text += '\n';
        consumed += kTeiManagementOctets;
      } else {
        endsEarly = true;
      }
    }
  }

  if (endsEarly) {
    AppendFrameEndsEarly(text, indent);
    consumed = rest.size();
  }
  cursor += consumed;
  remaining = static_cast<std::int32_t>(rest.size() - consumed);
}

std::string FormatLapdFrame(bool addressComplete, std::uint8_t sapi, std::uint8_t tei,
                            std::uint32_t direction, char crLetter, std::int32_t& remaining,
                            const std::uint8_t*& cursor) {
  std::string text;
  AppendLapdFrame(text, addressComplete, sapi, tei, direction, crLetter, remaining, cursor);
  return text;
}
