// SPDX-License-Identifier: BSD-2-Clause
// --keep-failed: which files of a ring hold evidence of a fault and are kept out of the rotation.
//
// The frames written into the files are followed as they go in: calls through the call tracker,
// and each data link (SAPI 0, one per line and TEI) through its LAPD frames. A file is marked
//  - for a call that failed (see CallFailed): every file from the one holding its SETUP to the one
//    holding the frame that ended it (its RELEASE COMPLETE, or the frame that took its data link
//    down), so that the whole call is kept;
//  - for a data link that was lost (see LinkWatch): the file holding the frame that shows it.
// Entries the driver dropped mark nothing: they are a fault of the capture, counted in the file's
// statistics, not one of the line, and a busy line that overruns the driver would otherwise keep
// every file of the ring.
//
// Memory: the call tracker's bound of open calls, one state per data link seen (at most 128 TEIs
// a line) and the ranges of files marked and not yet taken (a range that meets the one before is
// merged with it, and every range ends at the file being written, so they stay few).
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "base/bytes.h"
#include "calls/call_tracker.h"

namespace bricap {

// Cause values of a normal clearing: 16 normal call clearing, 31 normal, unspecified.
bool IsNormalClearing(std::uint8_t cause);

// Whether a call that ended is evidence of a fault: every outcome but `answered`, `cancelled` and
// `open`; an answered or cancelled call that was cleared with a cause other than a normal
// clearing, or without a cause at all (the first clearing message must carry one). A call still
// open when the capture ends, or pushed out of a full table of open calls, failed at nothing seen.
bool CallFailed(const calls::Call& call);

// Why a call is evidence, for a person: "a call on line 'L' ended busy (cause 17)".
std::string CallFailureText(const calls::Call& call);

// Follows the data links of the lines through their LAPD frames and tells when one is lost: a
// SABME on a link in multiple frame operation (the link is reset), a DM answering a SABME or
// sent on an established link, an FRMR, or the TEI of an established link removed. A link
// released by DISC and UA, or a SABME on a link not yet seen, loses nothing.
class LinkWatch {
 public:
  // The frame (address first) of `line`; the reason when it shows a link lost, else empty.
  std::string Feed(std::string_view line, ByteSpan octets);

 private:
  enum class State : std::uint8_t { kDown, kEstablishing, kUp, kReleasing };
  using Links = std::array<State, 127>;  // by TEI
  std::string Change(std::string_view line, std::uint8_t tei, std::uint8_t control);
  std::string RemoveTei(std::string_view line, std::uint8_t tei);

  std::map<std::string, Links, std::less<>> links_;  // by line: as many as are traced
};

// One frame as written into a file of the ring.
struct WrittenFrame {
  std::uint64_t file = 0;  // the file's number in the set
  std::string_view line;
  std::uint64_t time = 0;  // FILETIME
  bool from_network = false;
  ByteSpan octets;
};

// Marks the files of a ring that hold evidence.
class EvidenceWatch {
 public:
  EvidenceWatch();
  EvidenceWatch(const EvidenceWatch&) = delete;
  EvidenceWatch& operator=(const EvidenceWatch&) = delete;

  void Feed(const WrittenFrame& frame);
  // The capture ends: the calls still open end (as `open`, marking nothing).
  void Finish();
  struct Marked {
    std::uint64_t first = 0, last = 0;  // file numbers, both included
    std::string reason;                 // the first one found
  };
  // The files marked since the last call, taken.
  std::vector<Marked> TakeMarked();

 private:
  void Mark(std::uint64_t first, const std::string& reason);

  calls::Tracker tracker_;
  LinkWatch links_;
  std::uint64_t current_file_ = 0;
  std::vector<Marked> marked_;
};

}  // namespace bricap
