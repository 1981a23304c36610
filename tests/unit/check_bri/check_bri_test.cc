#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "check_bri/area_fetch.h"
#include "check_bri/line_check.h"
#include "check_bri/measurements.h"
#include "check_bri/options.h"
#include "check_bri/plugin_output.h"
#include "check_bri/prometheus_text.h"
#include "check_bri/threshold_range.h"

namespace check_bri {
namespace {

TEST(ThresholdRange, AlertsAsThePluginGuidelinesSay) {
  struct Case {
    const char* range;
    double value;
    bool alerts;
  };
  const std::vector<Case> cases = {
      {"10", -1, true},     {"10", 0, false},     {"10", 10, false},     {"10", 11, true},
      {"10:", 9, true},     {"10:", 10, false},   {"10:", 1e9, false},   {"~:10", -1e9, false},
      {"~:10", 11, true},   {"10:20", 9, true},   {"10:20", 15, false},  {"10:20", 21, true},
      {"@10:20", 10, true}, {"@10:20", 20, true}, {"@10:20", 21, false}, {"0", 0, false},
      {"0", 1, true},       {"1.5", 2, true},
  };
  for (const Case& c : cases) {
    const auto range = ParseRange(c.range);
    ASSERT_TRUE(range) << c.range;
    EXPECT_EQ(RangeAlerts(*range, c.value), c.alerts) << c.range << " " << c.value;
  }
  for (const char* bad : {"", "@", "~", "~:", "20:10", "x", "1x", "0x10", "inf", "nan", ":", "1:2:3"}) {
    EXPECT_FALSE(ParseRange(bad)) << bad;
  }
}

TEST(LineVerdict, LayerCombinations) {
  struct Case {
    const char* what;
    std::uint16_t tx, rx, l2, l3, service;
    bool require_active;
    State state;
    bool up, idle;
  };
  const std::vector<Case> cases = {
      {"up", 2, 2, 7, 4, 2, false, State::kOk, true, false},
      {"up in test mode, INFO 3 as 3", 3, 2, 7, 2, 18, false, State::kOk, true, false},
      {"lost framing wins over all", 2, 3, 7, 4, 2, false, State::kCritical, false, false},
      {"SPID rejected", 2, 2, 7, 4, 4, false, State::kCritical, false, false},
      {"SPID rejected, TM", 2, 2, 7, 4, 20, false, State::kCritical, false, false},
      {"awaiting TEI with layer 1 up", 2, 2, 2, 1, 2, false, State::kCritical, false, false},
      {"awaiting multiframe establishment", 2, 2, 5, 1, 2, false, State::kCritical, false, false},
      {"awaiting multiframe release", 2, 2, 6, 1, 2, false, State::kCritical, false, false},
      {"timer recovery", 2, 2, 8, 4, 2, false, State::kWarning, true, false},
      {"restricted service", 2, 2, 7, 4, 1, false, State::kWarning, false, false},
      {"deactivated both ways", 0, 0, 1, 1, 2, false, State::kOk, false, true},
      {"deactivated, active required", 0, 0, 1, 1, 2, true, State::kCritical, false, false},
      {"TEI assigned, no multiframe", 2, 2, 4, 1, 2, false, State::kOk, false, true},
      {"TEI assigned, active required", 2, 2, 4, 1, 2, true, State::kCritical, false, false},
      {"awaiting TEI while layer 1 is down is not idle", 1, 1, 2, 1, 2, false, State::kCritical, false,
       false},
      {"layer 3 restart pending", 2, 2, 7, 3, 2, false, State::kCritical, false, false},
      {"values without a text", 9, 9, 99, 99, 99, false, State::kCritical, false, false},
  };
  for (const Case& c : cases) {
    const LineVerdict v = JudgeLayers(MakeL1Values(c.tx, c.rx), MakeL2Values(c.l2),
                                      MakeL3Values(c.l3, c.service), c.require_active);
    EXPECT_EQ(v.state, c.state) << c.what << ": " << v.reason;
    EXPECT_EQ(v.up, c.up) << c.what;
    EXPECT_EQ(v.idle, c.idle) << c.what;
    EXPECT_FALSE(v.reason.empty()) << c.what;
  }
}

LineCheck Line(State state, bool up = false) {
  LineCheck line;
  line.name = "L";
  line.verdict = LineVerdict{state, up, false, "r"};
  return line;
}

TEST(CheckResult, ThresholdsOnLinesDown) {
  const std::vector<LineCheck> one_down = {Line(State::kOk, true), Line(State::kCritical),
                                           Line(State::kOk, true)};
  const auto range = [](const char* t) { return ParseRange(t); };
  struct Case {
    Thresholds t;
    State state;
  };
  const std::vector<Case> cases = {
      {{}, State::kCritical},                  // any line down
      {{range("1"), range("2")}, State::kOk},  // one down is within both
      {{range("0"), range("2")}, State::kWarning},
      {{std::nullopt, range("0")}, State::kCritical},
      {{range("@1:1"), std::nullopt}, State::kWarning},
  };
  for (const Case& c : cases) EXPECT_EQ(Summarize(one_down, c.t).state, c.state);
  EXPECT_EQ(Summarize(one_down, {}).down, 1U);
  EXPECT_EQ(Summarize(one_down, {}).up, 2U);
  // A degraded or unreadable line shows through thresholds that let the down lines pass.
  const Thresholds lenient{range("5"), range("5")};
  EXPECT_EQ(Summarize({Line(State::kOk, true), Line(State::kWarning, true)}, lenient).state, State::kWarning);
  EXPECT_EQ(Summarize({Line(State::kOk, true), Line(State::kUnknown)}, lenient).state, State::kUnknown);
  EXPECT_EQ(Summarize({Line(State::kWarning), Line(State::kUnknown)}, lenient).state, State::kWarning);
  EXPECT_EQ(Summarize({}, {}).state, State::kOk);
}

TEST(Escaping, PerfdataLabelsAndPrometheusLabelValues) {
  const std::vector<std::pair<std::string, std::string>> perf = {
      {"LINE1 (U)", "'LINE1 (U)'"},        {"it's", "'it''s'"}, {"a=b", "'a_b'"}, {"a|b", "'a_b'"},
      {std::string("a\nb\tc"), "'a_b_c'"},
  };
  for (const auto& [in, out] : perf) EXPECT_EQ(PerfLabel(in), out);
  const std::vector<std::pair<std::string, std::string>> prom = {
      {"plain = ok 'q'", "plain = ok 'q'"}, {"a\"b", "a\\\"b"}, {"a\\b", "a\\\\b"}, {"a\nb", "a\\nb"},
      {"\xE9t\xE9", "\xC3\xA9t\xC3\xA9"},  // Latin-1 bytes become UTF-8
  };
  for (const auto& [in, out] : prom) EXPECT_EQ(PromLabelValue(in), out);
}

// Whatever a driver's names or the command line hold, the status line stays one line with its
// perfdata, and each adapter line stays one line.
TEST(Escaping, NamesCannotBreakThePluginOutputsLines) {
  LineCheck down = Line(State::kCritical);
  down.name = "a\nBRI OK - b|c";
  down.ras_name = "r\nx";
  LineCheck up = Line(State::kOk, true);
  up.name = "u\r\n9 fake: OK";
  const std::vector<LineCheck> lines = {down, up};
  const std::string out = PluginOutput(lines, Summarize(lines, {}), {}, 0, "note\nmore");
  std::vector<std::string> rows;
  for (std::size_t start = 0, end; (end = out.find('\n', start)) != std::string::npos; start = end + 1)
    rows.push_back(out.substr(start, end - start));
  ASSERT_EQ(rows.size(), 3U) << out;
  EXPECT_EQ(rows[0].rfind("BRI CRITICAL - note_more; 1 of 2 lines up: a_BRI OK - b/c r | 'lines_up'=1", 0),
            0U)
      << rows[0];
  EXPECT_EQ(rows[1], "0 a_BRI OK - b/c: CRITICAL - r (RAS r_x, )");
  EXPECT_EQ(rows[2], "0 u__9 fake: OK: OK - r");
  EXPECT_EQ(UnknownOutput("no line a\nb\tc"), "BRI UNKNOWN - no line a_b_c\n");
}

TEST(Measurements, StableSnakeCaseNames) {
  const std::vector<std::pair<const char*, const char*>> names = {
      {"Tx_Frames", "tx_frames"},
      {"Lap_V(S)", "lap_vs"},
      {"Out of Rcv ECB's", "out_of_rcv_ecbs"},
      {"Speed (bps)", "speed_bps"},
      {"Call-Out Total Time", "call_out_total_time"},
      {"B Channel", "bchannel"},
      {"Compression Tx State", "compression_tx_state"},
      {"  ", ""},
  };
  for (const auto& [in, out] : names) EXPECT_EQ(SnakeCase(in), out) << in;
  EXPECT_TRUE(IsCounterParameter(102));
  EXPECT_TRUE(IsCounterParameter(444));
  EXPECT_FALSE(IsCounterParameter(100));
  EXPECT_FALSE(IsCounterParameter(402));
}

// A scripted driver for the fetch: per line handle, how each area answers; a clock that moves
// only with the pauses.
struct Script {
  std::map<std::uint32_t, std::map<int, FetchOutcome>> lines;  // absent area: refused
  std::map<std::uint32_t, int> pending;                        // the area asked of a line
  std::uint32_t now = 0;
  int requests = 0;
};
Script* script = nullptr;

CommandHolder NoAllocate() { return CommandHolder(); }
std::uint32_t ScriptExec(CommandBlock* block) {
  ++script->requests;
  const std::uint32_t line = block->LineHandle();
  switch (block->Opcode()) {
    case OP_AREA_REQUEST: {
      const int area = static_cast<int>(block->Parameter());
      const auto& areas = script->lines[line];
      if (areas.find(area) == areas.end()) return 6;
      script->pending[line] = area;
      return 0;
    }
    case OP_AREA_POLL: {
      const FetchOutcome plan = script->lines[line][script->pending[line]];
      if (plan == FetchOutcome::kPollFailed) return 1;
      WriteLE32(MutableByteSpan(block->raw), kPayloadOffset + kAreaStateOffset,
                plan == FetchOutcome::kNotReady ? 1 : kAreaReady);
      return 0;
    }
    default:
      return 0;
  }
}
std::uint32_t ScriptTick() { return script->now; }
void ScriptSleep(std::uint32_t ms) { script->now += ms; }

TEST(AreaFetch, LinesSideBySideAndBoundedInTime) {
  Script s;
  script = &s;
  const std::map<int, FetchOutcome> all_ok = {
      {1, FetchOutcome::kOk},  {2, FetchOutcome::kOk},  {3, FetchOutcome::kOk},  {10, FetchOutcome::kOk},
      {11, FetchOutcome::kOk}, {12, FetchOutcome::kOk}, {21, FetchOutcome::kOk}, {22, FetchOutcome::kOk}};
  s.lines[1] = all_ok;
  s.lines[2] = {{1, FetchOutcome::kNotReady}, {2, FetchOutcome::kOk}};  // never ready: nothing more asked
  s.lines[3] = {{1, FetchOutcome::kOk},
                {2, FetchOutcome::kOk},
                {3, FetchOutcome::kOk},
                {10, FetchOutcome::kPollFailed}};
  const AreaDriver driver{NoAllocate, ScriptExec, ScriptTick, ScriptSleep};
  CommandBlock block{};
  std::vector<LineFetch> lines(3);
  for (std::uint32_t i = 0; i < 3; ++i) lines[i].handle = i + 1;
  FetchProgress progress;
  EXPECT_TRUE(FetchAreas(driver, &block, &lines, 0, 10000, &progress));
  // One never-ready area costs one wait for all lines together, not one per line.
  EXPECT_GT(s.now, kAreaTimeLimitMs);
  EXPECT_LE(s.now, kAreaTimeLimitMs + kAreaPollPauseMs);
  for (const AreaFetch& a : lines[0].areas) EXPECT_EQ(a.outcome, FetchOutcome::kOk);
  EXPECT_EQ(lines[1].areas[0].outcome, FetchOutcome::kNotReady);
  EXPECT_EQ(lines[1].areas[1].outcome, FetchOutcome::kNotAsked);
  EXPECT_EQ(lines[2].areas[3].outcome, FetchOutcome::kPollFailed);
  EXPECT_EQ(lines[2].areas[4].outcome, FetchOutcome::kRefused);

  // A line with a failed layer area is UNKNOWN; a failed counter area makes an up line UNKNOWN;
  // refused counter areas (a line without them) change nothing.
  LineCheck unread, partial;
  ReadLine(lines[1], false, &unread);
  ReadLine(lines[2], false, &partial);
  EXPECT_EQ(unread.verdict.state, State::kUnknown);
  EXPECT_EQ(partial.verdict.state, State::kUnknown);

  // A deadline shorter than the wait cuts the fetch short, within a pause of it.
  s.now = 0;
  std::vector<LineFetch> again(2);
  again[0].handle = 1;
  again[1].handle = 2;
  EXPECT_FALSE(FetchAreas(driver, &block, &again, 0, 300, &progress));
  EXPECT_LE(s.now, 300U + kAreaPollPauseMs);
  EXPECT_EQ(again[1].areas[0].outcome, FetchOutcome::kNotAsked);
  script = nullptr;
}

TEST(Options, CommandLines) {
  struct Case {
    std::vector<std::string> args;
    bool ok;
  };
  const std::vector<Case> cases = {
      {{"-vvv", "-t5", "-l", "0", "--line=Tessix1 LINE2", "-w", "1", "-c", "@2:3"}, true},
      {{"--timeout", "30", "--require-active", "--prometheus", "/tmp/x.prom"}, true},
      {{"-t", "0"}, false},
      {{"-t", "3601"}, false},
      {{"-t", "1.5"}, false},
      {{"-t"}, false},
      {{"-w", "20:10"}, false},
      {{"-x"}, false},
      {{"--verbose=2"}, false},
      {{"word"}, false},
      {{"--prometheus="}, false},
      {{"-l", ""}, false},
  };
  for (const Case& c : cases) {
    Options o;
    std::string error;
    EXPECT_EQ(ParseOptions(c.args, &o, &error), c.ok) << c.args[0];
    EXPECT_EQ(error.empty(), c.ok) << c.args[0];
  }
  Options o;
  std::string error;
  ASSERT_TRUE(ParseOptions({"-vvv", "-t5", "-l", "0", "--line=B", "-c", "@2:3"}, &o, &error));
  EXPECT_EQ(o.verbosity, 3);
  EXPECT_EQ(o.timeout_seconds, 5);
  EXPECT_EQ(o.lines, (std::vector<std::string>{"0", "B"}));
  EXPECT_TRUE(o.thresholds.critical && o.thresholds.critical->alert_inside);
}

TEST(Prometheus, EveryFamilyOnceWithHelpAndType) {
  LineCheck line = Line(State::kOk, true);
  line.name = "say \"hi\"";
  line.l1 = MakeL1Values(2, 2);
  AreaParam frames;
  frames.number = 102;
  frames.named = true;
  frames.name = "Tx_Frames";
  frames.numeric = true;
  frames.value = 5;
  line.params[0] = {frames, frames};  // listed twice: measured once
  const std::string text = PrometheusText(PromRun{true, 0.25, State::kOk}, {line, line});
  EXPECT_EQ(text.back(), '\n');
  EXPECT_NE(
      text.find("# TYPE bri_l1_tx_frames_total counter\nbri_l1_tx_frames_total{line=\"say \\\"hi\\\"\"} 5\n"),
      std::string::npos);
  EXPECT_NE(text.find("bri_scrape_duration_seconds 0.250000\n"), std::string::npos);
  const auto count = [&](const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = 0; (at = text.find(what, at)) != std::string::npos; ++at) ++n;
    return n;
  };
  EXPECT_EQ(count("# HELP bri_l1_tx_frames_total "), 1U);
  EXPECT_EQ(count("# HELP "), count("# TYPE "));
  // The second line of the same name is told apart by its number.
  EXPECT_NE(text.find("{line=\"say \\\"hi\\\" #0\"} 5\n"), std::string::npos);
}

}  // namespace
}  // namespace check_bri
