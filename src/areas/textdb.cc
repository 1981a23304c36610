// SPDX-License-Identifier: BSD-2-Clause
// The message text database: the tables of texts, and the byte image built from them at compile
// time.
//
// Image layout (no padding anywhere):
//   directory: per section its name (NUL-terminated) and a 16-bit little-endian offset from the
//              image start to the section's first entry; an empty name ends the directory.
//   sections:  back to back in directory order; each a run of key (NUL-terminated) and text
//              (NUL-terminated) pairs, ended by an empty key.
// Entries are stored in descending key order; in "idp_tmsg" the value keys N.V of a parameter
// come before the parameter's own key N, highest V first.
#include "areas/textdb.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "base/bytes.h"

namespace {

// One entry of a section: key "number", or "number.value" when value is not kKeyOnly.
constexpr int kKeyOnly = -1;
struct TextRow {
  int number;
  int value;
  std::string_view text;
};

// Written in ascending key order, each parameter's own key before its value keys; the image
// stores them in the reverse order.
constexpr TextRow kIdpTmsg[] = {
    {100, kKeyOnly, "Tx_Info_Pattern"}, {100, 0, "INFO 0"}, {100, 1, "INFO 1"}, {100, 2, "INFO 3"}, {100, 3, "INFO 3"},
    {101, kKeyOnly, "Rx_Info_Pattern"}, {101, 0, "INFO 0"}, {101, 1, "INFO 2"}, {101, 2, "INFO 4"}, {101, 3, "Lost Framing"},
    {102, kKeyOnly, "Tx_Frames"},
    {103, kKeyOnly, "Rx_Frames"},
    {104, kKeyOnly, "Tx_Collisions"},
    {105, kKeyOnly, "Tx_Errors"},
    {106, kKeyOnly, "Rx_Errors"},
    {200, kKeyOnly, "State"}, {200, 1, "Awaiting Tei Assignment"}, {200, 2, "Tei Assigned"}, {200, 3, "Released"},
    {201, kKeyOnly, "Sapi"},
    {202, kKeyOnly, "Tei"},
    {203, kKeyOnly, "Lap_State"}, {203, 0, "Initialized"}, {203, 4, "Tei Assigned"}, {203, 5, "Awaiting Multiframe Establishment"}, {203, 6, "Awaiting Multiframe Release"}, {203, 7, "Multiframe Established"}, {203, 8, "Timer Recovery"},
    {204, kKeyOnly, "Lap_V(S)"},
    {205, kKeyOnly, "Lap_V(A)"},
    {206, kKeyOnly, "Lap_V(R)"},
    {207, kKeyOnly, "I_Queue_Frames"},
    {208, kKeyOnly, "Ack_Queue_Frames"},
    {300, kKeyOnly, "State"}, {300, 0, "Initialized"}, {300, 1, "Awaiting Layer 2 Establishment"}, {300, 2, "Established, Awaiting Restart"}, {300, 3, "Restart Pending, Awaiting Ack"}, {300, 4, "Active"},
    {301, kKeyOnly, "Tei"},
    {302, kKeyOnly, "Style"}, {302, 0, "None, Generic"}, {302, 1, "Auto Detect"}, {302, 2, "National ISDN 1"}, {302, 3, "AT&T 5ESS"}, {302, 4, "Northern Telecom DMS-100"},
    {303, kKeyOnly, "Spid"},
    {304, kKeyOnly, "Usid"}, {304, 127, "Not Assigned Yet"}, {304, 128, "Not Used"},
    {305, kKeyOnly, "Tid"},
    {306, kKeyOnly, "Service"}, {306, 0, "Not Determined"}, {306, 1, "Restricted"}, {306, 2, "Full"}, {306, 3, "Non Initializing"}, {306, 4, "Rejected, Bad or No SPID"}, {306, 16, "Not Determined, TM"}, {306, 17, "Restricted, TM"}, {306, 18, "Full, TM"}, {306, 19, "Non Initializing, TM"}, {306, 20, "Rejected, Bad or No SPID, TM"},
    {307, kKeyOnly, "Style_Flags"},
    {320, kKeyOnly, "Connection_U_State"},
    {321, kKeyOnly, "Connection_Crv"},
    {322, kKeyOnly, "Connection_Flags"},
    {400, kKeyOnly, "If_State"}, {400, 0, "Up"}, {400, 1, "Down"}, {400, 2, "Testing"},
    {401, kKeyOnly, "If_Last_Change"},
    {402, kKeyOnly, "If_Speed"},
    {420, kKeyOnly, "If_In_Octets"},
    {421, kKeyOnly, "If_In_Packets"},
    {422, kKeyOnly, "If_In_Mc_Packets"},
    {423, kKeyOnly, "If_In_Discards"},
    {424, kKeyOnly, "If_In_Errors"},
    {440, kKeyOnly, "If_Out_Octets"},
    {441, kKeyOnly, "If_Out_Packets"},
    {442, kKeyOnly, "If_Out_Mc_Packets"},
    {443, kKeyOnly, "If_Out_Discards"},
    {444, kKeyOnly, "If_Out_Errors"},
    {500, kKeyOnly, "Compression Tx State"}, {500, 0, "Transparent"}, {500, 1, "Compressing"},
    {501, kKeyOnly, "Compression Rx State"}, {501, 0, "Transparent"}, {501, 1, "Expanding"},
    {502, kKeyOnly, "Comp_Bytes_Received"},
    {503, kKeyOnly, "Comp_Bytes_Expanded"},
    {504, kKeyOnly, "Comp_Bytes_Compressed"},
    {505, kKeyOnly, "Comp_Bytes_Transmitted"},
    {506, kKeyOnly, "Comp_Guess_No_Compress"},
    {507, kKeyOnly, "Comp_Use_No_Compress"},
    {508, kKeyOnly, "Comp_Guess_Table_1"},
    {509, kKeyOnly, "Comp_Use_Table_1"},
    {510, kKeyOnly, "Comp_Guess_Table_2"},
    {511, kKeyOnly, "Comp_Use_Table_2"},
    {1000, kKeyOnly, "Network Name"},
    {1001, kKeyOnly, "Ethernet Address"},
    {1002, kKeyOnly, "State"}, {1002, 0, "Idle"}, {1002, 1, "Waiting Activation"}, {1002, 2, "In Activation"}, {1002, 3, "In Synchronization"}, {1002, 4, "Active"}, {1002, 5, "Listen"}, {1002, 6, "In Answering"}, {1002, 7, "Deactivating"},
    {1003, kKeyOnly, "Speed (bps)"},
    {1004, kKeyOnly, "Timeout"},
    {1005, kKeyOnly, "Remote Network"},
    {1006, kKeyOnly, "Remote Ethernet"},
    {1007, kKeyOnly, "Number Of Channels"},
    {1008, kKeyOnly, "Stats Time Period"},
    {1009, kKeyOnly, "Connection Usage"},
    {1010, kKeyOnly, "Current Call Time"},
    {1011, kKeyOnly, "Call-Out Total Time"},
    {1012, kKeyOnly, "Call-In Total Time"},
    {1013, kKeyOnly, "Call-Out Attempts"},
    {1014, kKeyOnly, "Call-Out Successful"},
    {1015, kKeyOnly, "Call-In Attempts"},
    {1016, kKeyOnly, "Call-In Successful"},
    {1017, kKeyOnly, "Out of Rcv ECB's"},
    {1018, kKeyOnly, "Tx Queue Overflow"},
    {1100, kKeyOnly, "Line"},
    {1101, kKeyOnly, "Logical Terminal"}, {1101, 0, "LT1"}, {1101, 1, "LT2"},
    {1102, kKeyOnly, "Address"},
    {1103, kKeyOnly, "B Channel"}, {1103, 0, "B1"}, {1103, 1, "B2"}, {1103, 2, "Any"}, {1103, 3, "None"},
    {1104, kKeyOnly, "Type"}, {1104, 0, "Digital 64 Kbps"}, {1104, 1, "Digital 56 Kbps"}, {1104, 2, "Voice 56 Kbps"},
    {1105, kKeyOnly, "Speed (bps)"},
    {1106, kKeyOnly, "Channel State"}, {1106, 0, "Idle"}, {1106, 1, "U1"}, {1106, 3, "U3"}, {1106, 4, "U4"}, {1106, 10, "Established"}, {1106, 19, "U19"}, {1106, 50, "Waiting On Other Channels"}, {1106, 51, "Synchronizing"}, {1106, 52, "Synchronized"}, {1106, 53, "Active"}, {1106, 54, "Suspending"}, {1106, 55, "Suspended"},
    {1200, kKeyOnly, "Name"},
    {1201, kKeyOnly, "Frame Type"},
    {1202, kKeyOnly, "LSL Board Number"},
    {1203, kKeyOnly, "Received Frames"},
    {1204, kKeyOnly, "Transmitted Frames"},
    {1205, kKeyOnly, "Auto Bound Protocol"},
    {1206, kKeyOnly, "Binding Parameters"},
};

// Reasons for refusing an association.
constexpr TextRow kAssocNack[] = {
    {1, kKeyOnly, "no listening profile matched"},
    {2, kKeyOnly, "no free connection slot"},
    {3, kKeyOnly, "no free channel slot"},
    {4, kKeyOnly, "duplicate connection name"},
};

// Signal information element values.
constexpr TextRow kSignal[] = {
    {0, kKeyOnly, "dial tone on"},
    {1, kKeyOnly, "ringback tone on"},
    {2, kKeyOnly, "intercept tone on"},
    {3, kKeyOnly, "network congestion on"},
    {4, kKeyOnly, "busy tone on"},
    {5, kKeyOnly, "confirm tone on"},
    {6, kKeyOnly, "answer tone on"},
    {7, kKeyOnly, "call waiting tone on"},
    {8, kKeyOnly, "off-hook warning tone on"},
    {9, kKeyOnly, "custom tone on"},
    {10, kKeyOnly, "recall dial tone on"},
    {11, kKeyOnly, "busy verify tone on"},
    {12, kKeyOnly, "error tone on"},
    {13, kKeyOnly, "stutter dial tone on"},
    {14, kKeyOnly, "expensive routing tone on"},
    {17, kKeyOnly, "recall dial tone on"},
    {18, kKeyOnly, "barge-in tone"},
    {63, kKeyOnly, "tones off"},
    {64, kKeyOnly, "alerting on, pattern 0"},
    {65, kKeyOnly, "alerting on, pattern 1"},
    {66, kKeyOnly, "alerting on, pattern 2"},
    {67, kKeyOnly, "alerting on, pattern 3"},
    {68, kKeyOnly, "alerting on, pattern 4"},
    {69, kKeyOnly, "alerting on, pattern 5"},
    {70, kKeyOnly, "alerting on, pattern 6"},
    {71, kKeyOnly, "reserved"},
    {79, kKeyOnly, "alerting off"},
    {96, kKeyOnly, "reserved"},
    {127, kKeyOnly, "unspecified tone"},
    {244, kKeyOnly, "incoming additional call tone"},
    {245, kKeyOnly, "priority additional call tone"},
    {247, kKeyOnly, "expensive route warning tone"},
};

// Cause values.
constexpr TextRow kCause[] = {
    {0, kKeyOnly, "normal, not specific"},
    {1, kKeyOnly, "unassigned number"},
    {2, kKeyOnly, "no route to specified network"},
    {3, kKeyOnly, "no route to destination"},
    {6, kKeyOnly, "channel unacceptable"},
    {7, kKeyOnly, "call awarded and is being delivered in an established channel"},
    {16, kKeyOnly, "normal, clearing"},
    {17, kKeyOnly, "user busy"},
    {18, kKeyOnly, "no user responding"},
    {19, kKeyOnly, "user alerting, no answer"},
    {21, kKeyOnly, "call rejected"},
    {22, kKeyOnly, "number changed"},
    {26, kKeyOnly, "non selected user clearing"},
    {27, kKeyOnly, "destination out of order"},
    {28, kKeyOnly, "incomplete information, invalid number format"},
    {29, kKeyOnly, "requested facility rejected"},
    {30, kKeyOnly, "response to STATUS ENQuiry"},
    {31, kKeyOnly, "normal, unspecified"},
    {34, kKeyOnly, "no channel available, circuit/channel congestion"},
    {38, kKeyOnly, "network out of order"},
    {41, kKeyOnly, "temporary failure"},
    {42, kKeyOnly, "network congestion"},
    {43, kKeyOnly, "access information discarded"},
    {44, kKeyOnly, "requested channel not available"},
    {47, kKeyOnly, "resource unavailable, unspecified"},
    {50, kKeyOnly, "requested facility not subscribed"},
    {52, kKeyOnly, "outgoing calls barred"},
    {54, kKeyOnly, "incoming calls barred"},
    {57, kKeyOnly, "bearer capability not authorized"},
    {58, kKeyOnly, "bearer capabilities not presently available"},
    {63, kKeyOnly, "service or option not available, unspecified"},
    {65, kKeyOnly, "bearer service/capability not implemented"},
    {69, kKeyOnly, "requested facility not implemented"},
    {70, kKeyOnly, "only restricted digital information bearer capability is available"},
    {79, kKeyOnly, "service or option not implemented, unspecified"},
    {81, kKeyOnly, "invalid call reference value"},
    {82, kKeyOnly, "identified channel does not exist"},
    {83, kKeyOnly, "a suspended call exists, but this call identity does not"},
    {84, kKeyOnly, "call identity in use"},
    {85, kKeyOnly, "invalid digit for number/no call suspended"},
    {86, kKeyOnly, "call having the requested call identity has been cleared"},
    {88, kKeyOnly, "incompatible destination"},
    {91, kKeyOnly, "transit network does not exist"},
    {95, kKeyOnly, "invalid message, unspecified"},
    {96, kKeyOnly, "mandatory information element is missing"},
    {97, kKeyOnly, "message type nonexistent or not implemented"},
    {98, kKeyOnly, "message not compatible with call state"},
    {99, kKeyOnly, "information element non-existent or not implemented"},
    {100, kKeyOnly, "invalid information element contents"},
    {101, kKeyOnly, "message not compatible with call state"},
    {102, kKeyOnly, "recovery on timer expiry"},
    {111, kKeyOnly, "protocol error, unspecified"},
    {127, kKeyOnly, "interworking, unspecified"},
};

struct Section {
  std::string_view name;
  std::span<const TextRow> rows;
};

constexpr std::array<Section, 4> kSections = {{
    {"idp_tmsg", kIdpTmsg},
    {"assoc_nack", kAssocNack},
    {"signal", kSignal},
    {"cause", kCause},
}};

// ---- Checks on the tables ---------------------------------------------------------------------

// Rows must rise strictly by (number, value), with the parameter's own key (kKeyOnly) first and
// every value key following a row of its own number: this makes keys unique and the reversed order
// the stored order.
constexpr bool RowsAscending(std::span<const TextRow> rows) {
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const TextRow& row = rows[i];
    if (row.number < 0 || row.value < kKeyOnly || row.text.empty()) return false;
    for (char c : row.text) {
      if (c == '\0') return false;
    }
    if (i == 0) {
      if (row.value != kKeyOnly) return false;
      continue;
    }
    const TextRow& prev = rows[i - 1];
    if (row.value == kKeyOnly) {
      if (row.number <= prev.number) return false;
    } else {
      if (row.number != prev.number || row.value <= prev.value) return false;
    }
  }
  return true;
}

