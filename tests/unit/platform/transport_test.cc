// SPDX-License-Identifier: BSD-2-Clause
// The device transport: what goes over the socket, and what the caller's buffer holds afterwards.
#include <gtest/gtest.h>
#include <malloc.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>
#include <vector>

#include "fake_driver.h"
#include "platform/platform.h"

namespace {

constexpr const char* kDevice = "\\\\.\\TESSIX0";

std::vector<std::uint8_t> Pattern(std::size_t size, std::uint8_t seed) {
  std::vector<std::uint8_t> v(size);
  for (std::size_t i = 0; i < size; ++i) v[i] = static_cast<std::uint8_t>(seed + i * 7 + 1);
  return v;
}

// A driver and one open handle on it.
struct Connected {
  explicit Connected(FakeHandler handler) : driver(std::move(handler)), env("BRI_DEVICE_DIR", driver.dir()) {
    handle = PlatOpenDevice(kDevice);
  }
  ~Connected() { PlatCloseDevice(handle); }
  FakeDriver driver;
  ScopedEnv env;
  DeviceHandle handle = kInvalidDevice;
};

TEST(DeviceTransport, OpenFailsWhenNothingListensOrPathIsNoDevice) {
  TempDir empty;
  ScopedEnv env("BRI_DEVICE_DIR", empty.path());
  EXPECT_EQ(PlatOpenDevice(kDevice), kInvalidDevice);

  FakeDriver driver([](const FakeRequest&) { return FakeReply::Bytes({}); }, "Quorlink");
  ScopedEnv env2("BRI_DEVICE_DIR", driver.dir());
  EXPECT_EQ(PlatOpenDevice(kDevice), kInvalidDevice);
  for (const char* bad : {"Quorlink", "\\\\.\\", "\\\\.\\..", "\\\\.\\a/Quorlink", ""}) {
    EXPECT_EQ(PlatOpenDevice(bad), kInvalidDevice) << bad;
  }
  const DeviceHandle handle = PlatOpenDevice("\\\\.\\Quorlink");
  EXPECT_NE(handle, kInvalidDevice);
  PlatCloseDevice(handle);
}

// Trailing zero bytes are implied by in_len; the driver must still see the whole input.
TEST(DeviceTransport, InputTrimmedOfTrailingZerosArrivesWhole) {
  struct Case {
    const char* name;
    std::vector<std::uint8_t> input;
    std::uint32_t want_sent;
  };
  std::vector<std::uint8_t> full = Pattern(262200, 3);
  full.back() = 0x55;
  std::vector<std::uint8_t> head_only(262200, 0);
  head_only[0] = 0xB7;
  head_only[27] = 0x14;
  std::vector<std::uint8_t> inner_zeros = {1, 0, 0, 2, 0, 0, 0};
  const std::vector<Case> cases = {
      {"full buffer", full, 262200},
      {"header only", head_only, 28},
      {"inner zeros kept", inner_zeros, 4},
      {"all zero", std::vector<std::uint8_t>(64, 0), 0},
  };
  Connected c([](const FakeRequest& r) { return FakeReply::Bytes(r.input); });
  ASSERT_NE(c.handle, kInvalidDevice);
  for (const Case& tc : cases) {
    std::vector<std::uint8_t> buffer = tc.input;
    std::uint32_t returned = 0;
    const auto len = static_cast<std::uint32_t>(buffer.size());
    ASSERT_TRUE(PlatDeviceControl(c.handle, kDriverIoControl, buffer.data(), len, buffer.data(), len, &returned))
        << tc.name;
    EXPECT_EQ(returned, len) << tc.name;
    EXPECT_EQ(buffer, tc.input) << tc.name;
    const FakeRequest last = c.driver.requests().back();
    EXPECT_EQ(last.code, kDriverIoControl);
    EXPECT_EQ(last.in_len, len) << tc.name;
    EXPECT_EQ(last.in_sent, tc.want_sent) << tc.name;
    EXPECT_EQ(last.out_len, len) << tc.name;
  }
}

// The reply as one piece or cut anywhere, the header included: the caller sees the same.
TEST(DeviceTransport, ReplyFillsReturnedBytesAndLeavesTheRest) {
  for (const std::size_t piece : {0u, 1u, 5u, 12u, 13u}) {
    Connected c([piece](const FakeRequest&) {
      FakeReply reply;
      reply.returned = 100;
      reply.output = {9, 8, 7, 6, 5, 4, 3, 2, 1, 42};  // 10 bytes travel, 90 zeros are implied
      reply.piece = piece;
      return reply;
    });
    std::vector<std::uint8_t> buffer(200, 0xEE);
    std::uint32_t returned = 0;
    ASSERT_TRUE(PlatDeviceControl(c.handle, kDriverIoControl, buffer.data(), 200, buffer.data(), 200, &returned))
        << piece;
    EXPECT_EQ(returned, 100u) << piece;
    EXPECT_EQ(buffer[0], 9) << piece;
    EXPECT_EQ(buffer[9], 42) << piece;
    for (std::size_t i = 10; i < 100; ++i) ASSERT_EQ(buffer[i], 0) << i;
    for (std::size_t i = 100; i < 200; ++i) ASSERT_EQ(buffer[i], 0xEE) << i;
  }
}

TEST(DeviceTransport, FailureReplyLeavesBufferUntouchedAndConnectionUsable) {
  std::atomic<int> calls{0};
  Connected c([&](const FakeRequest& r) {
    if (calls++ == 0) {
      FakeReply reply = FakeReply::Failure();
      reply.returned = 8;
      reply.output = {1, 2, 3, 4, 5, 6, 7, 8};  // sent with the failure, but never handed out
      return reply;
    }
    return FakeReply::Bytes(std::vector<std::uint8_t>(r.out_len, 0x11));
  });
  std::vector<std::uint8_t> buffer = Pattern(64, 1);
  const std::vector<std::uint8_t> before = buffer;
  std::uint32_t returned = 77;
  EXPECT_FALSE(PlatDeviceControl(c.handle, kDriverIoControl, buffer.data(), 64, buffer.data(), 64, &returned));
  EXPECT_EQ(buffer, before);
  EXPECT_EQ(returned, 0u);
  EXPECT_FALSE(PlatDeviceLost(c.handle));  // one refusal loses nothing
  EXPECT_TRUE(PlatDeviceControl(c.handle, kDriverIoControl, buffer.data(), 64, buffer.data(), 64, &returned));
  EXPECT_EQ(buffer, std::vector<std::uint8_t>(64, 0x11));
}

// Replies the transport cannot trust: the call fails, the buffer stays, the connection is dropped.
TEST(DeviceTransport, BrokenOrMalformedReplyFailsAndRetiresTheHandle) {
  auto header = [](std::uint32_t ok, std::uint32_t returned, std::uint32_t out_sent) {
    std::vector<std::uint8_t> b;
    for (std::uint32_t v : {ok, returned, out_sent}) {
      for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    }
    return b;
  };
  struct Case {
    const char* name;
    FakeReply reply;
  };
  FakeReply too_long;
  too_long.raw = header(1, 65, 0);  // returned above out_len (64)
  FakeReply sent_above_returned;
  sent_above_returned.raw = header(1, 4, 8);
  sent_above_returned.raw->resize(sent_above_returned.raw->size() + 8, 0x33);
  FakeReply bad_ok;
  bad_ok.raw = header(2, 0, 0);
  FakeReply short_data;
  short_data.raw = header(1, 16, 16);
  short_data.raw->resize(short_data.raw->size() + 5, 0x44);  // 5 of 16 bytes, then the end
  short_data.close_after = true;
  FakeReply longer_than_said;
  longer_than_said.raw = header(1, 8, 4);
  longer_than_said.raw->resize(longer_than_said.raw->size() + 8, 0x55);  // 4 bytes said, 8 sent
  FakeReply short_header;
  short_header.raw = std::vector<std::uint8_t>{1, 0, 0};
  short_header.close_after = true;
  const std::vector<Case> cases = {
      {"returned > out_len", too_long},     {"out_sent > returned", sent_above_returned},
      {"ok neither 0 nor 1", bad_ok},       {"short reply data", short_data},
      {"short reply header", short_header}, {"connection closed", FakeReply::Hangup()},
      {"more bytes than out_sent", longer_than_said},
  };
  for (const Case& tc : cases) {
    Connected c([&](const FakeRequest&) { return tc.reply; });
    ASSERT_NE(c.handle, kInvalidDevice);
    std::vector<std::uint8_t> buffer = Pattern(64, 5);
    const std::vector<std::uint8_t> before = buffer;
    std::uint32_t returned = 0;
    EXPECT_FALSE(PlatDeviceControl(c.handle, kDriverIoControl, buffer.data(), 64, buffer.data(), 64, &returned))
        << tc.name;
    EXPECT_EQ(buffer, before) << tc.name;
    EXPECT_TRUE(PlatDeviceLost(c.handle)) << tc.name;
    // The stream position is lost: no later request goes out on this handle.
    EXPECT_FALSE(PlatDeviceControl(c.handle, kDriverIoControl, buffer.data(), 64, buffer.data(), 64, &returned))
        << tc.name;
    EXPECT_EQ(c.driver.requests().size(), 1u) << tc.name;
  }
}

TEST(DeviceTransport, TwoThreadsOnOneHandleNeverInterleave) {
  // Each request carries one thread's pattern over a whole block; a mixed request or reply shows.
  Connected c([](const FakeRequest& r) {
    const std::uint8_t seed = r.input[0];
    for (std::size_t i = 0; i < r.input.size(); ++i) {
      if (r.input[i] != seed) return FakeReply::Failure();
    }
    return FakeReply::Bytes(std::vector<std::uint8_t>(r.out_len, static_cast<std::uint8_t>(seed + 1)));
  });
  ASSERT_NE(c.handle, kInvalidDevice);
  std::atomic<int> bad{0};
  auto worker = [&](std::uint8_t seed) {
    std::vector<std::uint8_t> buffer(262200);
    for (int i = 0; i < 40; ++i) {
      std::fill(buffer.begin(), buffer.end(), seed);
      std::uint32_t returned = 0;
      if (!PlatDeviceControl(c.handle, kDriverIoControl, buffer.data(), 262200, buffer.data(), 262200, &returned) ||
          returned != 262200 || buffer.front() != seed + 1 || buffer.back() != seed + 1) {
        ++bad;
      }
    }
  };
  std::thread a(worker, std::uint8_t{0x10});
  std::thread b(worker, std::uint8_t{0x20});
  a.join();
  b.join();
  EXPECT_EQ(bad.load(), 0);
  EXPECT_EQ(c.driver.requests().size(), 80u);
}

// A close from another thread ends a call that waits for the driver, and the closed handle never
// reaches a later connection, even one that gets the same descriptor number.
TEST(DeviceTransport, CloseWhileAnotherThreadWaitsForTheReply) {
  std::promise<void> entered;
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  std::atomic<bool> first{true};
  FakeDriver driver([&](const FakeRequest&) {
    if (first.exchange(false)) {
      entered.set_value();
      released.wait();
    }
    return FakeReply::Bytes({1, 2, 3});
  });
  ScopedEnv env("BRI_DEVICE_DIR", driver.dir());
  const DeviceHandle handle = PlatOpenDevice(kDevice);
  ASSERT_NE(handle, kInvalidDevice);

  std::vector<std::uint8_t> buffer(16, 0xAB);
  auto call = std::async(std::launch::async, [&] {
    std::uint32_t returned = 0;
    return PlatDeviceControl(handle, kDriverIoControl, buffer.data(), 16, buffer.data(), 16, &returned);
  });
  entered.get_future().wait();
  PlatCloseDevice(handle);
  ASSERT_EQ(call.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  EXPECT_FALSE(call.get());
  EXPECT_EQ(buffer, std::vector<std::uint8_t>(16, 0xAB));
  EXPECT_FALSE(PlatDeviceLost(handle));  // ended by a close of ours, not lost
  release.set_value();

  const DeviceHandle again = PlatOpenDevice(kDevice);
  ASSERT_NE(again, kInvalidDevice);
  EXPECT_NE(again, handle);
  std::uint32_t returned = 0;
  EXPECT_FALSE(PlatDeviceControl(handle, kDriverIoControl, buffer.data(), 16, buffer.data(), 16, &returned));
  EXPECT_TRUE(PlatDeviceControl(again, kDriverIoControl, buffer.data(), 16, buffer.data(), 16, &returned));
  PlatCloseDevice(handle);  // a second close does nothing
  PlatCloseDevice(again);
  EXPECT_EQ(driver.requests().size(), 2u);
}

// A closed handle keeps nothing of its device: a program that opens, uses and closes devices over
// and over holds no more heap than one device's worth, whatever the replies were. The heap is
// measured with no driver alive, so that only what the tool's side kept counts.
TEST(DeviceTransport, ClosedDevicesLetGoOfTheirBuffers) {
  std::vector<std::uint8_t> buffer = Pattern(262200, 9);
  const auto rounds = [&](int count) {
    FakeDriver driver([](const FakeRequest& r) { return FakeReply::Bytes(r.input); });
    ScopedEnv env("BRI_DEVICE_DIR", driver.dir());
    int ok = 0;
    for (int i = 0; i < count; ++i) {
      const DeviceHandle handle = PlatOpenDevice(kDevice);
      std::uint32_t returned = 0;
      ok += PlatDeviceControl(handle, kDriverIoControl, buffer.data(), 262200, buffer.data(), 262200, &returned);
      PlatCloseDevice(handle);
    }
    return ok;
  };
  ASSERT_EQ(rounds(1), 1);
  const std::size_t before = mallinfo2().uordblks;  // 0 throughout where a sanitizer owns the heap
  ASSERT_EQ(rounds(100), 100);
  EXPECT_LT(mallinfo2().uordblks, before + 262200);  // 100 kept replies would be 26 MB
}

TEST(DeviceTransport, InvalidHandlesFailCleanly) {
  std::uint8_t buffer[4] = {};
  std::uint32_t returned = 0;
  for (DeviceHandle h : {kInvalidDevice, DeviceHandle{1} << 40}) {
    EXPECT_FALSE(PlatDeviceControl(h, kDriverIoControl, buffer, 4, buffer, 4, &returned));
    EXPECT_FALSE(PlatDeviceLost(h));
    PlatCloseDevice(h);
  }
}

}  // namespace
