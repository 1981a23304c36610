// SPDX-License-Identifier: BSD-2-Clause
// check_bri's command line.
#pragma once

#include <string>
#include <vector>

#include "check_bri/plugin_output.h"

namespace check_bri {

inline constexpr int kDefaultTimeoutSeconds = 10;
inline constexpr int kMaxTimeoutSeconds = 3600;

struct Options {
  bool help = false;
  bool version = false;
  int verbosity = 0;
  int timeout_seconds = kDefaultTimeoutSeconds;
  std::vector<std::string> lines;  // -l: menu numbers or names; empty: every line
  Thresholds thresholds;
  bool require_active = false;
  std::string prometheus_file;
};

// Reads the arguments after the program name. False with *error set on a bad command line.
bool ParseOptions(const std::vector<std::string>& args, Options* options, std::string* error);

// The -h text.
std::string HelpText();

}  // namespace check_bri
