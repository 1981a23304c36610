// SPDX-License-Identifier: BSD-2-Clause
// What the version query reports for each BRI_OS setting.
#include <gtest/gtest.h>

#include <string_view>

#include "fake_driver.h"
#include "platform/platform.h"
#include "platform/posix/os_version.h"

namespace {

TEST(OsSetting, ChoosesSystemAndNumbers) {
  struct Case {
    const char* setting;  // nullptr: unset
    std::uint32_t platform_id, major, minor, build;
  };
  const Case cases[] = {
      {nullptr, kPlatformWin32Nt, 6, 1, 0},
      {"", kPlatformWin32Nt, 6, 1, 0},
      {"nt", kPlatformWin32Nt, 6, 1, 0},
      {"NT", kPlatformWin32Nt, 6, 1, 0},
      {"95", kPlatformWin32Windows, 6, 1, 0},
      {"other", 0, 6, 1, 0},
      {"nt:4.0.1381", kPlatformWin32Nt, 4, 0, 1381},
      {"95:4.10.1998", kPlatformWin32Windows, 4, 10, 1998},
      {"other:1.2.3", 0, 1, 2, 3},
      {"nt:4294967295.0.0", kPlatformWin32Nt, 4294967295u, 0, 0},
      // Anything unrecognised reports an unsupported system rather than passing as NT.
      {"windows", 0, 6, 1, 0},
      {"nt:4.0", 0, 6, 1, 0},
      {"nt:4.0.1381x", 0, 6, 1, 0},
      {"nt:4294967296.0.0", 0, 6, 1, 0},
      {"fail:1.2.3", 0, 6, 1, 0},
  };
  for (const Case& tc : cases) {
    OsVersion v;
    const char* label = tc.setting != nullptr ? tc.setting : "(unset)";
    bool understood = false;
    ASSERT_TRUE(ParseOsSetting(tc.setting, "6.1.0-18-amd64", &v, &understood)) << label;
    // Only the "other" setting asks for the unsupported system; every other id 0 is a mistake.
    const bool asks_for_other = tc.setting != nullptr && std::string_view(tc.setting).starts_with("other");
    EXPECT_EQ(understood, tc.platform_id != 0 || asks_for_other) << label;
    EXPECT_EQ(v.platform_id, tc.platform_id) << label;
    EXPECT_EQ(v.major, tc.major) << label;
    EXPECT_EQ(v.minor, tc.minor) << label;
    EXPECT_EQ(v.build, tc.build) << label;
  }
}

TEST(OsSetting, FailMakesTheQueryFail) {
  OsVersion v;
  v.major = 9;
  EXPECT_FALSE(ParseOsSetting("fail", "6.1.0", &v));
  EXPECT_FALSE(ParseOsSetting("FAIL", "6.1.0", &v));
  EXPECT_EQ(v.major, 0u);
}

TEST(OsSetting, KernelReleaseNumbers) {
  struct Case {
    const char* release;
    std::uint32_t major, minor, build;
  };
  for (const Case& tc : {Case{"5.10.0-28-amd64", 5, 10, 0}, Case{"6.8", 6, 8, 0}, Case{"4.19.312", 4, 19, 312},
                         Case{"", 0, 0, 0}, Case{"weird", 0, 0, 0}}) {
    OsVersion v;
    ASSERT_TRUE(ParseOsSetting("nt", tc.release, &v));
    EXPECT_EQ(v.major, tc.major) << tc.release;
    EXPECT_EQ(v.minor, tc.minor) << tc.release;
    EXPECT_EQ(v.build, tc.build) << tc.release;
  }
}

TEST(OsSetting, QueryReadsTheEnvironment) {
  OsVersion v;
  {
    ScopedEnv env("BRI_OS", "95:4.0.950");
    ASSERT_TRUE(PlatGetVersion(&v));
    EXPECT_EQ(v.platform_id, kPlatformWin32Windows);
    EXPECT_EQ(v.build, 950u);
  }
  ScopedEnv env("BRI_OS", "fail");
  EXPECT_FALSE(PlatGetVersion(&v));
  EXPECT_EQ(v.platform_id, 0u);
}

}  // namespace
