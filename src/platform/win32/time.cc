// SPDX-License-Identifier: BSD-2-Clause
// Tick count, sleeping and time-stamp conversion on Windows.
#include <windows.h>

#include "platform/platform.h"

std::uint32_t PlatTickCount() { return GetTickCount(); }

void PlatSleep(std::uint32_t milliseconds) { Sleep(milliseconds); }

bool PlatFileTimeToLocal(std::uint64_t file_time, SystemTime* local) {
  FILETIME utc{};
  utc.dwLowDateTime = static_cast<DWORD>(file_time & 0xFFFFFFFFu);
  utc.dwHighDateTime = static_cast<DWORD>(file_time >> 32);
  FILETIME local_file_time{};
  SYSTEMTIME fields{};
  if (!FileTimeToLocalFileTime(&utc, &local_file_time) || !FileTimeToSystemTime(&local_file_time, &fields)) {
    return false;
  }
  local->year = fields.wYear;
  local->month = fields.wMonth;
  local->day_of_week = fields.wDayOfWeek;
  local->day = fields.wDay;
  local->hour = fields.wHour;
  local->minute = fields.wMinute;
  local->second = fields.wSecond;
  local->milliseconds = fields.wMilliseconds;
  return true;
}
