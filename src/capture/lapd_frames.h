// SPDX-License-Identifier: BSD-2-Clause
// LAPD frames in capture files, and which side sent each of them.
//
// Two link types carry LAPD frames:
//   LINKTYPE_LINUX_LAPD (177): a 16-byte pseudo-header before the frame: packet type (2 octets,
//     big-endian; 4 = sent by the capturing side), ARPHRD type (2), address length (2), address
//     (8; its first octet is 1 when the capturing side was the network side), protocol (2, 0x0030).
//     The packet type and the capturing side together tell which side sent the frame.
//   LINKTYPE_LAPD (203): the bare frame. The packet's pcapng inbound/outbound flag tells the side
//     when there is one (inbound: sent by the network, outbound: sent by the user side, as the
//     common dissectors show them); else the side is inferred from the frame's command/response
//     polarity.
// Directions are the trace entry's: 0 for a frame of the user side, 1 for one of the network side.
#pragma once

#include <bitset>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "capture/capture_reader.h"
#include "base/bytes.h"

namespace capture {

inline constexpr std::uint16_t kLinkTypeLinuxLapd = 177;
inline constexpr std::uint16_t kLinkTypeLapd = 203;
inline constexpr std::size_t kLinuxLapdHeaderSize = 16;
inline constexpr std::uint16_t kLapdProtocol = 0x0030;

// FILETIME of 1970-01-01 00:00:00 UTC, the origin of capture times.
inline constexpr std::uint64_t kUnixEpochFileTime = 116444736000000000ull;

// A capture time (seconds and nanoseconds since 1970, UTC) as a FILETIME (100-ns ticks since
// 1601). Times before 1601 give 0.
std::uint64_t FileTimeFromCaptureTime(std::int64_t seconds, std::int64_t nanoseconds);

// The name of a link type for messages: "EN10MB (1)", or the number alone when not known here.
std::string LinkTypeName(std::uint16_t link_type);

// What a LINKTYPE_LINUX_LAPD pseudo-header says about its frame.
struct LinuxLapdHeader {
  bool lapd = false;            // protocol 0x0030
  std::uint32_t direction = 0;  // 1 when the network side sent the frame, 0 for the user side
};

// Reads the pseudo-header at the start of a record; false when the record is shorter than it.
bool ReadLinuxLapdHeader(ByteSpan record, LinuxLapdHeader* out);

// Appends the pseudo-header of a frame captured on the user side and sent by the given side.
void AppendLinuxLapdHeader(std::vector<std::uint8_t>& out, std::uint32_t direction);

// The direction a pcapng flag gives, when it gives one.
std::optional<std::uint32_t> DirectionFromFlag(PacketDirection flag);
// The flag for a trace entry's direction.
PacketDirection FlagFromDirection(std::uint32_t direction);

// How the directions were inferred.
struct InferenceCounts {
  std::uint64_t by_kind = 0;    // I, UI, SABME, DISC (commands); UA, DM, FRMR (responses)
  std::uint64_t by_poll = 0;    // RR, RNR, REJ, XID and unknown U frames: by the poll/final bit
  std::uint64_t too_short = 0;  // no control field: taken as the user side
};

// Directions of bare LAPD frames from their command/response polarity, frame after frame of one
// line. A user-side command and a network-side response carry C/R 0; a network-side command and a
// user-side response C/R 1. The frame kind tells command from response for I, UI, SABME and DISC
// (commands) and UA, DM and FRMR (responses). Supervisory and XID frames may be either: one with
// the P/F bit clear is taken as a response (an acknowledgement), one with the bit set as the
// response to a command on the same link (SAPI and TEI) that had the poll bit set and has not been
// answered yet, else as a command.
class DirectionInference {
 public:
  // The direction of the next frame. A direction known from elsewhere is returned as it is and
  // only teaches the inference which polls are pending.
  std::uint32_t Next(ByteSpan frame, std::optional<std::uint32_t> known = std::nullopt);
  const InferenceCounts& counts() const { return counts_; }

 private:
  std::bitset<65536> poll_pending_;  // per link: a command with the poll bit awaits its answer
  InferenceCounts counts_;
};

std::vector<std::uint32_t> InferDirections(const std::vector<std::vector<std::uint8_t>>& frames,
                                           InferenceCounts* counts);

// "directions inferred from command/response polarity (N by frame kind, M by poll/final bit)".
std::string DescribeInference(const InferenceCounts& counts);

// Where a frame's direction came from.
enum class DirectionSource { kPseudoHeader, kFlag, kInferred, kGiven };

struct LapdFrame {
  ByteSpan octets;  // the LAPD frame, address first, cut to max_octets
  std::uint32_t direction = 0;
  DirectionSource source = DirectionSource::kInferred;
  std::uint64_t file_time = 0;  // FILETIME of the capture time
  bool cut = false;             // the frame was longer than max_octets
};

// Why a packet gave no LAPD frame.
enum class SkipReason {
  kNone,
  kOtherLinkType,  // an interface of a link type that carries no LAPD
  kOtherProtocol,  // a LINUX_LAPD record of another protocol
  kShortRecord,    // a LINUX_LAPD record shorter than its pseudo-header: damaged
};

// Turns the packets of one capture into LAPD frames, one inference per interface.
class LapdFrames {
 public:
  // given: a direction for every bare LAPD frame, overriding flags and inference.
  explicit LapdFrames(std::size_t max_octets, std::optional<std::uint32_t> given = std::nullopt)
      : max_octets_(max_octets), given_(given) {}

  // False for a packet of a link type that carries no LAPD, and for a LINUX_LAPD record too short
  // for its pseudo-header or of another protocol; why, when given, then says which.
  bool Take(const Packet& packet, const Interface& interface, LapdFrame* frame, SkipReason* why = nullptr);

  // Counts over all packets taken so far.
  std::uint64_t by_flag = 0;
  std::uint64_t by_header = 0;
  std::uint64_t by_given = 0;
  InferenceCounts inferred;

 private:
  std::size_t max_octets_;
  std::optional<std::uint32_t> given_;
  std::map<std::size_t, DirectionInference> inference_;
};

}  // namespace capture
