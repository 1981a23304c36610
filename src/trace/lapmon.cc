#include "trace/lapmon.h"

#include "common/driver.h"
#include "platform/platform.h"
#include "trace/console_control.h"
#include "trace/line_table.h"
#include "trace/options.h"
#include "trace/poll_loop.h"
#include "trace/switches.h"
#include "trace/teardown.h"

int LapmonMain(int argc, char** argv) {
  if (argc < 2) {
    ShowUsage();
    return 1;
  }

  OsVersion version;
  if (!FindOperatingSystem(&version)) return 1;
  const DevicePaths paths = ChooseDevicePaths(CurrentOS);

  ParseCommandLine(argc, argv);
  if (Get(ShowUsageFlag) != 0) {
    ShowUsage();
    return 0;
  }

  if (!OpenDriver(paths)) return 1;
  PlatSetCtrlHandler(MyCtrlCHandler);

  ClearLineTable();
  EnumerateIdd();
  CreateTrace();
  StartTraceThreads();
  DoTrace();

  DestroyTrace();
  CloseDriver();
  PlatRestoreConsole();
  LeaveProcess();
  return RunFailed() ? 1 : 0;
}
