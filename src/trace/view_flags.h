// SPDX-License-Identifier: BSD-2-Clause
// The three view switches of the trace tool: 0 = off, anything else = on. Written by the options
// and the keyboard thread at any moment, read by the decode thread for every frame; a late view of
// a change is harmless, so relaxed atomics suffice.
#pragma once

#include <atomic>
#include <cstdint>

#include "decode/frame_display.h"

extern std::atomic<std::int32_t> ShowRaw;
extern std::atomic<std::int32_t> ShowL2;
extern std::atomic<std::int32_t> ShowL3;

// Whether the view is on now. The frame display asks once per view of each frame, so a key
// pressed while a frame is shown takes effect from the next view on.
bool ViewFlagOn(TraceView view);
