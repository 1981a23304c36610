// SPDX-License-Identifier: BSD-2-Clause
// Tick count, sleeping and time-stamp conversion on Linux.
#include <time.h>

#include <cerrno>
#include <cstdint>

#include "platform/platform.h"

std::uint32_t PlatTickCount() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  const auto ms = static_cast<std::uint64_t>(now.tv_sec) * 1000u + static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
  return static_cast<std::uint32_t>(ms);  // wraps at 2^32, as GetTickCount does
}

void PlatSleep(std::uint32_t milliseconds) {
  timespec rest{static_cast<time_t>(milliseconds / 1000u), static_cast<long>(milliseconds % 1000u) * 1000000L};
  while (nanosleep(&rest, &rest) != 0 && errno == EINTR) {
  }
}

bool PlatFileTimeToLocal(std::uint64_t file_time, SystemTime* local) {
  // FILETIME counts 100 ns units from 1601-01-01 UTC; values with the top bit set are invalid.
  constexpr std::uint64_t kMaxFileTime = 0x7FFFFFFFFFFFFFFFull;
  constexpr std::int64_t kSecondsFrom1601To1970 = 11644473600LL;
  if (file_time > kMaxFileTime) return false;
  const auto seconds_1601 = static_cast<std::int64_t>(file_time / 10000000u);
  const auto milliseconds = static_cast<std::uint16_t>((file_time / 10000u) % 1000u);
  const time_t unix_seconds = static_cast<time_t>(seconds_1601 - kSecondsFrom1601To1970);

  // The zone is read once per process: tzset() looks at the zone file again on every call, which
  // cost a file lookup per decoded frame. Whoever changes TZ while running calls tzset() itself.
  static const bool zone_read = (tzset(), true);
  static_cast<void>(zone_read);
  tm fields{};
  if (localtime_r(&unix_seconds, &fields) == nullptr) return false;
  // The years a FILETIME reaches: 1601 to 30828.
  const long year = static_cast<long>(fields.tm_year) + 1900L;
  if (year < 1601 || year > 30828) return false;
  local->year = static_cast<std::uint16_t>(year);
  local->month = static_cast<std::uint16_t>(fields.tm_mon + 1);
  local->day_of_week = static_cast<std::uint16_t>(fields.tm_wday);
  local->day = static_cast<std::uint16_t>(fields.tm_mday);
  local->hour = static_cast<std::uint16_t>(fields.tm_hour);
  local->minute = static_cast<std::uint16_t>(fields.tm_min);
  // A leap second (tm_sec 60) is shown as the last second of its minute.
  local->second = static_cast<std::uint16_t>(fields.tm_sec > 59 ? 59 : fields.tm_sec);
  local->milliseconds = milliseconds;
  return true;
}