constexpr bool AllTablesAscending() {
  for (const Section& section : kSections) {
    if (!RowsAscending(section.rows)) return false;
  }
  return true;
}
static_assert(AllTablesAscending(), "text tables must be in ascending key order without repeats");

// ---- Building the image -------------------------------------------------------------------------

constexpr std::size_t DecimalLength(int v) {
  std::size_t length = 1;
  while (v >= 10) {
    v /= 10;
    ++length;
  }
  return length;
}

constexpr std::size_t KeyLength(const TextRow& row) {
  return DecimalLength(row.number) + (row.value == kKeyOnly ? 0 : 1 + DecimalLength(row.value));
}

constexpr std::size_t DirectorySize() {
  std::size_t size = 1;  // the empty name that ends the directory
  for (const Section& section : kSections) size += section.name.size() + 1 + 2;
  return size;
}

constexpr std::size_t SectionSize(const Section& section) {
  std::size_t size = 1;  // the empty key that ends the section
  for (const TextRow& row : section.rows) size += KeyLength(row) + 1 + row.text.size() + 1;
  return size;
}

constexpr std::size_t SectionOffset(std::size_t index) {
  std::size_t offset = DirectorySize();
  for (std::size_t i = 0; i < index; ++i) offset += SectionSize(kSections[i]);
  return offset;
}

