#include "common/driver.h"

#include <algorithm>
#include <new>
#include <string>

#include "base/program_message.h"
#include "common/console.h"

std::atomic<DeviceHandle> hf{kInvalidDevice};
int CurrentOS = kOsWindowsNt;
std::atomic<std::uint32_t> out_len{0};

bool FindOperatingSystem(OsVersion* version) {
  *version = OsVersion{};
  if (!PlatGetVersion(version)) {
    *version = OsVersion{};
    ConsoleWrite("\nProblems finding OS version! default to windows NT...\n");
    CurrentOS = kOsWindowsNt;
    return true;
  }
  switch (version->platform_id) {
    case kPlatformWin32Nt:
      CurrentOS = kOsWindowsNt;
      return true;
    case kPlatformWin32Windows:
      CurrentOS = kOsWindows95;
      return true;
    default:
      ConsoleWrite("This Utility runs only under Windows NT or 95!\n");
      return false;
  }
}

DevicePaths ChooseDevicePaths(int os) {
  return DevicePaths{os == kOsWindows95 ? "\\\\.\\VEXMOD.VXD" : "\\\\.\\TESSIX0", "\\\\.\\Quorlink"};
}

bool TryOpenDriver(const DevicePaths& paths) {
  DeviceHandle device = PlatOpenDevice(paths.first);
  if (device == kInvalidDevice) device = PlatOpenDevice(paths.second);
  if (device == kInvalidDevice) return false;
  hf.store(device);
  return true;
}

bool TryOpenDriverForThisSystem() {
  OsVersion version;
  const bool windows95 = PlatGetVersion(&version) && version.platform_id == kPlatformWin32Windows;
  return TryOpenDriver(ChooseDevicePaths(windows95 ? kOsWindows95 : kOsWindowsNt));
}

bool OpenDriver(const DevicePaths& paths) {
  if (TryOpenDriver(paths)) return true;
  ConsoleWrite("Tessix.sys is not installed!\n");
  const std::string hint = PlatMissingDeviceHint(paths.first, paths.second);
  if (!hint.empty()) WriteStderr(hint + "\n");
  return false;
}

void CloseDriver() {
  DeviceHandle device = hf.exchange(kInvalidDevice);
  if (device != kInvalidDevice) PlatCloseDevice(device);
}

bool DriverConnectionLost() {
  const DeviceHandle device = hf.load();
  return device != kInvalidDevice && PlatDeviceLost(device);
}

namespace {

// The last block a thread freed, kept for its next allocation: handing it out again costs
// clearing what its last operation wrote, not zeroing 262,200 fresh bytes (the poll takes a block
// for every line every second). A block still belongs to one operation of one thread at a time.
thread_local std::unique_ptr<CommandBlock> SpareBlock;

}  // namespace

void FreeCommand(CommandBlock* block) {
  if (block != nullptr && !SpareBlock) {
    SpareBlock.reset(block);
    return;
  }
  delete block;
}

CommandHolder TryAllocateCommand() {
  if (SpareBlock) {
    CommandHolder block(SpareBlock.release());
    block->Zero();
    return block;
  }
  CommandHolder block(new (std::nothrow) CommandBlock{});
  if (block) block->KnownZero();
  return block;
}

CommandHolder AllocateCommand() {
  CommandHolder block = TryAllocateCommand();
  if (!block) ConsoleWrite("Error: Error Allocating Memory.\n");
  return block;
}

std::uint32_t ExecuteCmd(CommandBlock* block) {
  block->StampHeader();
  std::uint32_t returned = 0;
  std::uint32_t written = 0;
  const DeviceHandle device = hf.load();
  // Only the part of the block that can be non-zero is looked at by the transport.
  const bool ok = device != kInvalidDevice &&
                  PlatDeviceControlKnown(device, kDriverIoControl, block->raw.data(), kCommandBlockSize,
                                         static_cast<std::uint32_t>(block->extent), block->raw.data(),
                                         kCommandBlockSize, &returned, &written);
  out_len.store(returned, std::memory_order_relaxed);
  // The reply wrote non-zero bytes only below `written`; above the old extent all stayed zero.
  if (ok) block->extent = std::max<std::size_t>(block->extent, written);
  if (!ok) block->SetStatus(kStatusDeviceCallFailed);
  return block->Status();
}
