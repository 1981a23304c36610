// SPDX-License-Identifier: BSD-2-Clause
// The tool's side of the device transport with an arbitrary byte stream as the driver's replies:
// replies that claim more than the caller's buffer, replies cut short, a connection that closes.
// Every call either fails and leaves the caller's buffer as it was, or succeeds with at most the
// buffer's length reported and nothing written beyond what it reports.
//
// The caller's buffer is an exact-size heap block, so that AddressSanitizer reports any write past it.
#include <fuzzer/FuzzedDataProvider.h>

#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "canned_driver.h"
#include "common/command_block.h"
#include "fuzz_check.h"
#include "platform/platform.h"

namespace {

// Byte comparison that also takes empty ranges (whose pointers may be null).
bool Same(const std::uint8_t* a, const std::uint8_t* b, std::size_t n) { return n == 0 || std::memcmp(a, b, n) == 0; }

struct Call {
  std::uint32_t out_len = 0;
  std::vector<std::uint8_t> input;
  bool same_buffer = false;  // the tools pass one buffer as input and output
};

void RunCall(DeviceHandle device, const Call& call) {
  const std::size_t size = call.same_buffer ? std::max<std::size_t>(call.out_len, call.input.size()) : call.out_len;
  const std::unique_ptr<std::uint8_t[]> out(new std::uint8_t[size]);
  std::memset(out.get(), 0xA5, size);
  const std::uint8_t* in = call.input.empty() ? nullptr : call.input.data();
  auto in_len = static_cast<std::uint32_t>(call.input.size());
  if (call.same_buffer) {
    if (!call.input.empty()) std::memcpy(out.get(), call.input.data(), call.input.size());
    in = out.get();
  }
  const std::vector<std::uint8_t> before(out.get(), out.get() + size);

  std::uint32_t returned = 0xDEADBEEF;
  const bool ok = PlatDeviceControl(device, kDriverIoControl, in, in_len, out.get(), call.out_len, &returned);
  if (!ok) {
    FUZZ_CHECK(returned == 0);
    FUZZ_CHECK(Same(out.get(), before.data(), size));
    return;
  }
  FUZZ_CHECK(returned <= call.out_len);
  FUZZ_CHECK(Same(out.get() + returned, before.data() + returned, size - returned));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  SetUpCannedDevice();
  FuzzedDataProvider input(data, size);
  std::vector<Call> calls(input.ConsumeIntegralInRange<std::size_t>(1, 3));
  for (Call& call : calls) {
    // Mostly small buffers, sometimes the command block's own size.
    call.out_len = input.ConsumeBool() ? static_cast<std::uint32_t>(kCommandBlockSize)
                                       : input.ConsumeIntegralInRange<std::uint32_t>(0, 600);
    call.input.resize(input.ConsumeIntegralInRange<std::size_t>(0, 48));
    for (std::uint8_t& b : call.input) b = input.ConsumeIntegral<std::uint8_t>();
    call.same_buffer = input.ConsumeBool();
  }
  const std::vector<std::uint8_t> stream = input.ConsumeRemainingBytes<std::uint8_t>();

  const DeviceHandle device = PlatOpenDevice("\\\\.\\TESSIX0");
  FUZZ_CHECK(device != kInvalidDevice);
  const int driver = AcceptCannedConnection();
  // All the driver will ever say, then the end of its stream.
  WriteCanned(driver, ByteSpan(stream));
  shutdown(driver, SHUT_WR);

  for (const Call& call : calls) RunCall(device, call);

  PlatCloseDevice(device);
  // A call on a closed handle fails without touching the buffer.
  RunCall(device, calls.front());
  close(driver);
  return 0;
}
