// SPDX-License-Identifier: BSD-2-Clause
// The contents of the Q.931 information elements that a call is made of, as values.
//
// A message is read into its header (call reference, message type) and walked element by element
// with the codeset each element stands in; the decoders below turn one element's content octets
// into a value. Every read is checked against the element's end: an element shorter than its
// mandatory octets, or one whose octets contradict each other, gives a value whose status says so,
// with the fields read before the fault filled in. Nothing here allocates, prints or keeps state;
// the values point into the caller's octets (digits, display text, diagnostics).
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "base/bytes.h"

namespace q931 {

inline constexpr std::uint8_t kProtocolDiscriminator = 0x08;

// Message types a call is made of.
enum MessageType : std::uint16_t {
  kAlerting = 0x01,
  kCallProceeding = 0x02,
  kProgress = 0x03,
  kSetup = 0x05,
  kConnect = 0x07,
  kSetupAcknowledge = 0x0D,
  kConnectAcknowledge = 0x0F,
  kDisconnect = 0x45,
  kRelease = 0x4D,
  kReleaseComplete = 0x5A,
  kInformation = 0x7B,
};

// Codeset 0 element identifiers decoded here.
enum ElementId : std::uint8_t {
  kBearerCapability = 0x04,
  kCause = 0x08,
  kChannelIdentification = 0x18,
  kProgressIndicator = 0x1E,
  kDisplay = 0x28,
  kKeypadFacility = 0x2C,
  kDateTime = 0x29,
  kSignal = 0x34,
  kConnectedNumber = 0x4C,
  kCallingPartyNumber = 0x6C,
  kCalledPartyNumber = 0x70,
  kRedirectingNumber = 0x74,
};

// The call reference and message type of a message.
struct Header {
  std::uint8_t call_ref_length = 0;  // octets of the call reference (0 = the dummy reference)
  std::uint16_t call_ref = 0;        // without the flag; of a longer reference its last two octets
  bool call_ref_flag = false;        // set in messages of the side that did not choose the reference
  std::uint16_t message_type = 0;    // the type octet, or 0x8000 + the octet after an escape octet
};

// Reads the header of a layer 3 message (protocol discriminator first). Empty when the octets are
// not a Q.931 message or end inside the header. body_start is set behind the header.
std::optional<Header> ReadHeader(ByteSpan message, std::size_t* body_start);

// One information element as it stands in the message.
struct Element {
  std::int32_t codeset = 0;  // the codeset it is named in
  std::uint8_t identifier = 0;
  bool single_octet = false;  // bit 8 of the identifier set: the identifier is the whole element
  ByteSpan contents;          // the content octets the message holds
  bool truncated = false;     // the length octet claims more octets than the message holds
};

// Walks the elements of a message body. A locking shift (0x90-0x97) changes the codeset for the
// rest of the message, a non-locking shift (0x98-0x9F) for the next element only; the shift
// octets themselves are returned as single-octet elements in the codeset before them.
class ElementReader {
 public:
  explicit ElementReader(ByteSpan body) : body_(body) {}
  // False at the end of the body. An element cut by the end of the body is returned once, with
  // truncated set, and ends the walk.
  bool Next(Element* element);

