#include "trace/trace_ring.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace {

// An entry whose first four bytes carry a sequence number and whose last byte a check value.
std::array<std::uint8_t, kTraceEntrySize> MakeEntry(std::uint32_t number) {
  std::array<std::uint8_t, kTraceEntrySize> entry{};
  for (std::size_t i = 0; i < 4; ++i) entry[i] = static_cast<std::uint8_t>(number >> (8 * i));
  entry[kTraceEntrySize - 1] = static_cast<std::uint8_t>(number * 7 + 1);
  return entry;
}

std::uint32_t NumberOf(TraceEntryView entry) {
  std::uint32_t number = 0;
  for (std::size_t i = 0; i < 4; ++i) number |= static_cast<std::uint32_t>(entry[i]) << (8 * i);
  EXPECT_EQ(entry[kTraceEntrySize - 1], static_cast<std::uint8_t>(number * 7 + 1));
  return number;
}

void Put(TraceRing& ring, std::uint32_t number) {
  const auto entry = MakeEntry(number);
  RingPut(ring, TraceEntryView(entry));
}

std::uint32_t Take(TraceRing& ring) {
  const std::uint32_t number = NumberOf(RingPeek(ring));
  RingStepRead(ring);
  return number;
}

TEST(TraceRing, StartsEmptyWithRoom) {
  auto ring = std::make_unique<TraceRing>();
  EXPECT_EQ(RingUnread(*ring), 0u);
  EXPECT_TRUE(RingHasRoom(*ring));
  EXPECT_EQ(ring->NextEntry, 0u);
}

TEST(TraceRing, WrapsPastSlot99WithoutDuplicates) {
  auto ring = std::make_unique<TraceRing>();
  std::uint32_t next_in = 0;
  std::uint32_t next_out = 0;
  // Batches of different sizes take both indices around the ring several times.
  for (const std::uint32_t batch : {60u, 39u, 1u, 99u, 7u, 98u, 50u}) {
    for (std::uint32_t i = 0; i < batch; ++i) Put(*ring, next_in++);
    EXPECT_EQ(RingUnread(*ring), batch);
    while (RingUnread(*ring) > 0) EXPECT_EQ(Take(*ring), next_out++);
  }
  EXPECT_EQ(next_out, next_in);
}

TEST(TraceRing, SlotAfter99IsSlot0AndIndicesHold100UntilUsed) {
  auto ring = std::make_unique<TraceRing>();
  for (std::uint32_t i = 0; i < 99; ++i) Put(*ring, i);
  for (std::uint32_t i = 0; i < 99; ++i) Take(*ring);
  Put(*ring, 99);  // slot 99
  EXPECT_EQ(ring->WriteIndex.load(), 100);
  EXPECT_EQ(RingUnread(*ring), 1u);
  EXPECT_EQ(Take(*ring), 99u);
  EXPECT_EQ(ring->ReadIndex.load(), 100);
  EXPECT_EQ(RingUnread(*ring), 0u);  // 100 and 100: empty

  Put(*ring, 100);  // wraps to slot 0
  EXPECT_EQ(ring->WriteIndex.load(), 1);
  EXPECT_EQ(NumberOf(TraceEntryView(ring->Slots[0])), 100u);
  EXPECT_EQ(RingUnread(*ring), 1u);  // 1 against a read index still at 100
  EXPECT_EQ(Take(*ring), 100u);
  EXPECT_EQ(ring->ReadIndex.load(), 1);
}

TEST(TraceRing, StopsTakingAt99Unread) {
  auto ring = std::make_unique<TraceRing>();
  for (std::uint32_t i = 0; i < 98; ++i) Put(*ring, i);
  EXPECT_TRUE(RingHasRoom(*ring));
  Put(*ring, 98);
  EXPECT_EQ(RingUnread(*ring), 99u);
  EXPECT_FALSE(RingHasRoom(*ring));
  // The oldest unread entry is still there: nothing was overwritten.
  EXPECT_EQ(Take(*ring), 0u);
  EXPECT_TRUE(RingHasRoom(*ring));
  Put(*ring, 99);
  EXPECT_FALSE(RingHasRoom(*ring));
  for (std::uint32_t expected = 1; expected <= 99; ++expected) EXPECT_EQ(Take(*ring), expected);
}

// The poll and the decode thread as they share a ring: under a lock for each slot, indices compared
// without it. Every entry arrives once and in order (and ThreadSanitizer sees no race).
TEST(TraceRing, ProducerAndConsumerThreadsPassEveryEntryOnceInOrder) {
  constexpr std::uint32_t kEntries = 2500;
  auto ring = std::make_unique<TraceRing>();
  std::mutex lock;
  std::vector<std::uint32_t> seen;
  seen.reserve(kEntries);

  std::thread consumer([&] {
    while (seen.size() < kEntries) {
      if (RingUnread(*ring) == 0) {
        std::this_thread::yield();
        continue;
      }
      std::lock_guard<std::mutex> guard(lock);
      seen.push_back(Take(*ring));
    }
  });
  for (std::uint32_t number = 0; number < kEntries;) {
    if (!RingHasRoom(*ring)) {
      std::this_thread::yield();
      continue;
    }
    std::lock_guard<std::mutex> guard(lock);
    Put(*ring, number++);
  }
  consumer.join();

  ASSERT_EQ(seen.size(), kEntries);
  for (std::uint32_t i = 0; i < kEntries; ++i) ASSERT_EQ(seen[i], i);
}

}  // namespace
