// SPDX-License-Identifier: BSD-2-Clause
// What the version query reports on Linux, from BRI_OS (pure parts, for tests).
#pragma once

#include <string_view>

#include "platform/platform.h"

// Parses BRI_OS: "nt" (the default, also when unset or empty), "95", "other", "fail", each
// optionally followed by ":MAJOR.MINOR.BUILD". Without numbers they come from the kernel release
// (e.g. "6.1.0-18-amd64" gives 6.1.0). A value that is none of these reports an unsupported
// system (platform id 0) and, when understood is given, sets *understood to false (true for
// every value above). False when the query is to fail.
bool ParseOsSetting(const char* setting, std::string_view kernel_release, OsVersion* version,
                    bool* understood = nullptr);
