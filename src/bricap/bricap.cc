#include "bricap/bricap.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

#include "base/program_message.h"
#include "base/version.h"
#include "bricap/capture_file.h"
#include "bricap/evidence.h"
#include "bricap/file_set.h"
#include "capture/lapd_frames.h"
#include "common/driver.h"
#include "common/trace_poll.h"
#include "decode/trace_entry_codec.h"
#include "platform/output_file.h"
#include "platform/platform.h"

namespace bricap {
namespace {

constexpr std::uint32_t kPollIntervalMs = 1000;
constexpr std::uint32_t kWaitStepMs = 50;
// How long a close or shutdown event waits for the teardown before the system may end us.
constexpr std::uint32_t kCtrlWaitMs = 4000;
// Entries read from one line in one poll, at most: as many as lapmon's ring of a line takes at
// once. A backlog, or a driver that answers every read, is then taken in poll by poll, with the
// stop requests, the duration and the count looked at between the reads.
constexpr std::uint32_t kMaxEntriesPerPoll = 99;
// While a backlog is taken in, the polls follow each other at once and what they read is written
// at least this often, and before it grows past kFlushBytes.
constexpr auto kFlushEvery = std::chrono::seconds(1);
constexpr std::size_t kFlushBytes = 256 * 1024;
// A line whose trace status is refused this many polls running has lost its trace object (another
// program destroyed it): the capture cannot go on without a gap. A single refusal is skipped, as
// lapmon skips it.
constexpr std::uint32_t kRefusalsForGone = 3;
// Free space below which a ring deletes its oldest file only once the next one has started.
constexpr std::uint64_t kRoomToSpare = 1024 * 1024;

void Error(const std::string& text) { WriteProgramMessage("bricap", text); }

// OP_ENUM_IDD; false when the driver refuses it (or no block can be had).
bool ListLines(EnumReply* lines) {
  CommandHolder block = TryAllocateCommand();
  if (!block) return false;
  block->SetOpcode(OP_ENUM_IDD);
  if (ExecuteCmd(block.get()) != 0) return false;
  *lines = ReadEnumReply(*block);
  return true;
}

// The adapter's lines, or none (no driver, or the list refused).
EnumReply LinesOrNone() {
  EnumReply lines;
  if (!TryOpenDriverForThisSystem()) return lines;
  const DriverCloser driver;
  if (!ListLines(&lines)) lines = EnumReply{};
  return lines;
}

void SayNoDriver() { Error("There is no adapter driver (Tessix.sys is not installed)."); }

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
  if ((event == kCtrlCloseEvent || event == kCtrlShutdownEvent) && PlatCloseEventEndsOnReturn()) {
    // The system ends the process as soon as the handler returns: give the teardown its time.
    // (Where it does not, the handler returns at once, so that a second signal is taken.)
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
  bool created = false;         // a trace object was made for the line (it has an interface in the file)
  bool traced = false;          // the trace object exists and is ours to stop and destroy
  std::uint32_t interface = 0;  // the line's interface in the file, once created
  std::uint32_t next_entry = 0;
  bool status_seen = false;
  std::uint32_t refusals = 0;   // trace status requests refused in a row
  std::uint64_t frames = 0;     // in the file, or on their way there
  std::uint64_t unwritten = 0;  // of those, appended but not yet written
  std::uint64_t lost = 0;
  std::uint64_t pending_drop = 0;  // dropped since the last frame appended
  std::uint64_t file_frames = 0;   // in the file being written
  std::uint64_t file_drops = 0;    // drop counts carried by the packets of that file
};

// A file of the ring: deleted in its turn, unless it holds evidence (--keep-failed).
struct RingFile {
  std::string path;
  std::uint64_t number = 0;
  std::string evidence;  // why it is kept; empty for a file that goes in its turn
};

enum class End {
  kSignal,
  kCount,
  kDuration,
  kFileSize,  // -a filesize without -b
  kFiles,     // -a files
  kReaderGone,
  kWriteError,
  kOpenFailed,  // a file could not be opened or started (said when it happened)
  kDriverLost,
  kTraceGone,
};

struct Capture {
  Capture(const Options& chosen, bool for_extcap) : options(chosen), extcap(for_extcap) {}

