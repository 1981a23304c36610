// SPDX-License-Identifier: BSD-2-Clause
// Command-line option names as the tools match them: whatever the letter case.
#pragma once

#include <cctype>
#include <string_view>

inline bool SameIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}
