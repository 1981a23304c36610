// SPDX-License-Identifier: BSD-2-Clause
// The narrow interface through which both tools reach the operating system.
//
// One backend per system implements it: win32/ makes the real Win32 calls, posix/ stands in for
// them on Linux (device sockets under BRI_DEVICE_DIR, a registry export file, BRI_OS, a raw-mode
// terminal and signals). The tools' code uses only these plain types and functions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/system_time.h"

// ---- Driver device --------------------------------------------------------------------------

// Opaque handle of an opened driver device; kInvalidDevice when nothing is open.
using DeviceHandle = std::intptr_t;
inline constexpr DeviceHandle kInvalidDevice = -1;

// Device control code of the driver's one command interface.
inline constexpr std::uint32_t kDriverIoControl = 0x160040;

// Opens a device path such as "\\.\TESSIX0" for reading and writing, shared, as an existing
// device (CreateFileA with FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL). kInvalidDevice on failure.
DeviceHandle PlatOpenDevice(const char* path);

// One device I/O control call, waited for until the driver has completed it (DeviceIoControl
// with an OVERLAPPED, then GetOverlappedResult when the driver pends the request). On success the
// output buffer has received *returned bytes (at most out_len) and true is returned; on failure
// the output buffer is left untouched and false is returned. Calls from several threads on one
// handle are allowed; they never interleave on the device.
bool PlatDeviceControl(DeviceHandle device, std::uint32_t code, const void* in, std::uint32_t in_len,
                       void* out, std::uint32_t out_len, std::uint32_t* returned);

// PlatDeviceControl for a caller that knows how much of its buffers matters. The input bytes
// from in_used up to in_len are zero (the transport need not look at them: only what lies below
// in_used can be non-zero). On success *out_written tells how far the call wrote non-zero bytes:
// the output bytes from *out_written up to *returned were written as zeros. When input and output
// are one buffer, the bytes of that buffer from the larger of in_used and *out_written on are
// therefore zero after the call.
bool PlatDeviceControlKnown(DeviceHandle device, std::uint32_t code, const void* in, std::uint32_t in_len,
                            std::uint32_t in_used, void* out, std::uint32_t out_len, std::uint32_t* returned,
                            std::uint32_t* out_written);

// Closes the handle (CloseHandle). A later call on it fails cleanly.
void PlatCloseDevice(DeviceHandle device);

// When neither device path opened: one line (without its newline) for standard error that names
// what was tried and how to start a driver, or empty where the system has nothing to add
// (Windows). On Linux: the sockets of the two paths and how to start brisim.
std::string PlatMissingDeviceHint(const char* first, const char* second);

// Whether the connection to the device is lost for good, so that every later call on the handle
// fails: the connection broke (Linux) or the device or its pipe is gone (Windows). A single
// refused or failed request does not count, nor does a close of our own.
bool PlatDeviceLost(DeviceHandle device);

// ---- Operating system version ---------------------------------------------------------------

inline constexpr std::uint32_t kPlatformWin32Windows = 1;  // Windows 95
inline constexpr std::uint32_t kPlatformWin32Nt = 2;       // Windows NT

struct OsVersion {
  std::uint32_t major = 0;
  std::uint32_t minor = 0;
  std::uint32_t build = 0;
  std::uint32_t platform_id = 0;
};

// GetVersionExA: false when the query fails (*version then stays zero).
bool PlatGetVersion(OsVersion* version);

// ---- Registry (HKEY_LOCAL_MACHINE, read only) -----------------------------------------------

inline constexpr long kRegOk = 0;
inline constexpr long kRegFileNotFound = 2;  // ERROR_FILE_NOT_FOUND
inline constexpr long kRegMoreData = 234;    // ERROR_MORE_DATA

// Reads a value of a key under HKEY_LOCAL_MACHINE in its single-byte (ANSI) form, as
// RegOpenKeyExA + RegQueryValueExA + RegCloseKey would. *size is the buffer's size on entry and the
// value's size on return. Returns kRegOk, kRegFileNotFound or kRegMoreData (or another Win32 code).
long PlatRegQueryValue(const char* key_path, const char* value_name, char* buffer, std::uint32_t* size);

// ---- Console --------------------------------------------------------------------------------