constexpr std::size_t kImageSize = SectionOffset(kSections.size());

template <std::size_t N>
struct ImageWriter {
  std::array<std::uint8_t, N> bytes{};
  std::size_t pos = 0;

  constexpr void Byte(std::uint8_t b) { bytes[pos++] = b; }
  constexpr void Text(std::string_view s) {
    for (char c : s) Byte(static_cast<std::uint8_t>(c));
    Byte(0);
  }
  constexpr void Decimal(int v) {
    char digits[12] = {};
    std::size_t n = 0;
    do {
      digits[n++] = static_cast<char>('0' + v % 10);
      v /= 10;
    } while (v > 0);
    while (n > 0) Byte(static_cast<std::uint8_t>(digits[--n]));
  }
};

constexpr std::array<std::uint8_t, kImageSize> BuildImage() {
  ImageWriter<kImageSize> out;
  for (std::size_t i = 0; i < kSections.size(); ++i) {
    out.Text(kSections[i].name);
    const std::size_t offset = SectionOffset(i);
    out.Byte(static_cast<std::uint8_t>(offset & 0xFF));
    out.Byte(static_cast<std::uint8_t>(offset >> 8));
  }
  out.Byte(0);
  for (const Section& section : kSections) {
    for (std::size_t i = section.rows.size(); i-- > 0;) {
      const TextRow& row = section.rows[i];
      out.Decimal(row.number);
      if (row.value != kKeyOnly) {
        out.Byte('.');
        out.Decimal(row.value);
      }
      out.Byte(0);
      out.Text(row.text);
    }
    out.Byte(0);
  }
  if (out.pos != kImageSize) throw "image size mismatch";
  return out.bytes;
}

