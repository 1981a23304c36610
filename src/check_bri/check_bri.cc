#include "check_bri/check_bri.h"

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <new>
#include <thread>

#include "areas/get_area.h"
#include "base/option_match.h"
#include "base/program_message.h"
#include "base/version.h"
#include "check_bri/options.h"
#include "check_bri/prometheus_text.h"
#include "common/console.h"
#include "common/driver.h"
#include "common/enum_reply.h"
#include "platform/platform.h"
#include "status/line_list.h"

namespace check_bri {
namespace {

constexpr const char* kProgram = "check_bri";
constexpr int kExitOutputGone = 1;
// The fetch stops this long before -t, so that a slow driver gives a reading-based UNKNOWN (and
// the metrics) rather than the watchdog's.
constexpr std::uint32_t kDeadlineMarginMs = 500;

int ExitOf(State state) { return static_cast<int>(state); }

// ---- The -t watchdog: a driver that does not answer cannot hold the run past its time ----------

class Watchdog {
 public:
  Watchdog(int seconds, const std::vector<std::string>* names, const FetchProgress* progress)
      : seconds_(seconds), names_(names), progress_(progress), thread_([this] { Watch(); }) {}
  ~Watchdog() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      done_ = true;
    }
    wake_.notify_all();
    thread_.join();
  }
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;

  void Stage(std::string stage) {
    std::lock_guard<std::mutex> lock(mutex_);
    stage_ = std::move(stage);
  }
  void TempFile(std::string path) {
    std::lock_guard<std::mutex> lock(mutex_);
    temp_ = std::move(path);
  }
  // From here on the run writes its own answer: the watchdog says nothing more. Should the answer
  // still not be written at the time limit (a reader that takes none), the run ends UNKNOWN.
  void Finishing() {
    std::lock_guard<std::mutex> lock(mutex_);
    finishing_ = true;
  }
  // The answer is written; the run ends by itself.
  void Written() {
    std::lock_guard<std::mutex> lock(mutex_);
    written_ = true;
  }

 private:
  std::string StageText() const {
    if (stage_ != "fetching") return stage_;
    const int area = progress_->area.load();
    const int line = progress_->line.load();
    std::string text = "fetching area " + std::to_string(area);
    if (line >= 0 && static_cast<std::size_t>(line) < names_->size())
      text += " of " + (*names_)[static_cast<std::size_t>(line)];
    return text;
  }
  void Watch() {
    std::unique_lock<std::mutex> lock(mutex_);
    if (wake_.wait_for(lock, std::chrono::seconds(seconds_), [this] { return done_; })) return;
    if (written_) return;
    // Standard output takes nothing (and standard error may be the same pipe): no word more.
    if (finishing_) std::_Exit(ExitOf(State::kUnknown));
    if (!temp_.empty()) PlatRemoveFile(temp_);
    ConsoleWrite(UnknownOutput("timed out after " + std::to_string(seconds_) + " s while " + StageText()));
    std::_Exit(ExitOf(State::kUnknown));
  }

  const int seconds_;
  const std::vector<std::string>* names_;
  const FetchProgress* progress_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool done_ = false;
  bool finishing_ = false;
  bool written_ = false;
  std::string stage_ = "starting";
  std::string temp_;
  std::thread thread_;
};

// ---- The driver ---------------------------------------------------------------------------------

// Opened without a word on standard output: the NT paths unless the system says Windows 95.
bool OpenAdapterQuietly(bool* windows_nt) {
  OsVersion version;
  const bool windows95 = PlatGetVersion(&version) && version.platform_id == kPlatformWin32Windows;
  *windows_nt = !windows95;
  const DevicePaths paths = ChooseDevicePaths(windows95 ? kOsWindows95 : kOsWindowsNt);
  DeviceHandle device = PlatOpenDevice(paths.first);
  if (device == kInvalidDevice) device = PlatOpenDevice(paths.second);
  if (device == kInvalidDevice) {
    const std::string hint = PlatMissingDeviceHint(paths.first, paths.second);
    if (!hint.empty()) WriteProgramMessage(kProgram, hint);
    return false;
  }
  hf.store(device);
  return true;
}

bool ListLines(CommandBlock* block, EnumReply* lines) {
  block->Zero();
  block->SetOpcode(OP_ENUM_IDD);
  if (ExecuteCmd(block) != 0) return false;
  *lines = ReadEnumReply(*block);
  return true;
}

// The lines -l names, in the order the driver lists them; every line without -l. False with *error
// for a -l that names no line.
bool SelectLines(const EnumReply& reply, const std::vector<std::string>& wanted,
                 std::vector<std::size_t>* chosen, std::string* error) {
  std::vector<bool> take(reply.count, wanted.empty());
  for (const std::string& w : wanted) {
    bool found = false;
    const bool number = w.find_first_not_of("0123456789") == std::string::npos && w.size() <= 3;
    for (std::size_t i = 0; i < reply.count && !found; ++i) {
      const std::string_view name(reply.lines[i].name.data());
      if ((number && std::stoul(w) == i) || name == w) take[i] = found = true;
    }
    for (std::size_t i = 0; i < reply.count && !found; ++i) {
      if (SameIgnoringCase(std::string_view(reply.lines[i].name.data()), w)) take[i] = found = true;
    }
    if (!found) {
      *error = "no line " + w + " (the driver lists " + std::to_string(reply.count) + ")";
      return false;
    }
  }
  for (std::size_t i = 0; i < reply.count; ++i) {
    if (take[i]) chosen->push_back(i);
  }
  return true;
}

// ---- The run --------------------------------------------------------------------------------------

