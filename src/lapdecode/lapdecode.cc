#include "lapdecode/lapdecode.h"

#include <array>
#include <set>

#include "capture/capture_reader.h"
#include "capture/lapd_frames.h"
#include "common/console.h"
#include "base/option_match.h"
#include "base/version.h"
#include "decode/trace_entry.h"
#include "decode/trace_entry_codec.h"
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
    if (arg == "-n") {
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
  return ParseResult::kRun;
}

std::string UsageText() {
  return "Usage: lapdecode [-p] [-l2] [-l3] [-raw] [-n NAME] FILE...\n"
         "Shows the LAPD frames of pcap and pcapng captures (link types 177 and 203) as lapmon does.\n"
         "-p      - show decode for all ISDN Protocols (the default)\n"
         "-l2     - show decode for ISDN Layer 2 (Q.921) Protocol\n"
         "-l3     - show decode for ISDN Layer 3 (Q.931) Protocol\n"
         "-raw    - show raw hex dump of all ISDN Protocols\n"
         "-n NAME - line name of every frame (default: the interface's name, else the file's)\n"
         "-h, -?  - show this screen\n"
         "-v      - show the version\n"
         "FILE    - a capture file; - reads standard input\n";
}

std::string VersionText() { return FormatF("lapdecode %d.%02d\n", kVersionMajor, kVersionMinor); }

std::string BaseName(const std::string& path) {
  const std::size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

namespace {

// Decodes what reader reads; source, when the reader reads from one, may fail to read, which is
// said instead of the cut that it leaves.
FileResult Decode(const std::string& label, capture::Reader& reader, const capture::StreamSource* source,
                  const std::string& fallbackName, const Options& options, Sink& sink) {
  const std::string prefix = "lapdecode: " + label + ": ";
  capture::LapdFrames lapd(kFrameDataSize);
  std::string text;
  text.reserve(kBatchSize + 8192);
  std::array<std::uint8_t, kTraceEntrySize> entry{};
  std::set<std::size_t> foreign_reported;
  bool flags_said = false, inference_said = false, problem = false;
  std::uint64_t frames = 0, not_lapd = 0, cut = 0;

  const auto flush = [&text, &sink] {
    const bool ok = text.empty() || sink.Out(text);
    text.clear();
    return ok;
  };

  capture::Packet packet;
  capture::ReadStatus status;
  while ((status = reader.Next(&packet)) == capture::ReadStatus::kPacket) {
    const capture::Interface& interface = reader.interfaces()[packet.interface];
    capture::LapdFrame frame;
    if (!lapd.Take(packet, interface, &frame)) {
      if (interface.link_type == capture::kLinkTypeLinuxLapd) {
        ++not_lapd;
      } else if (foreign_reported.insert(packet.interface).second) {
        if (!flush()) return FileResult::kOutputGone;
        sink.Err(prefix + "link type " + capture::LinkTypeName(interface.link_type) +
                 " carries no LAPD frames (lapdecode reads LINUX_LAPD (177) and LAPD (203))");
        problem = true;
      }
      continue;
    }
    if (frame.source == capture::DirectionSource::kFlag && !flags_said) {
      flags_said = true;
      sink.Err(prefix + "link type LAPD (203): directions from the packets' inbound/outbound flags");
    } else if (frame.source == capture::DirectionSource::kInferred && !inference_said) {
      inference_said = true;
      sink.Err(prefix + "link type LAPD (203) without direction flags: directions inferred from the "
                        "command/response bits");
    }
    ++frames;
    if (frame.cut) ++cut;
    FillEntry(entry, frame);
    const std::string& name = !options.name.empty()      ? options.name
                              : !interface.name.empty() ? interface.name
                                                        : fallbackName;
    FormatTraceFrame(text, name.c_str(), TraceEntryBytes(entry), options.views, PlatFileTimeToLocal);
    if (text.size() >= kBatchSize && !flush()) return FileResult::kOutputGone;
  }
  if (!flush()) return FileResult::kOutputGone;

  if (not_lapd > 0) {
    sink.Err(prefix + std::to_string(not_lapd) + " LINUX_LAPD records of another protocol skipped");
  }
  if (cut > 0) {
    sink.Err(prefix + std::to_string(cut) + " frames longer than 260 octets shown cut to 260");
  }
  if (source != nullptr && source->failed()) {
    sink.Err(prefix + "cannot read: " + source->error());
    return FileResult::kProblem;
  }
  switch (status) {
    case capture::ReadStatus::kNotCapture:
      sink.Err(prefix + reader.problem());
      return FileResult::kProblem;
    case capture::ReadStatus::kCutShort:
      sink.Err(prefix + "cut short after " + std::to_string(frames) + " frames (" + reader.problem() + ")");
      return FileResult::kProblem;
    case capture::ReadStatus::kDamaged:
      sink.Err(prefix + "damaged after " + std::to_string(frames) + " frames (" + reader.problem() + ")");
      return FileResult::kProblem;
    default:
      break;
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
  capture::StreamSource source(stream);
  capture::Reader reader(source);
  return Decode(label, reader, &source, fallbackName, options, sink);
}

}  // namespace lapdecode
