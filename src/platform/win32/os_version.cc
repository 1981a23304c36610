// SPDX-License-Identifier: BSD-2-Clause
// The version query on Windows: GetVersionExA with the record's size set to 148.
#include <windows.h>

#include "platform/platform.h"

static_assert(sizeof(OSVERSIONINFOA) == 148);

bool PlatGetVersion(OsVersion* version) {
  *version = OsVersion{};
  OSVERSIONINFOA info{};
  info.dwOSVersionInfoSize = 148;
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#endif
  const BOOL ok = GetVersionExA(&info);
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
  if (!ok) return false;
  version->major = info.dwMajorVersion;
  version->minor = info.dwMinorVersion;
  version->build = info.dwBuildNumber;
  version->platform_id = info.dwPlatformId;
  return true;
}
