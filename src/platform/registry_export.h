// SPDX-License-Identifier: BSD-2-Clause
// Values of a registry export file (regedit's text format) standing for HKEY_LOCAL_MACHINE.
//
// Pure functions over the file's bytes, so the Linux registry stand-in, the tests and a fuzzer all
// drive the same code. Both export formats are read: "REGEDIT4" (single-byte text and hex data)
// and "Windows Registry Editor Version 5.00" (in UTF-16LE with a byte-order mark or in single-byte
// text; hex(1), hex(2) and hex(7) data in UTF-16LE). Lines may end in CRLF; hex data may be wrapped
// over lines with a trailing backslash. Key paths and value names match whatever their letter case.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/platform.h"

// Looks up value_name under the key key_path (relative to HKEY_LOCAL_MACHINE, e.g.
// "SOFTWARE\MICROSOFT\RAS") in the export file's bytes. On kRegOk *data holds the value in the
// single-byte form that RegQueryValueExA returns (strings with their terminating zero, multi-strings
// with their zeros, a dword as 4 little-endian bytes). kRegFileNotFound when the file is not an
// export, or the key or the value is missing.
long FindRegistryValue(std::string_view file, std::string_view key_path, std::string_view value_name,
                       std::string* data);

// Hands a found value to a RegQueryValueExA caller: *size is the buffer's size on entry and the
// value's size on return. kRegMoreData (nothing copied) when the buffer is too small; a null
// buffer just asks for the size.
long CopyRegistryValue(std::string_view data, char* buffer, std::uint32_t* size);
