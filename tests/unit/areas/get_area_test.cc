#include "areas/get_area.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "areas/area_dump.h"
#include "common/console.h"

namespace {

// A scripted driver and clock. Each request is recorded; poll replies follow the script.
struct Request {
  std::uint32_t opcode;
  std::uint32_t line;
  std::uint32_t parameter;
  bool rest_zero;  // every byte but Opcode, LineHandle and Parameter was 0 when sent
};

struct FakeDriver {
  std::vector<Request> requests;
  std::vector<std::uint32_t> sleeps;
  std::uint32_t now = 0;
  std::uint32_t exec_cost = 0;        // ms that each request takes
  std::uint32_t request_status = 0;   // status of the area request
  int ready_at_poll = 0;              // 0-based poll that first says ready; -1: never
  int failing_poll = -1;              // 0-based poll (final read included) whose status is non-zero
  std::uint32_t first_poll_cost = 0;  // extra ms taken by the first poll
  int polls = 0;
};

FakeDriver* fake = nullptr;

bool RestIsZero(const CommandBlock& block) {
  for (std::size_t i = 0; i < kCommandBlockSize; ++i) {
    const bool field = (i >= kOpcodeOffset && i < kOpcodeOffset + 4) ||
                       (i >= kLineHandleOffset && i < kParameterOffset + 4);
    if (!field && block.raw[i] != 0) return false;
  }
  return true;
}

CommandHolder FakeAllocate() { return CommandHolder(new CommandBlock{}); }

std::uint32_t FakeExec(CommandBlock* block) {
  fake->requests.push_back({block->Opcode(), block->LineHandle(), block->Parameter(), RestIsZero(*block)});
  fake->now += fake->exec_cost;
  // Whatever the driver leaves behind must not leak into the next request. A driver may write
  // anywhere in the block: it is marked all written, so that the block knows it.
  block->MarkAllWritten();
  std::fill(block->raw.begin() + kPayloadOffset, block->raw.begin() + kPayloadOffset + 1000, 0x5A);
  std::uint32_t status = 0;
  switch (block->Opcode()) {
    case OP_AREA_REQUEST:
      status = fake->request_status;
      break;
    case OP_AREA_POLL: {
      const int poll = fake->polls++;
      if (poll == 0) fake->now += fake->first_poll_cost;
      if (poll == fake->failing_poll) {
        status = 7;
        break;
      }
      const bool ready = fake->ready_at_poll >= 0 && poll >= fake->ready_at_poll;
      // Each reply's record bytes carry the poll number, so tests can tell which reply was kept.
      for (std::size_t i = 0; i < kAreaRecordSize; ++i) block->raw[kPayloadOffset + i] = static_cast<std::uint8_t>(poll + 1);
      WriteLE32(block->MarkAllWritten(), kPayloadOffset + kAreaStateOffset, ready ? kAreaReady : 1);
      break;
    }
    default:
      status = 9;  // the give-up's status is ignored
      break;
  }
  block->SetStatus(status);
  return status;
}

std::uint32_t FakeTick() { return fake->now; }
void FakeSleep(std::uint32_t ms) {
  fake->sleeps.push_back(ms);
  fake->now += ms;
}

constexpr AreaDriver kFake{FakeAllocate, FakeExec, FakeTick, FakeSleep};
constexpr std::uint32_t kLine = 0xDEADBEEF;

class GetAreaTest : public ::testing::Test {
 protected:
  void SetUp() override { fake = &driver; record.raw.fill(0xAB); }
  void TearDown() override { fake = nullptr; }

  int Fetch(std::int32_t area) { return GetAreaWith(kFake, kLine, area, &record); }

  std::vector<std::uint32_t> Opcodes() const {
    std::vector<std::uint32_t> out;
    for (const Request& r : driver.requests) out.push_back(r.opcode);
    return out;
  }
  bool RecordUntouched() const {
    return std::all_of(record.raw.begin(), record.raw.end(), [](std::uint8_t b) { return b == 0xAB; });
  }
  void ExpectWellFormedRequests(std::int32_t area) const {
    for (std::size_t i = 0; i < driver.requests.size(); ++i) {
      const Request& r = driver.requests[i];
      EXPECT_EQ(r.line, kLine) << i;
      EXPECT_TRUE(r.rest_zero) << "request " << i << " sent on a block that was not cleared";
      EXPECT_EQ(r.parameter, i == 0 ? static_cast<std::uint32_t>(area) : 0u) << i;
    }
  }

