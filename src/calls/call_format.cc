#include "calls/call_format.h"

#include <charconv>
#include <cstdio>

#include "common/console.h"
#include "decode/q931_names.h"
#include "platform/platform.h"

namespace calls {
namespace {

constexpr std::uint64_t kTicksPerMillisecond = 10000;
constexpr std::uint64_t kUnixEpochFileTime = 116444736000000000ull;

// The days since 1970-01-01 as a civil date (proleptic Gregorian).
void CivilFromDays(std::int64_t days, int* year, unsigned* month, unsigned* day) {
  days += 719468;
  const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const auto doe = static_cast<unsigned>(days - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  *day = doy - (153 * mp + 2) / 5 + 1;
  *month = mp < 10 ? mp + 3 : mp - 9;
  *year = static_cast<int>(static_cast<std::int64_t>(yoe) + era * 400 + (*month <= 2 ? 1 : 0));
}

// Milliseconds between two FILETIMEs: the difference of the times as shown, each cut to its
// millisecond, so that the figure agrees with the two times beside it.
std::uint64_t Milliseconds(std::uint64_t from, std::uint64_t to) {
  const std::uint64_t a = from / kTicksPerMillisecond, b = to / kTicksPerMillisecond;
  return b >= a ? b - a : 0;
}

std::optional<std::uint64_t> Duration(const Call& call) {
  if (!call.answered || !call.cleared) return std::nullopt;
  return Milliseconds(*call.answered, *call.cleared);
}

// The call log writes many numbers: these append them without a format string.
void AppendUnsigned(std::string& out, std::uint64_t value) {
  char buf[20];
  const auto end = std::to_chars(buf, buf + sizeof buf, value).ptr;
  out.append(buf, end);
}

void AppendDigits(std::string& out, unsigned value, int width) {
  char buf[8];
  for (int i = width - 1; i >= 0; --i, value /= 10) buf[i] = static_cast<char>('0' + value % 10);
  out.append(buf, static_cast<std::size_t>(width));
}

// Seconds with milliseconds: "63.234".
void AppendSeconds(std::string& out, std::uint64_t ms) {
  AppendUnsigned(out, ms / 1000);
  out += '.';
  AppendDigits(out, static_cast<unsigned>(ms % 1000), 3);
}

const char* Direction(const Call& call) { return call.placed_by == Side::kUser ? "out" : "in"; }

void AppendPadded(std::string& out, std::string_view text, std::size_t width) {
  out += text;
  if (text.size() < width) out.append(width - text.size(), ' ');
  out += ' ';
}

void AppendJsonString(std::string& out, std::string_view text) {
  out += '"';
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (u < 0x20 || u >= 0x7F) {
      // Party numbers are IA5; anything else is shown as its code, never as raw bytes.
      out += FormatF("\\u%04x", static_cast<unsigned>(u));
    } else {
      out += c;
    }
  }
  out += '"';
}

template <typename T, typename F>
void AppendJsonOptional(std::string& out, const std::optional<T>& value, F append) {
  if (value) {
    append(*value);
  } else {
    out += "null";
  }
}

void AppendCsvField(std::string& out, std::string_view text) {
  if (text.find_first_of(",\"\r\n") == std::string_view::npos) {
    out += text;
    return;
  }
  out += '"';
  for (const char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
}

void AppendHtmlText(std::string& out, std::string_view text) {
  for (const char c : text) {
    switch (c) {
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '&':
        out += "&amp;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        // Text of the capture is IA5; control characters and other bytes stand as '?'.
        out += c != '\n' && (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7F)
                   ? '?'
                   : c;
    }
  }
}

bool Failed(const Call& call) { return call.outcome != Outcome::kAnswered && call.outcome != Outcome::kOpen; }

// The cells every form shows, as text; empty for a value that is absent.
struct Cells {
  std::string start, calling, called, bearer, wait, duration, cleared_by, cause;
};

Cells CellsOf(const Call& call) {
  Cells cells;
  if (call.setup) AppendLocalClock(cells.start, *call.setup);
  cells.calling = call.calling.value_or("");
  cells.called = call.called.value_or("");
  cells.bearer = call.bearer != nullptr ? call.bearer : "";
  if (call.setup && call.answered) AppendSeconds(cells.wait, Milliseconds(*call.setup, *call.answered));
  if (const auto d = Duration(call)) AppendSeconds(cells.duration, *d);
  if (call.cleared_by) cells.cleared_by = SideName(*call.cleared_by);
  if (call.cause) cells.cause = std::to_string(call.cause->value) + " " + CauseText(call);
  return cells;
}

// A count for "%llu", which every C library's printf knows (not all know "%zu").
unsigned long long Wide(std::size_t n) { return n; }

std::string_view OrDash(const std::string& text) { return text.empty() ? std::string_view("-") : text; }

}  // namespace

void AppendUtcTime(std::string& out, std::uint64_t file_time) {
  const std::int64_t ms = (static_cast<std::int64_t>(file_time / kTicksPerMillisecond)) -
                          static_cast<std::int64_t>(kUnixEpochFileTime / kTicksPerMillisecond);
  const std::int64_t day_ms = 86400000;
  std::int64_t days = ms / day_ms;
  std::int64_t rest = ms % day_ms;
  if (rest < 0) {
    rest += day_ms;
    --days;
  }
  int year = 0;
  unsigned month = 0, day = 0;
  CivilFromDays(days, &year, &month, &day);
  out += std::to_string(year);
  out += '-';
  AppendDigits(out, month, 2);
  out += '-';
  AppendDigits(out, day, 2);
  out += 'T';
  AppendDigits(out, static_cast<unsigned>(rest / 3600000), 2);
  out += ':';
  AppendDigits(out, static_cast<unsigned>(rest / 60000 % 60), 2);
  out += ':';
  AppendDigits(out, static_cast<unsigned>(rest / 1000 % 60), 2);
  out += '.';
  AppendDigits(out, static_cast<unsigned>(rest % 1000), 3);
  out += 'Z';
}

void AppendLocalClock(std::string& out, std::uint64_t file_time) {
  SystemTime local;
  if (!PlatFileTimeToLocal(file_time, &local)) {
    out += "00:00:00:00";
    return;
  }
  out += FormatF("%2.2u:%2.2u:%2.2u:%2.2u", unsigned{local.hour}, unsigned{local.minute},
                 unsigned{local.second}, static_cast<unsigned>(file_time / kTicksPerMillisecond % 1000));
}

std::string CallLogHeader() {
  std::string out;
  AppendPadded(out, "Start", 12);
  AppendPadded(out, "Line", 18);
  AppendPadded(out, "Dir", 3);
  AppendPadded(out, "Calling", 16);
  AppendPadded(out, "Called", 16);
  AppendPadded(out, "Bearer", 20);
  AppendPadded(out, "Chan", 4);
  out += "    Wait  Duration ";
  AppendPadded(out, "Cleared", 7);
  AppendPadded(out, "Cause", 38);
  out += "Outcome\n";
  return out;
}

void AppendCallLogLine(std::string& out, const Call& call) {
  const Cells cells = CellsOf(call);
  AppendPadded(out, OrDash(cells.start), 12);
  AppendPadded(out, call.line, 18);
  AppendPadded(out, Direction(call), 3);
  AppendPadded(out, OrDash(cells.calling), 16);
  AppendPadded(out, OrDash(cells.called), 16);
  AppendPadded(out, OrDash(cells.bearer), 20);
  AppendPadded(out, OrDash(call.channel), 4);
  out += FormatF("%8s %9s ", std::string(OrDash(cells.wait)).c_str(),
                 std::string(OrDash(cells.duration)).c_str());
  AppendPadded(out, OrDash(cells.cleared_by), 7);
  AppendPadded(out, OrDash(cells.cause), 38);
  out += OutcomeName(call.outcome);
  out += '\n';
}

void AppendCallJson(std::string& out, const Call& call) {
  const auto str = [&out](const std::string& s) { AppendJsonString(out, s); };
  const auto time = [&out](std::uint64_t t) {
    out += '"';
    AppendUtcTime(out, t);
    out += '"';
  };
  out += "{\"line\":";
  AppendJsonString(out, call.line);
  out += ",\"tei\":";
  AppendUnsigned(out, call.tei);
  out += ",\"call_ref\":";
  AppendUnsigned(out, call.call_ref);
  out += ",\"direction\":\"";
  out += Direction(call);
  out += "\",\"calling\":";
  AppendJsonOptional(out, call.calling, str);
  out += ",\"called\":";
  AppendJsonOptional(out, call.called, str);
  out += ",\"bearer\":";
  AppendJsonOptional(out, call.bearer != nullptr ? std::optional<std::string>(call.bearer) : std::nullopt,
                     str);
  out += ",\"channel\":";
  AppendJsonOptional(out, call.channel.empty() ? std::nullopt : std::optional<std::string>(call.channel),
                     str);
  const std::pair<const char*, const std::optional<std::uint64_t>*> times[] = {
      {"setup", &call.setup},     {"alerting", &call.alerting}, {"answered", &call.answered},
      {"cleared", &call.cleared}, {"released", &call.released},
  };
  for (const auto& [key, value] : times) {
    out += ",\"";
    out += key;
    out += "\":";
    AppendJsonOptional(out, *value, time);
  }
  out += ",\"duration_s\":";
  AppendJsonOptional(out, Duration(call), [&out](std::uint64_t ms) { AppendSeconds(out, ms); });
  out += ",\"cleared_by\":";
  AppendJsonOptional(out, call.cleared_by, [&out](Side side) {
    out += '"';
    out += SideName(side);
    out += '"';
  });
  out += ",\"cause\":";
  AppendJsonOptional(out, call.cause, [&out](CallCause c) { AppendUnsigned(out, c.value); });
  out += ",\"cause_location\":";
  AppendJsonOptional(out, call.cause, [&out](CallCause c) { AppendUnsigned(out, c.location); });
  out += ",\"cause_text\":";
  AppendJsonOptional(out, call.cause ? std::optional<std::string>(CauseText(call)) : std::nullopt, str);
  out += ",\"outcome\":\"";
  out += OutcomeName(call.outcome);
  out += "\",\"messages\":";
  AppendUnsigned(out, call.messages);
  out += "}\n";
}

std::string CallCsvHeader() {
  return "line,tei,call_ref,direction,calling,called,bearer,channel,setup,alerting,answered,cleared,released,"
         "duration_s,cleared_by,cause,cause_location,cause_text,outcome,messages\n";
}

void AppendCallCsv(std::string& out, const Call& call) {
  const auto time = [&out](const std::optional<std::uint64_t>& t) {
    if (t) AppendUtcTime(out, *t);
    out += ',';
  };
  AppendCsvField(out, call.line);
  out += FormatF(",%u,%u,%s,", unsigned{call.tei}, unsigned{call.call_ref}, Direction(call));
  AppendCsvField(out, call.calling.value_or(""));
  out += ',';
  AppendCsvField(out, call.called.value_or(""));
  out += ',';
  out += call.bearer != nullptr ? call.bearer : "";
  out += ',';
  out += call.channel;
  out += ',';
  time(call.setup);
  time(call.alerting);
  time(call.answered);
  time(call.cleared);
  time(call.released);
  if (const auto d = Duration(call)) AppendSeconds(out, *d);
  out += ',';
  if (call.cleared_by) out += SideName(*call.cleared_by);
  out += ',';
  if (call.cause) out += FormatF("%u,%u,", unsigned{call.cause->value}, unsigned{call.cause->location});
  if (!call.cause) out += ",,";
  AppendCsvField(out, CauseText(call));
  out += FormatF(",%s,%u\n", OutcomeName(call.outcome), call.messages);
}

namespace {

constexpr std::size_t kLadderWidth = 66;  // between the two sides' columns

// "from 0301 to 0309, ..." for the ladder's title line.
std::string Title(const Call& call) {
  std::string title = call.line + " TEI " + std::to_string(call.tei) + " call reference " +
                      std::to_string(call.call_ref) + ", " +
                      (call.placed_by == Side::kUser ? "outgoing" : "incoming");
  if (call.broadcast) title += " (broadcast)";
  title += ", " + std::string(OutcomeName(call.outcome));
  if (call.cause) title += ", cause " + std::to_string(call.cause->value) + " " + CauseText(call);
  return title;
}

std::string Label(const LadderRow& row) {
  std::string label = GetMessageTypeName(row.message_type);
  if (!row.detail.empty()) label += " (" + row.detail + ")";
  return label;
}

}  // namespace

void AppendLadder(std::string& out, const Call& call) {
  out += "Call ";
  out += Title(call);
  out += '\n';
  out += "             user";
  out.append(kLadderWidth - 2, ' ');
  out += "network\n";
  for (const LadderRow& row : call.ladder) {
    // lapmon's clock shows 7 ms as "07" and 250 as "250": padded, so that the rows line up.
    const std::size_t start = out.size();
    AppendLocalClock(out, row.time);
    out.append(12 - std::min<std::size_t>(12, out.size() - start), ' ');
    out += " |";
    const std::string label = " " + Label(row) + " ";
    const std::size_t dashes = label.size() + 4 < kLadderWidth ? kLadderWidth - label.size() - 4 : 2;
    if (row.from == Side::kUser) {
      out += "--";
      out += label;
      out.append(dashes, '-');
      out += ">|";
    } else {
      out += "<";
      out.append(dashes, '-');
      out += label;
      out += "--|";
    }
    if (row.tei != call.tei) out += " TEI " + std::to_string(row.tei);
    out += '\n';
  }
  if (call.ladder_omitted > 0)
    out += "             (" + std::to_string(call.ladder_omitted) + " more messages)\n";
  out += '\n';
}

void Summary::Add(const Call& call) {
  ++calls_;
  ++outcomes_[static_cast<std::size_t>(call.outcome)];
  if (call.cause) ++causes_[call.cause->value];
}

std::string Summary::Text() const {
  std::string out =
      "Calls: " + std::to_string(calls_) + ", answered: " + std::to_string(count(Outcome::kAnswered)) + "\n";
  out += "Outcomes:";
  const char* separator = " ";
  for (int i = 0; i < kOutcomeCount; ++i) {
    if (outcomes_[static_cast<std::size_t>(i)] == 0) continue;
    out += separator;
    out += OutcomeName(static_cast<Outcome>(i));
    out += ' ' + std::to_string(outcomes_[static_cast<std::size_t>(i)]);
    separator = ", ";
  }
  if (calls_ == 0) out += " none";
  out += "\nCauses:";
  separator = " ";
  for (const auto& [value, count] : causes_) {
    out += separator;
    out += std::to_string(value) + " " + GetCauseValueInClass(value) + " " + std::to_string(count);
    separator = ", ";
  }
  if (causes_.empty()) out += " none";
  out += '\n';
  return out;
}

namespace {

constexpr int kUserX = 150, kNetworkX = 650, kRowHeight = 40, kTop = 50;

constexpr std::string_view kStyle = R"(<style>
body{font-family:sans-serif;margin:20px;color:#222;background:#fff}
h1{font-size:1.4em}h2{font-size:1.1em;margin-top:2em}
table{border-collapse:collapse;font-size:.85em}
th,td{border:1px solid #bbb;padding:2px 6px;text-align:left;white-space:nowrap}
th{background:#e4e8f0}
tr.failed td{background:#fde2e2}
tr.failed td.outcome,h2.failed{color:#b00000;font-weight:bold}
td.num{text-align:right}
.summary{margin:1em 0;white-space:pre}
svg{border:1px solid #ddd;background:#fcfcfc}
svg text{font-family:sans-serif;font-size:13px}
svg .side{font-weight:bold;font-size:14px}
svg .time{fill:#555;font-family:monospace}
svg .life{stroke:#444;stroke-width:2}
svg .arrow{stroke-width:1.6}
svg .user{stroke:#1f5fbf;fill:#1f5fbf}
svg .network{stroke:#2c8a2c;fill:#2c8a2c}
svg .clear{stroke:#b00000;fill:#b00000}
</style>
)";

void AppendTableRow(std::string& out, const Call& call, std::size_t index) {
  const Cells cells = CellsOf(call);
  out += Failed(call) ? "<tr class=\"failed call\">" : "<tr class=\"call\">";
  out += FormatF("<td><a href=\"#call-%llu\">%llu</a></td>", Wide(index), Wide(index));
  const std::string_view texts[] = {cells.start,    call.line,        Direction(call), cells.calling,
                                    cells.called,   cells.bearer,     call.channel,    cells.wait,
                                    cells.duration, cells.cleared_by, cells.cause};
  for (const std::string_view text : texts) {
    out += "<td>";
    AppendHtmlText(out, text);
    out += "</td>";
  }
  out += "<td class=\"outcome\">";
  out += OutcomeName(call.outcome);
  out += "</td></tr>\n";
}

void AppendSvgText(std::string& out, int x, int y, const char* anchor, const char* klass,
                   std::string_view text) {
  out += FormatF("<text x=\"%d\" y=\"%d\" text-anchor=\"%s\" class=\"%s\">", x, y, anchor, klass);
  AppendHtmlText(out, text);
  out += "</text>";
}

void AppendSequenceDiagram(std::string& out, const Call& call, std::size_t index) {
  const int rows = static_cast<int>(call.ladder.size());
  const int height = kTop + rows * kRowHeight + 30;
  out +=
      FormatF("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"760\" height=\"%d\" role=\"img\">", height);
  // One arrowhead per colour; ids are per diagram so that every page's references stay its own.
  for (const char* side : {"user", "network", "clear"}) {
    AppendF(out,
            "<defs><marker id=\"h-%s-%llu\" viewBox=\"0 0 10 10\" refX=\"10\" refY=\"5\" markerWidth=\"8\" "
            "markerHeight=\"8\" orient=\"auto-start-reverse\"><path d=\"M0,0L10,5L0,10z\" "
            "class=\"%s\"/></marker></defs>",
            side, Wide(index), side);
  }
  AppendSvgText(out, kUserX, 25, "middle", "side", "user");
  AppendSvgText(out, kNetworkX, 25, "middle", "side", "network");
  out +=
      FormatF("<line x1=\"%d\" y1=\"35\" x2=\"%d\" y2=\"%d\" class=\"life\"/>", kUserX, kUserX, height - 10);
  out += FormatF("<line x1=\"%d\" y1=\"35\" x2=\"%d\" y2=\"%d\" class=\"life\"/>", kNetworkX, kNetworkX,
                 height - 10);
  int y = kTop;
  for (const LadderRow& row : call.ladder) {
    y += kRowHeight;
    const bool clearing = row.message_type == 0x45 || row.message_type == 0x4D || row.message_type == 0x5A;
    const char* klass = clearing ? "clear" : row.from == Side::kUser ? "user" : "network";
    std::string time;
    AppendLocalClock(time, row.time);
    AppendSvgText(out, 8, y + 4, "start", "time", time);
    const int from = row.from == Side::kUser ? kUserX : kNetworkX;
    const int to = row.from == Side::kUser ? kNetworkX : kUserX;
    out += FormatF(
        "<line x1=\"%d\" y1=\"%d\" x2=\"%d\" y2=\"%d\" class=\"arrow %s\" marker-end=\"url(#h-%s-%llu)\"/>",
        from, y, to, y, klass, klass, Wide(index));
    std::string label = Label(row);
    if (row.tei != call.tei) label += " [TEI " + std::to_string(row.tei) + "]";
    AppendSvgText(out, (kUserX + kNetworkX) / 2, y - 7, "middle", "label", label);
  }
  if (call.ladder_omitted > 0) {
    AppendSvgText(out, (kUserX + kNetworkX) / 2, y + 25, "middle", "label",
                  "(" + std::to_string(call.ladder_omitted) + " more messages)");
  }
  out += "</svg>\n";
}

}  // namespace

std::string FormatHtmlPage(std::string_view title, const std::vector<Call>& calls, const Summary& summary,
                           std::uint64_t omitted) {
  std::string out = "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"><title>Calls: ";
  AppendHtmlText(out, title);
  out += "</title>\n";
  out += kStyle;
  out += "</head><body>\n<h1>Calls: ";
  AppendHtmlText(out, title);
  out += "</h1>\n<div class=\"summary\" id=\"summary\">";
  AppendHtmlText(out, summary.Text());
  if (omitted > 0) out += "(" + std::to_string(omitted) + " more calls not drawn on this page)\n";
  out +=
      "</div>\n<table "
      "id=\"calls\"><thead><tr><th>#</th><th>Start</th><th>Line</th><th>Dir</th><th>Calling</th>"
      "<th>Called</th><th>Bearer</th><th>Chan</th><th>Wait s</th><th>Duration s</th><th>Cleared by</th>"
      "<th>Cause</th><th>Outcome</th></tr></thead><tbody>\n";
  for (std::size_t i = 0; i < calls.size(); ++i) AppendTableRow(out, calls[i], i + 1);
  out += "</tbody></table>\n";
  for (std::size_t i = 0; i < calls.size(); ++i) {
    const Call& call = calls[i];
    out += FormatF("<h2 id=\"call-%llu\"%s>%llu. ", Wide(i + 1), Failed(call) ? " class=\"failed\"" : "",
                   Wide(i + 1));
    AppendHtmlText(out, Title(call));
    out += "</h2>\n";
    AppendSequenceDiagram(out, call, i + 1);
  }
  out += "</body></html>\n";
  return out;
}

}  // namespace calls
