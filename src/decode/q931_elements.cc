#include "decode/q931_elements.h"

#include <array>
#include <cstdio>

namespace q931 {
namespace {

constexpr std::uint8_t kExtension = 0x80;  // bit 8: the last octet of its group

// Value tables: a value and its text.
struct Name {
  std::uint8_t value;
  const char* text;
};

template <std::size_t N>
const char* Lookup(const std::array<Name, N>& table, std::uint8_t value) {
  for (const Name& row : table) {
    if (row.value == value) return row.text;
  }
  return nullptr;
}

constexpr std::array<Name, 6> kTransferCapabilities{{
    {0x00, "speech"},
    {0x08, "unrestricted digital"},
    {0x09, "restricted digital"},
    {0x10, "3.1kHz audio"},
    {0x11, "7kHz audio"},
    {0x18, "video"},
}};

constexpr std::array<Name, 2> kTransferModes{{{0x00, "circuit"}, {0x02, "packet"}}};

constexpr std::array<Name, 7> kTransferRates{{
    {0x00, "packet"},
    {0x10, "64kbit/s"},
    {0x11, "2x64kbit/s"},
    {0x13, "384kbit/s"},
    {0x15, "1536kbit/s"},
    {0x17, "1920kbit/s"},
    {0x18, "multirate"},
}};

constexpr std::array<Name, 9> kLayer1Protocols{{
    {0x01, "V.110"},
    {0x02, "G.711 mu-law"},
    {0x03, "G.711 A-law"},
    {0x04, "G.721"},
    {0x05, "H.221/H.242"},
    {0x06, "H.223/H.245"},
    {0x07, "non-ITU-T"},
    {0x08, "V.120"},
    {0x09, "X.31"},
}};

constexpr std::array<Name, 7> kTypesOfNumber{{
    {0, "unknown"},
    {1, "international"},
    {2, "national"},
    {3, "network specific"},
    {4, "subscriber"},
    {6, "abbreviated"},
    {7, "reserved"},
}};

constexpr std::array<Name, 6> kNumberingPlans{{
    {0x0, "unknown"},
    {0x1, "ISDN/telephony"},
    {0x3, "data"},
    {0x4, "telex"},
    {0x8, "national"},
    {0x9, "private"},
}};

constexpr std::array<Name, 4> kPresentations{{
    {0, "allowed"},
    {1, "restricted"},
    {2, "not available"},
    {3, "reserved"},
}};

constexpr std::array<Name, 6> kProgressDescriptions{{
    {0x01, "call is not end-to-end ISDN"},
    {0x02, "destination address is non-ISDN"},
    {0x03, "origination address is non-ISDN"},
    {0x04, "call has returned to the ISDN"},
    {0x08, "in-band information available"},
    {0x0A, "delay in response at destination"},
}};

constexpr std::array<Name, 13> kSignals{{
    {0x00, "dial tone on"},
    {0x01, "ring back tone on"},
    {0x02, "intercept tone on"},
    {0x03, "network congestion tone on"},
    {0x04, "busy tone on"},
    {0x05, "confirm tone on"},
    {0x06, "answer tone on"},
    {0x07, "call waiting tone on"},
    {0x08, "off-hook warning tone on"},
    {0x09, "preemption tone on"},
    {0x3F, "tones off"},
    {0x4F, "alerting off"},
    {0x40, "alerting on"},
}};

// Moves pos behind the octet group that starts there: octets up to and including the first one
// with bit 8 set. False when the element ends before that octet.
bool SkipGroup(ByteSpan contents, std::size_t* pos) {
  std::uint8_t octet = 0;
  while (ReadU8(contents, (*pos)++, &octet)) {
    if ((octet & kExtension) != 0) return true;
  }
  return false;
}

std::string_view TextOf(ByteSpan octets) {
  return {reinterpret_cast<const char*>(octets.data()), octets.size()};
}

// IA5 characters have bit 8 clear.
bool AllIa5(ByteSpan octets) {
  for (const std::uint8_t octet : octets) {
    if ((octet & kExtension) != 0) return false;
  }
  return true;
}

}  // namespace

std::optional<Header> ReadHeader(ByteSpan message, std::size_t* body_start) {
  std::uint8_t octet = 0;
  if (!ReadU8(message, 0, &octet) || octet != kProtocolDiscriminator) return std::nullopt;
  if (!ReadU8(message, 1, &octet)) return std::nullopt;
  Header header;
  header.call_ref_length = octet & 0x0F;
  std::size_t pos = 2;
  for (std::size_t i = 0; i < header.call_ref_length; ++i, ++pos) {
    if (!ReadU8(message, pos, &octet)) return std::nullopt;
    if (i == 0) {
      header.call_ref_flag = (octet & 0x80) != 0;
      header.call_ref = octet & 0x7F;
    } else {
      header.call_ref = static_cast<std::uint16_t>((header.call_ref << 8) | octet);
    }
  }
  if (!ReadU8(message, pos++, &octet)) return std::nullopt;
  header.message_type = octet;
  if (octet == 0) {
    if (!ReadU8(message, pos++, &octet)) return std::nullopt;
    header.message_type = static_cast<std::uint16_t>(0x8000 + octet);
  }
  *body_start = pos;
  return header;
}

bool ElementReader::Next(Element* element) {
  std::uint8_t identifier = 0;
  if (!ReadU8(body_, pos_, &identifier)) return false;
  *element = Element{};
  element->identifier = identifier;
  element->codeset = next_codeset_ >= 0 ? next_codeset_ : locked_codeset_;
  next_codeset_ = -1;
  if ((identifier & 0x80) != 0) {
    element->single_octet = true;
    if ((identifier & 0xF0) == 0x90) {
      if ((identifier & 0x08) != 0) {
        next_codeset_ = identifier & 0x07;
      } else {
        locked_codeset_ = identifier & 0x07;
      }
    }
    ++pos_;
    return true;
  }
  std::uint8_t length = 0;
  if (!ReadU8(body_, pos_ + 1, &length)) {
    element->truncated = true;
    pos_ = body_.size();
    return true;
  }
  const std::size_t start = pos_ + 2;
  const std::size_t held = std::min<std::size_t>(length, body_.size() - std::min(start, body_.size()));
  element->contents = body_.subspan(std::min(start, body_.size()), held);
  element->truncated = held < length;
  pos_ = element->truncated ? body_.size() : start + length;
  return true;
}

const char* StatusName(Status status) {
  switch (status) {
    case Status::kOk:
      return "ok";
    case Status::kShort:
      return "short";
    case Status::kMalformed:
      return "malformed";
  }
  return "?";
}

BearerCapability DecodeBearerCapability(ByteSpan contents) {
  BearerCapability bc;
  std::uint8_t octet = 0;
  if (!ReadU8(contents, 0, &octet)) {
    bc.status = Status::kShort;
    return bc;
  }
  bc.coding_standard = (octet >> 5) & 0x03;
  bc.transfer_capability = octet & 0x1F;
  std::size_t pos = 0;
  if (!SkipGroup(contents, &pos) || !ReadU8(contents, pos, &octet)) {
    bc.status = Status::kShort;
    return bc;
  }
  bc.transfer_mode = (octet >> 5) & 0x03;
  bc.transfer_rate = octet & 0x1F;
  if (!SkipGroup(contents, &pos)) {
    bc.status = Status::kShort;
    return bc;
  }
  if (bc.transfer_rate == 0x18) {  // multirate: the rate multiplier follows
    if (!ReadU8(contents, pos++, &octet)) {
      bc.status = Status::kShort;
      return bc;
    }
  }
  // Octets 5, 6 and 7 carry their layer in bits 6-7: 01 is the user information layer 1 protocol.
  if (ReadU8(contents, pos, &octet) && ((octet >> 5) & 0x03) == 0x01) bc.layer1 = octet & 0x1F;
  return bc;
}

const char* TransferCapabilityName(std::uint8_t capability) {
  return Lookup(kTransferCapabilities, capability);
}
const char* TransferModeName(std::uint8_t mode) { return Lookup(kTransferModes, mode); }
const char* TransferRateName(std::uint8_t rate) { return Lookup(kTransferRates, rate); }
const char* Layer1ProtocolName(std::uint8_t protocol) { return Lookup(kLayer1Protocols, protocol); }

ChannelIdentification DecodeChannelIdentification(ByteSpan contents) {
  ChannelIdentification id;
  std::uint8_t octet = 0;
  if (!ReadU8(contents, 0, &octet)) {
    id.status = Status::kShort;
    return id;
  }
  const bool interface_given = (octet & 0x40) != 0;
  id.primary_rate = (octet & 0x20) != 0;
  id.exclusive = (octet & 0x08) != 0;
  const bool d_channel = (octet & 0x04) != 0;
  const std::uint8_t selection = octet & 0x03;
  std::size_t pos = 1;
  if ((octet & kExtension) == 0 && !SkipGroup(contents, &pos)) {
    id.status = Status::kShort;
    return id;
  }
  switch (selection) {
    case 0:
      id.channel = d_channel ? Channel::kD : Channel::kNone;
      return id;
    case 3:
      id.channel = Channel::kAny;
      return id;
    default:
      break;
  }
  if (!id.primary_rate) {
    id.channel = selection == 1 ? Channel::kB1 : Channel::kB2;
    return id;
  }
  if (selection == 2) {  // reserved on other interfaces
    id.status = Status::kMalformed;
    return id;
  }
  // Primary rate, "as indicated in the following octets": the interface identifier when given,
  // octet 3.2 (coding, number or map, channel type), then the channel number in octet 3.3.
  if (interface_given && !SkipGroup(contents, &pos)) {
    id.status = Status::kShort;
    return id;
  }
  std::uint8_t type_octet = 0;
  if (!ReadU8(contents, pos++, &type_octet) || !ReadU8(contents, pos, &octet)) {
    id.status = Status::kShort;
    return id;
  }
  if ((type_octet & 0x10) != 0) {  // a slot map, not a number: not one channel
    id.status = Status::kMalformed;
    return id;
  }
  id.channel = Channel::kNumbered;
  id.number = octet & 0x7F;
  return id;
}

std::string_view ChannelName(const ChannelIdentification& id, char* buf, std::size_t size) {
  switch (id.channel) {
    case Channel::kNone:
      return "none";
    case Channel::kB1:
      return "B1";
    case Channel::kB2:
      return "B2";
    case Channel::kAny:
      return "any";
    case Channel::kD:
      return "D";
    case Channel::kNumbered:
      break;
  }
  const int n = std::snprintf(buf, size, "B%u", static_cast<unsigned>(id.number));
  return n > 0 ? std::string_view(buf, std::min<std::size_t>(static_cast<std::size_t>(n), size - 1)) : "";
}

PartyNumber DecodePartyNumber(std::uint8_t identifier, ByteSpan contents) {
  PartyNumber number;
  std::uint8_t octet = 0;
  if (!ReadU8(contents, 0, &octet)) {
    number.status = Status::kShort;
    return number;
  }
  number.type_of_number = (octet >> 4) & 0x07;
  number.numbering_plan = octet & 0x0F;
  std::size_t pos = 1;
  if ((octet & kExtension) == 0) {
    if (identifier == kCalledPartyNumber) {
      // The called party number's octet 3 is the whole group: skip what claims to follow it.
      number.status = Status::kMalformed;
      if (!SkipGroup(contents, &pos)) {
        number.status = Status::kShort;
        return number;
      }
    } else {
      if (!ReadU8(contents, pos++, &octet)) {
        number.status = Status::kShort;
        return number;
      }
      number.has_octet_3a = true;
      number.presentation = (octet >> 5) & 0x03;
      number.screening = octet & 0x03;
      if ((octet & kExtension) == 0) {
        if (identifier == kRedirectingNumber) {
          if (!ReadU8(contents, pos, &octet)) {
            number.status = Status::kShort;
            return number;
          }
          number.redirection_reason = octet & 0x0F;
        }
        if (!SkipGroup(contents, &pos)) {
          number.status = Status::kShort;
          return number;
        }
      }
    }
  }
  const ByteSpan digits = contents.subspan(pos);
  number.digits = TextOf(digits);
  if (!AllIa5(digits)) number.status = Status::kMalformed;
  return number;
}

const char* TypeOfNumberName(std::uint8_t type) { return Lookup(kTypesOfNumber, type); }
const char* NumberingPlanName(std::uint8_t plan) { return Lookup(kNumberingPlans, plan); }
const char* PresentationName(std::uint8_t presentation) { return Lookup(kPresentations, presentation); }

Cause DecodeCause(ByteSpan contents) {
  Cause cause;
  std::uint8_t octet = 0;
  if (!ReadU8(contents, 0, &octet)) {
    cause.status = Status::kShort;
    return cause;
  }
  cause.coding_standard = (octet >> 5) & 0x03;
  cause.location = octet & 0x0F;
  std::size_t pos = 1;
  if ((octet & kExtension) == 0) {
    if (!ReadU8(contents, pos++, &octet)) {
      cause.status = Status::kShort;
      return cause;
    }
    cause.recommendation = octet & 0x7F;
  }
  if (!ReadU8(contents, pos++, &octet)) {
    cause.status = Status::kShort;
    return cause;
  }
  cause.value = octet & 0x7F;
  cause.diagnostics = contents.subspan(pos);
  return cause;
}

ProgressIndicator DecodeProgressIndicator(ByteSpan contents) {
  ProgressIndicator progress;
  std::uint8_t octet = 0;
  if (!ReadU8(contents, 0, &octet)) {
    progress.status = Status::kShort;
    return progress;
  }
  progress.coding_standard = (octet >> 5) & 0x03;
  progress.location = octet & 0x0F;
  if (!ReadU8(contents, 1, &octet)) {
    progress.status = Status::kShort;
    return progress;
  }
  progress.description = octet & 0x7F;
  return progress;
}

const char* ProgressDescriptionName(std::uint8_t description) {
  return Lookup(kProgressDescriptions, description);
}

Text DecodeDisplay(ByteSpan contents) {
  Text text;
  if (!contents.empty() && (contents[0] & kExtension) != 0) contents = contents.subspan(1);
  text.text = TextOf(contents);
  if (!AllIa5(contents)) text.status = Status::kMalformed;
  return text;
}

Text DecodeKeypad(ByteSpan contents) {
  Text text;
  text.text = TextOf(contents);
  if (contents.empty()) text.status = Status::kShort;
  if (!AllIa5(contents)) text.status = Status::kMalformed;
  return text;
}

Signal DecodeSignal(ByteSpan contents) {
  Signal signal;
  if (!ReadU8(contents, 0, &signal.value)) signal.status = Status::kShort;
  return signal;
}

const char* SignalName(std::uint8_t value) {
  if (value >= 0x40 && value <= 0x47) return "alerting on";
  return Lookup(kSignals, value);
}

DateTime DecodeDateTime(ByteSpan contents) {
  DateTime when;
  if (!ReadU8(contents, 0, &when.year) || !ReadU8(contents, 1, &when.month) ||
      !ReadU8(contents, 2, &when.day)) {
    when.status = Status::kShort;
    return when;
  }
  std::uint8_t octet = 0;
  if (ReadU8(contents, 3, &octet)) when.hour = octet;
  if (ReadU8(contents, 4, &octet)) when.minute = octet;
  if (ReadU8(contents, 5, &octet)) when.second = octet;
  const bool in_range = when.month >= 1 && when.month <= 12 && when.day >= 1 && when.day <= 31 &&
                        when.hour.value_or(0) < 24 && when.minute.value_or(0) < 60 &&
                        when.second.value_or(0) < 60;
  if (!in_range) when.status = Status::kMalformed;
  return when;
}

}  // namespace q931
