#include "check_bri/options.h"

#include <optional>

#include "base/version.h"

namespace check_bri {
namespace {

enum class Key {
  kHelp,
  kVersion,
  kVerbose,
  kTimeout,
  kLine,
  kWarning,
  kCritical,
  kRequireActive,
  kPrometheus
};

struct OptionRow {
  char short_name;  // 0: long only
  const char* long_name;
  Key key;
  bool takes_value;
};

constexpr OptionRow kOptionTable[] = {
    {'h', "help", Key::kHelp, false},          {'V', "version", Key::kVersion, false},
    {'v', "verbose", Key::kVerbose, false},    {'t', "timeout", Key::kTimeout, true},
    {'l', "line", Key::kLine, true},           {'w', "warning", Key::kWarning, true},
    {'c', "critical", Key::kCritical, true},   {0, "require-active", Key::kRequireActive, false},
    {0, "prometheus", Key::kPrometheus, true},
};

const OptionRow* ByShort(char c) {
  for (const OptionRow& row : kOptionTable) {
    if (row.short_name != 0 && row.short_name == c) return &row;
  }
  return nullptr;
}

const OptionRow* ByLong(std::string_view name) {
  for (const OptionRow& row : kOptionTable) {
    if (name == row.long_name) return &row;
  }
  return nullptr;
}

std::optional<int> Seconds(const std::string& text) {
  if (text.empty() || text.size() > 5) return std::nullopt;
  int value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  if (value < 1 || value > kMaxTimeoutSeconds) return std::nullopt;
  return value;
}

bool Apply(const OptionRow& row, const std::string& value, Options* o, std::string* error) {
  switch (row.key) {
    case Key::kHelp:
      o->help = true;
      return true;
    case Key::kVersion:
      o->version = true;
      return true;
    case Key::kVerbose:
      ++o->verbosity;
      return true;
    case Key::kRequireActive:
      o->require_active = true;
      return true;
    case Key::kTimeout:
      if (const auto s = Seconds(value)) {
        o->timeout_seconds = *s;
        return true;
      }
      *error = "invalid timeout \"" + value + "\" (whole seconds, 1 to " +
               std::to_string(kMaxTimeoutSeconds) + ")";
      return false;
    case Key::kLine:
      if (value.empty()) {
        *error = "empty line name";
        return false;
      }
      o->lines.push_back(value);
      return true;
    case Key::kWarning:
    case Key::kCritical: {
      auto range = ParseRange(value);
      if (!range) {
        *error = "invalid range \"" + value + "\" for -" + std::string(1, row.short_name);
        return false;
      }
      (row.key == Key::kWarning ? o->thresholds.warning : o->thresholds.critical) = std::move(range);
      return true;
    }
    case Key::kPrometheus:
      if (value.empty()) {
        *error = "empty file name for --prometheus";
        return false;
      }
      o->prometheus_file = value;
      return true;
  }
  return false;
}

}  // namespace

bool ParseOptions(const std::vector<std::string>& args, Options* options, std::string* error) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const auto take_value = [&](const OptionRow& row, std::string* value) {
      if (i + 1 >= args.size()) {
        *error = "option " + arg + " needs a value";
        return false;
      }
      (void)row;
      *value = args[++i];
      return true;
    };
    if (arg.size() > 2 && arg.compare(0, 2, "--") == 0) {
      const std::size_t eq = arg.find('=');
      const std::string name = arg.substr(2, eq == std::string::npos ? std::string::npos : eq - 2);
      const OptionRow* row = ByLong(name);
      if (row == nullptr) {
        *error = "unknown option --" + name;
        return false;
      }
      std::string value;
      if (eq != std::string::npos) {
        if (!row->takes_value) {
          *error = "option --" + name + " takes no value";
          return false;
        }
        value = arg.substr(eq + 1);
      } else if (row->takes_value && !take_value(*row, &value)) {
        return false;
      }
      if (!Apply(*row, value, options, error)) return false;
      continue;
    }
    if (arg.size() < 2 || arg[0] != '-') {
      *error = "unexpected argument \"" + arg + "\"";
      return false;
    }
    // A cluster of short options (-vv); one that takes a value takes the rest of the cluster
    // (-t5) or the next argument (-t 5).
    for (std::size_t k = 1; k < arg.size(); ++k) {
      const OptionRow* row = ByShort(arg[k]);
      if (row == nullptr) {
        *error = "unknown option -" + std::string(1, arg[k]);
        return false;
      }
      std::string value;
      if (row->takes_value) {
        if (k + 1 < arg.size()) {
          value = arg.substr(k + 1);
        } else if (!take_value(*row, &value)) {
          return false;
        }
        k = arg.size();
      }
      if (!Apply(*row, value, options, error)) return false;
    }
  }
  return true;
}

std::string HelpText() {
  return std::string("check_bri ") + std::string(kVersionText) +
         " - checks the lines of an ISDN BRI adapter for Nagios, Icinga and Prometheus\n"
         "\n"
         "Usage: check_bri [-v...] [-t SECONDS] [-l LINE]... [-w RANGE] [-c RANGE]\n"
         "                 [--require-active] [--prometheus FILE]\n"
         "\n"
         " -h, --help            this text\n"
         " -V, --version         the version\n"
         " -v, --verbose         more detail: layer texts (-v), areas (-vv), area dumps (-vvv)\n"
         " -t, --timeout=SECONDS UNKNOWN after this long (default 10)\n"
         " -l, --line=LINE       a line by its number in lapmon's menu (from 0) or its name;\n"
         "                       may be repeated (default: every line)\n"
         " -w, --warning=RANGE   WARNING when the number of lines down is outside RANGE\n"
         " -c, --critical=RANGE  CRITICAL when the number of lines down is outside RANGE\n"
         "                       (without -w and -c: CRITICAL when any line is down)\n"
         "     --require-active  a line switched off by the exchange is down, not idle\n"
         "     --prometheus=FILE also write the readings as Prometheus metrics to FILE\n"
         "\n"
         "RANGE: 10 (outside 0..10), 10: (below 10), ~:10 (above 10), 10:20 (outside 10..20),\n"
         "@10:20 (inside 10..20).\n"
         "Exit status: 0 OK, 1 WARNING, 2 CRITICAL, 3 UNKNOWN. See check_bri(1).\n";
}

}  // namespace check_bri
