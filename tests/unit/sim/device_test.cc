#include "device.h"

#include <gtest/gtest.h>

#include "areas/area_record.h"
#include "decode/trace_entry.h"
#include "sim_test_util.h"

namespace brisim {
namespace {

using testing::Rig;
using testing::U16;
using testing::U32;

constexpr std::uint32_t kLine = 0x1001;

// ---- Line enumeration ----

TEST(EnumIdd, ListsHandlesAndNamesInOrder) {
  Rig rig(R"({"lines": [{"name": "Tessix1 LINE1"}, {"name": "Tessix1 LINE2", "handle": "0x77"}]})");
  auto reply = rig.Send(OP_ENUM_IDD);
  EXPECT_EQ(U32(reply, kStatusOffset), 0u);
  EXPECT_EQ(U16(reply, 40), 2u);
  EXPECT_EQ(U32(reply, 44), 0x1001u);
  EXPECT_EQ(U32(reply, 48), 0x77u);
  EXPECT_STREQ(reinterpret_cast<const char*>(&reply[124]), "Tessix1 LINE1");
  EXPECT_STREQ(reinterpret_cast<const char*>(&reply[188]), "Tessix1 LINE2");
}

TEST(EnumIdd, CountOverrideRawNamesAndLongNames) {
  const std::string long_name(80, 'x');
  Rig rig(R"({"enum": {"count": 25, "raw_names": ["41 42 43 44 45 46 47 48 49 4A 4B 4C 4D 4E 4F 50 41 42 43 44 45 46 47 48 49 4A 4B 4C 4D 4E 4F 50 41 42 43 44 45 46 47 48 49 4A 4B 4C 4D 4E 4F 50 41 42 43 44 45 46 47 48 49 4A 4B 4C 4D 4E 4F 50"]},
              "lines": [{}, {"name": ")" + long_name + R"("}]})");
  auto reply = rig.Send(OP_ENUM_IDD);
  EXPECT_EQ(U16(reply, 40), 25u);
  EXPECT_EQ(reply[124 + 63], 0x50);  // a name field without NUL, as given
  EXPECT_EQ(reply[188 + 62], 'x');   // long names are cut to 63 characters and the NUL
  EXPECT_EQ(reply[188 + 63], 0);
}

TEST(EnumIdd, MoreThanTwentyLinesFillOnlyTwentySlots) {
  std::string lines;
  for (int i = 0; i < 21; ++i) lines += std::string(i ? "," : "") + "{}";
  Rig rig(R"({"lines": [)" + lines + "]}");
  auto block = testing::Request(OP_ENUM_IDD);
  block[124 + 64 * 20] = 0xAB;  // the first byte past the 20 name fields
  rig.Execute(block);
  EXPECT_EQ(U16(block, 40), 21u);
  EXPECT_EQ(U32(block, 44 + 4 * 19), 0x1000u + 20);
  EXPECT_EQ(block[124 + 64 * 20], 0xAB);
}

TEST(EnumIdd, Refused) {
  Rig rig(R"({"enum": {"refuse": true}, "lines": [{}]})");
  auto reply = rig.Send(OP_ENUM_IDD);
  EXPECT_NE(U32(reply, kStatusOffset), 0u);
  EXPECT_EQ(U16(reply, 40), 0u);
}

// ---- Traces ----

struct StatusWords {
  std::uint32_t held;
  std::uint32_t next;
  std::uint32_t oldest() const { return next - held; }
};

StatusWords Poll(Rig& rig, std::uint32_t line = kLine) {
  auto reply = rig.Send(OP_TRACE_STATUS, line);
  EXPECT_EQ(U32(reply, kStatusOffset), 0u);
  return {U32(reply, 52), U32(reply, 56)};
}

Rig StartedTrace(const std::string& trace_json) {
  Rig rig(R"({"lines": [{"trace": )" + trace_json + "}]}");
  EXPECT_EQ(rig.Status(OP_TRACE_CREATE, kLine, 20), 0u);
  EXPECT_EQ(rig.Status(OP_TRACE_START, kLine), 0u);
  return rig;
}

constexpr const char* kThreeFrames =
    R"({"frames": [{"at_ms": 0, "hex": "00"}, {"at_ms": 100, "hex": "01"}, {"at_ms": 200, "hex": "02"}]})";

TEST(Trace, EntriesBecomeAvailableByTimeFromTheStart) {
  Rig rig(R"({"lines": [{"trace": {"frames": [{"at_ms": 0, "hex": "00"}, {"at_ms": 100, "hex": "01"}]}}]})");
  rig.At(5000);  // time before the start does not count
  ASSERT_EQ(rig.Status(OP_TRACE_CREATE, kLine, 20), 0u);
  EXPECT_EQ(Poll(rig).held, 0u);
  EXPECT_NE(rig.Status(OP_TRACE_READ, kLine, 0), 0u);  // created, not yet started
  ASSERT_EQ(rig.Status(OP_TRACE_START, kLine), 0u);

  struct Case {
    double at;
    std::uint32_t held;
    std::uint32_t next;
  };
  for (const Case& c : {Case{5000, 1, 1}, Case{5099.9, 1, 1}, Case{5100, 2, 2}, Case{9000, 2, 2}}) {
    rig.At(c.at);
    StatusWords w = Poll(rig);
    EXPECT_EQ(w.held, c.held) << c.at;
    EXPECT_EQ(w.next, c.next) << c.at;
    EXPECT_EQ(w.oldest(), 0u) << c.at;
  }
}

TEST(Trace, ReadOfAnEntryNotYetAvailableIsRefusedUntilItIs) {
  Rig rig = StartedTrace(kThreeFrames);
  rig.At(150);
  EXPECT_EQ(rig.Status(OP_TRACE_READ, kLine, 0), 0u);
  EXPECT_EQ(rig.Status(OP_TRACE_READ, kLine, 1), 0u);
  EXPECT_EQ(rig.Status(OP_TRACE_READ, kLine, 2), kStatusNotAvailable);
  rig.At(200);
  auto reply = rig.Send(OP_TRACE_READ, kLine, 2);
  EXPECT_EQ(U32(reply, kStatusOffset), 0u);
  EXPECT_EQ(reply[40 + kFrameDataOffset], 0x02);
}

TEST(Trace, CapacityDropsTheOldestAndTheStatusWordsSayWhichIsOldest) {
  Rig rig = StartedTrace(
      R"({"capacity": 2, "frames": [{"hex": "00"}, {"hex": "01"}, {"hex": "02"}, {"hex": "03"}, {"hex": "04"}]})");
  StatusWords w = Poll(rig);
  EXPECT_EQ(w.held, 2u);
  EXPECT_EQ(w.next, 5u);
  EXPECT_EQ(w.oldest(), 3u);
  for (std::uint32_t n = 0; n < 6; ++n) {
    const bool held = n == 3 || n == 4;
    auto reply = rig.Send(OP_TRACE_READ, kLine, n);
    EXPECT_EQ(U32(reply, kStatusOffset) == 0, held) << n;
    if (held) {
      EXPECT_EQ(reply[40 + kFrameDataOffset], n);
    }
  }
}

TEST(Trace, FirstNumberStartsTheNumberingAndWrapsInThirtyTwoBits) {
  Rig rig = StartedTrace(R"({"first_number": "0xFFFFFFFE", "capacity": 2, "frames": [{"hex": "AA"}, {"hex": "BB"}, {"hex": "CC"}]})");
  StatusWords w = Poll(rig);
  EXPECT_EQ(w.next, 1u);
  EXPECT_EQ(w.oldest(), 0xFFFFFFFFu);
  EXPECT_EQ(rig.Status(OP_TRACE_READ, kLine, 0xFFFFFFFE), kStatusNotAvailable);
  EXPECT_EQ(rig.Send(OP_TRACE_READ, kLine, 0xFFFFFFFF)[40 + kFrameDataOffset], 0xBB);
  EXPECT_EQ(rig.Send(OP_TRACE_READ, kLine, 0)[40 + kFrameDataOffset], 0xCC);
  EXPECT_EQ(rig.Status(OP_TRACE_READ, kLine, 1), kStatusNotAvailable);
}

TEST(Trace, FirstPollOfALateTraceShowsTheOldestHeldEntry) {
  Rig rig = StartedTrace(R"({"first_number": 5, "frames": [{"hex": "00"}]})");
  StatusWords w = Poll(rig);
  EXPECT_EQ(w.oldest(), 5u);
  EXPECT_EQ(rig.Status(OP_TRACE_READ, kLine, 0), kStatusNotAvailable);
  EXPECT_EQ(rig.Status(OP_TRACE_READ, kLine, 5), 0u);
}

TEST(Trace, EntryRecordLayout) {
  Rig rig = StartedTrace(R"({"frames": [
      {"at_ms": 250, "dir": "N", "hex": "02 81 01 05"},
      {"at_ms": 250, "dir": 2, "hex": "00 81", "length": 300, "filetime": "0x0102030405060708"},
      {"at_ms": 250, "entry_hex": "01 02 03"}]})");
  const std::uint64_t start = rig.now().filetime;
  rig.At(1000);
  auto e = rig.Send(OP_TRACE_READ, kLine, 0);
  const ByteSpan entry = ByteSpan(e).subspan(kPayloadOffset, kTraceEntrySize);
  std::uint64_t filetime = 0;
  ASSERT_TRUE(ReadLE64(entry, kTimeStampOffset, &filetime));
  EXPECT_EQ(filetime, start + 250 * kFileTimeTicksPerMs);  // the moment it became available
  EXPECT_EQ(GetLE32(entry, kDirectionOffset), 1u);
  EXPECT_EQ(GetLE32(entry, kFrameLengthOffset), 4u);
  EXPECT_EQ(entry[kFrameDataOffset + 3], 0x05);
  EXPECT_EQ(entry[kFrameDataOffset + 4], 0x00);

  e = rig.Send(OP_TRACE_READ, kLine, 1);
  ASSERT_TRUE(ReadLE64(ByteSpan(e), kPayloadOffset + kTimeStampOffset, &filetime));
  EXPECT_EQ(filetime, 0x0102030405060708u);
  EXPECT_EQ(U32(e, kPayloadOffset + kDirectionOffset), 2u);
  EXPECT_EQ(U32(e, kPayloadOffset + kFrameLengthOffset), 300u);

  e = rig.Send(OP_TRACE_READ, kLine, 2);
  EXPECT_EQ(U32(e, kPayloadOffset), 0x030201u);
  for (std::size_t i = 3; i < kTraceEntrySize; ++i) ASSERT_EQ(e[kPayloadOffset + i], 0) << i;
}

