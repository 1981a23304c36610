// SPDX-License-Identifier: BSD-2-Clause
// linestat: lists the adapter's lines and reports, line by line, either the Layer 1/2/3 summary or
// dumps of the numbered status areas. One pass, no interaction.
#include <memory>
#include <new>
#include <string_view>

#include "areas/area_dump.h"
#include "common/console.h"
#include "common/driver.h"
#include "common/wildcard.h"
#include "status/layer_status.h"
#include "status/line_list.h"
#include "status/options.h"

namespace {

// "%.*s" with the text's own length: a field is never read past its end.
void PrintLineHeading(const LineInfo& line) {
  const std::string_view name = TextOf(line.name);
  ConsolePrintf("\nLine: %.*s\n", static_cast<int>(name.size()), name.data());
}

void PrintRasInfo(const LineInfo& line) {
  const std::string_view friendly = TextOf(line.friendly_name);
  const std::string_view usage = TextOf(line.usage);
  ConsolePrintf("\n\nRASInfo Friendly Name: %.*s Usage: %.*s\n", static_cast<int>(friendly.size()),
                friendly.data(), static_cast<int>(usage.size()), usage.data());
}

// The whole run; returns the exit status.
int Run(int argc, char** argv) {
  if (!FindOperatingSystem(&VerInfoStruc)) return kExitFailure;
  const DevicePaths paths = ChooseDevicePaths(CurrentOS);
  DoSignonBanner();

  // Only the first argument is looked at; the driver is opened only once the option is good.
  if (argc > 2) {
    ConsoleWrite("\nInvalid Argument!\n\n");
    UsageInfo();
    return kExitInvalidArgument;
  }
  if (argc == 2) {
    int exit_status = kExitOk;
    if (!ParseCommandLine(argc, argv, &exit_status)) return exit_status;
  }

  if (!OpenDriver(paths)) return kExitFailure;

  std::unique_ptr<LineList> lines(new (std::nothrow) LineList{});
  if (!lines) {
    ConsoleWrite("Error: Error Allocating Memory.\n");
    return kExitFailure;
  }

  // The RAS/TAPI registry data exists on Windows NT only.
  const long ras_result = CurrentOS == kOsWindowsNt ? GetRasAssignments() : kRegOk;
  const int count = enum_idd(lines.get(), ras_result);
  if (count == 0) {
    ConsoleWrite("Error: No Line Objects Found.\n");
    return kExitFailure;
  }

  for (int i = 0; i < count; ++i) {
    // Nothing more can be shown once standard output is gone.
    if (ConsoleOutputGone()) break;
    const LineInfo& line = (*lines)[static_cast<std::size_t>(i)];
    if (CurrentOS == kOsWindowsNt && ras_result == kRegOk) {
      PrintRasInfo(line);
    }
    if (NewLineInf == 0) {
      PrintLineHeading(line);
      GetL1Status(line.handle);
      GetL2Status(line.handle);
      GetL3Status(line.handle);
    } else if (PrintAllAreas == 0) {
      PrintLineHeading(line);
      GetStatus(line.handle, AreaToPrint);
    } else {
      for (const std::int32_t area : kAllAreas) {
        PrintLineHeading(line);
        GetStatus(line.handle, area);
      }
    }
  }

  TellVerbose();
  // The report is complete only when every request could reach the driver.
  return DriverConnectionLost() ? kExitFailure : kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
  PlatInitStdHandles();
  ExpandWildcards(&argc, &argv);
  const int status = Run(argc, argv);
  // A report, or the help, that could not be written is no success.
  return status == kExitOk && ConsoleOutputGone() ? kExitFailure : status;
}
