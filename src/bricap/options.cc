#include "bricap/options.h"

#include <algorithm>
#include <charconv>
#include <span>
#include <string_view>

#include "base/version.h"
#include "common/enum_reply.h"

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

// What the command line asks for, before the action is chosen from it.
struct Request {
  explicit Request(Options* chosen) : options(chosen) {}

  Options* options;
  bool usage = false, version = false, list_lines = false, have_file = false;
  // Wireshark's extcap requests.
  bool interfaces = false, extcap_version = false, dlts = false, config = false, capture = false;
  bool have_fifo = false;
  std::optional<std::string> interface;

  bool Extcap() const {
    return interfaces || extcap_version || dlts || config || capture || interface || have_fifo ||
           options->capture_filter;
  }
};

// Takes an option's value into the request; false with *error when the value is bad.
using Setter = bool (*)(Request& r, const std::string& value, std::string* error);

struct OptionEntry {
  std::string_view name;  // "--name", or "-x" for a letter
  bool takes_value;
  Setter set;
};

bool AddLine(Request& r, const std::string& text, std::string* error) {
  const std::optional<std::size_t> index = ParseLineIndex(text);
  if (!index) {
    *error = "The line \"" + text + "\" is not a line number from 0 to 19 (see bricap -D).";
    return false;
  }
  std::vector<std::size_t>& lines = r.options->lines;
  if (std::find(lines.begin(), lines.end(), *index) == lines.end()) lines.push_back(*index);
  return true;
}

bool SetCount(Request& r, const std::string& value, std::string* error) {
  const std::optional<std::uint64_t> count = ParsePositive(value, UINT64_MAX);
  if (!count) {
    *error = "The specified packet count \"" + value + "\" isn't a positive number.";
    return false;
  }
  r.options->count = *count;
  return true;
}

// One "name:NUMBER" criterion of -a or -b.
struct Criterion {
  std::string_view name;  // with its colon
  std::uint64_t max;
  void (*set)(Options& options, std::uint64_t value);
};

constexpr Criterion kStopCriteria[] = {
    {"duration:", UINT32_MAX,
     [](Options& o, std::uint64_t v) { o.duration = static_cast<std::uint32_t>(v); }},
    {"filesize:", UINT64_MAX / 1000, [](Options& o, std::uint64_t v) { o.stop_filesize_kb = v; }},
    {"files:", UINT32_MAX, [](Options& o, std::uint64_t v) { o.stop_files = static_cast<std::uint32_t>(v); }},
    {"packets:", UINT64_MAX,
     [](Options& o, std::uint64_t v) { o.count = o.count == 0 ? v : std::min(o.count, v); }},
};

constexpr Criterion kSwitchCriteria[] = {
    {"duration:", UINT32_MAX,
     [](Options& o, std::uint64_t v) { o.switch_duration = static_cast<std::uint32_t>(v); }},
    {"interval:", UINT32_MAX,
     [](Options& o, std::uint64_t v) { o.switch_interval = static_cast<std::uint32_t>(v); }},
    {"filesize:", UINT64_MAX / 1000, [](Options& o, std::uint64_t v) { o.switch_filesize_kb = v; }},
    {"packets:", UINT64_MAX, [](Options& o, std::uint64_t v) { o.switch_packets = v; }},
    {"files:", UINT32_MAX, [](Options& o, std::uint64_t v) { o.ring_files = static_cast<std::uint32_t>(v); }},
};

// Takes "name:NUMBER" by the table; false when the name is unknown or the number not positive.
bool TakeCriterion(std::span<const Criterion> table, const std::string& value, Options* options) {
  for (const Criterion& c : table) {
    if (value.rfind(c.name, 0) != 0) continue;
    const std::optional<std::uint64_t> number =
        ParsePositive(std::string_view(value).substr(c.name.size()), c.max);
    if (!number) return false;
    c.set(*options, *number);
    return true;
  }
  return false;
}

bool SetAutostop(Request& r, const std::string& value, std::string* error) {
  if (TakeCriterion(kStopCriteria, value, r.options)) return true;
  *error = "Invalid or unknown -a flag \"" + value +
           "\" (duration:SEC, filesize:KB, files:N and packets:N are known).";
  return false;
}