TEST(Trace, ReplyKeepsTheRequestBytesItDoesNotWrite) {
  // The trace read loop reuses its block: whatever lies past the entry stays as sent.
  Rig rig = StartedTrace(R"({"frames": [{"hex": "11"}]})");
  auto block = testing::Request(OP_TRACE_READ, kLine, 0);
  block[kPayloadOffset + kTraceEntrySize] = 0x5A;
  block[30] = 0x77;
  ASSERT_EQ(rig.Execute(block), 0u);
  EXPECT_EQ(block[kPayloadOffset + kTraceEntrySize], 0x5A);
  EXPECT_EQ(block[30], 0x77);
  // A refused read leaves the previous entry in place too.
  WriteLE32(MutableByteSpan(block), kParameterOffset, 1);
  EXPECT_EQ(rig.Execute(block), kStatusNotAvailable);
  EXPECT_EQ(block[kPayloadOffset + kFrameDataOffset], 0x11);
}

TEST(Trace, EntriesBecomeAvailableInOrderEvenWhenTimesDoNot) {
  Rig rig = StartedTrace(R"({"frames": [{"at_ms": 500, "hex": "00"}, {"at_ms": 100, "hex": "01"}]})");
  rig.At(200);
  EXPECT_EQ(Poll(rig).held, 0u);
  EXPECT_EQ(rig.Status(OP_TRACE_READ, kLine, 1), kStatusNotAvailable);
  rig.At(500);
  EXPECT_EQ(Poll(rig).held, 2u);
}

