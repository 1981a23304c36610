// SPDX-License-Identifier: BSD-2-Clause
// On Windows the message for a missing driver says it all: nothing is added.
#include <string>

#include "platform/platform.h"

std::string PlatMissingDeviceHint(const char*, const char*) { return {}; }
