// SPDX-License-Identifier: BSD-2-Clause
// Capture files as a source of trace frames: a line's trace can play the D-channel frames of a
// pcap or pcapng file written by another system, with their capture times as the entries'
// FILETIME stamps and their recorded spacing (or a faster pace) as the moments they appear.
//
// The file is read by the capture module (src/capture), which also tells each frame's side:
// LINKTYPE_LINUX_LAPD (177) from its pseudo-header; LINKTYPE_LAPD (203) from the direction the
// scenario gives, else from the packet's inbound/outbound flag, else inferred from the frame's
// command/response polarity. A file cut short (or damaged part way) plays the frames before the
// cut and says so.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/bytes.h"
#include "capture/lapd_frames.h"
#include "scenario.h"

namespace brisim {

using capture::FileTimeFromCaptureTime;
using capture::InferDirections;
using capture::InferenceCounts;
using capture::kLapdProtocol;
using capture::kLinkTypeLapd;
using capture::kLinkTypeLinuxLapd;
using capture::kLinuxLapdHeaderSize;
using capture::kUnixEpochFileTime;
using capture::LinuxLapdHeader;
using capture::ReadLinuxLapdHeader;

// What reading one capture found, for the line brisim prints about it.
struct CaptureSummary {
  int link_type = 0;
  std::uint64_t frames = 0;
  std::uint64_t not_lapd = 0;        // LINKTYPE_LINUX_LAPD records of another protocol
  std::uint64_t damaged = 0;         // LINKTYPE_LINUX_LAPD records shorter than their pseudo-header
  std::uint64_t cut_to_260 = 0;      // frames longer than a trace entry holds, cut to 260 octets
  std::string directions;            // how the frames got their directions
  std::vector<std::string> skipped;  // what was skipped, one note each, as lapdecode says it
  std::string problem;               // why the reading stopped before the file's end; empty when it did not
};

// Reads a capture file and returns its frames as trace frames paced by the capture: at_ms from the
// first frame's capture time divided by the speed (all at start_ms when as fast as read),
// filetime from the capture time. Throws ScenarioError naming the capture's key on a file that
// cannot be read, is no capture, or has no interface of the two link types above. A file cut
// short or damaged part way gives the frames before that point and says why in summary->problem.
// The file is read block by block as lapdecode reads it, so that neither its length nor a length
// field inside it can drive memory (only the frames kept do).
std::vector<FrameSpec> ReadCapture(const CaptureSpec& capture, const std::string& path,
                                   CaptureSummary* summary);

// Reads every capture a scenario names, relative paths from base_dir, and appends their frames to
// their traces; a trace played as fast as read becomes paced by its reader. Returns one line per
// capture, saying what was read and how the directions were found, and one more for a capture that
// ends early.
std::vector<std::string> LoadCaptures(Scenario& scenario, const std::string& base_dir);

}  // namespace brisim
