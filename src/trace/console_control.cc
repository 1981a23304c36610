#include "trace/console_control.h"

#include <array>

#include "common/console.h"
#include "common/driver.h"
#include "platform/platform.h"
#include "trace/capture.h"
#include "trace/switches.h"

namespace {

constexpr int kKeyBufferSize = 100;

// 0 becomes 1, anything else becomes 0.
void Toggle(std::atomic<std::int32_t>& flag) { Set(flag, Get(flag) == 0 ? 1 : 0); }

void RequestLogFile(std::int32_t on) {
  Set(PrintStatus, on);
  PrintUpdate.store(1, std::memory_order_release);
}

}  // namespace

void HandleKey(char key) {
  switch (key) {
    case '0':
      Set(ShowL2, 0);
      Set(ShowL3, 0);
      Set(ShowRaw, 0);
      break;
    case '1':
      Toggle(ShowL2);
      break;
    case '2':
      Toggle(ShowL3);
      break;
    case '3':
      Toggle(ShowRaw);
      break;
    case '9':
      Set(EndGame, 1);
      break;
    case 'N':
      RequestLogFile(0);
      ConsoleWrite("Log file disabled\n");
      break;
    case 'P':
      RequestLogFile(1);
      ConsoleWrite("Log file enabled\n");
      break;
    default:
      ConsolePrintf("c = %c (0x%x)\n", key, static_cast<unsigned>(static_cast<unsigned char>(key)));
      break;
  }
}

int KeyboardMonitor() {
  if (!PlatBeginKeyMode()) {
    Set(EndGame, 1);
    return 0;
  }
  std::array<char, kKeyBufferSize> keys{};
  while (Get(EndGame) == 0) {
    const int count = PlatReadKeys(keys.data(), kKeyBufferSize);
    // At the end of the input (or on a read error) no more keys will come: stop reading and let
    // tracing go on until 9, Ctrl-C or Ctrl-Break.
    if (count <= 0) break;
    for (int i = 0; i < count; ++i) HandleKey(keys[static_cast<std::size_t>(i)]);
  }
  return 0;
}

bool MyCtrlCHandler(std::uint32_t event) {
  if (event == kCtrlCEvent || event == kCtrlBreakEvent) {
    Set(EndGame, 1);
    DestroyTrace();
    CloseDriver();
    PlatRestoreConsole();
  }
  return false;
}