TEST(Trace, RepeatPlaysTheListAgainFromTheGivenFrame) {
  Rig rig = StartedTrace(R"({"frames": [{"at_ms": 0, "hex": "A0"}, {"at_ms": 10, "hex": "B0"}, {"at_ms": 20, "hex": "C0"}],
                             "repeat": {"count": 2, "every_ms": 1000, "from": 1}})");
  struct Case {
    double at;
    std::uint32_t next;
  };
  // Entries: A0 B0 C0 (0, 10, 20), B0 C0 (1010, 1020), B0 C0 (2010, 2020).
  for (const Case& c : {Case{20, 3}, Case{1010, 4}, Case{1500, 5}, Case{2020, 7}, Case{99999, 7}}) {
    rig.At(c.at);
    EXPECT_EQ(Poll(rig).next, c.next) << c.at;
  }
  const std::uint8_t expected[] = {0xA0, 0xB0, 0xC0, 0xB0, 0xC0, 0xB0, 0xC0};
  for (std::uint32_t n = 0; n < 7; ++n) EXPECT_EQ(rig.Send(OP_TRACE_READ, kLine, n)[40 + kFrameDataOffset], expected[n]);
}

// The end of a played list: the tool has read its last entry (what --exit-when-done waits for).
TEST(Trace, ReadToEndOnceTheLastEntryIsRead) {
  Rig rig = StartedTrace(kThreeFrames);
  rig.At(1000);
  EXPECT_FALSE(rig.device().TraceReadToEnd(0));
  ASSERT_EQ(rig.Status(OP_TRACE_READ, kLine, 2), 0u);  // the last, even with earlier ones skipped
  EXPECT_TRUE(rig.device().TraceReadToEnd(0));
  EXPECT_FALSE(rig.device().TraceReadToEnd(1));  // no such line
  ASSERT_EQ(rig.Status(OP_TRACE_DESTROY, kLine), 0u);
  EXPECT_FALSE(rig.device().TraceReadToEnd(0));  // a new trace object starts afresh

  Rig forever = StartedTrace(
      R"({"frames": [{"at_ms": 0, "hex": "01"}], "repeat": {"count": "forever", "every_ms": 10}})");
  forever.At(1000);
  ASSERT_EQ(forever.Status(OP_TRACE_READ, kLine, 100), 0u);
  EXPECT_FALSE(forever.device().TraceReadToEnd(0));  // a list that repeats for ever has no end
}

