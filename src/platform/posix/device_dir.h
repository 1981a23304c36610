// SPDX-License-Identifier: BSD-2-Clause
// The folder of the driver's device sockets on Linux, for the tools and for brisim alike: one per
// user, so that two users of one machine never share (or fight over) one.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <string>

// $XDG_RUNTIME_DIR/bri when XDG_RUNTIME_DIR names a folder (an absolute path), else /tmp/bri-UID.
inline std::string DefaultDeviceDir() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && runtime[0] == '/') return std::string(runtime) + "/bri";
  return "/tmp/bri-" + std::to_string(getuid());
}

// $BRI_DEVICE_DIR when set and not empty, else the default folder.
inline std::string DeviceDir() {
  const char* dir = std::getenv("BRI_DEVICE_DIR");
  return dir != nullptr && *dir != '\0' ? std::string(dir) : DefaultDeviceDir();
}
