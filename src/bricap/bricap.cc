#include "bricap/bricap.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <optional>
#include <vector>

#include "bricap/capture_file.h"
#include "bricap/output.h"
#include "common/driver.h"
#include "common/trace_poll.h"
#include "base/version.h"
#include "platform/platform.h"

namespace bricap {
namespace {

constexpr std::uint32_t kPollIntervalMs = 1000;
constexpr std::uint32_t kWaitStepMs = 50;
// How long a close or shutdown event waits for the teardown before the system may end us.
constexpr std::uint32_t kCtrlWaitMs = 4000;

void Error(const std::string& text) {
  const std::string line = "bricap: " + text + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

void Stderr(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
}

// The driver, opened without a word on standard output (which may be the capture itself, or
// Wireshark's extcap answer): the NT paths unless the system says it is Windows 95.
bool OpenAdapter() {
  OsVersion version;
  const bool windows95 = PlatGetVersion(&version) && version.platform_id == kPlatformWin32Windows;
  const DevicePaths paths = ChooseDevicePaths(windows95 ? kOsWindows95 : kOsWindowsNt);
  DeviceHandle device = PlatOpenDevice(paths.first);
  if (device == kInvalidDevice) device = PlatOpenDevice(paths.second);
  if (device == kInvalidDevice) return false;
  hf.store(device);
  return true;
}

// OP_ENUM_IDD; false when the driver refuses it.
bool ListLines(EnumReply* lines) {
  CommandHolder block = AllocateCommand();
  if (!block) return false;
  block->SetOpcode(OP_ENUM_IDD);
  if (ExecuteCmd(block.get()) != 0) return false;
  *lines = ReadEnumReply(*block);
  return true;
}

// The adapter's lines, or none (no driver, or the list refused).
EnumReply LinesOrNone() {
  EnumReply lines;
  if (OpenAdapter() && !ListLines(&lines)) lines = EnumReply{};
  CloseDriver();
  return lines;
}

// ---- Stopping ---------------------------------------------------------------------------------

std::atomic<bool> StopRequested{false};
std::atomic<bool> TornDown{false};
std::mutex PhaseLock;
enum class Phase { kStarting, kTracing, kEndingBySignal };
Phase CurrentPhase = Phase::kStarting;  // guarded by PhaseLock

// Ctrl-C, Ctrl-Break, SIGTERM, a closed console: the capture ends at the next step of the poll,
// with every trace stopped and destroyed. Before any trace exists the event simply ends the
// process; a second event while the teardown is still under way (a driver that does not answer)
// ends it too.
bool CaptureCtrlHandler(std::uint32_t event) {
  {
    std::lock_guard<std::mutex> guard(PhaseLock);
    if (CurrentPhase == Phase::kStarting) {
      CurrentPhase = Phase::kEndingBySignal;
      return false;
    }
  }
  if (StopRequested.exchange(true)) return false;
  if (event == kCtrlCloseEvent || event == kCtrlShutdownEvent) {
    // The system may end the process as soon as the handler returns: give the teardown its time.
    for (std::uint32_t waited = 0; waited < kCtrlWaitMs && !TornDown.load(); waited += kWaitStepMs) {
      PlatSleep(kWaitStepMs);
    }
  }
  return true;
}

// False when a signal is ending the process already: no trace may be created then.
bool BeginTracing() {
  std::lock_guard<std::mutex> guard(PhaseLock);
  if (CurrentPhase == Phase::kEndingBySignal) return false;
  CurrentPhase = Phase::kTracing;
  return true;
}

// ---- The capture ------------------------------------------------------------------------------

struct TracedLine {
  std::size_t index = 0;  // as -D lists it
  std::uint32_t handle = 0;
  std::string name;
  bool created = false;  // a trace object was made for the line (it has an interface in the file)
  bool traced = false;   // the trace object exists
  std::uint32_t next_entry = 0;
  bool status_seen = false;
  std::uint64_t frames = 0;
  std::uint64_t lost = 0;
  std::uint64_t pending_drop = 0;  // dropped since the last frame written
};

enum class End { kSignal, kCount, kDuration, kReaderGone, kWriteError, kDriverLost };

struct Capture {
  const Options& options;
  bool extcap;
  std::vector<TracedLine> lines;
  CaptureOutput output;
  capture::ByteBuffer pending;
  std::uint64_t frames = 0;
  std::uint64_t lost = 0;
  bool live_count = false;
  std::string write_error;

  bool CountReached() const { return options.count != 0 && frames >= options.count; }
};

// bricap's side of the poll of one line: entries become packets of the line's interface.
struct FileHooks {
  Capture& capture;
  TracedLine& line;
  std::uint32_t interface;

  std::uint32_t Send(CommandBlock* block) { return ExecuteCmd(block); }
  void Lost(std::uint32_t count) {
    line.lost += count;
    line.pending_drop += count;
    capture.lost += count;
  }
  bool MayRead() const { return !capture.CountReached(); }
  void Take(CommandBlock&, TraceEntryBytes entry) {
    AppendEntry(capture.pending, interface, entry, &line.pending_drop);
    ++line.frames;
    ++capture.frames;
  }
};

std::uint64_t NowTicks() {
  const auto since = std::chrono::system_clock::now().time_since_epoch();
  const auto ticks =
      std::chrono::duration_cast<std::chrono::duration<std::int64_t, std::ratio<1, 10000000>>>(since);
  return ticks.count() < 0 ? 0 : static_cast<std::uint64_t>(ticks.count());
}

// Writes what the poll appended. nullopt when all is well, else why the capture ends.
std::optional<End> Flush(Capture& c) {
  const WriteResult result = c.output.Write(c.pending, &c.write_error);
  c.pending.clear();
  if (result == WriteResult::kReaderGone) return End::kReaderGone;
  if (result == WriteResult::kFailed) return End::kWriteError;
  return std::nullopt;
}

void PollAll(Capture& c, CommandBlock& block) {
  std::uint32_t interface = 0;
  for (TracedLine& line : c.lines) {
    if (!line.traced) continue;
    FileHooks hooks{c, line, interface++};
    PollTraceLine(block, line.handle, TracePosition{line.next_entry, line.status_seen}, hooks);
  }
}

// Stops and destroys every trace object once, in table order, each stop before its destroy.
void StopAndDestroy(Capture& c) {
  CommandHolder block = AllocateCommand();
  for (TracedLine& line : c.lines) {
    if (!line.traced) continue;
    line.traced = false;
    SendTraceStop(line.handle);
    if (block) SendTraceDestroy(*block, line.handle);
  }
}

void ShowLiveCount(const Capture& c) {
  if (c.live_count) Stderr(LiveCountText(c.frames, c.lost));
}

// Waits out the poll interval in short steps; the end that came meanwhile, if any.
std::optional<End> WaitForNextPoll(Capture& c, std::chrono::steady_clock::time_point deadline, bool timed) {
  for (std::uint32_t waited = 0; waited < kPollIntervalMs; waited += kWaitStepMs) {
    if (StopRequested.load()) return End::kSignal;
    if (timed && std::chrono::steady_clock::now() >= deadline) return End::kDuration;
    if (c.output.ReaderGone()) return End::kReaderGone;
    PlatSleep(kWaitStepMs);
  }
  return std::nullopt;
}

// Polls until an end comes; returns it.
End PollUntilEnd(Capture& c, CommandBlock& block) {
  const bool timed = c.options.duration != 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(c.options.duration);
  for (;;) {
    PollAll(c, block);
    if (std::optional<End> end = Flush(c)) return *end;
    ShowLiveCount(c);
    if (c.CountReached()) return End::kCount;
    if (DriverConnectionLost()) return End::kDriverLost;
    if (std::optional<End> end = WaitForNextPoll(c, deadline, timed)) {
      if (*end == End::kSignal || *end == End::kDuration) {
        // What the driver holds already is still taken in.
        PollAll(c, block);
        if (std::optional<End> failed = Flush(c)) return *failed;
        ShowLiveCount(c);
      }
      return *end;
    }
  }
}

int RunCapture(const Options& options, bool extcap) {
  IgnoreBrokenPipe();
  if (options.capture_filter && !options.capture_filter->empty()) {
    Error("Capture filters are not supported: every frame of the line is captured.");
    return kExitFailed;
  }
  if (!OpenAdapter()) {
    Error("There is no adapter driver (Tessix.sys is not installed).");
    return kExitFailed;
  }
  EnumReply listed;
  if (!ListLines(&listed) || listed.count == 0) {
    Error("The adapter lists no lines.");
    CloseDriver();
    return kExitFailed;
  }

  Capture c{options, extcap, {}, {}, {}, 0, 0, false, {}};
  std::vector<std::size_t> wanted = options.lines;
  if (wanted.empty()) {
    for (std::size_t i = 0; i < listed.count; ++i) wanted.push_back(i);
  }
  for (std::size_t index : wanted) {
    if (index >= listed.count) {
      Error("There is no line " + std::to_string(index) + ": the adapter lists " +
            std::to_string(listed.count) + " (see bricap -D).");
      CloseDriver();
      return kExitFailed;
    }
    TracedLine line;
    line.index = index;
    line.handle = listed.lines[index].handle;
    line.name = listed.lines[index].name.data();
    c.lines.push_back(line);
  }

  PlatSetCtrlHandler(CaptureCtrlHandler);
  std::string error;
  if (!c.output.Open(options.file, &error)) {
    Error("The file to which the capture would be saved (\"" + options.file +
          "\") could not be opened: " + error + ".");
    CloseDriver();
    return kExitFailed;
  }

  CommandHolder block = AllocateCommand();
  if (!block || !BeginTracing()) {
    CloseDriver();
    return kExitFailed;
  }
  std::vector<std::string> names;
  for (TracedLine& line : c.lines) {
    if (SendTraceCreate(*block, line.handle) != 0) {
      Error("The trace of line '" + line.name + "' could not be created.");
      continue;
    }
    line.created = line.traced = true;
    SendTraceStart(line.handle);
    names.push_back(line.name);
  }
  if (names.empty()) {
    Error("No line could be traced.");
    TornDown.store(true);
    CloseDriver();
    return kExitFailed;
  }

  AppendFileHeader(c.pending, names);
  std::optional<End> end = Flush(c);
  if (!extcap) {
    Stderr(CapturingOnText(names) + "\n");
    c.live_count = StandardErrorIsTerminal();
  }
  if (!end) end = PollUntilEnd(c, *block);

  StopAndDestroy(c);
  int status = kExitOk;
  switch (*end) {
    case End::kWriteError:
      Error("The capture could not be written to \"" + options.file + "\": " + c.write_error + ".");
      status = kExitFailed;
      break;
    case End::kDriverLost:
      Error("The connection to the adapter driver is lost.");
      status = kExitFailed;
      break;
    default:
      break;
  }
  if (*end != End::kWriteError && *end != End::kReaderGone) {
    // The totals of each line, then the file is complete.
    const std::uint64_t now = NowTicks();
    std::uint32_t interface = 0;
    for (const TracedLine& line : c.lines) {
      if (line.created) AppendLineStatistics(c.pending, interface++, now, line.frames, line.lost);
    }
    if (std::optional<End> failed = Flush(c); failed == End::kWriteError) {
      Error("The capture could not be written to \"" + options.file + "\": " + c.write_error + ".");
      status = kExitFailed;
    }
  }
  c.output.Close();
  CloseDriver();
  TornDown.store(true);

  if (!extcap) {
    if (c.live_count) Stderr("\n");
    std::string summary = "Packets captured: " + std::to_string(c.frames) + "\n";
    for (const TracedLine& line : c.lines) {
      if (!line.created) continue;
      summary += "Packets received/dropped on line '" + line.name + "': " + std::to_string(line.frames) +
                 "/" + std::to_string(line.lost) + "\n";
    }
    Stderr(summary);
  }
  return status;
}

int ListLinesCommand() {
  if (!OpenAdapter()) {
    Error("There is no adapter driver (Tessix.sys is not installed).");
    return kExitFailed;
  }
  EnumReply lines;
  const bool listed = ListLines(&lines);
  CloseDriver();
  if (!listed || lines.count == 0) {
    Error("The adapter lists no lines.");
    return kExitFailed;
  }
  return PlatWriteStdout(LineListText(lines)) ? kExitOk : kExitFailed;
}

}  // namespace

std::string LineListText(const EnumReply& lines) {
  std::string text;
  for (std::size_t i = 0; i < lines.count; ++i) {
    text += std::to_string(i) + ". " + lines.lines[i].name.data() + "\n";
  }
  return text;
}

std::string ExtcapVersionText() {
  return "extcap {version=" + std::string(kVersionText) + "}{help=file:///usr/share/doc/bri-tools/README.md}\n";
}

std::string ExtcapInterfacesText(const EnumReply& lines) {
  std::string text = ExtcapVersionText();
  for (std::size_t i = 0; i < lines.count; ++i) {
    text +=
        "interface {value=" + InterfaceValue(i) + "}{display=" + lines.lines[i].name.data() + " D channel}\n";
  }
  return text;
}

std::string ExtcapDltsText() {
  return "dlt {number=177}{name=LINUX_LAPD}{display=LAPD with direction (LINUX_LAPD)}\n";
}

std::string CapturingOnText(const std::vector<std::string>& names) {
  std::string text = "Capturing on ";
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i > 0) text += i + 1 == names.size() ? " and " : ", ";
    text += "'" + names[i] + "'";
  }
  return text;
}