  const Options& options;
  bool extcap = false;
  std::vector<TracedLine> lines;
  OutputFile output;
  capture::ByteBuffer pending;
  std::uint64_t frames = 0;     // read so far; after a failed write, those in the file
  std::uint64_t unwritten = 0;  // of those, appended but not yet written
  std::uint64_t lost = 0;
  bool live_count = false;
  bool final_poll = false;  // the last poll after a stop takes in what the driver holds
  std::string write_error;
  std::string gone_line;  // the line whose trace was destroyed behind our back
  std::chrono::steady_clock::time_point deadline;
  std::chrono::steady_clock::time_point last_write;
  std::vector<std::string> names;  // of the traced lines: the interfaces of every file

  // The file being written, and with -b the set it belongs to.
  std::string path;
  std::uint64_t file_number = 0;
  std::uint64_t file_packets = 0;
  std::uint64_t file_written = 0;  // bytes
  std::chrono::steady_clock::time_point file_opened;
  std::uint64_t next_interval = 0;  // -b interval: the second (since 1970) of the next switch
  std::deque<RingFile> ring;        // -b files: the files of the ring, oldest first
  std::unique_ptr<EvidenceWatch> evidence;  // --keep-failed
  OutputFile printname;             // -b printname: a file of names

  bool CountReached() const { return options.count != 0 && frames >= options.count; }
  // -b packets: no poll reads past it, so that the frames of one poll stay in one file.
  bool FileFull() const { return options.switch_packets != 0 && file_packets >= options.switch_packets; }
  std::uint64_t FileBytes() const { return file_written + pending.size(); }
  bool DurationOver() const { return options.duration != 0 && std::chrono::steady_clock::now() >= deadline; }
  bool StopDue() const { return !final_poll && (StopRequested.load() || DurationOver()); }
};

// bricap's side of the poll of one line: entries become packets of the line's interface.
struct FileHooks {
  Capture& capture;
  TracedLine& line;
  std::uint32_t read = 0;

