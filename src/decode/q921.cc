#include "decode/q921.h"

#include <array>
#include <cstddef>
#include <cstdio>

#include "common/bytes.h"
#include "common/console.h"

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

}  // namespace

const char* UFrameName(std::uint16_t key) {
  static std::array<char, 32> RetBuffer;
  for (const FrameName& entry : kUFrameNames) {
    if (entry.key == key) return entry.name;
  }
  std::snprintf(RetBuffer.data(), RetBuffer.size(), "U-%2.2X", static_cast<unsigned>(key));
  return RetBuffer.data();
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
  const char* indent = Indentation(direction);
  const ByteSpan rest(cursor, static_cast<std::size_t>(remaining > 0 ? remaining : 0));
  AppendF(text, "%sQ.921 Decode\n", indent);

  std::size_t consumed = 0;
  bool endsEarly = !addressComplete;
  if (addressComplete) {
    AppendF(text, "%s  Sapi: %2.2d Tei: %3.3d C/R: %c\n", indent, sapi, tei, crLetter);

    std::uint8_t c1 = 0;
    std::uint8_t c2 = 0;
    if (!ReadU8(rest, 0, &c1)) {
      endsEarly = true;
    } else if ((c1 & 0x01) == 0) {
      if (ReadU8(rest, 1, &c2)) {
        AppendF(text, "%s  I Frame P/F: %c Ns: %3.3d Nr: %3.3d\n", indent, PollFinal((c2 & 0x01) != 0),
                c1 >> 1, c2 >> 1);
        consumed = 2;
      } else {
        endsEarly = true;
      }
    } else if ((c1 & 0x03) == 0x01) {
      if (ReadU8(rest, 1, &c2)) {
        AppendF(text, "%s  %-5.5s P/F: %c Nr: %3.3d\n", indent, SFrameNames[(c1 >> 2) & 0x03],
                PollFinal((c2 & 0x01) != 0), c2 >> 1);
        consumed = 2;
      } else {
        endsEarly = true;
      }
    } else {
      AppendF(text, "%s  %-5.5s P/F: %c\n", indent, UFrameName(c1 & 0xEF), PollFinal((c1 & 0x10) != 0));
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
        AppendF(text, "%s  %-10.10s Ri: %5.5u Ai: %3.3u\n", indent, MdlFrameName(m[3]), ri, ai);
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
