#include "trace/trace_ring.h"

#include <algorithm>

namespace {

constexpr std::size_t Position(std::uint8_t index) { return index % kRingSlots; }

// Wrap before use: 100 becomes 0.
std::uint8_t Wrapped(std::atomic<std::uint8_t>& index) {
  std::uint8_t value = index.load(std::memory_order_relaxed);
  if (value >= kRingSlots) {
    value = 0;
    index.store(value, std::memory_order_relaxed);
  }
  return value;
}

}  // namespace

std::size_t RingUnread(const TraceRing& ring) {
  const std::size_t write = Position(ring.WriteIndex.load(std::memory_order_acquire));
  const std::size_t read = Position(ring.ReadIndex.load(std::memory_order_acquire));
  return (write + kRingSlots - read) % kRingSlots;
}

bool RingHasRoom(const TraceRing& ring) { return RingUnread(ring) < kRingMaxUnread; }

void RingPut(TraceRing& ring, TraceEntryView entry) {
  const std::uint8_t slot = Wrapped(ring.WriteIndex);
  auto& target = ring.Slots[slot];
  target.fill(0);
  std::copy(entry.begin(), entry.end(), target.begin());
  ring.WriteIndex.store(static_cast<std::uint8_t>(slot + 1), std::memory_order_release);
}

TraceEntryView RingPeek(TraceRing& ring) { return TraceEntryView(ring.Slots[Wrapped(ring.ReadIndex)]); }

void RingStepRead(TraceRing& ring) {
  const std::uint8_t slot = Wrapped(ring.ReadIndex);
  ring.ReadIndex.store(static_cast<std::uint8_t>(slot + 1), std::memory_order_release);
}
