// SPDX-License-Identifier: BSD-2-Clause
// Threshold ranges in the monitoring plugins' syntax: "10" (alert outside 0..10), "10:" (below
// 10), "~:10" (above 10), "10:20" (outside 10..20), "@10:20" (inside 10..20, ends included).
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace check_bri {

struct ThresholdRange {
  std::string text;  // as given, for the perfdata's warn and crit fields
  bool alert_inside = false;
  std::optional<double> low = 0.0;  // none: no lower end ("~")
  std::optional<double> high;       // none: no upper end
};

// The range of `text`, or nothing when it is not one (an empty text, a start above the end, a
// number that is not one).
std::optional<ThresholdRange> ParseRange(std::string_view text);

// Whether the value gives an alert under the range.
bool RangeAlerts(const ThresholdRange& range, double value);

}  // namespace check_bri
