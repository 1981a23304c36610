// SPDX-License-Identifier: BSD-2-Clause
// What the tools add, on standard error, when no driver device opens: the sockets tried and how to
// start the simulated adapter (nothing when the open refused the default folder: it said why).
#include <string>
#include <string_view>

#include "platform/platform.h"
#include "platform/posix/device_dir.h"

std::string PlatMissingDeviceHint(const char* first, const char* second) {
  constexpr std::string_view kPrefix = "\\\\.\\";
  // A default folder of another user's was not looked in, and the open said so already.
  if (!ForeignDefaultDeviceDir().empty()) return {};
  std::string tried;
  for (const char* path : {first, second}) {
    if (path == nullptr) continue;
    std::string_view name(path);
    if (name.substr(0, kPrefix.size()) != kPrefix) continue;
    name.remove_prefix(kPrefix.size());
    tried += tried.empty() ? "" : " or ";
    tried += DeviceDir() + '/' + std::string(name);
  }
  if (tried.empty()) return {};
  return "No driver listens on " + tried +
         "; start the simulated adapter with \"brisim &\", "
         "or set BRI_DEVICE_DIR to the folder of its socket.";
}
