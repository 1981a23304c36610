#include "trace/poll_loop.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "common/console.h"
#include "fake_trace_driver.h"
#include "switch_reset.h"
#include "trace/line_table.h"
#include "trace/trace_event.h"

namespace {

constexpr std::uint32_t kHandle = 0x1001;
constexpr std::size_t kEvent = 3;

class GetTraceEntryTest : public SwitchTest {
 protected:
  void SetUp() override {
    SwitchTest::SetUp();
    ASSERT_TRUE(driver_.Open());
    CreateTraceEvent(TraceEvent, kEvent);
  }

  void Poll() { GetTraceEntry(kHandle, ring_.get(), &ring_->NextEntry, kEvent); }

  // The opcodes and parameters that reached the driver, in order.
  std::vector<std::pair<std::uint32_t, std::uint32_t>> Sent() const {
    std::vector<std::pair<std::uint32_t, std::uint32_t>> out;
    for (const LoggedRequest& r : driver_.Requests()) {
      EXPECT_EQ(r.handle, kHandle);
      out.emplace_back(r.opcode, r.parameter);
    }
    return out;
  }

  static bool Signalled() {
    std::lock_guard<std::mutex> guard(TraceEvent.lock);
    const bool signalled = TraceEvent.signalled[kEvent];
    TraceEvent.signalled[kEvent] = false;
    return signalled;
  }

  std::vector<std::uint32_t> Drain() {
    std::vector<std::uint32_t> out;
    while (RingUnread(*ring_) > 0) {
      out.push_back(FakeTraceDriver::EntryNumber(RingPeek(*ring_)));
      RingStepRead(*ring_);
    }
    return out;
  }

