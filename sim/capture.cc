#include "capture.h"
#include "capture_file.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <map>
#include <memory>
#include <optional>

#include "decode/trace_entry.h"

namespace brisim {
namespace {

constexpr std::int64_t kMaxAtMs = std::int64_t{1} << 40;  // as the scenario reader allows
constexpr std::uint16_t kPacketOutgoing = 4;              // sent by the capturing side

// Control octets with the P/F bit (0x10) cleared.
constexpr std::uint8_t kUi = 0x03, kDm = 0x0F, kDisc = 0x43, kUa = 0x63, kSabme = 0x6F, kFrmr = 0x87;

enum class Role { kCommand, kResponse, kEither };

// What the frame's kind says; the P/F bit of the frame (poll in a command, final in a response).
Role RoleOf(ByteSpan frame, bool* pf) {
  const std::uint8_t c1 = frame[2];
  if ((c1 & 0x01) == 0) {  // I frame: always a command
    *pf = frame.size() > 3 && (frame[3] & 0x01) != 0;
    return Role::kCommand;
  }
  if ((c1 & 0x03) == 0x01) {  // supervisory
    *pf = frame.size() > 3 && (frame[3] & 0x01) != 0;
    return Role::kEither;
  }
  *pf = (c1 & 0x10) != 0;
  switch (c1 & ~0x10 & 0xFF) {
    case kUi:
    case kSabme:
    case kDisc: return Role::kCommand;
    case kUa:
    case kDm:
    case kFrmr: return Role::kResponse;
    default: return Role::kEither;  // XID, and U frames the protocol does not define
  }
}

std::string Describe(const InferenceCounts& c) {
  std::string text = "directions inferred from command/response polarity (" + std::to_string(c.by_kind) +
                     " by frame kind, " + std::to_string(c.by_poll) + " by poll/final bit";
  if (c.too_short > 0) text += ", " + std::to_string(c.too_short) + " without control field taken as T";
  return text + ")";
}

std::string JoinPath(const std::string& base, const std::string& file) {
  if (file.empty() || file[0] == '/' || base.empty()) return file;
  return base.back() == '/' ? base + file : base + "/" + file;
}

}  // namespace

std::uint64_t FileTimeFromCaptureTime(std::int64_t seconds, std::int64_t nanoseconds) {
  // 100-ns ticks; kept in signed arithmetic until the result is known to be in range.
  constexpr std::int64_t kTicksPerSecond = 10000000;
  constexpr auto kEpochSeconds = static_cast<std::int64_t>(kUnixEpochFileTime / 10000000);
  constexpr std::int64_t kMaxSeconds = std::numeric_limits<std::int64_t>::max() / kTicksPerSecond - kEpochSeconds - 1;
  seconds += nanoseconds / 1000000000;
  nanoseconds %= 1000000000;
  if (nanoseconds < 0) {
    nanoseconds += 1000000000;
    seconds -= 1;
  }
  if (seconds < -kEpochSeconds) return 0;
  if (seconds > kMaxSeconds) return static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
  return static_cast<std::uint64_t>((seconds + kEpochSeconds) * kTicksPerSecond + nanoseconds / 100);
}

bool ReadLinuxLapdHeader(ByteSpan record, LinuxLapdHeader* out) {
  if (record.size() < kLinuxLapdHeaderSize) return false;
  const auto packet_type = static_cast<std::uint16_t>((record[0] << 8) | record[1]);
  const auto protocol = static_cast<std::uint16_t>((record[14] << 8) | record[15]);
  const bool capturer_is_network = record[6] != 0;
  const bool sent_by_capturer = packet_type == kPacketOutgoing;
  out->lapd = protocol == kLapdProtocol;
  // The network side sent it when the capturing side is the network and sent it, or is the user
  // and received it.
  out->direction = sent_by_capturer == capturer_is_network ? 1u : 0u;
  return true;
}

std::vector<std::uint32_t> InferDirections(const std::vector<Bytes>& frames, InferenceCounts* counts) {
  std::vector<std::uint32_t> out;
  out.reserve(frames.size());
  // Per link (address octets with C/R cleared): a command with the poll bit set awaits its answer.
  std::map<std::uint16_t, bool> poll_pending;
  for (const Bytes& f : frames) {
    if (f.size() < 3) {
      ++counts->too_short;
      out.push_back(0);
      continue;
    }
    const auto link = static_cast<std::uint16_t>(((f[0] & ~0x02 & 0xFF) << 8) | f[1]);
    const bool cr = (f[0] & 0x02) != 0;
    bool pf = false;
    Role role = RoleOf(f, &pf);
    if (role == Role::kEither) {
      ++counts->by_poll;
      role = !pf || poll_pending[link] ? Role::kResponse : Role::kCommand;
    } else {
      ++counts->by_kind;
    }
    if (role == Role::kCommand) {
      poll_pending[link] = pf;
      out.push_back(cr ? 1u : 0u);  // network commands carry C/R 1
    } else {
      poll_pending[link] = false;
      out.push_back(cr ? 0u : 1u);  // network responses carry C/R 0
    }
  }
  return out;
}

std::vector<FrameSpec> ReadCapture(const CaptureSpec& capture, const std::string& path, CaptureSummary* summary) {
  int link_type = 0;
  std::vector<CaptureRecord> records = ReadCaptureRecords(capture.key, path, &link_type);
  if (link_type != kLinkTypeLinuxLapd && link_type != kLinkTypeLapd) {
    throw ScenarioError(capture.key + ": " + path + ": link type " + std::to_string(link_type) +
                        " carries no LAPD frames (expected 177 LINUX_LAPD or 203 LAPD)");
  }
  *summary = CaptureSummary{};
  summary->link_type = link_type;

  std::vector<Bytes> octets;
  std::vector<std::uint32_t> directions;
  std::vector<std::pair<std::int64_t, std::int64_t>> times;  // seconds, nanoseconds
  for (const CaptureRecord& captured : records) {
    ByteSpan record(captured.data);
    if (link_type == kLinkTypeLinuxLapd) {
      LinuxLapdHeader lapd;
      if (!ReadLinuxLapdHeader(record, &lapd) || !lapd.lapd) {
        ++summary->not_lapd;
        continue;
      }
      directions.push_back(lapd.direction);
      record = record.subspan(kLinuxLapdHeaderSize);
    }
    if (record.size() > kFrameDataSize) {
      ++summary->cut_to_260;
      record = record.first(kFrameDataSize);
    }
    octets.emplace_back(record.begin(), record.end());
    times.emplace_back(captured.seconds, captured.nanoseconds);
  }

  if (link_type == kLinkTypeLinuxLapd) {
    summary->directions = "directions from the capture's pseudo-header";
  } else if (capture.direction) {
    directions.assign(octets.size(), *capture.direction);
    summary->directions = "direction " + std::to_string(*capture.direction) + " given for every frame";
  } else {
    InferenceCounts counts;
    directions = InferDirections(octets, &counts);
    summary->directions = Describe(counts);
  }

  std::vector<FrameSpec> frames(octets.size());
  for (std::size_t i = 0; i < frames.size(); ++i) {
    FrameSpec& f = frames[i];
    f.octets = std::move(octets[i]);
    f.direction = directions[i];
    f.filetime = FileTimeFromCaptureTime(times[i].first, times[i].second);
    f.at_ms = capture.start_ms;
    if (!capture.as_fast_as_read) {
      const double ns = static_cast<double>(times[i].first - times.front().first) * 1e9 +
                        static_cast<double>(times[i].second - times.front().second);
      const double ms = std::clamp(ns / 1e6 / capture.speed, 0.0, static_cast<double>(kMaxAtMs));
      f.at_ms = std::min<std::int64_t>(capture.start_ms + static_cast<std::int64_t>(std::llround(ms)), kMaxAtMs);
    }
  }
  summary->frames = frames.size();
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

    std::string line = "line " + std::to_string(i + 1) + " (" + scenario.lines[i].name + ") plays " + path + ": " +
                       std::to_string(summary.frames) + " frames, link type " + std::to_string(summary.link_type) +
                       ", " + summary.directions;
    if (summary.not_lapd > 0) line += "; " + std::to_string(summary.not_lapd) + " records without LAPD skipped";
    if (summary.cut_to_260 > 0) line += "; " + std::to_string(summary.cut_to_260) + " frames cut to 260 octets";
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
    trace.capture.reset();
  }
  return lines;
}

}  // namespace brisim
