// SPDX-License-Identifier: BSD-2-Clause
// The trace ring of one traced line: 100 slots of one trace entry each, filled by the poll on the
// main thread and emptied by the decode thread.
//
// Both indices start at 0 and move the same lazy way: a side about to use its index finds 100 and
// sets it to 0 first, and after using slot k sets the index to k + 1. So an index holds 0 to 100,
// and 100 stands for the same position as 0. The ring holds unread entries while the two differ.
// Each index has one writer; the other side only compares it. Slots are written and read under
// the ring lock hThdSem.
//
// The poll never overwrites an unread slot: once 99 entries are unread the ring takes no more
// until the decode thread has caught up (100 unread would look the same as none).
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>

#include "decode/trace_entry.h"

inline constexpr std::uint8_t kRingSlots = 100;
inline constexpr std::size_t kRingMaxUnread = kRingSlots - 1;

struct TraceRing {
  std::atomic<std::uint8_t> WriteIndex{0};  // slot the poll fills next (written by the poll only)
  std::atomic<std::uint8_t> ReadIndex{0};   // slot the decode thread takes next (written by it only)
  std::uint32_t NextEntry = 0;              // number of the next entry to ask the driver for (poll only)
  bool StatusSeen = false;                  // a trace status reply has come for the line (poll only)
  std::array<std::array<std::uint8_t, kTraceEntrySize>, kRingSlots> Slots{};
};

using TraceEntryView = std::span<const std::uint8_t, kTraceEntrySize>;

// Number of entries written and not yet taken, 0 to 99.
std::size_t RingUnread(const TraceRing& ring);

// True while the poll may put another entry into the ring without overwriting an unread one.
bool RingHasRoom(const TraceRing& ring);

// Poll side, under the ring lock: wraps WriteIndex, zeroes the slot, copies the entry into it and
// steps WriteIndex. The caller has checked RingHasRoom.
void RingPut(TraceRing& ring, TraceEntryView entry);

// Decode side, under the ring lock: wraps ReadIndex and returns the slot it names. The caller has
// seen RingUnread above 0 and calls RingStepRead after using the slot.
TraceEntryView RingPeek(TraceRing& ring);
void RingStepRead(TraceRing& ring);
