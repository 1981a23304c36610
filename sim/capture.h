// Capture files as a source of trace frames: a line's trace can play the D-channel frames of a
// pcap or pcapng file written by another system, with their capture times as the entries'
// FILETIME stamps and their recorded spacing (or a faster pace) as the moments they appear.
//
// Two link types carry LAPD frames:
//   LINKTYPE_LINUX_LAPD (177): a 16-byte pseudo-header before the frame: packet type (2 octets,
//     big-endian; 4 = sent by the capturing side), ARPHRD type (2), address length (2), address
//     (8; its first octet is 1 when the capturing side was the network side), protocol (2, 0x0030).
//     The packet type and the capturing side together tell which side sent the frame.
//   LINKTYPE_LAPD (203): the bare frame, no direction. The direction is the one the scenario gives,
//     or is inferred from the frame's command/response polarity (InferDirections).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/bytes.h"
#include "scenario.h"

namespace brisim {

inline constexpr int kLinkTypeLinuxLapd = 177;
inline constexpr int kLinkTypeLapd = 203;
inline constexpr std::size_t kLinuxLapdHeaderSize = 16;
inline constexpr std::uint16_t kLapdProtocol = 0x0030;

// FILETIME of 1970-01-01 00:00:00 UTC, the origin of capture times.
inline constexpr std::uint64_t kUnixEpochFileTime = 116444736000000000ull;

// A capture time (seconds and nanoseconds since 1970, UTC) as a FILETIME (100-ns ticks since
// 1601). Times before 1601 give 0.
std::uint64_t FileTimeFromCaptureTime(std::int64_t seconds, std::int64_t nanoseconds);

// What a LINKTYPE_LINUX_LAPD pseudo-header says about its frame.
struct LinuxLapdHeader {
  bool lapd = false;          // protocol 0x0030
  std::uint32_t direction = 0;  // 1 when the network side sent the frame, 0 for the user side
};

// Reads the pseudo-header at the start of a record; false when the record is shorter than it.
bool ReadLinuxLapdHeader(ByteSpan record, LinuxLapdHeader* out);

// How InferDirections decided.
struct InferenceCounts {
  std::uint64_t by_kind = 0;      // I, UI, SABME, DISC (commands); UA, DM, FRMR (responses)
  std::uint64_t by_poll = 0;      // RR, RNR, REJ, XID and unknown U frames: by the poll/final bit
  std::uint64_t too_short = 0;    // no control field: taken as the user side
};

// Directions of bare LAPD frames from their command/response polarity. A user-side command and a
// network-side response carry C/R 0; a network-side command and a user-side response C/R 1. The
// frame kind tells command from response for I, UI, SABME and DISC (commands) and UA, DM and FRMR
// (responses). Supervisory and XID frames may be either: one with the P/F bit clear is taken as a
// response (an acknowledgement), one with the bit set as the response to a command on the same
// link (SAPI and TEI) that had the poll bit set and has not been answered yet, else as a command.
std::vector<std::uint32_t> InferDirections(const std::vector<Bytes>& frames, InferenceCounts* counts);

// What reading one capture found, for the line brisim prints about it.
struct CaptureSummary {
  int link_type = 0;
  std::uint64_t frames = 0;
  std::uint64_t not_lapd = 0;     // LINKTYPE_LINUX_LAPD records of another protocol, or cut short
  std::uint64_t cut_to_260 = 0;   // frames longer than a trace entry holds, cut to 260 octets
  std::string directions;         // how the frames got their directions
};

// Reads a capture file and returns its frames as trace frames paced by the capture: at_ms from the
// first frame's capture time divided by the speed (all at start_ms when as fast as read),
// filetime from the capture time. Throws ScenarioError naming the capture's key on a file that
// cannot be read or a link type other than the two above.
std::vector<FrameSpec> ReadCapture(const CaptureSpec& capture, const std::string& path, CaptureSummary* summary);

// Reads every capture a scenario names, relative paths from base_dir, and appends their frames to
// their traces; a trace played as fast as read becomes paced by its reader. Returns one line per
// capture, saying what was read and how the directions were found.
std::vector<std::string> LoadCaptures(Scenario& scenario, const std::string& base_dir);

}  // namespace brisim
