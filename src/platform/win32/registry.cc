// SPDX-License-Identifier: BSD-2-Clause
// Registry values under HKEY_LOCAL_MACHINE: RegOpenKeyExA, RegQueryValueExA, RegCloseKey.
#include <windows.h>

#include "platform/platform.h"

long PlatRegQueryValue(const char* key_path, const char* value_name, char* buffer, std::uint32_t* size) {
  HKEY key = nullptr;
  const LONG opened = RegOpenKeyExA(HKEY_LOCAL_MACHINE, key_path, 0, KEY_QUERY_VALUE, &key);
  if (opened != ERROR_SUCCESS) return opened;
  DWORD length = size != nullptr ? *size : 0;
  const LONG rc = RegQueryValueExA(key, value_name, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer),
                                   size != nullptr ? &length : nullptr);
  RegCloseKey(key);
  if (size != nullptr) *size = length;
  return rc;
}
