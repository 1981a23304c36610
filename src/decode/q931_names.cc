#include "decode/q931_names.h"

#include <array>
#include <cstddef>

#include "decode/hex_text.h"

namespace {

struct NameEntry {
  std::uint16_t key;
  const char* name;
};

template <std::size_t N>
constexpr const char* FindName(const std::array<NameEntry, N>& table, std::uint32_t key) {
  for (const NameEntry& entry : table) {
    if (entry.key == key) return entry.name;
  }
  return nullptr;
}

// One row per line, so that each table reads as a list.
// clang-format off

// Message types; the escape form is 0x8000 + the octet after the zero type octet.
constexpr auto kMessageTypes = std::to_array<NameEntry>({
    {0x0000, "ESCAPE"},
    {0x0001, "ALERTING"},
    {0x0002, "CALL PROCEEDING"},
    {0x0003, "PROGRESS"},
    {0x0005, "SETUP"},
    {0x0007, "CONNECT"},
    {0x000D, "SETUP ACKNOWLEDGE"},
    {0x000F, "CONNECT ACKNOWLEDGE"},
    {0x0020, "USER INFORMATION"},
    {0x0021, "SUSPEND REJECT"},
    {0x0022, "RESUME REJECT"},
    {0x0025, "SUSPEND"},
    {0x0026, "RESUME"},
    {0x002D, "SUSPEND ACKNOWLEDGE"},
    {0x002E, "RESUME ACKNOWLEDGE"},
    {0x0045, "DISCONNECT"},
    {0x0046, "RESTART"},
    {0x004D, "RELEASE"},
    {0x004E, "RESTART ACKNOWLEDGE"},
    {0x005A, "RELEASE COMPLETE"},
    {0x0060, "SEGMENT"},
    {0x0062, "FACILITY"},
    {0x006E, "NOTIFY"},
    {0x0075, "STATUS ENQUIRY"},
    {0x0079, "CONGESTION CONTROL"},
    {0x007B, "INFORMATION"},
    {0x007D, "STATUS"},
    {0x80F7, "AT&T-MIM"},
});
static_assert(kMessageTypes.size() == 28);

// Information elements of codeset 0; identifiers from 0x80 up are single-octet elements.
constexpr auto kCodeset0Elements = std::to_array<NameEntry>({
    {0x00, "SegMsg"},
    {0x04, "BearerCap"},
    {0x08, "Cause"},
    {0x10, "CallIdent"},
    {0x14, "CallState"},
    {0x18, "ChanIdent"},
    {0x1C, "Facility"},
    {0x1E, "ProgInd"},
    {0x20, "NetSpecFac"},
    {0x27, "NotifyInd"},
    {0x28, "Display"},
    {0x29, "DateTime"},
    {0x2C, "KeypadFac"},
    {0x34, "Signal"},
    {0x36, "SwitchHook"},
    {0x38, "FeatureAct"},
    {0x39, "FeatureInd"},
    {0x3A, "ServProfID"},
    {0x3B, "EndPointID"},
    {0x40, "InfoRate"},
    {0x42, "EETxDelay"},
    {0x43, "TxDelaySI"},
    {0x44, "PLBinParam"},
    {0x45, "PLWinSize"},
    {0x46, "PacketSize"},
    {0x6C, "CallingAdr"},
    {0x6D, "CallingSub"},
    {0x70, "CalledAdr"},
    {0x71, "CalledSub"},
    {0x74, "RedirAdr"},
    {0x78, "TransNetDl"},
    {0x79, "RestartInd"},
    {0x7C, "LowLComp"},
    {0x7D, "HighLComp"},
    {0x7E, "UserUser"},
    {0x7F, "EscapeExt"},
    {0x80, "Reserved"},
    {0x90, "LShift 0"},
    {0x95, "LShift 5"},
    {0x96, "LShift 6"},
    {0x98, "NLShift 0"},
    {0x9D, "NLShift 5"},
    {0x9E, "NLShift 6"},
    {0xA0, "MoreData"},
    {0xA1, "SndCmplt"},
    {0xB0, "CongLevel"},
    {0xD0, "RepeatInd"},
});
static_assert(kCodeset0Elements.size() == 47);

// Codesets 5 and 6 name no single-octet element.
constexpr auto kCodeset5Elements = std::to_array<NameEntry>({
    {0x1D, "OperSysAcc"},
    {0x2A, "DisplayTxt"},
});
static_assert(kCodeset5Elements.size() == 2);

constexpr auto kCodeset6Elements = std::to_array<NameEntry>({
    {0x02, "UserCode"},
    {0x21, "AssociatedType"},
    {0x22, "SelectedCallAppearance"},
    {0x23, "OriginationCallAppearance"},
    {0x25, "DestinationCallAppearance"},
    {0x26, "EndpointIdentifier"},
    {0x32, "KeypadControl"},
    {0x37, "OtherCallReference"},
    {0x38, "FeatureActivation"},
    {0x39, "FeatureIndication"},
    {0x3A, "AdjunctControl"},
    {0x3B, "DisplayControl"},
    {0x3C, "DisplayField"},
    {0x7A, "MimElem"},
});
static_assert(kCodeset6Elements.size() == 14);

// Cause locations: the low four bits of the location octet.
constexpr auto kCauseLocations = std::to_array<NameEntry>({
    {0, "User"},
    {1, "Private Network Serving Local User"},
    {2, "Public Network Serving Local User"},
    {3, "Transit Network"},
    {4, "Public Network Serving Remote User"},
    {5, "Private Network Serving Remote User"},
    {7, "International Network"},
    {10, "Network Beyond Internetworking Point"},
});
static_assert(kCauseLocations.size() == 8);

// Cause classes: bits 5-7 of the cause value octet. Classes 0 and 1 are both normal events.
constexpr auto kCauseClasses = std::to_array<NameEntry>({
    {0, "Normal Event"},
    {1, "Normal Event"},
    {2, "Network Congestion"},
    {3, "Service Or Option Unavailable"},
    {4, "Service Or Option Not Implemented"},
    {5, "Invalid Message"},
    {6, "Protocol Error"},
    {7, "Internetworking"},
});
static_assert(kCauseClasses.size() == 8);

// Cause values: the cause value octet without bit 8, class bits included.
constexpr auto kCauseValues = std::to_array<NameEntry>({
    {0x01, "Unassigned Number"},
    {0x02, "No Route To Specified Transit Network"},
    {0x03, "No Route To Destination"},
    {0x04, "Send Special Information Tone"},
    {0x05, "Misdialled Trunk Prefix"},
    {0x06, "Channel Unacceptable"},
    {0x07, "Call Awarded And Being Delivered In An Established Channel"},
    {0x08, "Preemption"},
    {0x09, "Preemption - Circuit reserved for reuse"},
    {0x10, "Normal Clearing"},
    {0x11, "User Busy"},
    {0x12, "No User Responding"},
    {0x13, "No Answer From User (User Alerted)"},
    {0x14, "Subscriber absent"},
    {0x15, "Call Rejected"},
    {0x16, "Number Changed"},
    {0x1A, "Non-Selected User Clearing"},
    {0x1B, "Destination Out Of Order"},
    {0x1C, "Invalid Number Format (Incomplete Address)"},
    {0x1D, "Facility Rejected"},
    {0x1E, "Response To Status Enquiry"},
    {0x1F, "Normal, Unspecified"},
    {0x22, "No Circuit/Channel Available"},
    {0x26, "Network Out Of Order"},
    {0x27, "Permanent Frame Mode Connection Out Of Service"},
    {0x28, "Permanent Frame Mode Connection Operational"},
    {0x29, "Termporary Failure"},
    {0x2A, "Circuit Channel Congestion (Switching Equipment Congestion)"},
    {0x2B, "Access Information Discarded"},
    {0x2C, "Requested Circuit/Channel not available"},
    {0x2E, "Precedence Call Blocked"},
    {0x2F, "Resource Unavailable, unspecified"},
    {0x31, "Quality Of Service Unavailable"},
    {0x32, "Requested Facility Not Subscribed"},
    {0x35, "Outgoing Calls Barred within CUG"},
    {0x37, "Incoming Calls Barred within CUG"},
    {0x39, "Bearer Capability not Authorized"},
    {0x3A, "Bearer Capability not Presently Available"},
    {0x3E, "Inconsistency in Designated Outgoing Access Information & Subscriber Class"},
    {0x3F, "Service or Option not Available, unspecified"},
    {0x41, "Bearer Capability not Implemented"},
    {0x42, "Channel Type not Implemented"},
    {0x45, "Requested Facility not Implemented"},
    {0x46, "Only Restricted Digital Information Bearer Capability is available"},
    {0x4F, "Service or Option not Implemented, unspecified"},
    {0x51, "Invalid Call Reference Value"},
    {0x52, "Indentified Channel Does not Exist"},
    {0x53, "Suspended Call Exists, but This Call Identity Does not"},
    {0x54, "Call Identity in Use"},
    {0x55, "No Call Suspended"},
    {0x56, "Call Having the Requested Call Identity has been Cleared"},
    {0x57, "User not Member of CUG"},
    {0x58, "Incompatible Destination"},
    {0x5A, "Non-existent CUG"},
    {0x5B, "Invalid Transit Network Selection"},
    {0x5F, "Invalid Message, unspecified"},
    {0x60, "Mandatory Information Element is Missing"},
    {0x61, "Message type non-existent or not Implemented"},
    {0x62, "Message not Compatible /w Call State or Message Type non-existent or not Implemented"},
    {0x63, "Information Element/Parameter non-existent or not Implemented"},
    {0x64, "Invalid Information Element Contents"},
    {0x65, "Message not Compatible /w Call State"},
    {0x66, "Recovery on Timer Expiry"},
    {0x67, "Parameter non-existent or not Implemented, passed on"},
    {0x6E, "Message /w Unrecognized Parameter, discarded"},
    {0x6F, "Protocol error, unspecified"},
    {0x7F, "Interworking, unspecified"},
});
static_assert(kCauseValues.size() == 67);

// clang-format on

// The fallback texts fit the 32-character result buffers.
static_assert(sizeof("GeneralLocation-FFFF") <= sizeof(NameBuffer));

}  // namespace

