#include "status/options.h"

#include <array>
#include <cstring>

#include "common/console.h"
#include "common/driver.h"
#include "base/version.h"

std::int32_t Verbose = 0;
std::int32_t TellFlag = 0;
std::uint8_t NewLineInf = 0;
std::uint8_t PrintAllAreas = 0;
std::int32_t AreaToPrint = 0;
OsVersion VerInfoStruc{};

namespace {

constexpr std::string_view kUsage =
    "\nUsage: linestat       (default)\n"
    "       linestat -v    (default verbose)\n"
    "       linestat -a    (dump of all areas)\n"
    "       linestat -ax   (x is any valid area: 1, 2, 3, 10, 11, 12, 21, 22)\n"
    "       linestat -h    (print this screen)\n";

// Three distinct texts: too many arguments (printed by main), a malformed argument, and an unknown
// letter or area digit.
constexpr std::string_view kInvalidLongOrNonDigit = "\nInvalid argument!\n\n";
constexpr std::string_view kInvalidLetter = "Invalid Argument!\n";
constexpr std::string_view kInvalidArea = "Invalid Area!\n";

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

ParsedOption Invalid(std::string_view message) {
  ParsedOption parsed;
  parsed.outcome = ParsedOption::kInvalid;
  parsed.text = std::string(message) + std::string(kUsage);
  return parsed;
}

ParsedOption Area(std::int32_t area) {
  ParsedOption parsed;
  parsed.area_mode = true;
  parsed.area = area;
  return parsed;
}

}  // namespace

ParsedOption ParseOption(std::string_view arg) {
  // The argument is a switch character, a letter and up to two digits; positions that the
  // argument does not reach read as NUL.
  if (arg.size() > 4) return Invalid(kInvalidLongOrNonDigit);
  std::array<char, 5> buf{};
  arg.copy(buf.data(), arg.size());
  const char letter = buf[1], first = buf[2], second = buf[3];
  if ((first != '\0' && !IsDigit(first)) || (second != '\0' && !IsDigit(second))) {
    return Invalid(kInvalidLongOrNonDigit);
  }
  // Any switch character serves: /v works like -v.
  switch (letter) {
    case '?':
    case 'H':
    case 'h': {
      ParsedOption parsed;
      parsed.outcome = ParsedOption::kHelp;
      parsed.text = std::string(kUsage);
      return parsed;
    }
    case 'V':
    case 'v': {
      // Digits after the letter are accepted and ignored.
      ParsedOption parsed;
      parsed.verbose = true;
      return parsed;
    }
    case 'A':
    case 'a':
      switch (first) {
        case '\0': {
          ParsedOption parsed;
          parsed.area_mode = true;
          parsed.all_areas = true;
          return parsed;
        }
        case '1':
          switch (second) {
            case '\0': return Area(1);
            case '0': return Area(10);
            case '1': return Area(11);
            case '2': return Area(12);
            default: return Invalid(kInvalidArea);
          }
        case '2':
          switch (second) {
            case '\0': return Area(2);
            case '1': return Area(21);
            case '2': return Area(22);
            default: return Invalid(kInvalidArea);
          }
        case '3':
          return second == '\0' ? Area(3) : Invalid(kInvalidArea);
        default:
          return Invalid(kInvalidLetter);
      }
    default:
      return Invalid(kInvalidLetter);
  }
}

bool ParseCommandLine(int argc, char** argv, int* exit_status) {
  const std::string_view arg = argc > 1 && argv[1] != nullptr ? std::string_view(argv[1]) : std::string_view();
  const ParsedOption parsed = ParseOption(arg);
  if (parsed.verbose) Verbose = 1;
  if (parsed.area_mode) NewLineInf = 1;
  if (parsed.all_areas) PrintAllAreas = 1;
  if (parsed.area != 0) AreaToPrint = parsed.area;
  if (!parsed.text.empty()) ConsoleWrite(parsed.text);
  switch (parsed.outcome) {
    case ParsedOption::kGo:
      return true;
    case ParsedOption::kHelp:
      *exit_status = kExitOk;
      return false;
    case ParsedOption::kInvalid:
      break;
  }
  *exit_status = kExitInvalidArgument;
  return false;
}

std::string UsageText() { return std::string(kUsage); }

void UsageInfo() { ConsoleWrite(kUsage); }

std::string BannerText(int os, const OsVersion& version) {
  std::string text = FormatF("linestat - Version %2d.%02d\n", kVersionMajor, kVersionMinor);
  text += "Copyright (C) The bri-tools authors. All rights reserved.\n";
  text += os == kOsWindows95 ? "OS = Windows 95 " : "OS = Windows NT ";
  // The version record's fields are printed whole as signed decimals.
  AppendF(text, " Version: %d.%d   Build:%d \n", static_cast<std::int32_t>(version.major),
          static_cast<std::int32_t>(version.minor), static_cast<std::int32_t>(version.build));
  return text;
}

void DoSignonBanner() { ConsoleWrite(BannerText(CurrentOS, VerInfoStruc)); }

std::string TellVerboseText(bool tell, bool verbose) {
  if (!tell || verbose) return std::string();
  return "\nRun linestat -v for more information!\nOr, use -h for more info\n";
}

void TellVerbose() { ConsoleWrite(TellVerboseText(TellFlag != 0, Verbose != 0)); }
