#include "areas/area_dump.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <initializer_list>
#include <limits>
#include <memory>
#include <new>
#include <string_view>

#include "areas/textdb.h"
#include "common/console.h"

namespace {

constexpr const char* kTextSection = "idp_tmsg";

using TextBuffer = std::array<char, kDumpTextSize>;

// Sets buffer to the pieces one after another, cut to what the buffer holds with its NUL.
void SetText(TextBuffer& buffer, std::initializer_list<std::string_view> pieces) {
  std::size_t length = 0;
  for (std::string_view piece : pieces) {
    const std::size_t take = std::min(piece.size(), buffer.size() - 1 - length);
    std::copy_n(piece.data(), take, buffer.data() + length);
    length += take;
  }
  buffer[length] = '\0';
}

// A byte of the list, or 0 past its end.
std::uint8_t ByteAt(ByteSpan list, std::size_t offset) {
  std::uint8_t b = 0;
  return ReadU8(list, offset, &b) ? b : 0;
}

// The bytes of the string value at offset: up to its NUL, or up to the end of the list.
std::string_view StringAt(ByteSpan list, std::size_t offset) {
  if (offset >= list.size()) return {};
  std::size_t end = offset;
  while (end < list.size() && list[end] != 0) ++end;
  return std::string_view(reinterpret_cast<const char*>(list.data() + offset), end - offset);
}

// The stated length, never more than the buffer holds.
std::int32_t ClampLength(ByteSpan list, std::int32_t length) {
  const auto limit = static_cast<std::int64_t>(std::min<std::size_t>(list.size(), std::numeric_limits<std::int32_t>::max()));
  return static_cast<std::int32_t>(std::min<std::int64_t>(length, limit));
}

// The 4-byte little-endian value at offset as signed, bytes past the list reading as 0.
std::int64_t LongAt(ByteSpan list, std::size_t offset) {
  std::uint32_t raw = 0;
  for (std::size_t i = 0; i < 4; ++i) raw |= static_cast<std::uint32_t>(ByteAt(list, offset + i)) << (8 * i);
  // Two's complement reinterpretation without relying on an implementation-defined conversion.
  return raw >= 0x80000000U ? static_cast<std::int64_t>(raw) - 0x100000000LL : static_cast<std::int64_t>(raw);
}

unsigned ParamType(std::uint16_t identifier) { return identifier >> 12U; }
int ParamNumber(std::uint16_t identifier) { return identifier & 0x0FFF; }

// The value as text, by the parameter's type; cut to the working buffer.
void FormatValue(ByteSpan list, std::uint16_t identifier, std::size_t value, TextBuffer& text) {
  switch (ParamType(identifier)) {
    case kParamTypeByte:
      std::snprintf(text.data(), text.size(), "%d", ByteAt(list, value));
      break;
    case kParamTypeLong:
      std::snprintf(text.data(), text.size(), "%ld", static_cast<long>(LongAt(list, value)));
      break;
    case kParamTypeString: {
      SetText(text, {StringAt(list, value)});
      break;
    }
    default:
      std::snprintf(text.data(), text.size(), "?? (%4.4X) %2.2X %2.2X", static_cast<unsigned>(identifier),
                    static_cast<unsigned>(ByteAt(list, value)), static_cast<unsigned>(ByteAt(list, value + 1)));
      break;
  }
}

struct AreaHeadingRow {
  std::int32_t area;
  const char* heading;
};

constexpr AreaHeadingRow kAreaHeadings[] = {
    {1, "- Layer 1 (S/T)\n"},       {2, "- Layer 2 (Q.921)\n"},    {3, "- Layer 3 (Q.931)\n"},
    {10, "- D Channel (HDLC)\n"},   {11, "- B1 Data (HDLC)\n"},    {12, "- B2 Data (HDLC)\n"},
    {21, "- B1 IDP Compression\n"}, {22, "- B2 IDP Compression\n"},
};

}  // namespace

void get_next_param(ByteSpan list, std::size_t* cursor, std::int32_t* remaining, std::uint16_t* identifier,
                    std::size_t* value) {
  const std::size_t at = *cursor;
  const auto id = static_cast<std::uint16_t>(ByteAt(list, at) | (ByteAt(list, at + 1) << 8));
  *identifier = id;
  *value = at + 2;
  std::size_t size = 2;
  switch (ParamType(id)) {
    case kParamTypeLong: size = 4; break;
    case kParamTypeString: size = StringAt(list, at + 2).size() + 1; break;
    default: break;
  }
  const std::size_t step = 2 + size;
  *cursor = at + step;
  const std::int64_t left = static_cast<std::int64_t>(*remaining) - static_cast<std::int64_t>(step);
  *remaining = static_cast<std::int32_t>(std::max<std::int64_t>(left, std::numeric_limits<std::int32_t>::min()));
}