TEST(Trace, RepeatForEverKeepsRecordingAndDropsBeyondCapacity) {
  Rig rig = StartedTrace(R"({"capacity": 10, "frames": [{"at_ms": 0, "hex": "01"}, {"at_ms": 5, "hex": "02"}],
                             "repeat": {"count": "forever", "every_ms": 100}})");
  rig.At(3600 * 1000.0);  // an hour: 36000 copies of two entries, and the first of the next
  StatusWords w = Poll(rig);
  EXPECT_EQ(w.next, 72001u);
  EXPECT_EQ(w.held, 10u);
  EXPECT_EQ(rig.Status(OP_TRACE_READ, kLine, w.oldest() - 1), kStatusNotAvailable);
  EXPECT_EQ(rig.Send(OP_TRACE_READ, kLine, w.next - 1)[40 + kFrameDataOffset], 0x01);
}

TEST(Trace, StopEndsRecordingButKeepsWhatWasRecorded) {
  Rig rig = StartedTrace(kThreeFrames);
  rig.At(120);
  EXPECT_EQ(rig.Status(OP_TRACE_STOP, kLine), 0u);
  rig.At(1000);
  EXPECT_EQ(Poll(rig).next, 2u);
  EXPECT_EQ(rig.Status(OP_TRACE_READ, kLine, 1), 0u);
  EXPECT_EQ(rig.Status(OP_TRACE_READ, kLine, 2), kStatusNotAvailable);
  EXPECT_EQ(rig.Status(OP_TRACE_DESTROY, kLine, 20), 0u);
  EXPECT_EQ(rig.Status(OP_TRACE_READ, kLine, 1), kStatusNoTrace);
  EXPECT_EQ(rig.Status(OP_TRACE_STATUS, kLine), kStatusNoTrace);
}

