// SPDX-License-Identifier: BSD-2-Clause
// The run as Prometheus metrics in the text exposition format, for the textfile collectors of
// node_exporter and windows_exporter: families "bri_...", each with # HELP and # TYPE, no time
// stamps, ending in a newline.
#pragma once

#include <string>
#include <vector>

#include "check_bri/line_check.h"

namespace check_bri {

// A label value: UTF-8 (bytes above 0x7F taken as Latin-1), with backslash, double quote and
// newline escaped.
std::string PromLabelValue(std::string_view text);

struct PromRun {
  bool driver_up = false;  // the driver answered the line list
  double duration_seconds = 0;
  State state = State::kUnknown;
};

std::string PrometheusText(const PromRun& run, const std::vector<LineCheck>& lines);

}  // namespace check_bri