void get_num_of_params(std::uint32_t* count, ByteSpan list, std::int32_t length) {
  std::uint32_t n = 0;
  std::int32_t remaining = ClampLength(list, length);
  std::size_t cursor = 0;
  while (remaining > 0) {
    std::uint16_t identifier = 0;
    std::size_t value = 0;
    get_next_param(list, &cursor, &remaining, &identifier, &value);
    ++n;
  }
  *count = n;
}

namespace {

// The parameter whose identifier and value offset the walk has reached, read into its texts.
AreaParam ReadParam(ByteSpan list, std::uint16_t identifier, std::size_t value) {
  AreaParam param;
  param.identifier = identifier;
  param.number = ParamNumber(identifier);
  param.type = ParamType(identifier);
  TextBuffer key{};
  TextBuffer name{};
  std::snprintf(key.data(), key.size(), "%d", param.number);
  if (const char* text = db_lookup(textdb_dat, textdb_size, kTextSection, key.data())) {
    SetText(name, {text});
    param.named = true;
  } else {
    std::snprintf(name.data(), name.size(), "P%4.4d", param.number);
  }
  param.name = name.data();

  // Value names are keyed by number and the value's own text, whatever the type.
  TextBuffer value_text{};
  FormatValue(list, identifier, value, value_text);
  if (param.type == kParamTypeByte) {
    param.numeric = true;
    param.value = ByteAt(list, value);
  } else if (param.type == kParamTypeLong) {
    param.numeric = true;
    param.value = LongAt(list, value);
  }
  TextBuffer value_key{};
  SetText(value_key, {key.data(), ".", value_text.data()});
  if (const char* text = db_lookup(textdb_dat, textdb_size, kTextSection, value_key.data())) {
    SetText(value_text, {text});
  }
  param.text = value_text.data();
  return param;
}

}  // namespace

std::string DisplayLine(const AreaParam& param) {
  TextBuffer display{};
  const int tabs = DisplayTabCount(param.name.size());
  SetText(display, {param.name, std::string_view("\t\t\t\t", static_cast<std::size_t>(tabs)), param.text});
  return std::string(display.data());
}

std::vector<AreaParam> ReadAreaParams(ByteSpan list, std::int32_t length) {
  std::vector<AreaParam> params;
  std::int32_t remaining = ClampLength(list, length);
  std::size_t cursor = 0;
  while (remaining > 0) {
    std::uint16_t identifier = 0;
    std::size_t value = 0;
    get_next_param(list, &cursor, &remaining, &identifier, &value);
    params.push_back(ReadParam(list, identifier, value));
  }
  return params;
}

std::vector<AreaParam> ReadAreaParams(const AreaRecord& record) {
  return ReadAreaParams(AreaParams(record), AreaParamsLen(record));
}

int convert_line_to_text(ByteSpan list, std::int32_t length, std::uint32_t index,
                         std::span<char, kDumpLineSize> line) {
  std::int32_t remaining = ClampLength(list, length);
  if (remaining <= 0) return -1;

  std::size_t cursor = 0;
  std::uint16_t identifier = 0;
  std::size_t value = 0;
  get_next_param(list, &cursor, &remaining, &identifier, &value);
  for (std::uint32_t position = 0; position != index; ++position) {
    if (remaining <= 0) return -1;
    get_next_param(list, &cursor, &remaining, &identifier, &value);
  }
  std::snprintf(line.data(), line.size(), "%s", DisplayLine(ReadParam(list, identifier, value)).c_str());
  return 0;
}

int DisplayTabCount(std::size_t name_length) {
  const std::int64_t n = 31 - static_cast<std::int64_t>(std::min<std::size_t>(name_length, 1000));
  return n <= 0 ? 1 : static_cast<int>((n + 7) / 8);
}

const char* AreaHeading(std::int32_t area) {
  for (const AreaHeadingRow& row : kAreaHeadings) {
    if (row.area == area) return row.heading;
  }
  return nullptr;
}

std::string FormatAreaDump(std::int32_t area, const std::vector<AreaParam>& params) {
  std::string out = FormatF("Area: %.2d ", area);
  // Without a heading the first parameter line continues the "Area: " line.
  if (const char* heading = AreaHeading(area)) {
    out += heading;
    out += kAreaRule;
  }
  for (const AreaParam& param : params) AppendF(out, " %s\n", DisplayLine(param).c_str());
  return out;
}

std::string FormatAreaDump(std::int32_t area, const AreaRecord& record) {
  return FormatAreaDump(area, ReadAreaParams(record));
}

int GetStatusWith(const AreaDriver& driver, std::uint32_t line_handle, std::int32_t area) {
  std::unique_ptr<AreaRecord> record(new (std::nothrow) AreaRecord{});
  if (!record) {
    ConsoleWrite("Error: Error Allocating Memory.\n");
    return 1;
  }
  if (GetAreaWith(driver, line_handle, area, record.get()) != 0) return 0;  // GetArea has spoken
  ConsoleWrite(FormatAreaDump(area, *record));
  return 0;
}

int GetStatus(std::uint32_t line_handle, std::int32_t area) {
  return GetStatusWith(RealAreaDriver(), line_handle, area);
}
