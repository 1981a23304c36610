// SPDX-License-Identifier: BSD-2-Clause
// One line as the monitoring plugin sees it: the layer readings, the other areas' parameters, and
// the verdict that the readings give.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "areas/area_dump.h"
#include "check_bri/area_fetch.h"
#include "status/layer_status.h"

namespace check_bri {

// The plugin states, as exit statuses.
enum class State { kOk = 0, kWarning = 1, kCritical = 2, kUnknown = 3 };
const char* StateName(State state);
// The worse of two: CRITICAL, then WARNING, then UNKNOWN, then OK.
State Worse(State a, State b);

struct LineVerdict {
  State state = State::kUnknown;
  bool up = false;    // every layer says Go! (timer recovery included)
  bool idle = false;  // deactivated by the exchange, nothing wrong
  std::string reason;
};

// The verdict of a line's three layers. require_active: an idle line is CRITICAL.
LineVerdict JudgeLayers(const L1Values& l1, const L2Values& l2, const L3Values& l3, bool require_active);

struct LineCheck {
  int index = 0;  // as lapmon's menu numbers the lines, from 0
  std::string name;
  std::string ras_name;  // the registry's friendly name and usage, empty when none
  std::string usage;
  std::array<FetchOutcome, kCheckAreas.size()> outcomes{};
  std::optional<L1Values> l1;
  std::optional<L2Values> l2;
  std::optional<L3Values> l3;
  std::array<std::vector<AreaParam>, kCheckAreas.size()> params;  // of the areas read
  LineVerdict verdict;
};

// Reads the fetched areas into the line and judges it. A layer area that could not be read, or
// another area that was there and could not be read, makes the line UNKNOWN at best.
void ReadLine(const LineFetch& fetch, bool require_active, LineCheck* line);

}  // namespace check_bri
