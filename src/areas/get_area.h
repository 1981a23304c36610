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

// The three exchanges of a fetch, each on a block of the caller's (cleared first). A caller that
// fetches areas of several lines at once runs them in its own order; GetArea runs them in turn.
// The area request: true when the driver took it.
bool SendAreaRequest(const AreaDriver& driver, CommandBlock* block, std::uint32_t line_handle, std::int32_t area);
enum class AreaPoll { kFailed, kNotReady, kReady };
AreaPoll SendAreaPoll(const AreaDriver& driver, CommandBlock* block, std::uint32_t line_handle);
// The poll after the one that said ready: fills *record, true on success.
bool ReadAreaReply(const AreaDriver& driver, CommandBlock* block, std::uint32_t line_handle, AreaRecord* record);
// The give-up after a time-out; its status tells nothing.
void SendAreaGiveUp(const AreaDriver& driver, CommandBlock* block, std::uint32_t line_handle);

// The real driver, tick count and pause.
AreaDriver RealAreaDriver();

// Fills *record and returns 0, or returns 1 after printing its own message (if any); the record is
// written only on success.
int GetArea(std::uint32_t line_handle, std::int32_t area, AreaRecord* record);

// GetArea with the given driver and clock.
int GetAreaWith(const AreaDriver& driver, std::uint32_t line_handle, std::int32_t area, AreaRecord* record);

// The layer name of the time-out message: "Layer 1", "Layer 2", "Layer 3" or "Unknown".
const char* AreaLayerName(std::int32_t area);
