#include "common/driver.h"

#include <cstdio>
#include <new>
#include <string>

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

bool OpenDriver(const DevicePaths& paths) {
  DeviceHandle device = PlatOpenDevice(paths.first);
  if (device == kInvalidDevice) device = PlatOpenDevice(paths.second);
  if (device == kInvalidDevice) {
    ConsoleWrite("Tessix.sys is not installed!\n");
    const std::string hint = PlatMissingDeviceHint(paths.first, paths.second);
    if (!hint.empty()) std::fprintf(stderr, "%s\n", hint.c_str());
    return false;
  }
  hf.store(device);
  return true;
}

void CloseDriver() {
  DeviceHandle device = hf.exchange(kInvalidDevice);
  if (device != kInvalidDevice) PlatCloseDevice(device);
}

bool DriverConnectionLost() {
  const DeviceHandle device = hf.load();
  return device != kInvalidDevice && PlatDeviceLost(device);
}

void FreeCommand(CommandBlock* block) { delete block; }

CommandHolder AllocateCommand() {
  CommandHolder block(new (std::nothrow) CommandBlock{});
  if (!block) ConsoleWrite("Error: Error Allocating Memory.\n");
  return block;
}

std::uint32_t ExecuteCmd(CommandBlock* block) {
  MutableByteSpan bytes = block->bytes();
  WriteLE16(bytes, kHeaderWord0Offset, kHeaderWord0);
  WriteLE32(bytes, kSignatureOffset, kSignature);
  WriteLE16(bytes, kHeaderWord1Offset, kHeaderWord1);
  std::uint32_t returned = 0;
  const DeviceHandle device = hf.load();
  const bool ok = device != kInvalidDevice &&
                  PlatDeviceControl(device, kDriverIoControl, block->raw.data(), kCommandBlockSize,
                                    block->raw.data(), kCommandBlockSize, &returned);
  out_len.store(returned, std::memory_order_relaxed);
  if (!ok) block->SetStatus(kStatusDeviceCallFailed);
  return block->Status();
}
