// SPDX-License-Identifier: BSD-2-Clause
// Fetching one status area of one line from the driver: request, polls, final read.
#pragma once

#include <cstdint>

#include "areas/area_record.h"
#include "common/driver.h"

// Pause between area polls and the time after which a not-ready area is given up.
inline constexpr std::uint32_t kAreaPollPauseMs = 100;
inline constexpr std::uint32_t kAreaTimeLimitMs = 1000;

// What an area fetch needs from the outside: blocks, the send operation, the tick count and the
// pause. GetArea uses the real ones; tests hand in a fake driver and a fake clock.
struct AreaDriver {
  CommandHolder (*allocate)();
  std::uint32_t (*exec)(CommandBlock* block);
  std::uint32_t (*tick_count)();
  void (*sleep)(std::uint32_t milliseconds);
};

// The real driver, tick count and pause.
AreaDriver RealAreaDriver();

// Fills *record and returns 0, or returns 1 after printing its own message (if any); the record is
// written only on success.
int GetArea(std::uint32_t line_handle, std::int32_t area, AreaRecord* record);

// GetArea with the given driver and clock.
int GetAreaWith(const AreaDriver& driver, std::uint32_t line_handle, std::int32_t area, AreaRecord* record);

// The layer name of the time-out message: "Layer 1", "Layer 2", "Layer 3" or "Unknown".
const char* AreaLayerName(std::int32_t area);
