// SPDX-License-Identifier: BSD-2-Clause
// Calls as text: the call log, JSON Lines, CSV, the text ladder diagram and a self-contained HTML
// page. Everything appends to or returns a caller's string; nothing is written anywhere.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "calls/call_tracker.h"

namespace calls {

// A FILETIME as UTC in RFC 3339 with milliseconds: "2026-12-09T01:45:00.123Z".
void AppendUtcTime(std::string& out, std::uint64_t file_time);
// A FILETIME as local time the way lapmon's time-stamp lines show it: "HH:MM:SS:mm".
void AppendLocalClock(std::string& out, std::uint64_t file_time);

// The call log: a header line, then one aligned line per call.
std::string CallLogHeader();
void AppendCallLogLine(std::string& out, const Call& call);

// One JSON object per call on a line of its own, with the keys of lapdecode.1.
void AppendCallJson(std::string& out, const Call& call);

// CSV: the JSON keys as a header row, then one row per call (null as an empty field).
std::string CallCsvHeader();
void AppendCallCsv(std::string& out, const Call& call);

// The ladder diagram of one call (kept with TrackerOptions::keep_ladder): the user side on the
// left, the network side on the right, one row per message with an arrow the way it went.
void AppendLadder(std::string& out, const Call& call);

// Counts over the calls that ended.
class Summary {
 public:
  void Add(const Call& call);
  std::uint64_t calls() const { return calls_; }
  std::uint64_t count(Outcome outcome) const { return outcomes_[static_cast<std::size_t>(outcome)]; }
  // "Calls: 3, answered: 1" and the counts of each outcome and cause, one line each.
  std::string Text() const;

 private:
  std::uint64_t calls_ = 0;
  std::array<std::uint64_t, kOutcomeCount> outcomes_{};
  std::map<std::uint8_t, std::uint64_t> causes_;
};

// At most this many calls are drawn in one HTML page; the summary counts all of them.
inline constexpr std::size_t kMaxHtmlCalls = 5000;

// The HTML page: the call table, each row linking to its ladder, then one sequence diagram per
// call (inline SVG and CSS, nothing fetched). omitted: calls that ended but are not drawn.
std::string FormatHtmlPage(std::string_view title, const std::vector<Call>& calls, const Summary& summary,
                           std::uint64_t omitted);

}  // namespace calls
