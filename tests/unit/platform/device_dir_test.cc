// SPDX-License-Identifier: BSD-2-Clause
// The device folder the tools and brisim agree on, and the hint for a missing driver.
#include <gtest/gtest.h>
#include <unistd.h>

#include <optional>
#include <string>

#include "fake_driver.h"
#include "platform/platform.h"
#include "platform/posix/device_dir.h"

namespace {

TEST(DeviceDir, ChosenFromTheEnvironment) {
  const std::string per_uid = "/tmp/bri-" + std::to_string(getuid());
  struct Case {
    std::optional<std::string> device_dir, runtime_dir;
    std::string want;
  };
  const Case cases[] = {
      {"/srv/bri", "/run/user/7", "/srv/bri"},           // BRI_DEVICE_DIR wins
      {std::nullopt, "/run/user/7", "/run/user/7/bri"},  // else the user's runtime folder
      {"", "/run/user/7", "/run/user/7/bri"},            // an empty BRI_DEVICE_DIR counts as unset
      {std::nullopt, std::nullopt, per_uid},             // else one per user id under /tmp
      {std::nullopt, "", per_uid},
      {std::nullopt, "relative/run", per_uid},           // a relative runtime folder is not used
  };
  for (const Case& tc : cases) {
    ScopedEnv dir("BRI_DEVICE_DIR", tc.device_dir);
    ScopedEnv runtime("XDG_RUNTIME_DIR", tc.runtime_dir);
    EXPECT_EQ(DeviceDir(), tc.want) << tc.device_dir.value_or("(unset)") << " "
                                    << tc.runtime_dir.value_or("(unset)");
  }
}

TEST(DeviceDir, OpenLooksInTheRuntimeFolderByDefault) {
  TempDir runtime;
  ScopedEnv dir("BRI_DEVICE_DIR", std::nullopt);
  ScopedEnv xdg("XDG_RUNTIME_DIR", runtime.path());
  EXPECT_EQ(PlatOpenDevice("\\\\.\\TESSIX0"), kInvalidDevice);
  FakeDriver driver([](const FakeRequest&) { return FakeReply::Bytes({}); }, "TESSIX0");
  // The fake driver listens in a folder of its own: link it in as runtime/bri.
  ASSERT_EQ(symlink(driver.dir().c_str(), (runtime.path() + "/bri").c_str()), 0);
  const DeviceHandle handle = PlatOpenDevice("\\\\.\\TESSIX0");
  EXPECT_NE(handle, kInvalidDevice);
  PlatCloseDevice(handle);
  unlink((runtime.path() + "/bri").c_str());
}

// A default folder of another user's is not used: a driver that listens there is not reached,
// and the hint, which would send the user to it, is left out. A folder named by BRI_DEVICE_DIR is
// the user's own choice and is used whoever owns it. Needs root, to give files away.
TEST(DeviceDir, DefaultFolderOfAnotherUserIsNotUsed) {
  constexpr uid_t kOther = 65534;
  struct Case {
    const char* name;
    bool link_is_others, folder_is_others, named_by_env;
    bool opens;
  };
  const Case cases[] = {
      {"link of another user", true, false, false, false},
      {"own link to another user's folder", false, true, false, false},
      {"another user's folder named by BRI_DEVICE_DIR", false, true, true, true},
  };
  for (const Case& tc : cases) {
    TempDir runtime;
    FakeDriver driver([](const FakeRequest&) { return FakeReply::Bytes({}); }, "TESSIX0");
    const std::string link = runtime.path() + "/bri";
    ASSERT_EQ(symlink(driver.dir().c_str(), link.c_str()), 0);
    if ((tc.link_is_others && lchown(link.c_str(), kOther, kOther) != 0) ||
        (tc.folder_is_others && chown(driver.dir().c_str(), kOther, kOther) != 0)) {
      GTEST_SKIP() << "cannot give files to another user (not root)";
    }
    ScopedEnv dir("BRI_DEVICE_DIR",
                  tc.named_by_env ? std::optional<std::string>(driver.dir()) : std::nullopt);
    ScopedEnv xdg("XDG_RUNTIME_DIR", runtime.path());
    EXPECT_EQ(OwnFolder(link), !tc.link_is_others && !tc.folder_is_others) << tc.name;
    EXPECT_EQ(OwnFolder(link + "/"), OwnFolder(link)) << tc.name;
    const DeviceHandle handle = PlatOpenDevice("\\\\.\\TESSIX0");
    EXPECT_EQ(handle != kInvalidDevice, tc.opens) << tc.name;
    EXPECT_EQ(PlatMissingDeviceHint("\\\\.\\TESSIX0", nullptr).empty(), !tc.opens) << tc.name;
    PlatCloseDevice(handle);
    unlink(link.c_str());
  }
}

TEST(MissingDeviceHint, NamesTheSocketsTriedAndBrisim) {
  ScopedEnv dir("BRI_DEVICE_DIR", "/run/user/7/bri");
  EXPECT_EQ(PlatMissingDeviceHint("\\\\.\\TESSIX0", "\\\\.\\Quorlink"),
            "No driver listens on /run/user/7/bri/TESSIX0 or /run/user/7/bri/Quorlink; start the simulated "
            "adapter with \"brisim &\", or set BRI_DEVICE_DIR to the folder of its socket.");
  EXPECT_EQ(PlatMissingDeviceHint("\\\\.\\VEXMOD.VXD", nullptr)
                .find("No driver listens on /run/user/7/bri/VEXMOD.VXD; "),
            0u);
  EXPECT_EQ(PlatMissingDeviceHint(nullptr, "not a device"), "");
}

}  // namespace