  FakeDriver driver;
  AreaRecord record{};
  ConsoleCapture console;
};

TEST_F(GetAreaTest, ReadyAtOnceSendsThreeRequestsAndKeepsTheFinalRead) {
  ASSERT_EQ(Fetch(22), 0);
  EXPECT_EQ(Opcodes(), (std::vector<std::uint32_t>{OP_AREA_REQUEST, OP_AREA_POLL, OP_AREA_POLL}));
  EXPECT_TRUE(driver.sleeps.empty());
  ExpectWellFormedRequests(22);
  // The record is the second poll's reply, not the one that said ready.
  EXPECT_EQ(record.raw[0], 2);
  EXPECT_EQ(record.raw[kAreaRecordSize - 1], 2);
  EXPECT_EQ(GetLE32(ByteSpan(record.raw), kAreaStateOffset), kAreaReady);
  EXPECT_EQ(console.text(), "");
}

TEST_F(GetAreaTest, NeverReadyGivesUpAfterMoreThanOneSecond) {
  struct Case {
    std::int32_t area;
    const char* message;
  };
  const Case cases[] = {{1, "Layer 1"}, {2, "Layer 2"}, {3, "Layer 3"}, {11, "Unknown"}, {0, "Unknown"}, {-2, "Unknown"}};
  for (const Case& c : cases) {
    driver = FakeDriver{};
    driver.ready_at_poll = -1;
    EXPECT_EQ(Fetch(c.area), 1);
    // Instant replies: polls at 0, 100, ..., 1100 ms; at 1000 the limit is not yet passed.
    const std::vector<std::uint32_t> ops = Opcodes();
    ASSERT_EQ(ops.size(), 1u + 12u + 1u) << c.area;
    EXPECT_EQ(std::count(ops.begin(), ops.end(), OP_AREA_POLL), 12);
    EXPECT_EQ(ops.back(), OP_AREA_GIVE_UP);
    EXPECT_EQ(driver.sleeps, std::vector<std::uint32_t>(11, 100));
    ExpectWellFormedRequests(c.area);
    EXPECT_EQ(console.Take(), std::string("Error: Error Getting Status for ") + c.message + "\n");
    EXPECT_TRUE(RecordUntouched());
  }
}

TEST_F(GetAreaTest, TickCountWrapNeitherShortensNorStretchesTheLimit) {
  for (std::uint32_t start : {0u, 0xFFFFFF00u, 0xFFFFFFFFu, 0xFFFFFC18u, 0x7FFFFFF0u}) {
    driver = FakeDriver{};
    driver.ready_at_poll = -1;
    driver.now = start;
    EXPECT_EQ(Fetch(2), 1);
    EXPECT_EQ(driver.sleeps.size(), 11u) << start;
    EXPECT_EQ(Opcodes().back(), OP_AREA_GIVE_UP) << start;
    console.Take();
  }
}

TEST_F(GetAreaTest, LimitIsLookedAtOnlyAfterANotReadyReply) {
  // A first poll that comes back after two seconds still counts when it says ready ...
  driver.first_poll_cost = 2000;
  ASSERT_EQ(Fetch(3), 0);
  EXPECT_EQ(Opcodes().size(), 3u);

  // ... and gives up at once, without a pause, when it does not.
  driver = FakeDriver{};
  driver.ready_at_poll = -1;
  driver.first_poll_cost = 2000;
  EXPECT_EQ(Fetch(3), 1);
  EXPECT_EQ(Opcodes(), (std::vector<std::uint32_t>{OP_AREA_REQUEST, OP_AREA_POLL, OP_AREA_GIVE_UP}));
  EXPECT_TRUE(driver.sleeps.empty());
  EXPECT_EQ(console.text(), "Error: Error Getting Status for Layer 3\n");
}

TEST_F(GetAreaTest, SlowRepliesCountTowardsTheLimit) {
  driver.ready_at_poll = -1;
  driver.exec_cost = 150;  // each poll cycle takes 250 ms
  EXPECT_EQ(Fetch(2), 1);
  // Polls end at 150, 400, 650, 900, 1150 ms after the start.
  EXPECT_EQ(driver.sleeps.size(), 4u);
}

TEST_F(GetAreaTest, RefusedRequestSendsNoPoll) {
  driver.request_status = 1;
  EXPECT_EQ(Fetch(2), 1);
  EXPECT_EQ(Opcodes(), (std::vector<std::uint32_t>{OP_AREA_REQUEST}));
  EXPECT_EQ(console.text(), "Error: Error Getting Area.\n");
  EXPECT_TRUE(RecordUntouched());
}

TEST_F(GetAreaTest, RefusedPollOrFinalReadEndsSilentlyWithoutGiveUp) {
  struct Case {
    int ready_at;
    int failing;
    std::size_t requests;
  };
  const Case cases[] = {
      {-1, 0, 2},  // the first poll
      {-1, 4, 6},  // a later poll
      {0, 1, 3},   // the final read after a ready poll
      {2, 3, 5},   // the final read after waiting
  };
  for (const Case& c : cases) {
    driver = FakeDriver{};
    driver.ready_at_poll = c.ready_at;
    driver.failing_poll = c.failing;
    EXPECT_EQ(Fetch(2), 1);
    const std::vector<std::uint32_t> ops = Opcodes();
    EXPECT_EQ(ops.size(), c.requests) << c.failing;
    EXPECT_EQ(std::count(ops.begin(), ops.end(), OP_AREA_GIVE_UP), 0) << c.failing;
    EXPECT_EQ(console.text(), "") << c.failing;
    EXPECT_TRUE(RecordUntouched()) << c.failing;
  }
}

// The dump through the same fake driver: a fetch that fails prints only the fetch's message.
TEST_F(GetAreaTest, StatusPrintsNothingOfItsOwnWhenTheFetchFails) {
  driver.request_status = 1;
  EXPECT_EQ(GetStatusWith(kFake, kLine, 2), 0);
  EXPECT_EQ(console.text(), "Error: Error Getting Area.\n");
}

TEST_F(GetAreaTest, StatusPrintsTheFetchedArea) {
  // Every record byte is 2 (the final read's mark): params_len 0x02020202 is taken as 512, and
  // the list holds 128 parameters of type 0x0, number 514, value 2.
  EXPECT_EQ(GetStatusWith(kFake, kLine, 10), 0);
  std::string expected = "Area: 10 - D Channel (HDLC)\n";
  expected += kAreaRule;
  for (int i = 0; i < 128; ++i) expected += " P0514\t\t\t\t2\n";
  EXPECT_EQ(console.text(), expected);
}

}  // namespace