TEST(Trace, Refusals) {
  Rig rig(R"({"lines": [{"trace": {"create": "refuse"}}, {"trace": {"refuse_status_polls": [2, 3]}}]})");
  EXPECT_EQ(rig.Status(OP_TRACE_CREATE, 0x1001, 20), kStatusRefused);
  EXPECT_EQ(rig.Status(OP_TRACE_START, 0x1001), kStatusNoTrace);
  EXPECT_EQ(rig.Status(OP_TRACE_CREATE, 0x1002, 19), kStatusBadParameter);
  EXPECT_EQ(rig.Status(OP_TRACE_CREATE, 0x1002, 20), 0u);
  const std::uint32_t expected[] = {0, kStatusRefused, kStatusRefused, 0};
  for (std::uint32_t want : expected) EXPECT_EQ(rig.Status(OP_TRACE_STATUS, 0x1002), want);
  // Poll numbers count from the trace's creation.
  EXPECT_EQ(rig.Status(OP_TRACE_CREATE, 0x1002, 20), 0u);
  EXPECT_EQ(rig.Status(OP_TRACE_STATUS, 0x1002), 0u);
  EXPECT_EQ(rig.Status(OP_TRACE_STATUS, 0x1002), kStatusRefused);
}

TEST(Device, UnknownLineAndOpcodeAreRefused) {
  Rig rig(R"({"lines": [{}]})");
  EXPECT_EQ(rig.Status(OP_TRACE_CREATE, 0x9999, 20), kStatusNoSuchLine);
  EXPECT_EQ(rig.Status(0x123, kLine), kStatusUnknownOpcode);
  EXPECT_EQ(rig.Status(OP_LOG_FILE, kLine, 2), 0u);
}

// ---- Areas ----

TEST(Area, ReadinessSequences) {
  Rig rig(R"({"lines": [{"areas": {
      "1": {"params": [{"id": 100, "value": 2}]},
      "2": {"ready_after_polls": 2},
      "3": {"ready_after_polls": "never"},
      "10": {"ready_after_ms": 250}}}]})");
  // Each step: poll, then the area_state expected (0 = refused).
  struct Case {
    std::uint32_t area;
    std::vector<std::uint32_t> states;
  };
  const Case cases[] = {
      {1, {2, 2, 0}},              // ready at once; the final read; then no fetch is pending
      {2, {1, 1, 2, 2, 0}},
      {3, {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1}},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(rig.Status(OP_AREA_REQUEST, kLine, c.area), 0u);
    for (std::size_t i = 0; i < c.states.size(); ++i) {
      auto reply = rig.Send(OP_AREA_POLL, kLine);
      if (c.states[i] == 0) {
        EXPECT_EQ(U32(reply, kStatusOffset), kStatusNoPendingArea) << c.area << " poll " << i;
      } else {
        EXPECT_EQ(U32(reply, kStatusOffset), 0u) << c.area << " poll " << i;
        EXPECT_EQ(U32(reply, 48), c.states[i]) << c.area << " poll " << i;
      }
    }
  }
  EXPECT_EQ(rig.Status(OP_AREA_GIVE_UP, kLine), 0u);
  EXPECT_EQ(rig.Status(OP_AREA_POLL, kLine), kStatusNoPendingArea);

  rig.At(1000);
  ASSERT_EQ(rig.Status(OP_AREA_REQUEST, kLine, 10), 0u);
  rig.At(1200);
  EXPECT_EQ(U32(rig.Send(OP_AREA_POLL, kLine), 48), kAreaNotReady);
  rig.At(1250);
  EXPECT_EQ(U32(rig.Send(OP_AREA_POLL, kLine), 48), kAreaReady);
}

