#include "trace/console_control.h"

#include <array>

#include "common/console.h"
#include "common/driver.h"
#include "platform/platform.h"
#include "trace/switches.h"
#include "trace/teardown.h"

namespace {

constexpr int kKeyBufferSize = 100;

// How long the control handler's teardown may take before the process ends: a driver that does
// not answer or a console that nobody reads must not keep Ctrl-C from ending the tool.
constexpr std::uint32_t kCtrlTeardownLimitMs = 1500;

// 0 becomes 1, anything else becomes 0.
void Toggle(std::atomic<std::int32_t>& flag) { Set(flag, Get(flag) == 0 ? 1 : 0); }

// Returns only if the process is still running after limit_ms.
void WaitForProcessEnd(std::uint32_t limit_ms) {
  constexpr std::uint32_t kStepMs = 10;
  for (std::uint32_t waited = 0; waited < limit_ms; waited += kStepMs) PlatSleep(kStepMs);
}

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
    // The end is taken before EndGame is set, so the main thread cannot see EndGame, end its
    // loop and take the end first on account of this very event.
    if (ClaimProcessEnd(ProcessEnd::kControl) == ProcessEnd::kFree) {
      Set(EndGame, 1);
      DestroyTraceWithin(kCtrlTeardownLimitMs);
    } else {
      // Another thread is ending the process already: the main thread after 9, or the handler
      // of an earlier event. Give it the time a teardown may take; if the process still runs
      // then, that one is stuck (in a request the driver does not answer) and this event ends
      // the process, unless the main thread is on its way out by then.
      WaitForProcessEnd(kCtrlTeardownLimitMs);
      if (TakeOverProcessEnd() == ProcessEnd::kMainExit) {
        for (;;) PlatSleep(1000);
      }
    }
    // Also ends a request of the main thread that the driver does not answer; that thread then
    // finds the end taken and waits for it.
    CloseDriver();
    PlatRestoreConsole();
  }
  return false;
}
