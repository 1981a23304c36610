// SPDX-License-Identifier: BSD-2-Clause
// The folder of the driver's device sockets on Linux, for the tools and for brisim alike: one per
// user, so that two users of one machine never share (or fight over) one.
#pragma once

#include <sys/stat.h>
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

// Whether BRI_DEVICE_DIR leaves the folder to DeviceDir's default.
inline bool DeviceDirIsDefault() {
  const char* dir = std::getenv("BRI_DEVICE_DIR");
  return dir == nullptr || *dir == '\0';
}

// Whether dir is a folder of the (effective) user's own: a folder they own, or a symbolic link of
// theirs to one. A folder that another user made where the default lies (in /tmp, say) could be
// watched, or its sockets swapped, by them: neither brisim nor the tools use one.
inline bool OwnFolder(std::string dir) {
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();  // "link/" would follow the link
  struct stat entry {};
  if (lstat(dir.c_str(), &entry) != 0 || entry.st_uid != geteuid()) return false;
  if (S_ISDIR(entry.st_mode)) return true;
  struct stat target {};
  return S_ISLNK(entry.st_mode) && stat(dir.c_str(), &target) == 0 && S_ISDIR(target.st_mode) &&
         target.st_uid == geteuid();
}

// The default folder when it exists but is not the user's own (so that the tools must not look
// in it); empty otherwise, and always when BRI_DEVICE_DIR names the folder.
inline std::string ForeignDefaultDeviceDir() {
  if (!DeviceDirIsDefault()) return {};
  std::string dir = DefaultDeviceDir();
  struct stat entry {};
  if (lstat(dir.c_str(), &entry) != 0 || OwnFolder(dir)) return {};
  return dir;
}

// What the tools and brisim say of such a folder, after "program: ".
inline std::string ForeignDeviceDirMessage(const std::string& dir, const char* other_choice) {
  return dir + " is not a folder of your own; remove it, or name another with " + other_choice;
}
