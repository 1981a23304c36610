#include "trace/capture.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "common/console.h"
#include "fake_trace_driver.h"
#include "switch_reset.h"
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

TEST_F(GetTraceEntryTest, DroppedEntriesAreReportedAndSkipped) {
  struct Case {
    std::uint32_t next, oldest;
    const char* printed;
  };
  for (const Case& c : {Case{0, 5, "Lost 5 Entries\n"}, Case{5, 5, ""}, Case{7, 5, ""}, Case{3, 250, "Lost 247 Entries\n"}}) {
    SCOPED_TRACE(c.next);
    FakeTraceDriver driver;
    ring_ = std::make_unique<TraceRing>();
    ring_->NextEntry = c.next;
    driver.SetLine(kHandle, {c.oldest, c.oldest + 2});
    ConsoleCapture capture;
    CloseDriver();
    ASSERT_TRUE(driver.Open());
    Poll();
    EXPECT_EQ(capture.text(), c.printed);
    const std::uint32_t first = std::max(c.next, c.oldest);
    EXPECT_EQ(ring_->NextEntry, std::max(first, c.oldest + 2));
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

}  // namespace
