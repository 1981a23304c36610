// SPDX-License-Identifier: BSD-2-Clause
// Finding the system, opening the driver and sending command blocks, against an in-process driver.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "common/console.h"
#include "common/driver.h"
#include "fake_driver.h"

namespace {

// A reply block: the request's block with Status and one payload word set.
FakeReply ReplyBlock(const FakeRequest& r, std::uint32_t status, std::uint32_t word40) {
  std::vector<std::uint8_t> block = r.input;
  MutableByteSpan bytes(block);
  WriteLE32(bytes, kStatusOffset, status);
  WriteLE32(bytes, kPayloadOffset, word40);
  return FakeReply::Bytes(block);
}

// Opens hf on the fake driver for the test's duration.
struct DriverOpen {
  explicit DriverOpen(FakeHandler handler) : driver(std::move(handler)), env("BRI_DEVICE_DIR", driver.dir()) {
    ConsoleCapture quiet;
    opened = OpenDriver(ChooseDevicePaths(kOsWindowsNt));
  }
  ~DriverOpen() { CloseDriver(); }
  FakeDriver driver;
  ScopedEnv env;
  bool opened = false;
};

TEST(ExecuteCmd, StampsHeaderOnEverySend) {
  DriverOpen d([](const FakeRequest& r) { return ReplyBlock(r, 0, 0); });
  ASSERT_TRUE(d.opened);
  CommandHolder block = AllocateCommand();
  ASSERT_TRUE(block);
  // Whatever the block held before, the header leaves stamped.
  for (std::uint8_t junk : {std::uint8_t{0x00}, std::uint8_t{0xFF}, std::uint8_t{0x5A}}) {
    std::fill(block->raw.begin(), block->raw.begin() + 8, junk);
    block->SetOpcode(OP_TRACE_STATUS);
    block->SetLineHandle(0x1001);
    block->SetParameter(junk);
    EXPECT_EQ(ExecuteCmd(block.get()), 0u);
  }
  const std::vector<FakeRequest> requests = d.driver.requests();
  ASSERT_EQ(requests.size(), 3u);
  for (const FakeRequest& r : requests) {
    EXPECT_EQ(r.code, kDriverIoControl);
    EXPECT_EQ(r.in_len, kCommandBlockSize);
    EXPECT_EQ(r.out_len, kCommandBlockSize);
    EXPECT_EQ(r.U32(kSignatureOffset), kSignature);
    EXPECT_EQ(r.U16(kHeaderWord0Offset), 0);
    EXPECT_EQ(r.U16(kHeaderWord1Offset), 1);
    EXPECT_EQ(r.U32(kOpcodeOffset), OP_TRACE_STATUS);
    EXPECT_EQ(r.U32(kLineHandleOffset), 0x1001u);
  }
  EXPECT_EQ(requests[1].U32(kParameterOffset), 0xFFu);
}

TEST(ExecuteCmd, ReturnsTheDriversStatusAndReply) {
  DriverOpen d([](const FakeRequest& r) { return ReplyBlock(r, 7, 0xCAFE); });
  CommandHolder block = AllocateCommand();
  block->SetOpcode(OP_AREA_POLL);
  EXPECT_EQ(ExecuteCmd(block.get()), 7u);
  EXPECT_EQ(block->Status(), 7u);
  EXPECT_EQ(GetLE32(block->bytes(), kPayloadOffset), 0xCAFEu);
  EXPECT_EQ(out_len.load(), kCommandBlockSize);
}

// A device call that fails outright must never look like the success of an earlier reply.
TEST(ExecuteCmd, FailedCallReportsItselfNotAStaleStatus) {
  std::atomic<int> calls{0};
  DriverOpen d([&](const FakeRequest& r) {
    switch (calls++) {
      case 0:
        return ReplyBlock(r, 0, 0x1234);
      case 1:
        return FakeReply::Failure();
      default:
        return FakeReply::Hangup();
    }
  });
  CommandHolder block = AllocateCommand();
  block->SetOpcode(OP_TRACE_READ);
  ASSERT_EQ(ExecuteCmd(block.get()), 0u);
  EXPECT_EQ(ExecuteCmd(block.get()), kStatusDeviceCallFailed);
  EXPECT_EQ(block->Status(), kStatusDeviceCallFailed);
  EXPECT_EQ(GetLE32(block->bytes(), kPayloadOffset), 0x1234u);  // the reply area was not touched
  block->SetStatus(0);
  EXPECT_EQ(ExecuteCmd(block.get()), kStatusDeviceCallFailed);  // connection broken
  block->SetStatus(0);
  EXPECT_EQ(ExecuteCmd(block.get()), kStatusDeviceCallFailed);  // and it stays so
  EXPECT_EQ(d.driver.requests().size(), 3u);
}

TEST(ExecuteCmd, WithoutAnOpenDriverNothingIsSent) {
  CloseDriver();
  CommandHolder block = AllocateCommand();
  EXPECT_EQ(ExecuteCmd(block.get()), kStatusDeviceCallFailed);
}

TEST(OpenDriver, TriesTheSystemsPathThenTheSecond) {
  struct Case {
    int os;
    const char* listening;  // nullptr: no driver at all
    bool opens;
  };
  const Case cases[] = {
      {kOsWindowsNt, "TESSIX0", true},     {kOsWindowsNt, "Quorlink", true},  {kOsWindowsNt, "VEXMOD.VXD", false},
      {kOsWindows95, "VEXMOD.VXD", true},  {kOsWindows95, "Quorlink", true},  {kOsWindows95, "TESSIX0", false},
      {kOsWindowsNt, nullptr, false},
  };
  for (const Case& tc : cases) {
    const std::string device = tc.listening != nullptr ? tc.listening : "nothing-here";
    FakeDriver driver([](const FakeRequest& r) { return ReplyBlock(r, 0, 0); }, device);
    ScopedEnv env("BRI_DEVICE_DIR", driver.dir());
    ConsoleCapture capture;
    EXPECT_EQ(OpenDriver(ChooseDevicePaths(tc.os)), tc.opens) << device;
    EXPECT_EQ(capture.text(), tc.opens ? "" : "Tessix.sys is not installed!\n") << device;
    EXPECT_EQ(hf.load() != kInvalidDevice, tc.opens) << device;
    if (tc.opens) {
      CommandHolder block = AllocateCommand();
      EXPECT_EQ(ExecuteCmd(block.get()), 0u) << device;
    }
    CloseDriver();
    EXPECT_EQ(hf.load(), kInvalidDevice);
    // The quiet open finds the same device and leaves the telling to its caller.
    EXPECT_EQ(TryOpenDriver(ChooseDevicePaths(tc.os)), tc.opens) << device;
    { const DriverCloser closer; }
    EXPECT_EQ(hf.load(), kInvalidDevice);
    EXPECT_EQ(capture.text(), tc.opens ? "" : "Tessix.sys is not installed!\n") << device;
  }
}

TEST(FindOperatingSystem, ReportsTheSystemOrWhyNot) {
  struct Case {
    const char* setting;
    bool ok;
    int os;
    const char* output;
  };
  const Case cases[] = {
      {"nt:4.0.1381", true, kOsWindowsNt, ""},
      {"95:4.0.950", true, kOsWindows95, ""},
      {"fail", true, kOsWindowsNt, "\nProblems finding OS version! default to windows NT...\n"},
      {"other", false, -1, "This Utility runs only under Windows NT or 95!\n"},
  };
  for (const Case& tc : cases) {
    ScopedEnv env("BRI_OS", tc.setting);
    ConsoleCapture capture;
    CurrentOS = -1;
    OsVersion version;
    EXPECT_EQ(FindOperatingSystem(&version), tc.ok) << tc.setting;
    if (tc.ok) {
      EXPECT_EQ(CurrentOS, tc.os) << tc.setting;
    }
    EXPECT_EQ(capture.text(), tc.output) << tc.setting;
  }
  ScopedEnv env("BRI_OS", "fail");
  ConsoleCapture capture;
  OsVersion version;
  version.major = 5;
  FindOperatingSystem(&version);
  EXPECT_EQ(version.major, 0u);
  EXPECT_EQ(version.platform_id, 0u);
  CurrentOS = kOsWindowsNt;
}

// Reading a block, also one that is not const, keeps what it knows of its extent (else every
// later request would have the transport scan the whole 262,200 bytes); writing anywhere gives
// that up until the next Zero().
TEST(CommandBlock, ReadingKeepsTheExtentWritingAnywhereGivesItUp) {
  CommandHolder block = AllocateCommand();
  ASSERT_TRUE(block);
  block->SetOpcode(OP_TRACE_STATUS);
  const std::size_t extent = block->extent;
  EXPECT_LE(extent, kCommandHeaderSize);
  EXPECT_EQ(GetLE32(block->bytes(), kOpcodeOffset), OP_TRACE_STATUS);
  EXPECT_EQ(block->extent, extent);
  WriteLE32(block->MarkAllWritten(), 200000, 1);
  EXPECT_EQ(block->extent, kCommandBlockSize);
  block->Zero();
  EXPECT_EQ(block->extent, 0u);
}

// The block knows how far it was written (setters, replies, writes through MarkAllWritten()) and hands no
// less to the transport: a reused block sends what an earlier reply left in it, a write anywhere
// travels, and after Zero() nothing of it is left. A freed block handed out again is all zeros.
TEST(ExecuteCmd, SendsEveryByteTheBlockHolds) {
  constexpr std::size_t kFar = 200000;
  DriverOpen d([](const FakeRequest& r) {
    std::vector<std::uint8_t> block = r.input;
    MutableByteSpan bytes(block);
    WriteLE32(bytes, kStatusOffset, 0);
    if (r.U32(kOpcodeOffset) == OP_TRACE_STATUS) WriteLE32(bytes, 1000, 0xBEEF);  // a reply far out
    return FakeReply::Bytes(block);
  });
  CommandHolder block = AllocateCommand();
  ASSERT_TRUE(block);
  block->SetOpcode(OP_TRACE_STATUS);
  EXPECT_EQ(ExecuteCmd(block.get()), 0u);
  block->SetOpcode(OP_TRACE_READ);
  EXPECT_EQ(ExecuteCmd(block.get()), 0u);  // the reply's word still in the block
  WriteLE32(block->MarkAllWritten(), kFar, 0xF00DCAFE);
  EXPECT_EQ(ExecuteCmd(block.get()), 0u);
  block->Zero();
  block->SetOpcode(OP_TRACE_READ);
  EXPECT_EQ(ExecuteCmd(block.get()), 0u);

  const std::vector<FakeRequest> requests = d.driver.requests();
  ASSERT_EQ(requests.size(), 4u);
  EXPECT_LE(requests[0].in_sent, kPayloadOffset);
  EXPECT_EQ(requests[1].U32(1000), 0xBEEFu);
  EXPECT_EQ(requests[2].U32(1000), 0xBEEFu);
  EXPECT_GE(requests[2].in_sent, kFar + 4);  // the driver's record keeps only the first 4 KiB
  EXPECT_EQ(requests[3].U32(1000), 0u);
  EXPECT_LE(requests[3].in_sent, kPayloadOffset);

  WriteLE32(block->MarkAllWritten(), kFar, 0xF00DCAFE);
  block.reset();
  CommandHolder again = AllocateCommand();
  ASSERT_TRUE(again);
  EXPECT_TRUE(std::all_of(again->raw.begin(), again->raw.end(), [](std::uint8_t b) { return b == 0; }));
}

}  // namespace