bool SetRingBuffer(Request& r, const std::string& value, std::string* error) {
  r.options->multiple_files = true;
  constexpr std::string_view kPrintName = "printname:";
  if (value.rfind(kPrintName, 0) == 0 && value.size() > kPrintName.size()) {
    r.options->printname = value.substr(kPrintName.size());
    return true;
  }
  if (TakeCriterion(kSwitchCriteria, value, r.options)) return true;
  *error = "Invalid or unknown -b flag \"" + value +
           "\" (duration:SEC, interval:SEC, filesize:KB, packets:N, files:N and printname:FILE are known).";
  return false;
}

// A flag that only sets a field of the request.
template <bool Request::*Field>
bool Flag(Request& r, const std::string&, std::string*) {
  r.*Field = true;
  return true;
}

bool Ignored(Request&, const std::string&, std::string*) { return true; }

// The dumpcap-style options of a capture into a file.
constexpr OptionEntry kCaptureOptions[] = {
    {"-h", false, Flag<&Request::usage>},
    {"-?", false, Flag<&Request::usage>},
    {"-v", false, Flag<&Request::version>},
    {"-D", false, Flag<&Request::list_lines>},
    {"-i", true, AddLine},
    {"-w", true,
     [](Request& r, const std::string& value, std::string*) {
       r.options->file = value;
       r.have_file = true;
       return true;
     }},
    {"-c", true, SetCount},
    {"-a", true, SetAutostop},
    {"-b", true, SetRingBuffer},
    {"--keep-failed", true,
     [](Request& r, const std::string& value, std::string* error) {
       if (value.empty()) {
         *error = "--keep-failed needs the name of a folder.";
         return false;
       }
       r.options->keep_failed = value;
       return true;
     }},
    {"--help", false, Flag<&Request::usage>},
    {"--version", false, Flag<&Request::version>},
};

// Wireshark's extcap requests. A value given to a flag ("--extcap-version=4.0", the caller's
// version) changes nothing.
constexpr OptionEntry kExtcapOptions[] = {
    {"--extcap-interfaces", false, Flag<&Request::interfaces>},
    {"--extcap-version", false, Flag<&Request::extcap_version>},
    {"--extcap-dlts", false, Flag<&Request::dlts>},
    {"--extcap-config", false, Flag<&Request::config>},
    {"--capture", false, Flag<&Request::capture>},
    {"--extcap-interface", true,
     [](Request& r, const std::string& value, std::string*) {
       r.interface = value;
       return true;
     }},
    {"--fifo", true,
     [](Request& r, const std::string& value, std::string*) {
       r.options->file = value;
       r.have_fifo = true;
       return true;
     }},
    {"--extcap-capture-filter", true,
     [](Request& r, const std::string& value, std::string*) {
       r.options->capture_filter = value;
       return true;
     }},
    // No controls and no debug log: taken and left unused.
    {"--extcap-control-in", true, Ignored},
    {"--extcap-control-out", true, Ignored},
    {"--debug-file", true, Ignored},
    {"--debug", false, Ignored},
};

const OptionEntry* FindOption(std::string_view name) {
  for (const auto& table :
       {std::span<const OptionEntry>(kCaptureOptions), std::span<const OptionEntry>(kExtcapOptions)}) {
    for (const OptionEntry& entry : table) {
      if (entry.name == name) return &entry;
    }
  }
  return nullptr;
}

// One argument (and its value, when the option takes one from the next argument).
bool TakeArgument(int argc, char** argv, int* i, Request& r, std::string* error) {
  const std::string_view arg(argv[*i]);
  if (arg.size() < 2 || arg[0] != '-') {
    *error = "Unexpected argument \"" + std::string(arg) + "\".";
    return false;
  }
  // "--name=VALUE" or "--name VALUE"; "-xVALUE" or "-x VALUE".
  const bool long_form = arg.substr(0, 2) == "--";
  const std::size_t split = long_form ? std::min(arg.find('='), arg.size()) : 2;
  const std::string_view name = arg.substr(0, split);
  std::string_view rest = arg.substr(std::min(split + (long_form ? 1 : 0), arg.size()));
  const OptionEntry* entry = FindOption(name);
  if (entry == nullptr || (!long_form && !entry->takes_value && !rest.empty())) {
    *error = "Unknown option " + std::string(arg) + ".";
    return false;
  }
  std::string value;
  if (entry->takes_value) {
    const bool attached = long_form ? split < arg.size() : !rest.empty();
    if (attached) {
      value = std::string(rest);
    } else if (*i + 1 < argc && argv[*i + 1] != nullptr) {
      value = argv[++*i];
    } else {
      *error = "Option " + std::string(name) + " needs a value.";
      return false;
    }
  }
  return entry->set(r, value, error);
}

