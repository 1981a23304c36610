// SPDX-License-Identifier: BSD-2-Clause
// The adapter driver interface shared by both tools: finding the system, opening the driver,
// allocating command blocks and sending them.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "common/command_block.h"
#include "platform/platform.h"

// 0 = Windows NT, 1 = Windows 95.
inline constexpr int kOsWindowsNt = 0;
inline constexpr int kOsWindows95 = 1;

// The opened driver device, kept for the whole run. Atomic because the console control handler
// of the trace tool closes it while other threads may read it.
extern std::atomic<DeviceHandle> hf;
extern int CurrentOS;
// Byte count reported by the last device call; nothing reads it.
extern std::atomic<std::uint32_t> out_len;

// Opening steps 1-3: queries the version into *version (zeroed first), prints
// "\nProblems finding OS version! default to windows NT...\n" when the query fails, sets CurrentOS.
// On a platform that is neither NT nor 95 prints "This Utility runs only under Windows NT or 95!\n"
// and returns false.
bool FindOperatingSystem(OsVersion* version);

// Opening step 4: the two device paths for CurrentOS ("\\.\TESSIX0" or "\\.\VEXMOD.VXD", then
// "\\.\Quorlink").
struct DevicePaths {
  const char* first;
  const char* second;
};
DevicePaths ChooseDevicePaths(int os);

// Opens the first path, else the second, and keeps the handle in hf. False, without a word, when
// neither opens: the caller says so in its own way.
bool TryOpenDriver(const DevicePaths& paths);

// The paths of the system the version query reports (NT unless it says Windows 95), opened as
// TryOpenDriver does: for a program that prints nothing but its product on standard output.
bool TryOpenDriverForThisSystem();

// Opening steps 5-7: TryOpenDriver; when neither path opens prints "Tessix.sys is not
// installed!\n" (and on standard error the platform's hint) and returns false (the caller exits 1).
bool OpenDriver(const DevicePaths& paths);

// Closes hf once, whoever gets there first; later calls do nothing.
void CloseDriver();

// Owns an opened hf for a scope: closes it (CloseDriver) on every way out.
class DriverCloser {
 public:
  DriverCloser() = default;
  ~DriverCloser() { CloseDriver(); }
  DriverCloser(const DriverCloser&) = delete;
  DriverCloser& operator=(const DriverCloser&) = delete;
};

// Whether the connection to the driver is lost for good: every later request fails. A refused or
// failed single request does not count, nor does the tool's own close of hf.
bool DriverConnectionLost();

// Command blocks: allocated zeroed from the heap, freed on every path by the holder.
void FreeCommand(CommandBlock* block);
struct CommandDeleter {
  void operator()(CommandBlock* block) const { FreeCommand(block); }
};
using CommandHolder = std::unique_ptr<CommandBlock, CommandDeleter>;

// A zeroed block, or null without a word when there is no memory for one.
CommandHolder TryAllocateCommand();

// TryAllocateCommand; null after printing "Error: Error Allocating Memory.\n".
CommandHolder AllocateCommand();

// Stamps the header (Signature, HeaderWord0, HeaderWord1), sends the block with one device control
// call and returns the block's Status. A device call that fails outright returns (and leaves in the
// block's Status) kStatusDeviceCallFailed, never the stale status of an earlier reply.
std::uint32_t ExecuteCmd(CommandBlock* block);

// The status tool's name for the same operation.
inline std::uint32_t io_exec(CommandBlock* block) { return ExecuteCmd(block); }