const char* GetMessageTypeName(std::uint16_t messageType) {
  static NameBuffer ret_buf;
  if (const char* name = FindName(kMessageTypes, messageType)) return name;
  return HexFallbackName(ret_buf, "MTYPE-", messageType, 4);  // "MTYPE-%4.4X"
}

const char* GetElementName(std::uint32_t identifier, std::int32_t codeset) {
  const std::uint32_t octet = identifier & 0xFF;
  const char* name = nullptr;
  switch (codeset) {
    case 0:
      name = FindName(kCodeset0Elements, octet);
      break;
    case 5:
      name = FindName(kCodeset5Elements, octet);
      break;
    case 6:
      name = FindName(kCodeset6Elements, octet);
      break;
    default:
      return "<unknow Codeset>";
  }
  return name != nullptr ? name : "<unknown>";
}

const char* GetGeneralLocation(std::uint8_t location) {
  static NameBuffer ret_buf;
  if (const char* name = FindName(kCauseLocations, location)) return name;
  return HexFallbackName(ret_buf, "GeneralLocation-", location, 4);  // "GeneralLocation-%4.4X"
}

const char* GetCauseClass(std::uint8_t causeClass) {
  static NameBuffer ret_buf;
  if (const char* name = FindName(kCauseClasses, causeClass)) return name;
  return HexFallbackName(ret_buf, "CauseClass-", causeClass, 4);  // "CauseClass-%4.4X"
}

const char* GetCauseValueInClass(std::uint16_t causeValue) {
  static NameBuffer ret_buf;
  if (const char* name = FindName(kCauseValues, causeValue)) return name;
  return HexFallbackName(ret_buf, "CauseValue-", causeValue, 4);  // "CauseValue-%4.4X"
}