  FakeTraceDriver driver_;
  std::unique_ptr<TraceRing> ring_ = std::make_unique<TraceRing>();
};

using Sends = std::vector<std::pair<std::uint32_t, std::uint32_t>>;

TEST_F(GetTraceEntryTest, ReadsEveryHeldEntryInOrderThenSignalsOnce) {
  driver_.SetLine(kHandle, {0, 3});
  ConsoleCapture capture;
  Poll();
  EXPECT_EQ(Sent(), (Sends{{OP_TRACE_STATUS, 0}, {OP_TRACE_READ, 0}, {OP_TRACE_READ, 1}, {OP_TRACE_READ, 2},
                           {OP_TRACE_READ, 3}}));
  EXPECT_EQ(Drain(), (std::vector<std::uint32_t>{0, 1, 2}));
  EXPECT_EQ(ring_->NextEntry, 3u);
  EXPECT_TRUE(Signalled());
  EXPECT_EQ(capture.text(), "");
}

TEST_F(GetTraceEntryTest, ReadRequestsReuseTheBlockWithoutZeroing) {
  driver_.SetLine(kHandle, {0, 1});
  Poll();
  const std::vector<LoggedRequest> sent = driver_.Requests();
  ASSERT_EQ(sent.size(), 3u);
  // The first read still carries the status reply; the second the entry just read.
  EXPECT_EQ(GetLE32(sent[1].input, 56) - GetLE32(sent[1].input, 52), 0u);
  EXPECT_EQ(GetLE32(sent[1].input, 52), 1000u);
  EXPECT_EQ(sent[2].input[kPayloadOffset + kTraceEntrySize - 1], 0xEE);
  EXPECT_EQ(GetLE32(sent[2].input, kSignatureOffset), kSignature);
}

TEST_F(GetTraceEntryTest, IdleLineCostsOneStatusAndOneRefusedReadAndNoSignal) {
  driver_.SetLine(kHandle, {0, 0});
  Poll();
  EXPECT_EQ(Sent(), (Sends{{OP_TRACE_STATUS, 0}, {OP_TRACE_READ, 0}}));
  EXPECT_FALSE(Signalled());
}

TEST_F(GetTraceEntryTest, RefusedStatusSkipsTheLine) {
  driver_.SetLine(kHandle, {0, 5, true});
  Poll();
  EXPECT_EQ(Sent(), (Sends{{OP_TRACE_STATUS, 0}}));
  EXPECT_FALSE(Signalled());
  EXPECT_EQ(ring_->NextEntry, 0u);
}

// Entry numbers wrap at 2^32 as the driver counts them: "ahead" and "behind" are the sign of the
// 32-bit difference, a loss is never negative, and a line never gets stuck or shows entries twice.
TEST_F(GetTraceEntryTest, DroppedEntriesAreReportedAndSkippedAcrossTheWrap) {
  struct Case {
    const char* name;
    bool running;  // a status reply came before; else the trace's first poll
    std::uint32_t next, oldest, end;
    const char* printed;
    std::vector<std::uint32_t> read;
  };
  const Case cases[] = {
      {"FirstPollFindsFiveDropped", false, 0, 5, 7, "Lost 5 Entries\n", {5, 6}},
      {"UpToDate", true, 5, 5, 7, "", {5, 6}},
      {"AheadOfTheOldest", true, 7, 5, 9, "", {7, 8}},
      {"FarBehind", true, 3, 250, 252, "Lost 247 Entries\n", {250, 251}},
      {"ReadingOnAcrossTheWrap", true, 0xFFFFFFFE, 0xFFFFFFFC, 2, "", {0xFFFFFFFE, 0xFFFFFFFF, 0, 1}},
      {"PastTheWrapWhileOlderAreHeld", true, 2, 0xFFFFFFFA, 4, "", {2, 3}},
      {"LostAcrossTheWrap", true, 0xFFFFFFFE, 3, 5, "Lost 5 Entries\n", {3, 4}},
      {"FirstPollOfADriverNumberingFromBelowZero", false, 0, 0xFFFFFFFA, 2, "",
       {0xFFFFFFFA, 0xFFFFFFFB, 0xFFFFFFFC, 0xFFFFFFFD, 0xFFFFFFFE, 0xFFFFFFFF, 0, 1}},
      {"FarthestLoss", true, 1, 0x80000000, 0x80000001, "Lost 2147483647 Entries\n", {0x80000000}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeTraceDriver driver;
    ring_ = std::make_unique<TraceRing>();
    ring_->NextEntry = c.next;
    ring_->StatusSeen = c.running;
    driver.SetLine(kHandle, {c.oldest, c.end});
    ConsoleCapture capture;
    CloseDriver();
    ASSERT_TRUE(driver.Open());
    Poll();
    EXPECT_EQ(capture.Take(), c.printed);
    EXPECT_EQ(Drain(), c.read);
    EXPECT_EQ(ring_->NextEntry, c.end);
    // The next poll, with nothing new, reports nothing and shows nothing again.
    Poll();
    EXPECT_EQ(capture.Take(), "");
    EXPECT_EQ(Drain(), std::vector<std::uint32_t>{});
  }
}

TEST_F(GetTraceEntryTest, StopsAt99UnreadAndLeavesTheRestWithTheDriver) {
  for (int i = 0; i < 95; ++i) {
    std::array<std::uint8_t, kTraceEntrySize> entry{};
    RingPut(*ring_, TraceEntryView(entry));
  }
  driver_.SetLine(kHandle, {0, 10});
  Poll();
  // Four entries fit; no read is sent for the fifth.
  EXPECT_EQ(Sent(), (Sends{{OP_TRACE_STATUS, 0}, {OP_TRACE_READ, 0}, {OP_TRACE_READ, 1}, {OP_TRACE_READ, 2},
                           {OP_TRACE_READ, 3}}));
  EXPECT_EQ(RingUnread(*ring_), 99u);
  EXPECT_EQ(ring_->NextEntry, 4u);
  EXPECT_TRUE(Signalled());

  // Once the decode side has caught up, the next poll goes on where this one stopped.
  for (int i = 0; i < 95; ++i) RingStepRead(*ring_);
  ConsoleCapture capture;
  Poll();
  EXPECT_EQ(Drain(), (std::vector<std::uint32_t>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
  EXPECT_EQ(capture.text(), "");  // nothing was lost
}

TEST_F(GetTraceEntryTest, PendingLogSwitchGoesOutRightAfterAnEntryWasRead) {
  driver_.SetLine(kHandle, {0, 2});
  PrintStatus = 1;
  PrintUpdate = 1;
  Poll();
  EXPECT_EQ(Sent(), (Sends{{OP_TRACE_STATUS, 0}, {OP_TRACE_READ, 0}, {OP_LOG_FILE, 2}, {OP_TRACE_READ, 1},
                           {OP_TRACE_READ, 2}}));
  EXPECT_EQ(PrintUpdate.load(), 0);
  // The log request still holds the entry just read.
  EXPECT_EQ(driver_.Requests()[2].input[kPayloadOffset + kTraceEntrySize - 1], 0xEE);
}

TEST_F(GetTraceEntryTest, PendingLogSwitchWaitsWhileNoEntryArrives) {
  driver_.SetLine(kHandle, {0, 0});
  PrintStatus = 0;
  PrintUpdate = 1;
  Poll();
  EXPECT_EQ(Sent(), (Sends{{OP_TRACE_STATUS, 0}, {OP_TRACE_READ, 0}}));
  EXPECT_EQ(PrintUpdate.load(), 1);
}

TEST_F(GetTraceEntryTest, StopRequestEndsReadingButTheStatusIsStillAsked) {
  driver_.SetLine(kHandle, {0, 5});
  EndGame = 1;
  Poll();
  EXPECT_EQ(Sent(), (Sends{{OP_TRACE_STATUS, 0}}));
  EXPECT_FALSE(Signalled());
}

// A connection that breaks for good ends the poll loop after that pass, with one line of our own
// on standard error and nothing on standard output.
TEST_F(GetTraceEntryTest, LostConnectionEndsThePollLoop) {
  driver_.SetLine(kHandle, {0, 3, false, false, true});
  ClearLineTable();
  NumIdd = 1;
  idd_tbl[0].Handle = kHandle;
  idd_tbl[0].Selected = 1;
  idd_tbl[0].Ring = std::make_unique<TraceRing>();
  ConsoleCapture capture;
  DoTrace();
  EXPECT_EQ(EndGame.load(), 1);
  EXPECT_TRUE(RunFailed());
  EXPECT_EQ(capture.errors(), "lapmon: the connection to the driver is lost\n");
  EXPECT_EQ(capture.text(), "");
  EXPECT_EQ(Sent(), (Sends{{OP_TRACE_STATUS, 0}}));
  ClearLineTable();
}

}  // namespace
