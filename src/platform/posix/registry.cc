// The registry on Linux: a regedit export file (BRI_REGISTRY, default
// /etc/bri-tools/registry.reg) stands for HKEY_LOCAL_MACHINE.
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

#include "platform/platform.h"
#include "platform/registry_export.h"

long PlatRegQueryValue(const char* key_path, const char* value_name, char* buffer, std::uint32_t* size) {
  if (key_path == nullptr) return kRegFileNotFound;
  const char* path = std::getenv("BRI_REGISTRY");
  if (path == nullptr || *path == '\0') path = "/etc/bri-tools/registry.reg";
  std::ifstream file(path, std::ios::binary);
  if (!file) return kRegFileNotFound;
  std::ostringstream contents;
  contents << file.rdbuf();
  if (file.bad()) return kRegFileNotFound;

  std::string data;
  const long rc = FindRegistryValue(contents.str(), key_path, value_name != nullptr ? value_name : "", &data);
  if (rc != kRegOk) return rc;
  return CopyRegistryValue(data, buffer, size);
}
