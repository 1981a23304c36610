#include "status/line_list.h"

#include <algorithm>

#include "common/console.h"
#include "common/driver.h"

RegBuffer AddressBuffer{};
RegBuffer FriendlyBuffer{};
RegBuffer UsageBuffer{};

namespace {

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameLetter(char a, char b) { return AsciiLower(a) == AsciiLower(b); }

// Copies text into a fixed field, cut to what the field holds with its NUL.
void CopyText(std::string_view text, LineText* out) {
  out->fill('\0');
  text.substr(0, kLineTextSize - 1).copy(out->data(), kLineTextSize - 1);
}

// Walks the entries of a multi-string buffer: NUL-terminated texts one after another, ended by an
// empty one or by the end of the buffer. An entry without its NUL ends at the buffer's end.
class MultiStringCursor {
 public:
  explicit MultiStringCursor(const RegBuffer& buffer) : buffer_(buffer.data(), buffer.size()) {}

  // The current entry, cut to a field's 31 characters; empty at the end of the list.
  std::string_view Entry() const {
    if (pos_ >= buffer_.size()) return {};
    const std::string_view rest = buffer_.substr(pos_);
    return rest.substr(0, std::min(rest.find('\0'), kLineTextSize - 1));
  }

  void Next() {
    if (pos_ >= buffer_.size()) return;
    const std::size_t end = buffer_.find('\0', pos_);
    pos_ = end == std::string_view::npos ? buffer_.size() : end + 1;
  }

 private:
  std::string_view buffer_;
  std::size_t pos_ = 0;
};

bool AddressMatches(std::string_view address, std::string_view adapter, char line_char) {
  const std::size_t length = adapter.size();
  if (address.size() < length + 2) return false;
  for (std::size_t i = 0; i < length; ++i) {
    if (!SameLetter(address[i], adapter[i])) return false;
  }
  // The separator at index length is not looked at.
  return SameLetter(address[length + 1], line_char);
}

}  // namespace

std::string_view TextOf(const LineText& text) {
  const std::string_view all(text.data(), text.size());
  return all.substr(0, all.find('\0'));
}

long GetRegMultiStringValue(const char* subkey, const char* value_name, char* buffer, std::uint32_t* size) {
  return PlatRegQueryValue(subkey, value_name, buffer, size);
}

long ReadRasAssignments(const char** failure) {
  struct Value {
    const char* name;
    RegBuffer* buffer;
    const char* failure;
  };
  const Value values[] = {
      {"Address", &AddressBuffer, "\nCouldn't get TAPI idd's...\n"},
      {"Friendly Name", &FriendlyBuffer, "\nCouldn't get friendly names...\n"},
      {"Usage", &UsageBuffer, "\nCouldn't get RAS usage...\n"},
  };
  for (const Value& value : values) {
    std::uint32_t size = kRegBufferSize;
    const long result = GetRegMultiStringValue(kRasTapiKey, value.name, value.buffer->data(), &size);
    if (result != kRegOk) {
      *failure = value.failure;
      return result;
    }
  }
  return kRegOk;
}

long GetRasAssignments() {
  const char* failure = nullptr;
  const long result = ReadRasAssignments(&failure);
  if (result != kRegOk) ConsoleWrite(failure);
  return result;
}

void CorrelateLine(LineInfo* line) {
  const std::string_view name = TextOf(line->name);
  if (name.find("Tessix") != std::string_view::npos && name.find("LINE") != std::string_view::npos) {
    CoorelateRasAssignments(AdapterNumberOf(name), LineCharacterOf(name), &line->friendly_name, &line->usage);
  }
}

std::string_view AdapterNumberOf(std::string_view name) {
  const std::size_t at = name.find("Tessix");
  if (at == std::string_view::npos) return {};
  const std::string_view rest = name.substr(at + 6);
  std::size_t digits = 0;
  while (digits < rest.size() && rest[digits] >= '0' && rest[digits] <= '9') ++digits;
  return rest.substr(0, digits);
}

char LineCharacterOf(std::string_view name) {
  const std::size_t at = name.find("LINE");
  const std::size_t c_at = at == std::string_view::npos ? name.size() : at + 4;
  const unsigned c = c_at < name.size() ? static_cast<unsigned char>(name[c_at]) : 0u;
  // ((c + 16) mod 64) * 2 + 48: the digits 0 to 4 give 0, 2, 4, 6 and 8.
  return static_cast<char>(static_cast<unsigned char>(((c + 16u) % 64u) * 2u + 48u));
}

void CoorelateRasAssignments(std::string_view adapter, char line_char, LineText* friendly_name,
                             LineText* usage) {
  MultiStringCursor addresses(AddressBuffer), friendlies(FriendlyBuffer), usages(UsageBuffer);
  for (;;) {
    const std::string_view address = addresses.Entry();
    const std::string_view friendly = friendlies.Entry();
    const std::string_view use = usages.Entry();
    if (address.empty() || friendly.empty() || use.empty()) return;
    if (AddressMatches(address, adapter, line_char)) {
      CopyText(friendly, friendly_name);
      CopyText(use, usage);
      return;
    }
    addresses.Next();
    friendlies.Next();
    usages.Next();
  }
}

int enum_idd(LineList* list, long ras_result) {
  CommandHolder block = AllocateCommand();
  if (!block) return 0;
  block->SetOpcode(OP_ENUM_IDD);
  if (io_exec(block.get()) != 0) return 0;
  // The reply reader takes at most 20 lines and cuts each name to 31 characters.
  const EnumReply reply = ReadEnumReply(*block);
  for (std::size_t i = 0; i < reply.count; ++i) {
    LineInfo& line = (*list)[i];
    line = LineInfo{};
    line.handle = reply.lines[i].handle;
    CopyText(std::string_view(reply.lines[i].name.data()), &line.name);
    if (ras_result == kRegOk) CorrelateLine(&line);
  }
  return static_cast<int>(reply.count);
}
