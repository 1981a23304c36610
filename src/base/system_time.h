// SPDX-License-Identifier: BSD-2-Clause
// A moment as calendar fields (the fields of Win32's SYSTEMTIME), and the shape of a function that
// turns a FILETIME into local time. The conversion itself belongs to the system (the platform
// layer's PlatFileTimeToLocal); code that shows times takes it from its caller.
#pragma once

#include <cstdint>

struct SystemTime {
  std::uint16_t year = 0, month = 0, day_of_week = 0, day = 0;
  std::uint16_t hour = 0, minute = 0, second = 0, milliseconds = 0;
};

// A FILETIME (100 ns units since 1601-01-01 UTC) as local time; false when it cannot be converted.
using LocalTimeConversion = bool (*)(std::uint64_t file_time, SystemTime* local);
