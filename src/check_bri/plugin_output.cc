#include "check_bri/plugin_output.h"

#include "check_bri/measurements.h"
#include "common/console.h"

namespace check_bri {
namespace {

constexpr std::size_t kProblemsNamed = 3;  // lines named in the status line; the rest are counted

enum class Breaks { kKeep, kReplace };

// Text for the status line and the lines after it: a "|" would start perfdata there, and control
// characters from a driver's names have no place in it. The status line is one line whatever a
// name or an argument holds, and so is each adapter line's line: only the text this program puts
// together keeps its own line breaks.
std::string Clean(std::string_view text, Breaks breaks) {
  std::string out(text);
  for (char& c : out) {
    const auto u = static_cast<unsigned char>(c);
    const bool layout = breaks == Breaks::kKeep && (c == '\n' || c == '\t');
    if (c == '|')
      c = '/';
    else if ((u < 0x20 && !layout) || u == 0x7F)
      c = '_';
  }
  return out;
}

// A name or reason from the driver, the registry or the command line, for inside one line.
std::string OneLine(std::string_view text) { return Clean(text, Breaks::kReplace); }

std::string Number(std::int64_t value) { return std::to_string(value); }

void AddPerf(std::string& out, const std::string& label, const std::string& value,
             const std::string& rest = "") {
  out += ' ';
  out += PerfLabel(label);
  out += '=';
  out += value;
  out += rest;
}

std::string LayerDetail(const LineCheck& line) {
  if (!line.l1 || !line.l2 || !line.l3) return "";
  const auto text = [](std::string_view t) { return t.empty() ? std::string("?") : std::string(t); };
  return FormatF(" [L1 %s/%s, L2 %s, L3 %s, %s]", text(line.l1->tx_text).c_str(),
                 text(line.l1->rx_text).c_str(), text(line.l2->text).c_str(),
                 text(line.l3->state_text).c_str(), text(line.l3->service_text).c_str());
}

std::string AreaOutcomes(const LineCheck& line) {
  std::string out = " areas:";
  for (std::size_t slot = 0; slot < kCheckAreas.size(); ++slot) {
    AppendF(out, " %d %s", kCheckAreas[slot], FetchOutcomeText(line.outcomes[slot]));
    if (slot + 1 < kCheckAreas.size()) out += ',';
  }
  return out + "\n";
}

std::string StatusText(const std::vector<LineCheck>& lines, const CheckResult& result) {
  std::string text = std::to_string(result.up) + " of " + std::to_string(lines.size()) + " lines up";
  if (result.idle > 0) text += ", " + std::to_string(result.idle) + " idle";
  std::size_t named = 0, more = 0;
  for (const LineCheck& line : lines) {
    if (line.verdict.state == State::kOk) continue;
    if (named++ < kProblemsNamed) {
      text += (named == 1 ? ": " : "; ") + line.name + " " + line.verdict.reason;
    } else {
      ++more;
    }
  }
  if (more > 0) text += "; " + std::to_string(more) + " more";
  return text;
}

}  // namespace

CheckResult Summarize(const std::vector<LineCheck>& lines, const Thresholds& thresholds) {
  CheckResult result;
  State lines_state = State::kOk;
  for (const LineCheck& line : lines) {
    if (line.verdict.up) ++result.up;
    if (line.verdict.idle) ++result.idle;
    if (line.verdict.state == State::kCritical) ++result.down;
    if (line.verdict.state != State::kCritical) lines_state = Worse(lines_state, line.verdict.state);
  }
  const auto down = static_cast<double>(result.down);
  State state = State::kOk;
  if (!thresholds.warning && !thresholds.critical) {
    if (result.down > 0) state = State::kCritical;
  } else if (thresholds.critical && RangeAlerts(*thresholds.critical, down)) {
    state = State::kCritical;
  } else if (thresholds.warning && RangeAlerts(*thresholds.warning, down)) {
    state = State::kWarning;
  }
  result.state = Worse(state, lines_state);
  return result;
}

std::string PerfLabel(std::string_view text) {
  std::string out = "'";
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '\'') {
      out += "''";
    } else if (c == '=' || c == '|' || u < 0x20 || u == 0x7F) {
      out += '_';
    } else {
      out += c;
    }
  }
  return out + "'";
}

std::string Perfdata(const std::vector<LineCheck>& lines, const CheckResult& result,
                     const Thresholds& thresholds) {
  std::string out;
  const std::string total = Number(static_cast<std::int64_t>(lines.size()));
  AddPerf(out, "lines_up", Number(static_cast<std::int64_t>(result.up)), ";;;0;" + total);
  const std::string warn = thresholds.warning ? thresholds.warning->text : "";
  const std::string crit = thresholds.critical ? thresholds.critical->text : "";
  AddPerf(out, "lines_down", Number(static_cast<std::int64_t>(result.down)),
          ";" + warn + ";" + crit + ";0;" + total);
  for (const LineCheck& line : lines) {
    const std::string prefix = line.name + " ";
    AddPerf(out, prefix + "state", Number(static_cast<int>(line.verdict.state)), ";;;0;3");
    if (line.l1) {
      AddPerf(out, prefix + "l1_tx", Number(line.l1->tx));
      AddPerf(out, prefix + "l1_rx", Number(line.l1->rx));
    }
    if (line.l2) AddPerf(out, prefix + "l2_state", Number(line.l2->state));
    if (line.l3) {
      AddPerf(out, prefix + "l3_state", Number(line.l3->state));
      AddPerf(out, prefix + "l3_service", Number(line.l3->service));
    }
    for (const Measurement& m : LineMeasurements(line)) {
      if (!m.counter) continue;
      const std::string channel = m.channel.empty() ? "" : SnakeCase(m.channel) + "_";
      AddPerf(out, prefix + channel + m.name, Number(m.value), "c");
    }
  }
  return out.empty() ? out : out.substr(1);
}

std::string PluginOutput(const std::vector<LineCheck>& lines, const CheckResult& result,
                         const Thresholds& thresholds, int verbosity, const std::string& note) {
  std::string out = "BRI ";
  out += StateName(result.state);
  out += " - ";
  if (!note.empty()) out += note + "; ";
  out += StatusText(lines, result);
  out = OneLine(out) + " | " + Perfdata(lines, result, thresholds) + "\n";
  std::string details;
  for (const LineCheck& line : lines) {
    AppendF(details, "%d %s: %s - %s", line.index, OneLine(line.name).c_str(), StateName(line.verdict.state),
            OneLine(line.verdict.reason).c_str());
    if (!line.ras_name.empty() || !line.usage.empty()) {
      AppendF(details, " (RAS %s, %s)", OneLine(line.ras_name).c_str(), OneLine(line.usage).c_str());
    }
    if (verbosity >= 1) details += LayerDetail(line);
    details += '\n';
    if (verbosity >= 2) details += AreaOutcomes(line);
    if (verbosity >= 3) {
      for (std::size_t slot = 0; slot < kCheckAreas.size(); ++slot) {
        if (line.outcomes[slot] == FetchOutcome::kOk)
          details += FormatAreaDump(kCheckAreas[slot], line.params[slot]);
      }
    }
  }
  return out + Clean(details, Breaks::kKeep);
}

std::string UnknownOutput(const std::string& why) { return "BRI UNKNOWN - " + OneLine(why) + "\n"; }

}  // namespace check_bri
