#include "platform/registry_export.h"

#include <cstring>
#include <optional>
#include <vector>

namespace {

constexpr long kRegInvalidParameter = 87;  // ERROR_INVALID_PARAMETER

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

std::string_view TrimLeft(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  return s;
}

std::string_view TrimRight(std::string_view s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

std::string_view Trim(std::string_view s) { return TrimRight(TrimLeft(s)); }

// UTF-16LE code units to single bytes, as the ANSI functions see them: units below 0x100 stand for
// themselves, any other character (a surrogate pair counting as one) becomes '?'. An odd last
// byte is dropped.
std::string NarrowUtf16(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() / 2);
  bool after_high_surrogate = false;
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const auto unit = static_cast<std::uint16_t>(static_cast<unsigned char>(bytes[i]) |
                                                 (static_cast<unsigned char>(bytes[i + 1]) << 8));
    const bool low_surrogate = unit >= 0xDC00 && unit <= 0xDFFF;
    if (!(low_surrogate && after_high_surrogate)) out.push_back(unit < 0x100 ? static_cast<char>(unit) : '?');
    after_high_surrogate = unit >= 0xD800 && unit <= 0xDBFF;
  }
  return out;
}

// The file's text as single bytes: a UTF-16LE file (byte-order mark FF FE) is narrowed, a UTF-8
// byte-order mark is dropped.
std::string DecodeFile(std::string_view file) {
  if (file.size() >= 2 && static_cast<unsigned char>(file[0]) == 0xFF &&
      static_cast<unsigned char>(file[1]) == 0xFE) {
    return NarrowUtf16(file.substr(2));
  }
  if (file.size() >= 3 && file.substr(0, 3) == "\xEF\xBB\xBF") return std::string(file.substr(3));
  return std::string(file);
}

std::vector<std::string_view> SplitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    lines.push_back(TrimRight(text.substr(0, end)));
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return lines;
}

