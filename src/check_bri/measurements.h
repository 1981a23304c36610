// SPDX-License-Identifier: BSD-2-Clause
// The numbers of one line under stable names, shared by the perfdata and the Prometheus metrics:
// the layer states, and every numeric parameter of the areas read, counters told from gauges.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "check_bri/line_check.h"

namespace check_bri {

struct Measurement {
  std::string name;     // snake_case, unique within a line and channel: "tx_frames", "if_in_octets"
  std::string channel;  // "D", "B1", "B2" for the HDLC and compression areas; else empty
  std::int32_t area = 0;
  bool counter = false;
  std::int64_t value = 0;
  std::string help;  // the parameter's name as the area dump shows it
};

// A text made into snake_case: letters and digits kept (lower case), every other run one "_".
std::string SnakeCase(std::string_view text);

// Whether a parameter number is a counter (frames, errors, octets, packets, compression bytes,
// call totals): it only grows until the driver starts again.
bool IsCounterParameter(int number);

// The numeric parameters of every area read, in area order. Names are prefixed by the layer for
// areas 1 ("l1_"), 2 ("l2_") and 3 ("l3_"); the channel areas keep the name and say the channel.
std::vector<Measurement> LineMeasurements(const LineCheck& line);

}  // namespace check_bri
