#include "bricap/options.h"

#include <algorithm>
#include <charconv>
#include <string_view>

#include "common/enum_reply.h"
#include "base/version.h"

namespace bricap {
namespace {

// A whole decimal number from 1 to max.
std::optional<std::uint64_t> ParsePositive(std::string_view text, std::uint64_t max) {
  std::uint64_t value = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (text.empty() || ec != std::errc() || ptr != end || value == 0 || value > max) return std::nullopt;
  return value;
}

// The value of "-x VALUE", "-xVALUE", "--name VALUE" or "--name=VALUE"; false when none follows.
bool TakeValue(int argc, char** argv, int* i, std::string_view rest, std::string* value) {
  if (!rest.empty()) {
    *value = std::string(rest);
    return true;
  }
  if (*i + 1 >= argc || argv[*i + 1] == nullptr) return false;
  *value = argv[++*i];
  return true;
}

}  // namespace

std::optional<std::size_t> ParseLineIndex(const std::string& text) {
  std::string_view digits(text);
  if (digits.substr(0, 3) == "bri") digits.remove_prefix(3);
  std::size_t value = 0;
  const char* end = digits.data() + digits.size();
  const auto [ptr, ec] = std::from_chars(digits.data(), end, value);
  if (digits.empty() || ec != std::errc() || ptr != end || value >= kMaxLines) return std::nullopt;
  return value;
}

std::string InterfaceValue(std::size_t index) { return "bri" + std::to_string(index); }

bool ParseArguments(int argc, char** argv, Options* options, std::string* error) {
  bool list_lines = false, usage = false, version = false, have_file = false;
  bool extcap_interfaces = false, extcap_version = false, extcap_dlts = false, extcap_config = false;
  bool extcap_capture = false, have_fifo = false;
  std::optional<std::string> extcap_interface;
  auto add_line = [&](const std::string& text) {
    const std::optional<std::size_t> index = ParseLineIndex(text);
    if (!index) {
      *error = "The line \"" + text + "\" is not a line number from 0 to 19 (see bricap -D).";
      return false;
    }
    if (std::find(options->lines.begin(), options->lines.end(), *index) == options->lines.end()) {
      options->lines.push_back(*index);
    }
    return true;
  };

  for (int i = 1; i < argc; ++i) {
    if (argv[i] == nullptr) continue;
    const std::string_view arg(argv[i]);
    std::string value;
    if (arg.substr(0, 2) == "--") {
      const std::size_t eq = arg.find('=');
      const std::string_view name = arg.substr(0, eq);
      const std::string_view rest = eq == std::string_view::npos ? std::string_view() : arg.substr(eq + 1);
      auto needs_value = [&]() {
        if (TakeValue(argc, argv, &i, rest, &value)) return true;
        *error = "Option " + std::string(name) + " needs a value.";
        return false;
      };
      if (name == "--extcap-interfaces") {
        extcap_interfaces = true;
      } else if (name == "--extcap-version") {
        extcap_version = true;  // the version of the caller, when given, changes nothing
      } else if (name == "--extcap-dlts") {
        extcap_dlts = true;
      } else if (name == "--extcap-config") {
        extcap_config = true;
      } else if (name == "--capture") {
        extcap_capture = true;
      } else if (name == "--extcap-interface") {
        if (!needs_value()) return false;
        extcap_interface = value;
      } else if (name == "--fifo") {
        if (!needs_value()) return false;
        options->file = value;
        have_fifo = true;
      } else if (name == "--extcap-capture-filter") {
        if (!needs_value()) return false;
        options->capture_filter = value;
      } else if (name == "--extcap-control-in" || name == "--extcap-control-out" || name == "--debug-file") {
        if (!needs_value()) return false;  // no controls, no debug log: taken and left unused
      } else if (name == "--debug") {
      } else if (name == "--help") {
        usage = true;
      } else if (name == "--version") {
        version = true;
      } else {
        *error = "Unknown option " + std::string(arg) + ".";
        return false;
      }
      continue;
    }
    if (arg.size() < 2 || arg[0] != '-') {
      *error = "Unexpected argument \"" + std::string(arg) + "\".";
      return false;
    }
    const char letter = arg[1];
    const std::string_view rest = arg.substr(2);
    auto needs_value = [&]() {
      if (TakeValue(argc, argv, &i, rest, &value)) return true;
      *error = std::string("Option -") + letter + " needs a value.";
      return false;
    };
    switch (letter) {
      case 'h':
      case '?':
        if (!rest.empty()) break;
        usage = true;
        continue;
      case 'v':
        if (!rest.empty()) break;
        version = true;
        continue;
      case 'D':
        if (!rest.empty()) break;
        list_lines = true;
        continue;
      case 'i':
        if (!needs_value() || !add_line(value)) return false;
        continue;
      case 'w':
        if (!needs_value()) return false;
        options->file = value;
        have_file = true;
        continue;
      case 'c': {
        if (!needs_value()) return false;
        const std::optional<std::uint64_t> count = ParsePositive(value, UINT64_MAX);
        if (!count) {
          *error = "The specified packet count \"" + value + "\" isn't a positive number.";
          return false;
        }
        options->count = *count;
        continue;
      }
      case 'a': {
        if (!needs_value()) return false;
        constexpr std::string_view kDuration = "duration:";
        const std::optional<std::uint64_t> seconds =
            value.rfind(kDuration, 0) == 0
                ? ParsePositive(std::string_view(value).substr(kDuration.size()), UINT32_MAX)
                : std::nullopt;
        if (!seconds) {
          *error = "Invalid or unknown -a flag \"" + value + "\" (duration:SEC is known).";
          return false;
        }
        options->duration = static_cast<std::uint32_t>(*seconds);
        continue;
      }
      default:
        break;
    }
    *error = "Unknown option " + std::string(arg) + ".";
    return false;
  }

  if (usage) {
    options->action = Action::kUsage;
    return true;
  }
  if (version) {
    options->action = Action::kVersion;
    return true;
  }
  const bool extcap = extcap_interfaces || extcap_version || extcap_dlts || extcap_config || extcap_capture ||
                      extcap_interface || have_fifo || options->capture_filter;
  if (extcap) {
    if (extcap_interface) {
      options->lines.clear();
      if (!add_line(*extcap_interface)) return false;
    }
    if (extcap_interfaces) {
      options->action = Action::kExtcapInterfaces;
    } else if (extcap_version && !extcap_dlts && !extcap_config && !extcap_capture) {
      options->action = Action::kExtcapVersion;
    } else if (!extcap_interface) {
      *error = "No interface given (--extcap-interface bri<N>).";
      return false;
    } else if (extcap_dlts) {
      options->action = Action::kExtcapDlts;
    } else if (extcap_config) {
      options->action = Action::kExtcapConfig;
    } else if (extcap_capture) {
      if (!have_fifo) {
        *error = "No FIFO given (--fifo PATH).";
        return false;
      }
      options->action = Action::kExtcapCapture;
    } else if (options->capture_filter) {
      options->action = Action::kExtcapFilter;
    } else {
      *error = "Nothing to do for the interface (--capture, --extcap-dlts or --extcap-config).";
      return false;
    }
    return true;
  }
  if (list_lines) {
    options->action = Action::kListLines;
    return true;
  }
  if (!have_file) {
    *error = "No capture file given (-w FILE, or -w - for standard output).";
    return false;
  }
  options->action = Action::kCapture;
  return true;
}

std::string UsageText() {
  return VersionText() +
         "Capture the D-channel frames of the ISDN adapter's lines into a pcapng file.\n"
         "\n"
         "Usage: bricap [options] -w <outfile>\n"
         "\n"
         "Capture lines:\n"
         "  -i <line>                number of a line to capture, as -D lists it (or bri<line>);\n"
         "                           repeat it for several lines; all lines when none is given\n"
         "  -D                       print the list of lines and exit\n"
         "\n"
         "Stop conditions:\n"
         "  -c <packet count>        stop after n frames (def: infinite)\n"
         "  -a duration:NUM          stop after NUM seconds\n"
         "\n"
         "Output:\n"
         "  -w <filename>            name of the pcapng file to write (- for standard output)\n"
         "\n"
         "Miscellaneous:\n"
         "  -h                       display this help and exit\n"
         "  -v                       display version info and exit\n"
         "\n"
         "Wireshark extcap (Wireshark calls these itself):\n"
         "  --extcap-interfaces      list the lines as interfaces bri<line>\n"
         "  --extcap-version         print the extcap version\n"
         "  --extcap-dlts            the link type of an interface\n"
         "  --extcap-config          the options of an interface (none)\n"
         "  --extcap-interface <bri<line>>  the interface of --extcap-dlts, --extcap-config, --capture\n"
         "  --capture                capture the interface into --fifo\n"
         "  --fifo <path>            the pipe Wireshark reads\n"
         "  --extcap-capture-filter <filter>  refused: every frame is captured\n";
}

std::string VersionText() { return "bricap (bri-tools) " + std::string(kVersionText) + "\n"; }

}  // namespace bricap