static_assert(kIdpTmsg[0].number == 100 && std::size(kIdpTmsg) == 160);
static_assert(std::size(kAssocNack) == 4 && std::size(kSignal) == 32 && std::size(kCause) == 53);
static_assert(DirectorySize() == 42);
static_assert(SectionOffset(0) == 42 && SectionOffset(1) == 3044 && SectionOffset(2) == 3153 &&
              SectionOffset(3) == 3862);
static_assert(kImageSize == 5720);
static_assert(kImageSize <= 0xFFFF, "section offsets are 16-bit");

constexpr std::array<std::uint8_t, kImageSize> kImage = BuildImage();

// ---- Lookup -------------------------------------------------------------------------------------

constexpr char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Length of the NUL-terminated string at pos, or npos when its NUL is not inside the image.
std::size_t TerminatedLength(ByteSpan image, std::size_t pos) {
  for (std::size_t i = pos; i < image.size(); ++i) {
    if (image[i] == 0) return i - pos;
  }
  return std::string_view::npos;
}

// Whole-string comparison ignoring ASCII letter case.
bool EqualsIgnoreCase(ByteSpan image, std::size_t pos, std::size_t length, std::string_view wanted) {
  if (length != wanted.size()) return false;
  for (std::size_t i = 0; i < length; ++i) {
    if (LowerAscii(static_cast<char>(image[pos + i])) != LowerAscii(wanted[i])) return false;
  }
  return true;
}

}  // namespace

