// SPDX-License-Identifier: BSD-2-Clause
// FILETIME to local time, tick count and sleep.
#include <gtest/gtest.h>
#include <time.h>

#include "fake_driver.h"
#include "platform/platform.h"

namespace {

struct TzScope {
  explicit TzScope(const char* tz) : env("TZ", tz) { tzset(); }
  ~TzScope() { tzset(); }
  ScopedEnv env;
};

TEST(FileTime, ConvertsToLocalTime) {
  struct Case {
    const char* tz;
    std::uint64_t file_time;
    bool ok;
    SystemTime want;
  };
  const Case cases[] = {
      {"UTC", 133000000001234567ull, true, {2022, 6, 6, 18, 4, 26, 40, 123}},
      {"EST5", 133000000001234567ull, true, {2022, 6, 5, 17, 23, 26, 40, 123}},
      {"UTC", 0, true, {1601, 1, 1, 1, 0, 0, 0, 0}},
      {"EST5", 0, false, {}},  // before 1601 in local time
      {"UTC", 0x7FFFFFFFFFFFFFFFull, true, {30828, 9, 4, 14, 2, 48, 5, 477}},
      {"UTC", 0x8000000000000000ull, false, {}},
  };
  for (const Case& tc : cases) {
    TzScope tz(tc.tz);
    SystemTime got;
    ASSERT_EQ(PlatFileTimeToLocal(tc.file_time, &got), tc.ok) << tc.tz << " " << tc.file_time;
    if (!tc.ok) continue;
    EXPECT_EQ(got.year, tc.want.year) << tc.file_time;
    EXPECT_EQ(got.month, tc.want.month) << tc.file_time;
    EXPECT_EQ(got.day_of_week, tc.want.day_of_week) << tc.file_time;
    EXPECT_EQ(got.day, tc.want.day) << tc.file_time;
    EXPECT_EQ(got.hour, tc.want.hour) << tc.file_time;
    EXPECT_EQ(got.minute, tc.want.minute) << tc.file_time;
    EXPECT_EQ(got.second, tc.want.second) << tc.file_time;
    EXPECT_EQ(got.milliseconds, tc.want.milliseconds) << tc.file_time;
  }
}

TEST(Ticks, SleepPassesAtLeastTheTimeAsked) {
  const std::uint32_t start = PlatTickCount();
  PlatSleep(30);
  EXPECT_GE(static_cast<std::uint32_t>(PlatTickCount() - start), 30u);
}

}  // namespace