// Called first thing in main: a standard input, output or error that is missing (a descriptor
// closed at start; on Windows an invalid handle) is put on the null device, so that nothing opened
// later takes its place. Input from it is at its end at once; output to it is discarded.
void PlatInitStdHandles();

// Writes text to standard output as one write and flushes it, also into a pipe or file.
// False when standard output is gone for good (a reader that went away, a full or failed file):
// the text, and every later one, cannot be delivered.
bool PlatWriteStdout(std::string_view text);

// Reads one decimal integer from standard input the way scanf("%d") does, without buffering past
// the number, so that keys read later with PlatReadKeys follow on in order. The newline that ends
// an answer belongs to the answer and is consumed with it. False when no number can be read.
bool PlatReadMenuNumber(long* value);

// Puts the console into key mode: no line input, no echo, control keys still delivered as
// Ctrl-C / Ctrl-Break. The previous mode is restored by PlatRestoreConsole and on every exit.
// False when standard input is not available at all.
bool PlatBeginKeyMode();
void PlatRestoreConsole();

// Blocks until keys are available and stores up to max of them. Returns the count, 0 at the end of
// input (no more keys will ever come), -1 on an error.
int PlatReadKeys(char* buffer, int max);

// Console control events.
inline constexpr std::uint32_t kCtrlCEvent = 0;
inline constexpr std::uint32_t kCtrlBreakEvent = 1;
inline constexpr std::uint32_t kCtrlCloseEvent = 2;
inline constexpr std::uint32_t kCtrlShutdownEvent = 6;

// Installs the console control handler (SetConsoleCtrlHandler). The handler runs on a thread of
// its own; when it returns false the process ends as the event's default action says.
using CtrlHandler = bool (*)(std::uint32_t event);
bool PlatSetCtrlHandler(CtrlHandler handler);

// Whether the system ends the process as soon as the handler of a close or shutdown event returns
// true (Windows), so that a handler that needs a teardown first must wait for it; on Linux the
// process goes on, and the next signal is taken only once the handler has returned.
bool PlatCloseEventEndsOnReturn();

// ---- Time -----------------------------------------------------------------------------------

// Milliseconds since system start, wrapping at 2^32 (GetTickCount).
std::uint32_t PlatTickCount();
void PlatSleep(std::uint32_t milliseconds);

// FileTimeToLocalFileTime followed by FileTimeToSystemTime: a FILETIME (100 ns units since
// 1601-01-01 UTC) as local time. False when either conversion fails. A LocalTimeConversion.
bool PlatFileTimeToLocal(std::uint64_t file_time, SystemTime* local);

// ---- Files ------------------------------------------------------------------------------------

// Writes text into the new file `temp` (refused when it already exists: no link is followed) and
// renames it over `path`, so that a reader sees the old file or the new one and never a part.
// When a step fails *error says which, `temp` is removed again and `path` is left as it was.
bool PlatReplaceFile(const std::string& path, const std::string& temp, std::string_view text,
                     std::string* error);

// Where a replacement of `path` belongs: `path` itself, or the file its symbolic links lead to (which
// need not exist yet), so that a link stays a link. False with *error when that is something a
// rename would destroy rather than replace, such as a device or a pipe, or when the links loop.
bool PlatReplaceTarget(const std::string& path, std::string* target, std::string* error);

// Moves the closed file `from` to `to`, never over a file that is there already. Where a rename
// cannot do it (`to` on another file system) the file is copied, pushed to the disk, and the
// original removed only then. False with *error when it could not be moved: `from` is then as it
// was and nothing is left at `to`.
bool PlatMoveFile(const std::string& from, const std::string& to, std::string* error);

// Removes a file; for a temporary left behind on an early end. Errors are ignored.
void PlatRemoveFile(const std::string& path);

// The running process's id, for names of temporary files.
std::uint32_t PlatProcessId();

// The new file a replacement of `target` is written into: TARGET.pid.tmp beside it, with the name
// cut where it would be longer than a folder takes.
inline std::string PlatTempBeside(const std::string& target) {
  constexpr std::size_t kMaxName = 255;
  const std::string suffix = "." + std::to_string(PlatProcessId()) + ".tmp";
  const std::size_t slash = target.find_last_of("/\\");
  const std::size_t start = slash == std::string::npos ? 0 : slash + 1;
  if (target.size() - start + suffix.size() <= kMaxName) return target + suffix;
  return target.substr(0, start + kMaxName - suffix.size()) + suffix;
}