std::string LiveCountText(std::uint64_t frames, std::uint64_t lost) {
  std::string text = "\rPackets: " + std::to_string(frames);
  if (lost > 0) text += " (lost by the driver: " + std::to_string(lost) + ")";
  return text + " ";
}

int BricapMain(int argc, char** argv) {
  Options options;
  std::string error;
  if (!ParseArguments(argc, argv, &options, &error)) {
    Error(error);
    Stderr("See 'bricap -h' for help.\n");
    return kExitBadArguments;
  }
  switch (options.action) {
    case Action::kUsage:
      return PlatWriteStdout(UsageText()) ? kExitOk : kExitFailed;
    case Action::kVersion:
      return PlatWriteStdout(VersionText()) ? kExitOk : kExitFailed;
    case Action::kListLines:
      return ListLinesCommand();
    case Action::kCapture:
      return RunCapture(options, false);
    case Action::kExtcapInterfaces:
      return PlatWriteStdout(ExtcapInterfacesText(LinesOrNone())) ? kExitOk : kExitFailed;
    case Action::kExtcapVersion:
      return PlatWriteStdout(ExtcapVersionText()) ? kExitOk : kExitFailed;
    case Action::kExtcapDlts:
      return PlatWriteStdout(ExtcapDltsText()) ? kExitOk : kExitFailed;
    case Action::kExtcapConfig:
      return kExitOk;  // no options to configure
    case Action::kExtcapFilter:
      // Wireshark shows what is printed here as the reason the filter is not valid.
      if (options.capture_filter->empty()) return kExitOk;
      return PlatWriteStdout("bricap captures every frame: capture filters are not supported\n")
                 ? kExitOk
                 : kExitFailed;
    case Action::kExtcapCapture:
      return RunCapture(options, true);
  }
  return kExitFailed;
}

}  // namespace bricap
