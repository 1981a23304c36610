#include "capture.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>

#include "capture/lapd_capture.h"
#include "decode/trace_entry.h"

namespace brisim {
namespace {

constexpr std::int64_t kMaxAtMs = std::int64_t{1} << 40;  // as the scenario reader allows

std::string DescribeDirections(const capture::LapdFrames& lapd, const CaptureSpec& plan, int link_type) {
  const InferenceCounts& c = lapd.inferred;
  const std::uint64_t inferred = c.by_kind + c.by_poll + c.too_short;
  const int kinds = (lapd.by_header > 0 ? 1 : 0) + (lapd.by_given > 0 ? 1 : 0) + (lapd.by_flag > 0 ? 1 : 0) +
                    (inferred > 0 ? 1 : 0);
  std::string text;
  const auto add = [&text, kinds](const std::string& part, std::uint64_t n) {
    if (!text.empty()) text += "; ";
    text += part;
    if (kinds > 1) text += " (" + std::to_string(n) + " frames)";
  };
  if (lapd.by_header > 0) add("directions from the capture's pseudo-header", lapd.by_header);
  if (lapd.by_given > 0)
    add("direction " + std::to_string(plan.direction.value_or(0)) + " given for every frame", lapd.by_given);
  if (lapd.by_flag > 0) add("directions from the packets' inbound/outbound flags", lapd.by_flag);
  if (inferred > 0) add(capture::DescribeInference(c), inferred);
  if (!text.empty()) return text;
  // No frames: say what would have decided.
  if (link_type == kLinkTypeLinuxLapd) return "directions from the capture's pseudo-header";
  if (plan.direction) return "direction " + std::to_string(*plan.direction) + " given for every frame";
  return capture::DescribeInference(c);
}

std::string JoinPath(const std::string& base, const std::string& file) {
  if (file.empty() || file[0] == '/' || base.empty()) return file;
  return base.back() == '/' ? base + file : base + "/" + file;
}

}  // namespace

namespace {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

std::int64_t PacedAt(const CaptureSpec& capture, const capture::Packet& packet, std::int64_t first_seconds,
                     std::int64_t first_nanos) {
  const double ns = static_cast<double>(packet.seconds - first_seconds) * 1e9 +
                    static_cast<double>(static_cast<std::int64_t>(packet.nanoseconds) - first_nanos);
  const double ms = std::clamp(ns / 1e6 / capture.speed, 0.0, static_cast<double>(kMaxAtMs));
  return std::min<std::int64_t>(capture.start_ms + static_cast<std::int64_t>(std::llround(ms)), kMaxAtMs);
}

}  // namespace

std::vector<FrameSpec> ReadCapture(const CaptureSpec& capture, const std::string& path,
                                   CaptureSummary* summary) {
  const std::string cannot = capture.key + ": cannot read capture " + path + ": ";
  const std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
  if (!file) throw ScenarioError(cannot + std::strerror(errno));
  *summary = CaptureSummary{};
  capture::StreamSource source(file.get());
  capture::Reader reader(source);
  capture::LapdCapture walk(reader, "brisim", kFrameDataSize, capture.direction);

  std::vector<FrameSpec> frames;
  std::int64_t first_seconds = 0, first_nanos = 0;
  capture::LapdFrame frame;
  capture::LapdNotice notice;
  for (capture::LapdCapture::Step step;
       (step = walk.Next(&frame, &notice)) != capture::LapdCapture::Step::kEnd;) {
    if (step == capture::LapdCapture::Step::kNotice) {
      // How the directions were found is told by the summary's own line; skipped packets are noted.
      if (notice.problem) summary->skipped.push_back(notice.text);
      continue;
    }
    FrameSpec f;
    f.octets.assign(frame.octets.begin(), frame.octets.end());
    f.direction = frame.direction;
    f.filetime = frame.file_time;
    f.at_ms = capture.start_ms;
    // Pacing counts from the first frame's capture time.
    const capture::Packet& packet = walk.packet();
    if (frames.empty()) {
      first_seconds = packet.seconds;
      first_nanos = packet.nanoseconds;
    } else if (!capture.as_fast_as_read) {
      f.at_ms = PacedAt(capture, packet, first_seconds, first_nanos);
    }
    frames.push_back(std::move(f));
  }
  if (source.failed()) throw ScenarioError(cannot + source.error());
  if (walk.status() == capture::ReadStatus::kNotCapture) throw ScenarioError(cannot + reader.problem());
  // The link type named is the first LAPD interface's, else the first interface's.
  bool any_lapd = false;
  for (const capture::Interface& i : reader.interfaces()) {
    if (i.link_type == kLinkTypeLinuxLapd || i.link_type == kLinkTypeLapd) {
      summary->link_type = i.link_type;
      any_lapd = true;
      break;
    }
  }
  if (!any_lapd && !reader.interfaces().empty()) {
    throw ScenarioError(capture.key + ": " + path + ": " +
                        capture::ForeignLinkTypeText(reader.interfaces()[0].link_type, "brisim"));
  }
  for (const capture::LapdNotice& count : walk.Counts()) summary->skipped.push_back(count.text);
  if (const std::optional<capture::LapdNotice> stop = walk.Stop()) summary->problem = stop->text;
  summary->frames = frames.size();
  summary->not_lapd = walk.other_protocol();
  summary->damaged = walk.short_records();
  summary->cut_to_260 = walk.cut();
  summary->directions = DescribeDirections(walk.directions(), capture, summary->link_type);
  return frames;
}

std::vector<std::string> LoadCaptures(Scenario& scenario, const std::string& base_dir) {
  std::vector<std::string> lines;
  for (std::size_t i = 0; i < scenario.lines.size(); ++i) {
    TraceSpec& trace = scenario.lines[i].trace;
    if (!trace.capture) continue;
    const std::string path = JoinPath(base_dir, trace.capture->file);
    CaptureSummary summary;
    std::vector<FrameSpec> frames = ReadCapture(*trace.capture, path, &summary);
    trace.frames.insert(trace.frames.end(), std::make_move_iterator(frames.begin()),
                        std::make_move_iterator(frames.end()));
    trace.paced_by_reader = trace.paced_by_reader || trace.capture->as_fast_as_read;
    CheckRepeat(trace, "lines[" + std::to_string(i) + "].trace");

    std::string line = "line " + std::to_string(i + 1) + " (" + scenario.lines[i].name + ") plays " + path +
                       ": " + std::to_string(summary.frames) + " frames, link type " +
                       std::to_string(summary.link_type) + ", " + summary.directions;
    for (const std::string& note : summary.skipped) line += "; " + note;
    if (trace.capture->as_fast_as_read) {
      line += "; as fast as read";
    } else if (trace.capture->speed != 1.0) {
      char speed[32];
      std::snprintf(speed, sizeof speed, "%g", trace.capture->speed);
      line += std::string("; ") + speed + " times as fast as recorded";
    } else {
      line += "; as recorded";
    }
    lines.push_back(std::move(line));
    if (!summary.problem.empty()) {
      lines.push_back("warning: " + path + ": " + summary.problem + "; playing the frames before it");
    }
    trace.capture.reset();
  }
  return lines;
}

}  // namespace brisim
