// SPDX-License-Identifier: BSD-2-Clause
// relay_probe: sends raw device requests through the Win32 calls, to check the relay driver.
//
//   relay_probe DEVICE [--code C] [--size N] [--opcode OP] [--fill B] [--count K] [--hold MS]
//
// Opens \\.\DEVICE, then sends K requests (default 1): a block of N bytes (default 262200) filled
// with byte B (default 0xA5) past a command header for OP (default 0x101, the enumeration). After
// each request it prints one line:
//   "ok returned=R status=S changed=C kept=K"   C bytes of the block differ from what was sent,
//                                                 K bytes past R still hold what was sent
//   "failed error=E untouched=U"                 U = 1 when the block is exactly as sent
// "open failed error=E" when the device does not open (exit status 1). --hold waits that long
// between requests (to restart the simulator in between).
//
//   relay_probe --serve-silent PIPE SECONDS
//
// Plays a simulator that never answers: serves \\.\pipe\PIPE, takes one connection, reads what
// comes and answers nothing; ends after SECONDS. Prints "listening" once the pipe exists.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/bytes.h"
#include "common/command_block.h"

namespace {

std::uint32_t Number(const char* text) { return static_cast<std::uint32_t>(std::strtoul(text, nullptr, 0)); }

int ServeSilent(const std::string& pipe, std::uint32_t seconds) {
  const std::string name = "\\\\.\\pipe\\" + pipe;
  const HANDLE instance = CreateNamedPipeA(name.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_WAIT, 1, 65536,
                                           65536, 0, nullptr);
  if (instance == INVALID_HANDLE_VALUE) {
    std::printf("cannot serve %s error=%lu\n", name.c_str(), GetLastError());
    return 1;
  }
  std::printf("listening\n");
  std::fflush(stdout);
  const DWORD end = GetTickCount() + seconds * 1000;
  ConnectNamedPipe(instance, nullptr);
  // Takes what the client writes (so that its write completes) and never replies.
  std::vector<std::uint8_t> sink(65536);
  while (static_cast<int>(end - GetTickCount()) > 0) {
    DWORD available = 0;
    if (PeekNamedPipe(instance, nullptr, 0, nullptr, &available, nullptr) && available > 0) {
      DWORD got = 0;
      ReadFile(instance, sink.data(), static_cast<DWORD>(sink.size()), &got, nullptr);
    } else {
      Sleep(20);
    }
  }
  CloseHandle(instance);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: relay_probe DEVICE [--code C] [--size N] [--opcode OP] [--fill B] [--count K] [--hold MS]\n");
    return 2;
  }
  if (std::string(argv[1]) == "--serve-silent") {
    return argc < 4 ? 2 : ServeSilent(argv[2], Number(argv[3]));
  }
  const std::string path = std::string("\\\\.\\") + argv[1];
  std::uint32_t code = 0x160040, size = kCommandBlockSize, opcode = OP_ENUM_IDD, fill = 0xA5, count = 1,
                hold = 0;
  for (int i = 2; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    const std::uint32_t value = Number(argv[i + 1]);
    if (option == "--code") code = value;
    else if (option == "--size") size = value;
    else if (option == "--opcode") opcode = value;
    else if (option == "--fill") fill = value;
    else if (option == "--count") count = value;
    else if (option == "--hold") hold = value;
  }

  const HANDLE device = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (device == INVALID_HANDLE_VALUE) {
    std::printf("open failed error=%lu\n", GetLastError());
    std::fflush(stdout);
    return 1;
  }
  std::vector<std::uint8_t> sent(size, static_cast<std::uint8_t>(fill));
  // A block shorter than the header gets what fits of it.
  std::vector<std::uint8_t> header(kCommandHeaderSize, 0);
  WriteLE32(MutableByteSpan(header), kSignatureOffset, kSignature);
  WriteLE16(MutableByteSpan(header), kHeaderWord0Offset, kHeaderWord0);
  WriteLE16(MutableByteSpan(header), kHeaderWord1Offset, kHeaderWord1);
  WriteLE32(MutableByteSpan(header), kOpcodeOffset, opcode);
  std::copy_n(header.begin(), std::min(header.size(), sent.size()), sent.begin());

  for (std::uint32_t n = 0; n < count; ++n) {
    if (n > 0 && hold > 0) Sleep(hold);
    std::vector<std::uint8_t> block = sent;
    DWORD returned = 0;
    const BOOL ok = DeviceIoControl(device, code, block.data(), size, block.data(), size, &returned, nullptr);
    if (!ok) {
      std::printf("failed error=%lu untouched=%d\n", GetLastError(), block == sent ? 1 : 0);
    } else {
      std::size_t changed = 0, kept = 0;
      for (std::size_t i = 0; i < block.size(); ++i) {
        if (block[i] != sent[i]) ++changed;
        if (i >= returned && block[i] == sent[i]) ++kept;
      }
      std::printf("ok returned=%lu status=%lu changed=%zu kept=%zu\n", returned,
                  static_cast<unsigned long>(GetLE32(ByteSpan(block), kStatusOffset)), changed, kept);
    }
    std::fflush(stdout);
  }
  CloseHandle(device);
  return 0;
}