struct Run {
  Options options;
  std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
  bool driver_up = false;
  std::vector<LineCheck> lines;
  std::vector<std::string> names;  // of the lines fetched, for the watchdog
  FetchProgress progress;
};

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Writes the metrics; false with *error when the file could not be replaced (it is left as it was).
bool WriteMetrics(Run& run, Watchdog& watchdog, State state, std::string* error) {
  if (run.options.prometheus_file.empty()) return true;
  const std::string& path = run.options.prometheus_file;
  watchdog.Stage("writing " + path);
  std::string target;
  if (!PlatReplaceTarget(path, &target, error)) return false;
  const std::string temp = PlatTempBeside(target);
  watchdog.TempFile(temp);
  const PromRun prom{run.driver_up, SecondsSince(run.start), state};
  const bool ok = PlatReplaceFile(target, temp, PrometheusText(prom, run.lines), error);
  watchdog.TempFile("");
  return ok;
}

// Ends a run that found no line to read: UNKNOWN, with the metrics saying so.
int EndUnknown(Run& run, Watchdog& watchdog, const std::string& why) {
  std::string error;
  std::string text = why;
  if (!WriteMetrics(run, watchdog, State::kUnknown, &error)) text += "; " + error;
  watchdog.Finishing();
  const bool written = ConsoleWrite(UnknownOutput(text));
  watchdog.Written();
  return written ? ExitOf(State::kUnknown) : kExitOutputGone;
}

int CheckLines(Run& run, Watchdog& watchdog) {
  watchdog.Stage("opening the driver");
  bool windows_nt = true;
  if (!OpenAdapterQuietly(&windows_nt))
    return EndUnknown(run, watchdog, "no adapter driver (Tessix.sys is not installed)");

  std::unique_ptr<CommandBlock> block(new (std::nothrow) CommandBlock{});
  if (!block) return EndUnknown(run, watchdog, "out of memory");
  watchdog.Stage("listing the lines");
  EnumReply reply;
  if (!ListLines(block.get(), &reply)) return EndUnknown(run, watchdog, "the driver refused the line list");
  run.driver_up = true;
  if (reply.count == 0) return EndUnknown(run, watchdog, "the driver lists no lines");
  std::vector<std::size_t> chosen;
  std::string error;
  if (!SelectLines(reply, run.options.lines, &chosen, &error)) return EndUnknown(run, watchdog, error);

  // The registry's RAS/TAPI names exist on Windows NT only; their absence is no fault here.
  const char* ras_failure = nullptr;
  const bool ras = windows_nt && ReadRasAssignments(&ras_failure) == kRegOk;

  std::vector<LineFetch> fetches;
  for (const std::size_t i : chosen) {
    LineFetch fetch;
    fetch.handle = reply.lines[i].handle;
    fetches.push_back(fetch);
    LineInfo info;
    info.handle = fetch.handle;
    const std::string_view name(reply.lines[i].name.data());
    std::copy_n(name.data(), std::min(name.size(), info.name.size() - 1), info.name.begin());
    if (ras) CorrelateLine(&info);
    LineCheck line;
    line.index = static_cast<int>(i);
    line.name = std::string(name);
    line.ras_name = std::string(TextOf(info.friendly_name));
    line.usage = std::string(TextOf(info.usage));
    run.lines.push_back(std::move(line));
    run.names.push_back(std::string(name));
  }

  watchdog.Stage("fetching");
  const std::uint32_t timeout_ms = static_cast<std::uint32_t>(run.options.timeout_seconds) * 1000U;
  const std::uint32_t deadline_ms =
      timeout_ms > 2 * kDeadlineMarginMs ? timeout_ms - kDeadlineMarginMs : timeout_ms / 2;
  const std::uint32_t elapsed_ms = static_cast<std::uint32_t>(SecondsSince(run.start) * 1000.0);
  const AreaDriver driver = RealAreaDriver();
  const bool complete =
      FetchAreas(driver, block.get(), &fetches, driver.tick_count() - elapsed_ms, deadline_ms, &run.progress);
  for (std::size_t k = 0; k < fetches.size(); ++k)
    ReadLine(fetches[k], run.options.require_active, &run.lines[k]);

  CheckResult result = Summarize(run.lines, run.options.thresholds);
  std::string note;
  if (!complete) {
    result.state = State::kUnknown;
    note = "timed out after " + std::to_string(run.options.timeout_seconds) + " s while fetching areas";
  }
  if (DriverConnectionLost()) {
    result.state = State::kUnknown;
    note = "the driver connection broke";
  }
  if (!WriteMetrics(run, watchdog, result.state, &error)) {
    result.state = State::kUnknown;
    note = note.empty() ? error : note + "; " + error;
  }
  watchdog.Finishing();
  CloseDriver();
  const bool written =
      ConsoleWrite(PluginOutput(run.lines, result, run.options.thresholds, run.options.verbosity, note));
  watchdog.Written();
  return written ? ExitOf(result.state) : kExitOutputGone;
}

}  // namespace

int CheckBriMain(int argc, char** argv) {
  PlatInitStdHandles();
  Run run;
  std::string error;
  const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + (argc > 0 ? argc : 0));
  if (!ParseOptions(args, &run.options, &error)) {
    WriteProgramMessage(kProgram, error + " (check_bri -h shows the options)");
    return ConsoleWrite(UnknownOutput(error)) ? ExitOf(State::kUnknown) : kExitOutputGone;
  }
  if (run.options.help || run.options.version) {
    const std::string text = run.options.help ? HelpText() : "check_bri " + std::string(kVersionText) + "\n";
    return ConsoleWrite(text) ? ExitOf(State::kOk) : kExitOutputGone;
  }
  Watchdog watchdog(run.options.timeout_seconds, &run.names, &run.progress);
  return CheckLines(run, watchdog);
}

}  // namespace check_bri
