#include "lapdecode/lapdecode.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <functional>
#include <optional>

#include "base/option_match.h"
#include "base/version.h"
#include "capture/capture_reader.h"
#include "capture/lapd_capture.h"
#include "common/console.h"
#include "decode/trace_entry.h"
#include "decode/trace_entry_codec.h"
#include "platform/file_input.h"
#include "platform/platform.h"

namespace lapdecode {
namespace {

enum class View { kL2, kL3, kRaw, kAll };

struct ViewName {
  std::string_view text;
  View view;
};

// lapmon's view options.
constexpr std::array<ViewName, 4> kViews{{
    {"-l2", View::kL2},
    {"-l3", View::kL3},
    {"-raw", View::kRaw},
    {"-p", View::kAll},
}};

// The 288-byte trace entry of one frame.
void FillEntry(std::array<std::uint8_t, kTraceEntrySize>& entry, const capture::LapdFrame& frame) {
  WriteTraceEntry(entry, frame.file_time, frame.direction, frame.octets);
}

// --calls-format: the log's form; it asks for the log too.
bool SetCallFormat(std::string_view name, CallOptions* calls) {
  static constexpr std::array<std::pair<std::string_view, CallFormat>, 3> kFormats{{
      {"text", CallFormat::kText},
      {"json", CallFormat::kJson},
      {"csv", CallFormat::kCsv},
  }};
  for (const auto& [text, format] : kFormats) {
    if (!SameIgnoringCase(name, text)) continue;
    calls->format = format;
    calls->log = true;
    return true;
  }
  return false;
}

}  // namespace

ParseResult ParseArguments(int argc, char** argv, Options* options, std::string* error) {
  bool any_view = false;
  ViewSwitches chosen{false, false, false};
  bool files_only = false;
  for (int i = 1; i < argc; ++i) {
    if (argv[i] == nullptr) continue;
    const std::string_view arg(argv[i]);
    if (files_only || arg == "-" || arg.empty() || arg[0] != '-') {
      options->files.emplace_back(arg);
      continue;
    }
    if (arg == "--") {
      files_only = true;
      continue;
    }
    bool matched = false;
    for (const ViewName& v : kViews) {
      if (!SameIgnoringCase(arg, v.text)) continue;
      matched = true;
      any_view = true;
      chosen.l2 = chosen.l2 || v.view == View::kL2 || v.view == View::kAll;
      chosen.l3 = chosen.l3 || v.view == View::kL3 || v.view == View::kAll;
      chosen.raw = chosen.raw || v.view == View::kRaw || v.view == View::kAll;
    }
    if (matched) continue;
    if (arg == "--calls") {
      options->call_options.log = true;
    } else if (arg == "--calls-format" || arg == "--html") {
      if (i + 1 >= argc || argv[i + 1] == nullptr) {
        *error = std::string(arg) + (arg == "--html" ? " needs a file name" : " needs text, json or csv");
        return ParseResult::kBad;
      }
      const std::string_view value(argv[++i]);
      if (arg == "--html") {
        options->call_options.html = value;
      } else if (!SetCallFormat(value, &options->call_options)) {
        *error = "unknown call format " + std::string(value) + " (text, json or csv)";
        return ParseResult::kBad;
      }
    } else if (arg == "--ladder") {
      options->call_options.ladder = true;
    } else if (arg == "-n") {
      if (i + 1 >= argc || argv[i + 1] == nullptr) {
        *error = "-n needs a line name";
        return ParseResult::kBad;
      }
      options->name = argv[++i];
    } else if (arg == "-h" || arg == "-?" || arg == "--help") {
      return ParseResult::kUsage;
    } else if (arg == "-v" || arg == "--version") {
      return ParseResult::kVersion;
    } else {
      *error = "unknown option " + std::string(arg);
      return ParseResult::kBad;
    }
  }
  if (options->files.empty()) {
    *error = "no capture file given";
    return ParseResult::kBad;
  }
  options->views = any_view ? chosen : ViewSwitches{};
  if (options->call_options.any()) options->calls = std::make_shared<CallSession>(options->call_options);
  return ParseResult::kRun;
}

std::string UsageText() {
  return "Usage: lapdecode [-p] [-l2] [-l3] [-raw] [-n NAME] [--calls] [--calls-format text|json|csv]\n"
         "                 [--ladder] [--html FILE] FILE...\n"
         "Shows the LAPD frames of pcap and pcapng captures (link types 177 and 203) as lapmon does.\n"
         "-p      - show decode for all ISDN Protocols (the default)\n"
         "-l2     - show decode for ISDN Layer 2 (Q.921) Protocol\n"
         "-l3     - show decode for ISDN Layer 3 (Q.931) Protocol\n"
         "-raw    - show raw hex dump of all ISDN Protocols\n"
         "-n NAME - line name of every frame (default: the interface's name, else the file's)\n"
         "-h, -?  - show this screen\n"
         "-v      - show the version\n"
         "--calls - a call log in place of the frames: one line per call as it ends, then a summary\n"
         "--calls-format text|json|csv - the call log as text, JSON Lines or CSV\n"
         "--ladder    - a ladder diagram of each call's messages\n"
         "--html FILE - the calls and their ladders as one HTML page\n"
         "FILE    - a capture file; - reads standard input\n";
}

std::string VersionText() { return FormatF("lapdecode %d.%02d\n", kVersionMajor, kVersionMinor); }

std::string BaseName(const std::string& path) {
  const std::size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

namespace {

// A file or pipe read as its bytes come. Before each read the text decoded so far goes out, so
// that the frames of a live pipe show as soon as their block is whole, not when a window is full.
class LiveSource : public capture::Source {
 public:
  explicit LiveSource(std::FILE* stream) : stream_(stream) {}
  void BeforeRead(std::function<bool()> hook) { before_read_ = std::move(hook); }

  std::size_t Read(std::uint8_t* data, std::size_t size) override {
    if (stopped_) return 0;
    if (before_read_ && !before_read_()) {
      output_gone_ = stopped_ = true;
      return 0;
    }
    const long n = PlatReadSome(stream_, data, size);
    if (n < 0) {
      error_ = std::strerror(errno);
      stopped_ = true;
      return 0;
    }
    return static_cast<std::size_t>(n);
  }
  bool failed() const { return !error_.empty(); }
  const std::string& error() const { return error_; }
  bool output_gone() const { return output_gone_; }

 private:
  std::FILE* stream_;
  std::function<bool()> before_read_;
  std::string error_;
  bool stopped_ = false;
  bool output_gone_ = false;
};

// Decodes what reader reads; source, when the reader reads from one, may fail to read, which is
// said instead of the cut that it leaves.
FileResult Decode(const std::string& label, capture::Reader& reader, LiveSource* source,
                  const std::string& fallbackName, const Options& options, Sink& sink) {
  const std::string prefix = "lapdecode: " + label + ": ";
  capture::LapdCapture walk(reader, "lapdecode", kFrameDataSize);
  std::string text;
  text.reserve(kBatchSize + 8192);
  std::array<std::uint8_t, kTraceEntrySize> entry{};
  bool problem = false;

  const auto flush = [&text, &sink] {
    const bool ok = text.empty() || sink.Out(text);
    text.clear();
    return ok;
  };
  if (source != nullptr) source->BeforeRead(flush);

  if (options.calls) options.calls->BeginFile();
  capture::LapdFrame frame;
  capture::LapdNotice notice;
  for (capture::LapdCapture::Step step;
       (step = walk.Next(&frame, &notice)) != capture::LapdCapture::Step::kEnd;) {
    if (step == capture::LapdCapture::Step::kNotice) {
      // A problem concerns the frames before it: they go out first.
      if (notice.problem && !flush()) return FileResult::kOutputGone;
      sink.Err(prefix + notice.text);
      problem = problem || notice.problem;
      continue;
    }
    const capture::Interface& interface = walk.interface();
    const std::string& name = !options.name.empty()     ? options.name
                              : !interface.name.empty() ? interface.name
                                                        : fallbackName;
    if (options.calls) {
      options.calls->Take(name, frame.file_time, frame.direction, frame.octets, text);
    } else {
      FillEntry(entry, frame);
      FormatTraceFrame(text, name.c_str(), TraceEntryBytes(entry), options.views, PlatFileTimeToLocal);
    }
    if (text.size() >= kBatchSize && !flush()) return FileResult::kOutputGone;
  }
  if (options.calls) options.calls->EndFile(text);
  if (!flush() || (source != nullptr && source->output_gone())) return FileResult::kOutputGone;

  for (const capture::LapdNotice& count : walk.Counts()) {
    sink.Err(prefix + count.text);
    problem = problem || count.problem;
  }
  if (source != nullptr && source->failed()) {
    sink.Err(prefix + "cannot read: " + source->error());
    return FileResult::kProblem;
  }
  if (const std::optional<capture::LapdNotice> stop = walk.Stop()) {
    sink.Err(prefix + stop->text);
    return FileResult::kProblem;
  }
  return problem ? FileResult::kProblem : FileResult::kOk;
}

}  // namespace

FileResult DecodeFile(const std::string& label, ByteSpan file, const std::string& fallbackName,
                      const Options& options, Sink& sink) {
  capture::Reader reader(file);
  return Decode(label, reader, nullptr, fallbackName, options, sink);
}

FileResult DecodeStream(const std::string& label, std::FILE* stream, const std::string& fallbackName,
                        const Options& options, Sink& sink) {
  LiveSource source(stream);
  capture::Reader reader(source);
  return Decode(label, reader, &source, fallbackName, options, sink);
}

}  // namespace lapdecode
