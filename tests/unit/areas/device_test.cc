// SPDX-License-Identifier: BSD-2-Clause
// The area dump end to end through the real send operation, against an in-process driver.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "areas/area_dump.h"
#include "common/console.h"
#include "common/driver.h"
#include "fake_driver.h"

namespace {

TEST(AreaDevice, GetStatusFetchesAndPrintsOneArea) {
  // Ready at the first poll; every poll carries Layer 1's Tx_Info_Pattern = 2 and Tx_Frames = 1234.
  FakeDriver driver([](const FakeRequest& r) {
    std::vector<std::uint8_t> block = r.input;
    const MutableByteSpan bytes(block);
    WriteLE32(bytes, kStatusOffset, 0);
    if (r.U32(kOpcodeOffset) == OP_AREA_POLL) {
      const std::uint8_t params[] = {0x64, 0x00, 0x02, 0x00, 0x66, 0x40, 0xD2, 0x04, 0x00, 0x00};
      WriteLE32(bytes, kPayloadOffset + kAreaStateOffset, kAreaReady);
      std::copy(std::begin(params), std::end(params), block.begin() + kPayloadOffset + kParamsOffset);
      WriteLE32(bytes, kPayloadOffset + kParamsLenOffset, sizeof params);
    }
    return FakeReply::Bytes(block);
  });
  ScopedEnv env("BRI_DEVICE_DIR", driver.dir());
  ConsoleCapture console;
  ASSERT_TRUE(OpenDriver(ChooseDevicePaths(kOsWindowsNt)));

  EXPECT_EQ(GetStatus(0x2001, 1), 0);
  CloseDriver();
  EXPECT_EQ(console.text(), std::string("Area: 01 - Layer 1 (S/T)\n") + kAreaRule +
                                " Tx_Info_Pattern\t\tINFO 3\n Tx_Frames\t\t\t1234\n");

  const std::vector<FakeRequest> requests = driver.requests();
  ASSERT_EQ(requests.size(), 3u);
  const std::uint32_t opcodes[] = {OP_AREA_REQUEST, OP_AREA_POLL, OP_AREA_POLL};
  const std::uint32_t parameters[] = {1, 0, 0};
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(requests[i].U32(kOpcodeOffset), opcodes[i]) << i;
    EXPECT_EQ(requests[i].U32(kLineHandleOffset), 0x2001u) << i;
    EXPECT_EQ(requests[i].U32(kParameterOffset), parameters[i]) << i;
  }
}

}  // namespace