// The extcap request Wireshark made.
bool ChooseExtcapAction(Request& r, std::string* error) {
  Options* options = r.options;
  if (r.interface) {
    options->lines.clear();
    if (!AddLine(r, *r.interface, error)) return false;
  }
  if (r.interfaces) {
    options->action = Action::kExtcapInterfaces;
  } else if (r.extcap_version && !r.dlts && !r.config && !r.capture) {
    options->action = Action::kExtcapVersion;
  } else if (!r.interface) {
    *error = "No interface given (--extcap-interface bri<N>).";
    return false;
  } else if (r.dlts) {
    options->action = Action::kExtcapDlts;
  } else if (r.config) {
    options->action = Action::kExtcapConfig;
  } else if (r.capture) {
    if (!r.have_fifo) {
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

// -b asks for files named after -w: never standard output, and switched by some criterion.
bool CheckMultipleFiles(Options* options, std::string* error) {
  if (options->keep_failed && options->ring_files == 0) {
    *error = "--keep-failed keeps files out of a ring: it needs -b files:N (and a criterion to switch by).";
    return false;
  }
  if (!options->multiple_files) {
    if (options->stop_files == 0) return true;
    *error = "-a files: counts the files of -b; without -b there is one file.";
    return false;
  }
  if (options->file == "-") {
    *error = "Multiple files (-b) need a file name (-w PREFIX.pcapng), not standard output.";
    return false;
  }
  // With -b, -a filesize switches files, as in dumpcap.
  if (options->stop_filesize_kb != 0 && options->switch_filesize_kb == 0) {
    options->switch_filesize_kb = options->stop_filesize_kb;
  }
  options->stop_filesize_kb = 0;
  if (!options->HasSwitchCriterion()) {
    *error =
        "Multiple files (-b) need a criterion to switch files by (-b duration:, interval:, filesize: or "
        "packets:).";
    return false;
  }
  return true;
}

bool ChooseAction(Request& r, std::string* error) {
  Options* options = r.options;
  if (r.usage) {
    options->action = Action::kUsage;
  } else if (r.version) {
    options->action = Action::kVersion;
  } else if (r.Extcap()) {
    if (options->multiple_files || options->keep_failed) {
      *error = "Multiple files (-b, --keep-failed) are for -w PREFIX.pcapng, not for an extcap capture.";
      return false;
    }
    return ChooseExtcapAction(r, error);
  } else if (r.list_lines) {
    options->action = Action::kListLines;
  } else if (!r.have_file) {
    *error = "No capture file given (-w FILE, or -w - for standard output).";
    return false;
  } else {
    options->action = Action::kCapture;
    return CheckMultipleFiles(options, error);
  }
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
  Request request(options);
  for (int i = 1; i < argc; ++i) {
    if (argv[i] != nullptr && !TakeArgument(argc, argv, &i, request, error)) return false;
  }
  return ChooseAction(request, error);
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
         "  -a filesize:NUM          stop this file after NUM kB\n"
         "  -a files:NUM             stop after NUM files\n"
         "  -a packets:NUM           stop after NUM packets\n"
         "\n"
         "Output:\n"
         "  -w <filename>            name of the pcapng file to write (- for standard output)\n"
         "  -b <ringbuffer opt.> ... switch to the next file after NUM ...\n"
         "                           duration:NUM - NUM seconds\n"
         "                           interval:NUM - on the clock, every NUM seconds\n"
         "                           filesize:NUM - NUM kB\n"
         "                           packets:NUM - NUM packets\n"
         "                           files:NUM - ringbuffer: replace after NUM files\n"
         "                           printname:FILE - print each closed file's name to FILE\n"
         "                           (-, stdout or stderr)\n"
         "  --keep-failed <dir>      with -b files: move each file that holds a failed call or a\n"
         "                           lost data link into <dir> when it closes, out of the ring\n"
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