TEST(Area, FinalReadCarriesTheRecord) {
  Rig rig(R"({"lines": [{"areas": {
      "2": {"params": [{"id": 200, "value": 1}, {"id": 203, "value": 7}], "area_state": 9},
      "3": {"params_hex": "2F 81 41 00", "params_len": -4}}}]})");
  ASSERT_EQ(rig.Status(OP_AREA_REQUEST, kLine, 2), 0u);
  ASSERT_EQ(U32(rig.Send(OP_AREA_POLL, kLine), 48), kAreaReady);
  auto block = testing::Request(OP_AREA_POLL, kLine);
  block[kPayloadOffset + 30] = 0xEE;  // inside the record: the record is written whole
  ASSERT_EQ(rig.Execute(block), 0u);
  const std::size_t rec = kPayloadOffset;
  EXPECT_EQ(U32(block, rec + kAreaStateOffset), 9u);
  const std::uint8_t params[] = {0xC8, 0x00, 0x01, 0x00, 0xCB, 0x00, 0x07, 0x00};
  for (std::size_t i = 0; i < sizeof(params); ++i) EXPECT_EQ(block[rec + kParamsOffset + i], params[i]) << i;
  EXPECT_EQ(block[rec + kParamsOffset + sizeof(params)], 0);
  EXPECT_EQ(U32(block, rec + kParamsLenOffset), 8u);

  ASSERT_EQ(rig.Status(OP_AREA_REQUEST, kLine, 3), 0u);
  rig.Send(OP_AREA_POLL, kLine);
  auto reply = rig.Send(OP_AREA_POLL, kLine);
  EXPECT_EQ(static_cast<std::int32_t>(U32(reply, rec + kParamsLenOffset)), -4);
  EXPECT_EQ(reply[rec + kParamsOffset + 2], 'A');
}

TEST(Area, Refusals) {
  Rig rig(R"({"lines": [{"areas": {"1": {"request": "refuse"}, "2": {"poll": "refuse"}, "3": {"final": "refuse"}}}]})");
  EXPECT_EQ(rig.Status(OP_AREA_POLL, kLine), kStatusNoPendingArea);
  EXPECT_EQ(rig.Status(OP_AREA_REQUEST, kLine, 11), kStatusNoSuchArea);
  EXPECT_EQ(rig.Status(OP_AREA_REQUEST, kLine, 1), kStatusRefused);
  EXPECT_EQ(rig.Status(OP_AREA_POLL, kLine), kStatusNoPendingArea);
  EXPECT_EQ(rig.Status(OP_AREA_REQUEST, kLine, 2), 0u);
  EXPECT_EQ(rig.Status(OP_AREA_POLL, kLine), kStatusRefused);
  EXPECT_EQ(rig.Status(OP_AREA_POLL, kLine), kStatusRefused);
  EXPECT_EQ(rig.Status(OP_AREA_REQUEST, kLine, 3), 0u);
  EXPECT_EQ(rig.Status(OP_AREA_POLL, kLine), 0u);
  EXPECT_EQ(rig.Status(OP_AREA_POLL, kLine), kStatusRefused);
}

TEST(Area, EachLineRemembersItsOwnPendingArea) {
  Rig rig(R"({"lines": [{"areas": {"1": {"params": [{"id": 100, "value": 1}]}}},
                        {"areas": {"2": {"params": [{"id": 200, "value": 2}]}}}]})");
  ASSERT_EQ(rig.Status(OP_AREA_REQUEST, 0x1001, 1), 0u);
  ASSERT_EQ(rig.Status(OP_AREA_REQUEST, 0x1002, 2), 0u);
  rig.Send(OP_AREA_POLL, 0x1001);
  rig.Send(OP_AREA_POLL, 0x1002);
  EXPECT_EQ(U16(rig.Send(OP_AREA_POLL, 0x1001), kPayloadOffset + kParamsOffset), 100u);
  EXPECT_EQ(U16(rig.Send(OP_AREA_POLL, 0x1002), kPayloadOffset + kParamsOffset), 200u);
}

}  // namespace
}  // namespace brisim
