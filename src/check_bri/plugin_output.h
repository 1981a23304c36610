// SPDX-License-Identifier: BSD-2-Clause
// The plugin's output: a status line with its perfdata, then one line per adapter line.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "check_bri/line_check.h"
#include "check_bri/threshold_range.h"

namespace check_bri {

struct Thresholds {
  std::optional<ThresholdRange> warning;
  std::optional<ThresholdRange> critical;
};

struct CheckResult {
  State state = State::kUnknown;
  std::size_t up = 0;
  std::size_t idle = 0;
  std::size_t down = 0;  // lines whose verdict is CRITICAL: what -w and -c judge
};

// The overall state: the thresholds on the lines down (without -w and -c any line down is
// CRITICAL), at least WARNING for a line with a WARNING verdict, at least UNKNOWN for a line that
// could not be read.
CheckResult Summarize(const std::vector<LineCheck>& lines, const Thresholds& thresholds);

// A perfdata label: quoted, a quote doubled, and "=", "|" and control characters (which would end
// the label or the plugin output) made "_".
std::string PerfLabel(std::string_view text);

// The perfdata of the run: lines up and down, then per line its layer states and counters.
std::string Perfdata(const std::vector<LineCheck>& lines, const CheckResult& result,
                     const Thresholds& thresholds);

// The whole output: "BRI OK - 2 of 2 lines up | perfdata", then a line per adapter line. verbosity
// (the number of -v) adds the layer texts (1), the areas fetched (2) and the area dumps (3).
std::string PluginOutput(const std::vector<LineCheck>& lines, const CheckResult& result,
                         const Thresholds& thresholds, int verbosity, const std::string& note);

// The single line of a run that ended before any line was read.
std::string UnknownOutput(const std::string& why);

}  // namespace check_bri
