// SPDX-License-Identifier: BSD-2-Clause
#include "decode/trace_entry_codec.h"

#include <gtest/gtest.h>

#include <array>
#include <optional>
#include <vector>

namespace {

struct CodecCase {
  const char* name;
  std::size_t octets;                  // octets written
  std::optional<std::int32_t> length;  // FrameLength written, when not their count
  std::int32_t read_length;            // FrameLength read back
  std::size_t read_octets;             // valid octets read back
};

TEST(TraceEntryCodec, WritesAndReadsBackWithTheLengthKeptInTheField) {
  const CodecCase cases[] = {
      {"empty", 0, std::nullopt, 0, 0},
      {"short", 3, std::nullopt, 3, 3},
      {"full field", 260, std::nullopt, 260, 260},
      {"longer than the field", 300, std::nullopt, 300, 260},
      {"negative length", 5, -1, -1, 0},
      {"length past the field", 5, 1000, 1000, 260},
      {"length below the octets", 10, 4, 4, 4},
  };
  for (const CodecCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::uint8_t> octets(c.octets);
    for (std::size_t i = 0; i < octets.size(); ++i) octets[i] = static_cast<std::uint8_t>(i + 1);
    std::array<std::uint8_t, kTraceEntrySize> entry;
    entry.fill(0xCC);  // every byte not written is zeroed
    WriteTraceEntry(entry, 0x0123456789ABCDEFull, 7, octets, c.length);
    const TraceEntryFields fields = ReadTraceEntry(entry);
    EXPECT_EQ(fields.file_time, 0x0123456789ABCDEFull);
    EXPECT_EQ(fields.direction, 7u);
    EXPECT_EQ(fields.frame_length, c.read_length);
    ASSERT_EQ(fields.octets.size(), c.read_octets);
    EXPECT_EQ(fields.octets.data(), entry.data() + kFrameDataOffset);
    for (std::size_t i = 0; i < kFrameDataSize; ++i) {
      const std::uint8_t expected = i < octets.size() ? octets[i] : 0;
      ASSERT_EQ(entry[kFrameDataOffset + i], expected) << i;
    }
    EXPECT_EQ(entry[0], 0);
    EXPECT_EQ(entry[20], 0);
  }
}

}  // namespace
