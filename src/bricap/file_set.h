// SPDX-License-Identifier: BSD-2-Clause
// The names and switching times of a set of capture files (bricap -b), named as dumpcap names
// them, so that Wireshark's file sets find them.
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"

namespace bricap {

// File `number` of the set that -w PATH asks for, opened at `local` time:
// PREFIX_NNNNN_YYYYMMDDHHMMSS.SUFFIX, where PATH is PREFIX.SUFFIX (the suffix follows the last dot
// of the file's own name; without one the name has no suffix). The number has at least five digits.
std::string FileSetName(const std::string& path, std::uint64_t number, const SystemTime& local);

// Where a file of the set goes when it is kept out of the ring (--keep-failed DIR): DIR/NAME,
// NAME being the file's own name after its last '/' or '\\'.
std::string KeptFilePath(const std::string& dir, const std::string& path);

// The first whole multiple of `interval` seconds since 1970 that lies after `now_seconds`.
std::uint64_t NextIntervalBoundary(std::uint64_t now_seconds, std::uint32_t interval);

}  // namespace bricap