const std::uint8_t* const textdb_dat = kImage.data();
const std::size_t textdb_size = kImage.size();

const char* db_lookup(const std::uint8_t* image, std::size_t image_size, const char* section, const char* key) {
  if (image == nullptr || section == nullptr || key == nullptr) return nullptr;
  const ByteSpan bytes(image, image_size);
  const std::string_view wanted_section(section);
  const std::string_view wanted_key(key);

  // The directory: name, NUL, 16-bit offset; an empty name ends it.
  std::size_t pos = 0;
  std::size_t start = std::string_view::npos;
  while (pos < bytes.size() && bytes[pos] != 0) {
    const std::size_t length = TerminatedLength(bytes, pos);
    if (length == std::string_view::npos) return nullptr;
    std::uint16_t offset = 0;
    if (!ReadLE16(bytes, pos + length + 1, &offset)) return nullptr;
    if (EqualsIgnoreCase(bytes, pos, length, wanted_section)) {
      start = offset;
      break;
    }
    pos += length + 1 + 2;
  }
  if (start == std::string_view::npos) return nullptr;

  // The section: key, NUL, text, NUL; an empty key ends it.
  pos = start;
  while (pos < bytes.size() && bytes[pos] != 0) {
    const std::size_t key_length = TerminatedLength(bytes, pos);
    if (key_length == std::string_view::npos) return nullptr;
    const std::size_t text_pos = pos + key_length + 1;
    const std::size_t text_length = TerminatedLength(bytes, text_pos);
    if (text_length == std::string_view::npos) return nullptr;  // a text must end inside the image
    if (EqualsIgnoreCase(bytes, pos, key_length, wanted_key)) {
      return reinterpret_cast<const char*>(image + text_pos);
    }
    pos = text_pos + text_length + 1;
  }
  return nullptr;
}
