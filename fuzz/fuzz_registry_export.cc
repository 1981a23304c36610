// SPDX-License-Identifier: BSD-2-Clause
// The registry export reader with arbitrary file contents, asked for the values the status tool
// reads (or arbitrary ones), and the hand-over of a found value into a caller's buffer of any size.
//
// The caller's buffer is an exact-size heap block, so that AddressSanitizer reports any write past it.
#include <fuzzer/FuzzedDataProvider.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "platform/registry_export.h"

namespace {

constexpr std::array<const char*, 3> kValueNames = {"Address", "Friendly Name", "Usage"};
constexpr const char* kKey = "SOFTWARE\\MICROSOFT\\RAS\\Tapi Devices\\TESSIX";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const std::string key = input.ConsumeBool() ? std::string(kKey) : input.ConsumeRandomLengthString(80);
  const std::string value_name =
      input.ConsumeBool() ? std::string(kValueNames[input.ConsumeIntegralInRange<std::size_t>(0, 2)])
                          : input.ConsumeRandomLengthString(40);
  const auto buffer_size = input.ConsumeIntegralInRange<std::uint32_t>(0, 1100);
  const std::string file = input.ConsumeRemainingBytesAsString();

  std::string value;
  const long rc = FindRegistryValue(file, key, value_name, &value);
  FUZZ_CHECK(rc == kRegOk || rc == kRegFileNotFound);
  if (rc != kRegOk) return 0;

  const std::unique_ptr<char[]> buffer(new char[buffer_size]);
  std::memset(buffer.get(), 0x5A, buffer_size);
  std::uint32_t copied = buffer_size;
  const long copy_rc = CopyRegistryValue(value, buffer.get(), &copied);
  FUZZ_CHECK(copied == value.size());
  if (copy_rc == kRegOk) {
    FUZZ_CHECK(value.size() <= buffer_size);
    FUZZ_CHECK(std::memcmp(buffer.get(), value.data(), value.size()) == 0);
  } else {
    FUZZ_CHECK(copy_rc == kRegMoreData && value.size() > buffer_size);
    for (std::uint32_t i = 0; i < buffer_size; ++i) FUZZ_CHECK(buffer[i] == 0x5A);
  }
  return 0;
}
