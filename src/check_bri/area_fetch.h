// SPDX-License-Identifier: BSD-2-Clause
// Fetching the status areas of several lines at once: each area number in turn is asked of every
// line, and the lines are polled side by side, so that a round costs one area's wait whatever the
// number of lines. A line whose layer area fails gets no further area asked.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "areas/area_record.h"
#include "areas/get_area.h"

namespace check_bri {

inline constexpr std::array<std::int32_t, 8> kCheckAreas = {1, 2, 3, 10, 11, 12, 21, 22};
inline constexpr std::size_t kLayerAreaCount = 3;  // areas 1, 2 and 3 carry the verdicts

enum class FetchOutcome {
  kNotAsked,  // the line had failed already, or the time ran out before this area
  kOk,
  kRefused,     // the driver refused the area request: the line has no such area
  kPollFailed,  // a poll, or the final read, was refused
  kNotReady,    // not ready within the time limit; given up
};
const char* FetchOutcomeText(FetchOutcome outcome);

struct AreaFetch {
  FetchOutcome outcome = FetchOutcome::kNotAsked;
  AreaRecord record{};
};

struct LineFetch {
  std::uint32_t handle = 0;
  std::array<AreaFetch, kCheckAreas.size()> areas{};
};

// Where the fetch is, for a time-out message: the area number and the line being asked (-1 before
// the first request).
struct FetchProgress {
  std::atomic<int> area{-1};
  std::atomic<int> line{-1};
};

// Fetches every area of kCheckAreas for the given lines through `driver` on `block`. Polls stop
// after kAreaTimeLimitMs per round, and no round starts, or goes on, past `deadline_ms` of the
// driver's tick count (measured from `start_ms`): what is left is kNotAsked then. False when the
// deadline cut the fetch short.
bool FetchAreas(const AreaDriver& driver, CommandBlock* block, std::vector<LineFetch>* lines,
                std::uint32_t start_ms, std::uint32_t deadline_ms, FetchProgress* progress);

}  // namespace check_bri