 private:
  ByteSpan body_;
  std::size_t pos_ = 0;
  std::int32_t locked_codeset_ = 0;
  std::int32_t next_codeset_ = -1;
};

// What a decoder found.
enum class Status : std::uint8_t {
  kOk,
  kShort,      // the element ends before an octet that it must have
  kMalformed,  // octets present but inconsistent (an extension chain that never ends, a reserved form)
};

const char* StatusName(Status status);  // "ok", "short", "malformed"

// Bearer capability: octet 3 transfer capability, octet 4 mode and rate, octet 5 layer 1.
struct BearerCapability {
  Status status = Status::kOk;
  std::uint8_t coding_standard = 0;      // bits 6-7 of octet 3
  std::uint8_t transfer_capability = 0;  // bits 1-5 of octet 3
  std::uint8_t transfer_mode = 0;        // bits 6-7 of octet 4: 0 circuit, 2 packet
  std::uint8_t transfer_rate = 0;        // bits 1-5 of octet 4: 0x10 64 kbit/s, 0x18 multirate
  std::optional<std::uint8_t> layer1;    // bits 1-5 of octet 5 (2 G.711 mu-law, 3 A-law, ...)
};
BearerCapability DecodeBearerCapability(ByteSpan contents);
// "speech", "unrestricted digital", "restricted digital", "3.1kHz audio", "7kHz audio", "video",
// else nullptr.
const char* TransferCapabilityName(std::uint8_t capability);
// "circuit" / "packet", "64kbit/s", "2x64kbit/s", ..., "multirate"; "G.711 mu-law", "G.711 A-law", ...
const char* TransferModeName(std::uint8_t mode);
const char* TransferRateName(std::uint8_t rate);
const char* Layer1ProtocolName(std::uint8_t protocol);

// Channel identification, basic and primary rate forms.
enum class Channel : std::uint8_t { kNone, kB1, kB2, kAny, kNumbered, kD };
struct ChannelIdentification {
  Status status = Status::kOk;
  bool primary_rate = false;  // bit 6 of octet 3: the interface is not a basic rate one
  bool exclusive = false;     // bit 4: only the indicated channel is acceptable
  Channel channel = Channel::kNone;
  std::uint8_t number = 0;  // with kNumbered: the primary rate channel number (octet 3.3)
};
ChannelIdentification DecodeChannelIdentification(ByteSpan contents);
// "B1", "B2", "any", "none", "D"; a numbered channel as "B<n>" into buf (at least 8 characters).
std::string_view ChannelName(const ChannelIdentification& id, char* buf, std::size_t size);

// Called, calling, connected and redirecting party numbers.
struct PartyNumber {
  Status status = Status::kOk;
  std::uint8_t type_of_number = 0;                 // bits 5-7 of octet 3
  std::uint8_t numbering_plan = 0;                 // bits 1-4 of octet 3
  bool has_octet_3a = false;                       // calling, connected and redirecting numbers only
  std::uint8_t presentation = 0;                   // bits 6-7 of octet 3a
  std::uint8_t screening = 0;                      // bits 1-2 of octet 3a
  std::optional<std::uint8_t> redirection_reason;  // octet 3b of a redirecting number
  std::string_view digits;                         // the IA5 number digits, bit 8 clear
};
// identifier picks the form: the called party number has no octet 3a, the redirecting number may
// have an octet 3b.
PartyNumber DecodePartyNumber(std::uint8_t identifier, ByteSpan contents);
const char* TypeOfNumberName(std::uint8_t type);          // "unknown", "international", ...
const char* NumberingPlanName(std::uint8_t plan);         // "unknown", "ISDN/telephony", ...
const char* PresentationName(std::uint8_t presentation);  // "allowed", "restricted", ...

// Cause: location, optional recommendation, cause value, diagnostics.
struct Cause {
  Status status = Status::kOk;
  std::uint8_t coding_standard = 0;
  std::uint8_t location = 0;                   // bits 1-4 of octet 3
  std::optional<std::uint8_t> recommendation;  // octet 3a, when bit 8 of octet 3 is clear
  std::uint8_t value = 0;                      // bits 1-7 of the cause value octet
  ByteSpan diagnostics;
};
Cause DecodeCause(ByteSpan contents);

// Progress indicator: location and progress description.
struct ProgressIndicator {
  Status status = Status::kOk;
  std::uint8_t coding_standard = 0;
  std::uint8_t location = 0;
  std::uint8_t description = 0;  // 1 not end-to-end ISDN, 2 destination not ISDN, 8 in-band info, ...
};
ProgressIndicator DecodeProgressIndicator(ByteSpan contents);
const char* ProgressDescriptionName(std::uint8_t description);

// Display and keypad facility: IA5 text. A display's leading octet with bit 8 set (a character
// set indication some networks send) is not part of the text.
struct Text {
  Status status = Status::kOk;
  std::string_view text;
};
Text DecodeDisplay(ByteSpan contents);
Text DecodeKeypad(ByteSpan contents);

// Signal: one octet (0x00 dial tone on, 0x01 ring back tone on, ..., 0x3F tones off).
struct Signal {
  Status status = Status::kOk;
  std::uint8_t value = 0;
};
Signal DecodeSignal(ByteSpan contents);
const char* SignalName(std::uint8_t value);

// Date/time: year (two digits), month and day; hour, minute and second when present.
struct DateTime {
  Status status = Status::kOk;
  std::uint8_t year = 0, month = 0, day = 0;
  std::optional<std::uint8_t> hour, minute, second;
};
DateTime DecodeDateTime(ByteSpan contents);

}  // namespace q931
