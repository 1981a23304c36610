// SPDX-License-Identifier: BSD-2-Clause
// The version query on Linux: BRI_OS chooses the system reported, the kernel release the numbers.
#include "platform/posix/os_version.h"

#include <sys/utsname.h>

#include <cctype>
#include <cstdlib>
#include <string>

#include "base/program_message.h"

namespace {

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

// One decimal number at the front of text (at least one digit, fits in 32 bits); text moves past it.
bool TakeNumber(std::string_view* text, std::uint32_t* value) {
  std::uint64_t v = 0;
  std::size_t i = 0;
  while (i < text->size() && (*text)[i] >= '0' && (*text)[i] <= '9') {
    v = v * 10 + static_cast<std::uint64_t>((*text)[i] - '0');
    if (v > 0xFFFFFFFFu) return false;
    ++i;
  }
  if (i == 0) return false;
  *value = static_cast<std::uint32_t>(v);
  text->remove_prefix(i);
  return true;
}

// "MAJOR.MINOR.BUILD", all three present and nothing after them.
bool ParseExactNumbers(std::string_view text, OsVersion* version) {
  std::uint32_t n[3] = {};
  for (int i = 0; i < 3; ++i) {
    if (i > 0) {
      if (text.empty() || text.front() != '.') return false;
      text.remove_prefix(1);
    }
    if (!TakeNumber(&text, &n[i])) return false;
  }
  if (!text.empty()) return false;
  version->major = n[0];
  version->minor = n[1];
  version->build = n[2];
  return true;
}

// A kernel release such as "6.1.0-18-amd64": as many leading dotted numbers as there are, the
// rest zero.
void ParseKernelRelease(std::string_view text, OsVersion* version) {
  std::uint32_t n[3] = {};
  for (int i = 0; i < 3; ++i) {
    if (i > 0) {
      if (text.empty() || text.front() != '.') break;
      text.remove_prefix(1);
    }
    if (!TakeNumber(&text, &n[i])) break;
  }
  version->major = n[0];
  version->minor = n[1];
  version->build = n[2];
}

}  // namespace

bool ParseOsSetting(const char* setting, std::string_view kernel_release, OsVersion* version,
                    bool* understood) {
  *version = OsVersion{};
  if (understood != nullptr) *understood = true;
  std::string_view text = setting != nullptr ? setting : "";
  std::string_view kind = text;
  std::string_view numbers;
  bool has_numbers = false;
  if (const std::size_t colon = text.find(':'); colon != std::string_view::npos) {
    kind = text.substr(0, colon);
    numbers = text.substr(colon + 1);
    has_numbers = true;
  }

  std::uint32_t platform_id = 0;
  bool known = true;
  if (kind.empty() || EqualsNoCase(kind, "nt")) {
    platform_id = kPlatformWin32Nt;
  } else if (kind == "95") {
    platform_id = kPlatformWin32Windows;
  } else if (EqualsNoCase(kind, "other")) {
    platform_id = 0;
  } else if (EqualsNoCase(kind, "fail") && !has_numbers) {
    return false;
  } else {
    known = false;
  }

  ParseKernelRelease(kernel_release, version);
  // Numbers that do not read as MAJOR.MINOR.BUILD make the whole setting unrecognised.
  if (known && has_numbers && !ParseExactNumbers(numbers, version)) known = false;
  version->platform_id = known ? platform_id : 0;
  if (understood != nullptr) *understood = known;
  return true;
}

bool PlatGetVersion(OsVersion* version) {
  utsname names{};
  std::string_view release;
  if (uname(&names) == 0) release = names.release;
  OsVersion found;
  bool understood = true;
  const char* setting = std::getenv("BRI_OS");
  if (!ParseOsSetting(setting, release, &found, &understood)) {
    *version = OsVersion{};
    return false;
  }
  if (!understood) {
    // The system reported is then an unsupported one; say which setting led there.
    std::string line = "BRI_OS value not understood: \"";
    line += setting;
    line += "\" (use nt, 95 or other, optionally with :MAJOR.MINOR.BUILD, or fail)\n";
    WriteStderr(line);
  }
  *version = found;
  return true;
}
