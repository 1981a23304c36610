// SPDX-License-Identifier: BSD-2-Clause
// The registry on Linux: a regedit export file (BRI_REGISTRY, default
// /etc/bri-tools/registry.reg) stands for HKEY_LOCAL_MACHINE.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "platform/platform.h"
#include "platform/registry_export.h"

namespace {

// Far above any real export (a few kilobytes); a larger file is no registry export.
constexpr std::size_t kMaxRegistryFileSize = std::size_t{64} << 20;

// The whole export when path names a regular file of at most kMaxRegistryFileSize bytes. Anything
// else (missing, a device, a FIFO, a folder, too large, unreadable) is no registry at all. The
// open does not wait for a FIFO's writer, and nothing is read before the kind is known.
bool ReadRegistryFile(const char* path, std::string* contents) {
  const int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat info {};
  bool good = fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size >= 0 &&
              static_cast<std::uint64_t>(info.st_size) <= kMaxRegistryFileSize;
  if (good) {
    contents->clear();
    contents->reserve(static_cast<std::size_t>(info.st_size));
    char chunk[65536];
    while (true) {
      const ssize_t n = read(fd, chunk, sizeof chunk);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) good = false;
      if (n <= 0) break;
      contents->append(chunk, static_cast<std::size_t>(n));
      // A file that grows while it is read is held to the same limit.
      if (contents->size() > kMaxRegistryFileSize) {
        good = false;
        break;
      }
    }
  }
  close(fd);
  return good;
}

}  // namespace

long PlatRegQueryValue(const char* key_path, const char* value_name, char* buffer, std::uint32_t* size) {
  if (key_path == nullptr) return kRegFileNotFound;
  const char* path = std::getenv("BRI_REGISTRY");
  if (path == nullptr || *path == '\0') path = "/etc/bri-tools/registry.reg";
  std::string contents;
  if (!ReadRegistryFile(path, &contents)) return kRegFileNotFound;

  std::string data;
  const long rc = FindRegistryValue(contents, key_path, value_name != nullptr ? value_name : "", &data);
  if (rc != kRegOk) return rc;
  return CopyRegistryValue(data, buffer, size);
}
