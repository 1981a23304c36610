// SPDX-License-Identifier: BSD-2-Clause
// The LAPD frames of one capture, walked the same way by every program that reads captures.
//
// A walk takes the reader's packets one at a time and turns them into LAPD frames. Packets that
// carry none are skipped: those of an interface of another link type (said once per interface, at
// its first packet), LINUX_LAPD records of another protocol (counted) and LINUX_LAPD records
// shorter than their pseudo-header (damaged; counted, the first one's offset kept). What the walk
// has to say comes as notices: one line each, without the program's and the file's names, which
// the caller puts before them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "capture/capture_reader.h"
#include "capture/lapd_frames.h"

namespace capture {

struct LapdNotice {
  std::string text;
  bool problem = false;  // the capture was not read as it should have been: the run fails
};

// "link type EN10MB (1) carries no LAPD frames (PROGRAM reads LINUX_LAPD (177) and LAPD (203))".
std::string ForeignLinkTypeText(std::uint16_t link_type, const std::string& program);

class LapdCapture {
 public:
  enum class Step { kFrame, kNotice, kEnd };

  // program names the reader in the notice about another link type; given, when set, is the
  // direction of every bare LAPD frame. The reader must outlive the walk.
  LapdCapture(Reader& reader, std::string program, std::size_t max_octets,
              std::optional<std::uint32_t> given = std::nullopt);

  // The next frame (*frame; packet() and interface() are its packet's), or a notice to give now,
  // before the frames after it (*notice), or the end of the capture or of what could be read.
  // After kEnd every further call returns kEnd.
  Step Next(LapdFrame* frame, LapdNotice* notice);

  const Packet& packet() const { return packet_; }
  const Interface& interface() const { return reader_.interfaces()[packet_.interface]; }

  // After kEnd: what was skipped or cut along the way, one notice per kind that occurred.
  std::vector<LapdNotice> Counts() const;
  // After kEnd: why the reading stopped before the capture's end; none when it did not.
  std::optional<LapdNotice> Stop() const;
  ReadStatus status() const { return status_; }

  std::uint64_t frames() const { return frames_; }
  std::uint64_t other_protocol() const { return other_protocol_; }  // LINUX_LAPD records skipped
  std::uint64_t short_records() const { return short_records_; }    // damaged LINUX_LAPD records
  std::uint64_t cut() const { return cut_; }                        // frames cut to max_octets
  // How the frames got their directions.
  const LapdFrames& directions() const { return lapd_; }

 private:
  Reader& reader_;
  std::string program_;
  std::size_t max_octets_;
  LapdFrames lapd_;
  Packet packet_;
  ReadStatus status_ = ReadStatus::kPacket;
  std::set<std::size_t> foreign_said_;  // interfaces of another link type already said
  bool flags_said_ = false;
  bool inference_said_ = false;
  std::optional<LapdFrame> held_;  // a frame that waits behind the notice given before it
  std::uint64_t frames_ = 0;
  std::uint64_t other_protocol_ = 0;
  std::uint64_t cut_ = 0;
  std::uint64_t short_records_ = 0;
  std::uint64_t first_short_at_ = 0;
};

}  // namespace capture
