// SPDX-License-Identifier: BSD-2-Clause
#include "bricap/file_set.h"

#include <cstdio>

namespace bricap {

std::string FileSetName(const std::string& path, std::uint64_t number, const SystemTime& local) {
  const std::size_t slash = path.find_last_of("/\\");
  const std::size_t name_start = slash == std::string::npos ? 0 : slash + 1;
  const std::size_t dot = path.rfind('.');
  const bool has_suffix = dot != std::string::npos && dot > name_start;
  const std::string prefix = has_suffix ? path.substr(0, dot) : path;
  const std::string suffix = has_suffix ? path.substr(dot) : std::string();
  char middle[64];
  std::snprintf(middle, sizeof middle, "_%05llu_%04u%02u%02u%02u%02u%02u",
                static_cast<unsigned long long>(number), unsigned{local.year}, unsigned{local.month},
                unsigned{local.day}, unsigned{local.hour}, unsigned{local.minute}, unsigned{local.second});
  return prefix + middle + suffix;
}

std::string KeptFilePath(const std::string& dir, const std::string& path) {
  const std::size_t slash = path.find_last_of("/\\");
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const bool ends_in_separator = !dir.empty() && (dir.back() == '/' || dir.back() == '\\');
  return dir + (ends_in_separator ? "" : "/") + name;
}

std::uint64_t NextIntervalBoundary(std::uint64_t now_seconds, std::uint32_t interval) {
  if (interval == 0) return 0;
  return (now_seconds / interval + 1) * interval;
}

}  // namespace bricap
