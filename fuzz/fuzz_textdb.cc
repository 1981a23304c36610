// SPDX-License-Identifier: BSD-2-Clause
// db_lookup with arbitrary section names and keys, in the program's own image and in an arbitrary
// image. A text found must lie inside its image, NUL and all.
//
// The arbitrary image is an exact-size heap block, so that AddressSanitizer reports any read past it.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "areas/textdb.h"
#include "fuzz_check.h"

namespace {

void CheckInside(const char* text, const std::uint8_t* image, std::size_t size) {
  if (text == nullptr) return;
  const auto* at = reinterpret_cast<const std::uint8_t*>(text);
  FUZZ_CHECK(at >= image && at < image + size);
  FUZZ_CHECK(std::memchr(at, 0, static_cast<std::size_t>(image + size - at)) != nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  // Known names half of the time, so that the lookup gets past the directory.
  const std::string section = input.ConsumeBool() ? std::string("idp_tmsg") : input.ConsumeRandomLengthString(40);
  const std::string key = input.ConsumeRandomLengthString(40);
  const std::string rest = input.ConsumeRemainingBytesAsString();

  CheckInside(db_lookup(textdb_dat, textdb_size, section.c_str(), key.c_str()), textdb_dat, textdb_size);

  const std::unique_ptr<std::uint8_t[]> image(new std::uint8_t[rest.size()]);
  std::memcpy(image.get(), rest.data(), rest.size());
  CheckInside(db_lookup(image.get(), rest.size(), section.c_str(), key.c_str()), image.get(), rest.size());
  return 0;
}