// A quoted string at the front of text, with regedit's escapes \\ and \"; text moves past it.
std::optional<std::string> TakeQuoted(std::string_view* text) {
  if (text->empty() || text->front() != '"') return std::nullopt;
  std::string out;
  for (std::size_t i = 1; i < text->size(); ++i) {
    const char c = (*text)[i];
    if (c == '"') {
      text->remove_prefix(i + 1);
      return out;
    }
    if (c == '\\' && i + 1 < text->size() && ((*text)[i + 1] == '\\' || (*text)[i + 1] == '"')) {
      out.push_back((*text)[++i]);
    } else {
      out.push_back(c);
    }
  }
  return std::nullopt;  // no closing quote
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// "41,00,42,00": bytes separated by commas, blanks allowed around them.
std::optional<std::string> ParseHexBytes(std::string_view text) {
  std::string out;
  text = Trim(text);
  if (text.empty()) return out;
  while (true) {
    text = TrimLeft(text);
    std::size_t digits = 0;
    int value = 0;
    while (digits < text.size() && HexDigit(text[digits]) >= 0) {
      value = value * 16 + HexDigit(text[digits]);
      ++digits;
    }
    if (digits == 0 || digits > 2) return std::nullopt;
    out.push_back(static_cast<char>(value));
    text = TrimLeft(text.substr(digits));
    if (text.empty()) return out;
    if (text.front() != ',') return std::nullopt;
    text.remove_prefix(1);
  }
}

// The data after "=" in its single-byte form; nullopt for data that cannot be read or a deletion.
std::optional<std::string> ParseData(std::string_view text, bool unicode_export) {
  text = Trim(text);
  if (!text.empty() && text.front() == '"') {
    std::optional<std::string> s = TakeQuoted(&text);
    if (!s || !Trim(text).empty()) return std::nullopt;
    s->push_back('\0');
    return s;
  }
  if (StartsWithNoCase(text, "dword:")) {
    const std::string_view digits = Trim(text.substr(6));
    if (digits.empty() || digits.size() > 8) return std::nullopt;
    std::uint32_t value = 0;
    for (char c : digits) {
      const int d = HexDigit(c);
      if (d < 0) return std::nullopt;
      value = value * 16 + static_cast<std::uint32_t>(d);
    }
    std::string out(4, '\0');
    for (std::size_t i = 0; i < 4; ++i) out[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
    return out;
  }
  if (StartsWithNoCase(text, "hex")) {
    text.remove_prefix(3);
    unsigned type = 3;  // REG_BINARY
    if (!text.empty() && text.front() == '(') {
      const std::size_t close = text.find(')');
      if (close == std::string_view::npos || close == 1 || close > 9) return std::nullopt;
      type = 0;
      for (char c : text.substr(1, close - 1)) {
        const int d = HexDigit(c);
        if (d < 0) return std::nullopt;
        type = type * 16 + static_cast<unsigned>(d);
      }
      text.remove_prefix(close + 1);
    }
    if (text.empty() || text.front() != ':') return std::nullopt;
    std::optional<std::string> bytes = ParseHexBytes(text.substr(1));
    if (!bytes) return std::nullopt;
    // String types (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ) are UTF-16LE in a version 5 export.
    const bool string_type = type == 1 || type == 2 || type == 7;
    if (unicode_export && string_type) return NarrowUtf16(*bytes);
    return bytes;
  }
  return std::nullopt;
}

constexpr std::string_view kRootName = "HKEY_LOCAL_MACHINE";

// The key path of a "[...]" line relative to HKEY_LOCAL_MACHINE; nullopt for another root.
std::optional<std::string_view> SectionKey(std::string_view line) {
  const std::size_t close = line.rfind(']');
  if (close == std::string_view::npos) return std::nullopt;
  std::string_view path = line.substr(1, close - 1);
  if (!StartsWithNoCase(path, kRootName)) return std::nullopt;
  path.remove_prefix(kRootName.size());
  if (path.empty()) return path;
  if (path.front() != '\\') return std::nullopt;
  return path.substr(1);
}

}  // namespace

long FindRegistryValue(std::string_view file, std::string_view key_path, std::string_view value_name,
                       std::string* data) {
  const std::string text = DecodeFile(file);
  const std::vector<std::string_view> lines = SplitLines(text);

  std::size_t i = 0;
  while (i < lines.size() && Trim(lines[i]).empty()) ++i;
  if (i == lines.size()) return kRegFileNotFound;
  const std::string_view header = Trim(lines[i]);
  bool unicode_export;
  if (header == "REGEDIT4") {
    unicode_export = false;
  } else if (header == "Windows Registry Editor Version 5.00") {
    unicode_export = true;
  } else {
    return kRegFileNotFound;
  }
  ++i;

  bool in_key = false;
  std::optional<std::string> found;
  std::string logical;
  while (i < lines.size()) {
    // One logical line: a line ending in a backslash goes on with the next one.
    logical.assign(TrimLeft(lines[i++]));
    while (!logical.empty() && logical.back() == '\\' && i < lines.size()) {
      logical.pop_back();
      logical.append(TrimLeft(lines[i++]));
    }
    std::string_view line = Trim(logical);
    if (line.empty() || line.front() == ';') continue;

    if (line.front() == '[') {
      if (line.size() > 1 && line[1] == '-') {
        // "[-KEY]" deletes the key with everything under it, values read so far included.
        const std::string section = "[" + std::string(line.substr(2));
        const std::optional<std::string_view> deleted = SectionKey(section);
        if (deleted && (EqualsNoCase(*deleted, key_path) ||
                        (StartsWithNoCase(key_path, *deleted) && key_path.size() > deleted->size() &&
                         key_path[deleted->size()] == '\\'))) {
          found.reset();
        }
        in_key = false;
        continue;
      }
      const std::optional<std::string_view> key = SectionKey(line);
      in_key = key && EqualsNoCase(*key, key_path);
      continue;
    }
    if (!in_key) continue;

    std::string name;
    if (line.front() == '@') {
      line.remove_prefix(1);
    } else {
      std::optional<std::string> quoted = TakeQuoted(&line);
      if (!quoted) continue;
      name = std::move(*quoted);
    }
    line = TrimLeft(line);
    if (line.empty() || line.front() != '=') continue;
    if (!EqualsNoCase(name, value_name)) continue;
    // A later line for the same value replaces an earlier one, as an import would; "-" deletes it.
    if (Trim(line.substr(1)) == "-") {
      found.reset();
      continue;
    }
    if (std::optional<std::string> value = ParseData(line.substr(1), unicode_export)) found = std::move(value);
  }
  if (!found) return kRegFileNotFound;
  *data = std::move(*found);
  return kRegOk;
}

long CopyRegistryValue(std::string_view data, char* buffer, std::uint32_t* size) {
  if (size == nullptr) return kRegInvalidParameter;
  if (data.size() > 0xFFFFFFFFu) return kRegInvalidParameter;
  const auto needed = static_cast<std::uint32_t>(data.size());
  if (buffer == nullptr) {
    *size = needed;
    return kRegOk;
  }
  if (*size < needed) {
    *size = needed;
    return kRegMoreData;
  }
  if (needed > 0) std::memcpy(buffer, data.data(), needed);
  *size = needed;
  return kRegOk;
}