  std::uint32_t Send(CommandBlock* block) { return ExecuteCmd(block); }
  // Entries the driver dropped: the drop count of the line's next packet, and its statistics.
  void Lost(std::uint32_t count) {
    line.lost += count;
    line.pending_drop += count;
    capture.lost += count;
  }
  bool MayRead() const {
    return read < kMaxEntriesPerPoll && !capture.CountReached() && !capture.FileFull() && !capture.StopDue();
  }
  void Take(CommandBlock&, TraceEntryBytes entry) {
    const std::uint64_t drop = line.pending_drop;
    AppendEntry(capture.pending, line.interface, entry, &line.pending_drop);
    line.file_drops += drop - line.pending_drop;
    if (capture.evidence) {
      const TraceEntryFields fields = ReadTraceEntry(entry);
      capture.evidence->Feed(WrittenFrame{capture.file_number, line.name, fields.file_time,
                                          fields.direction != 0, fields.octets});
    }
    ++line.file_frames;
    ++capture.file_packets;
    ++read;
    ++line.frames;
    ++line.unwritten;
    ++capture.frames;
    ++capture.unwritten;
  }
};

std::uint64_t NowTicks() {
  const auto since = std::chrono::system_clock::now().time_since_epoch();
  const auto ticks =
      std::chrono::duration_cast<std::chrono::duration<std::int64_t, std::ratio<1, 10000000>>>(since);
  return ticks.count() < 0 ? 0 : static_cast<std::uint64_t>(ticks.count());
}

// Writes what the polls appended. nullopt when all is well, else why the capture ends. After a
// failed write the file holds what was written before (the output cuts it back to that), and the
// counts say so.
std::optional<End> Flush(Capture& c) {
  const OutputWriteResult result = c.output.Write(c.pending, &c.write_error);
  c.last_write = std::chrono::steady_clock::now();
  if (result == OutputWriteResult::kOk) {
    c.file_written += c.pending.size();
  } else {
    c.frames -= c.unwritten;
    c.file_packets -= c.unwritten;
    for (TracedLine& line : c.lines) {
      line.frames -= line.unwritten;
      line.file_frames -= line.unwritten;
    }
  }
  c.pending.clear();
  c.unwritten = 0;
  for (TracedLine& line : c.lines) line.unwritten = 0;
  if (result == OutputWriteResult::kReaderGone) return End::kReaderGone;
  if (result == OutputWriteResult::kFailed) return End::kWriteError;
  return std::nullopt;
}

// One poll of every traced line. True when a line held more than one poll may read (a backlog).
bool PollAll(Capture& c, CommandBlock& block) {
  bool behind = false;
  for (TracedLine& line : c.lines) {
    if (!line.traced) continue;
    FileHooks hooks{c, line};
    if (!PollTraceLine(block, line.handle, TracePosition{line.next_entry, line.status_seen}, hooks)) {
      if (++line.refusals >= kRefusalsForGone && c.gone_line.empty()) {
        line.traced = false;  // another program's now: left alone at the end
        c.gone_line = line.name;
      }
      continue;
    }
    line.refusals = 0;
    if (hooks.read >= kMaxEntriesPerPoll || c.FileFull()) behind = true;
  }
  return behind;
}

// Stops and destroys every trace object once, in table order, each stop before its destroy.
void StopAndDestroy(Capture& c, CommandBlock& block) {
  for (TracedLine& line : c.lines) {
    if (!line.traced) continue;
    line.traced = false;
    SendTraceStop(block, line.handle);
    SendTraceDestroy(block, line.handle);
  }
}

void ShowLiveCount(const Capture& c) {
  if (c.live_count) WriteStderr(LiveCountText(c.frames, c.lost));
}

// What ends the capture before the next poll, if anything, looked at without waiting.
std::optional<End> EndDue(Capture& c) {
  if (!c.gone_line.empty()) return End::kTraceGone;
  if (c.CountReached()) return End::kCount;
  if (DriverConnectionLost()) return End::kDriverLost;
  if (StopRequested.load()) return End::kSignal;
  if (c.DurationOver()) return End::kDuration;
  if (c.output.ReaderGone()) return End::kReaderGone;
  if (c.options.stop_filesize_kb != 0 && c.FileBytes() >= c.options.stop_filesize_kb * 1000)
    return End::kFileSize;
  return std::nullopt;
}

std::uint64_t NowSeconds() { return NowTicks() / 10000000; }

// Whether -b asks for the next file now.
bool SwitchDue(const Capture& c) {
  const Options& o = c.options;
  if (!o.multiple_files) return false;
  if (c.FileFull()) return true;
  if (o.switch_filesize_kb != 0 && c.FileBytes() >= o.switch_filesize_kb * 1000) return true;
  if (o.switch_duration != 0 &&
      std::chrono::steady_clock::now() - c.file_opened >= std::chrono::seconds(o.switch_duration)) {
    return true;
  }
  return o.switch_interval != 0 && NowSeconds() >= c.next_interval;
}

// Waits out the poll interval in short steps; the end that came meanwhile, if any. A switch of
// files that comes due ends the wait early.
std::optional<End> WaitForNextPoll(Capture& c) {
  for (std::uint32_t waited = 0; waited < kPollIntervalMs; waited += kWaitStepMs) {
    if (std::optional<End> end = EndDue(c)) return end;
    if (SwitchDue(c)) return std::nullopt;
    PlatSleep(kWaitStepMs);
  }
  return std::nullopt;
}

// ---- Files ------------------------------------------------------------------------------------

// The name of the next file: -w's own, or with -b the next of the set.
std::string NextPath(Capture& c) {
  ++c.file_number;
  if (!c.options.multiple_files) return c.options.file;
  SystemTime local;
  const std::uint64_t now = NowTicks() + capture::kUnixEpochFileTime;
  if (!PlatFileTimeToLocal(now, &local)) local = SystemTime{};
  return FileSetName(c.options.file, c.file_number, local);
}

bool OpenNextFile(Capture& c) {
  c.path = NextPath(c);
  std::string error;
  if (!c.output.Open(c.path, &error)) {
    Error("The file to which the capture would be saved (\"" + c.path + "\") could not be opened: " + error +
          ".");
    return false;
  }
  c.file_packets = 0;
  c.file_written = 0;
  c.file_opened = std::chrono::steady_clock::now();
  if (c.options.switch_interval != 0) {
    c.next_interval = NextIntervalBoundary(NowSeconds(), c.options.switch_interval);
  }
  for (TracedLine& line : c.lines) line.file_frames = line.file_drops = 0;
  return true;
}

// The file's interface statistics: its own frames and drop counts (the last file also those
// dropped after the last packet).
void AppendFileStatistics(Capture& c, bool last) {
  const std::uint64_t now = NowTicks();
  for (const TracedLine& line : c.lines) {
    if (!line.created) continue;
    AppendLineStatistics(c.pending, line.interface, now, line.file_frames,
                         line.file_drops + (last ? line.pending_drop : 0));
  }
}

// -b printname: the name of a file that was closed.
void PrintName(Capture& c, const std::string& path) {
  if (!c.options.printname) return;
  const std::string& where = *c.options.printname;
  const std::string line = path + "\n";
  if (where == "-" || where == "stdout") {
    PlatWriteStdout(line);
  } else if (where == "stderr") {
    WriteStderr(line);
  } else {
    std::string ignored;
    c.printname.Write(std::span(reinterpret_cast<const std::uint8_t*>(line.data()), line.size()), &ignored);
  }
}

// -b files: the new file joins the ring, and the oldest beyond the ring's size goes.
void KeepRing(Capture& c) {
  if (c.options.ring_files == 0) return;
  c.ring.push_back(RingFile{c.path, c.file_number, {}});
  while (c.ring.size() > c.options.ring_files) {
    std::remove(c.ring.front().path.c_str());
    c.ring.pop_front();
  }
}

// Before the next file of a full ring is made, the oldest goes, so that there are never more
// files than the ring holds; but only while the disk has room to spare: on a nearly full disk the
// next file is started first, and a file the disk cannot take costs no file of the ring.
void MakeRoomInRing(Capture& c) {
  if (c.options.ring_files == 0 || c.ring.size() < c.options.ring_files) return;
  const std::optional<std::uint64_t> free = PlatFreeBytes(c.options.file);
  if (!free || *free < kRoomToSpare) return;
  std::remove(c.ring.front().path.c_str());
  c.ring.pop_front();
}

// --keep-failed, once the file being written is closed: the files still in the ring that were
// marked as evidence leave it for the folder of kept files. (A call that fails marks the files
// back to its SETUP's; those the ring had deleted already are gone.) A file that cannot be moved
// stays where it is, out of the ring all the same: it is never deleted. The path where the file
// just closed lies now.
std::string KeepEvidence(Capture& c) {
  if (!c.evidence) return c.path;
  for (const EvidenceWatch::Marked& marked : c.evidence->TakeMarked()) {
    for (RingFile& file : c.ring) {
      if (file.number >= marked.first && file.number <= marked.last && file.evidence.empty())
        file.evidence = marked.reason;
    }
  }
  std::string current = c.path;
  const std::string& dir = *c.options.keep_failed;
  for (auto it = c.ring.begin(); it != c.ring.end();) {
    if (it->evidence.empty()) {
      ++it;
      continue;
    }
    const std::string kept = KeptFilePath(dir, it->path);
    std::string error;
    if (PlatMoveFile(it->path, kept, &error)) {
      Error("Kept \"" + kept + "\": " + it->evidence + ".");
      if (it->number == c.file_number) current = kept;
    } else {
      Error("\"" + it->path + "\" holds " + it->evidence + ", but could not be moved into \"" + dir + "\" (" +
            error + "): it stays where it is, out of the ring.");
    }
    it = c.ring.erase(it);
  }
  return current;
}

// Refuses a folder for kept files that cannot take one: a file is made in it and removed again.
bool CheckKeepFolder(const Options& options) {
  if (!options.keep_failed) return true;
  const std::string probe = KeptFilePath(*options.keep_failed, ".bricap-" + std::to_string(PlatProcessId()));
  std::string error;
  if (!PlatReplaceFile(probe, probe + ".new", "", &error)) {
    Error("The folder for the kept files (\"" + *options.keep_failed + "\") cannot take a file: " + error +
          ".");
    return false;
  }
  PlatRemoveFile(probe);
  return true;
}

// The section header and the interfaces of a new file. A file whose start cannot be written is
// removed again (it would hold no capture at all), and the capture ends.
std::optional<End> StartFile(Capture& c) {
  AppendFileHeader(c.pending, c.names);
  const std::optional<End> end = Flush(c);
  if (end == End::kWriteError) {
    Error("The capture file \"" + c.path + "\" could not be written: " + c.write_error + ".");
    c.output.CloseAndRemove();
    return End::kOpenFailed;
  }
  return end;
}

// Ends the file (its statistics, flushed, closed) and starts the next of the set. The end of the
// capture when that is what comes instead.
std::optional<End> SwitchFile(Capture& c) {
  if (c.options.stop_files != 0 && c.file_number >= c.options.stop_files) return End::kFiles;
  AppendFileStatistics(c, false);
  if (std::optional<End> end = Flush(c)) return end;
  c.output.Close();
  PrintName(c, KeepEvidence(c));
  MakeRoomInRing(c);
  if (!OpenNextFile(c)) return End::kOpenFailed;
  if (std::optional<End> end = StartFile(c)) return end;
  KeepRing(c);
  return std::nullopt;
}

// Polls until an end comes; returns it. While a line is behind, the next poll follows at once.
End PollUntilEnd(Capture& c, CommandBlock& block) {
  for (;;) {
    const bool behind = PollAll(c, block);
    const bool switch_due = SwitchDue(c);
    if (!behind || switch_due || c.pending.size() >= kFlushBytes ||
        std::chrono::steady_clock::now() - c.last_write >= kFlushEvery) {
      if (std::optional<End> end = Flush(c)) return *end;
      ShowLiveCount(c);
    }
    // A file that fills with the last packet of the count is the last one: no empty file follows.
    if (switch_due && !c.CountReached()) {
      if (std::optional<End> end = SwitchFile(c)) return *end;
    }
    std::optional<End> end = behind || switch_due ? EndDue(c) : WaitForNextPoll(c);
    if (!end) continue;
    if (*end == End::kSignal || *end == End::kDuration) {
      // What the driver holds already is still taken in, one poll's worth.
      c.final_poll = true;
      PollAll(c, block);
    }
    if (std::optional<End> failed = Flush(c)) return *failed;
    ShowLiveCount(c);
    return *end;
  }
}

// ---- The steps of a capture -------------------------------------------------------------------

// The lines to trace, as the options choose them from the adapter's list. False (with a message)
// when there are none or a chosen one does not exist.
bool ChooseLines(Capture& c) {
  EnumReply listed;
  if (!ListLines(&listed) || listed.count == 0) {
    Error("The adapter lists no lines.");
    return false;
  }
  std::vector<std::size_t> wanted = c.options.lines;
  if (wanted.empty()) {
    for (std::size_t i = 0; i < listed.count; ++i) wanted.push_back(i);
  }
  for (std::size_t index : wanted) {
    if (index >= listed.count) {
      Error("There is no line " + std::to_string(index) + ": the adapter lists " +
            std::to_string(listed.count) + " (see bricap -D).");
      return false;
    }
    TracedLine line;
    line.index = index;
    line.handle = listed.lines[index].handle;
    line.name = listed.lines[index].name.data();
    c.lines.push_back(line);
  }
  return true;
}

// The first file, and the file of -b printname: when it names one.
bool OpenOutput(Capture& c) {
  const std::optional<std::string>& names = c.options.printname;
  if (names && *names != "-" && *names != "stdout" && *names != "stderr") {
    std::string error;
    if (!c.printname.Open(*names, &error)) {
      Error("The file for the names of the capture files (\"" + *names + "\") could not be opened: " + error +
            ".");
      return false;
    }
  }
  if (!OpenNextFile(c)) return false;
  KeepRing(c);
  return true;
}

// Creates and starts the trace of every chosen line; the names of those that are traced, in order.
std::vector<std::string> StartTraces(Capture& c, CommandBlock& block) {
  std::vector<std::string> names;
  for (TracedLine& line : c.lines) {
    if (SendTraceCreate(block, line.handle) != 0) {
      Error("The trace of line '" + line.name + "' could not be created.");
      continue;
    }
    line.created = line.traced = true;
    line.interface = static_cast<std::uint32_t>(names.size());
    SendTraceStart(block, line.handle);
    names.push_back(line.name);
  }
  return names;
}

void ReportWriteError(const Capture& c) {
  Error("The capture could not be written to \"" + c.path + "\": " + c.write_error + ". It holds the " +
        std::to_string(c.file_packets) + " packets written before.");
}

// Stops the traces, says why the capture ended when that is a failure, completes the file with
// each line's totals and closes it. The exit status.
int FinishCapture(Capture& c, CommandBlock& block, End end) {
  StopAndDestroy(c, block);
  int status = kExitOk;
  switch (end) {
    case End::kWriteError:
      ReportWriteError(c);
      status = kExitFailed;
      break;
    case End::kDriverLost:
      Error("The connection to the adapter driver is lost.");
      status = kExitFailed;
      break;
    case End::kTraceGone:
      Error("The trace of line '" + c.gone_line +
            "' is gone from the driver (another program destroyed it); the capture ends.");
      status = kExitFailed;
      break;
    case End::kOpenFailed:
      status = kExitFailed;  // said when it failed
      break;
    default:
      break;
  }
  if (end != End::kWriteError && end != End::kReaderGone && end != End::kOpenFailed) {
    AppendFileStatistics(c, true);
    if (Flush(c) == End::kWriteError) {
      ReportWriteError(c);
      status = kExitFailed;
    }
  }
  if (c.evidence) c.evidence->Finish();
  if (end != End::kOpenFailed) {
    c.output.Close();
    const std::string closed = KeepEvidence(c);
    if (c.options.multiple_files) PrintName(c, closed);
  } else {
    KeepEvidence(c);
  }
  c.printname.Close();
  TornDown.store(true);
  return status;
}

void ShowSummary(const Capture& c) {
  if (c.live_count) WriteStderr("\n");
  std::string summary = "Packets captured: " + std::to_string(c.frames) + "\n";
  for (const TracedLine& line : c.lines) {
    if (!line.created) continue;
    summary += "Packets received/dropped on line '" + line.name + "': " + std::to_string(line.frames) + "/" +
               std::to_string(line.lost) + "\n";
  }
  WriteStderr(summary);
}

int RunCapture(const Options& options, bool extcap) {
  PlatIgnoreWriteSignals();
  if (options.capture_filter && !options.capture_filter->empty()) {
    Error("Capture filters are not supported: every frame of the line is captured.");
    return kExitFailed;
  }
  if (!CheckKeepFolder(options)) return kExitFailed;
  if (!TryOpenDriverForThisSystem()) {
    SayNoDriver();
    return kExitFailed;
  }
  const DriverCloser driver;
  Capture c(options, extcap);
  if (options.keep_failed) c.evidence = std::make_unique<EvidenceWatch>();
  if (!ChooseLines(c)) return kExitFailed;

  PlatSetCtrlHandler(CaptureCtrlHandler);
  if (!OpenOutput(c)) return kExitFailed;
  CommandHolder block = TryAllocateCommand();
  if (!block) Error("There is no memory for a command block.");
  if (!block || !BeginTracing()) {
    c.output.CloseAndRemove();
    return kExitFailed;
  }
  c.names = StartTraces(c, *block);
  const std::vector<std::string>& names = c.names;
  if (names.empty()) {
    // Nothing was captured: no file is left behind.
    Error("No line could be traced.");
    c.output.CloseAndRemove();
    TornDown.store(true);
    return kExitFailed;
  }

  c.deadline = std::chrono::steady_clock::now() + std::chrono::seconds(options.duration);
  std::optional<End> end = StartFile(c);
  if (!extcap) {
    WriteStderr(CapturingOnText(names) + "\n");
    c.live_count = PlatStandardErrorIsTerminal();
  }
  if (!end) end = PollUntilEnd(c, *block);
  const int status = FinishCapture(c, *block, *end);
  if (!extcap) ShowSummary(c);
  return status;
}

int ListLinesCommand() {
  if (!TryOpenDriverForThisSystem()) {
    SayNoDriver();
    return kExitFailed;
  }
  EnumReply lines;
  bool listed = false;
  {
    const DriverCloser driver;
    listed = ListLines(&lines);
  }
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
  return "extcap {version=" + std::string(kVersionText) +
         "}{help=file:///usr/share/doc/bri-tools/README.md}\n";
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
  // Before anything is opened: a closed standard descriptor must not become the driver's
  // connection or the capture file.
  PlatInitStdHandles();
  Options options;
  std::string error;
  if (!ParseArguments(argc, argv, &options, &error)) {
    Error(error);
    WriteStderr("See 'bricap -h' for help.\n");
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
