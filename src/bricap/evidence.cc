#include "bricap/evidence.h"

#include <algorithm>
#include <utility>

#include "decode/lapd_codes.h"
#include "decode/q931_names.h"

namespace bricap {
namespace {

using namespace lapd;  // the LAPD values by their short names

std::string LinkName(std::string_view line, std::uint8_t tei) {
  return "the data link of TEI " + std::to_string(tei) + " on line '" + std::string(line) + "'";
}

}  // namespace

bool IsNormalClearing(std::uint8_t cause) { return cause == 16 || cause == 31; }

bool CallFailed(const calls::Call& call) {
  switch (call.outcome) {
    case calls::Outcome::kOpen:
      return false;
    case calls::Outcome::kAnswered:
    case calls::Outcome::kCancelled:
      // An answered call that was still up when the capture ended was not cleared at all.
      return call.cleared.has_value() && (!call.cause || !IsNormalClearing(call.cause->value));
    default:
      return true;
  }
}

std::string CallFailureText(const calls::Call& call) {
  std::string text = "a call on line '" + call.line + "' (TEI " + std::to_string(call.tei) +
                     ", call reference " + std::to_string(call.call_ref) + ") ended " +
                     calls::OutcomeName(call.outcome);
  if (call.cause) {
    text +=
        ", cause " + std::to_string(call.cause->value) + " (" + GetCauseValueInClass(call.cause->value) + ")";
  } else if (call.cleared) {
    text += ", cleared without a cause";
  }
  return text;
}

std::string LinkWatch::Feed(std::string_view line, ByteSpan octets) {
  if (octets.size() < 3) return {};
  const std::uint8_t sapi = octets[0] >> 2;
  const std::uint8_t tei = octets[1] >> 1;
  const std::uint8_t control = octets[2];
  const bool u_frame = (control & 0x03) == 0x03;
  if (sapi == kManagementSapi && u_frame && (control & 0xEF) == kUi && octets.size() >= 8 &&
      octets[3] == kTeiManagementEntity && octets[6] == kIdRemove) {
    return RemoveTei(line, static_cast<std::uint8_t>(octets[7] >> 1));
  }
  if (sapi != kSignallingSapi || tei >= kBroadcastTei) return {};
  if (u_frame) return Change(line, tei, control);
  // An I or S frame: the link is in multiple frame operation, even when its SABME came before the
  // capture began.
  auto it = links_.find(line);
  if (it == links_.end()) it = links_.emplace(std::string(line), Links{}).first;
  if (it->second[tei] == State::kDown) it->second[tei] = State::kUp;
  return {};
}

std::string LinkWatch::Change(std::string_view line, std::uint8_t tei, std::uint8_t control) {
  auto it = links_.find(line);
  if (it == links_.end()) it = links_.emplace(std::string(line), Links{}).first;
  State& state = it->second[tei];
  const State before = state;
  switch (control & 0xEF) {
    case kSabme:
      state = State::kEstablishing;
      if (before == State::kUp) return LinkName(line, tei) + " was reset (SABME in multiple frame operation)";
      return {};
    case kUa:
      if (before == State::kEstablishing) state = State::kUp;
      if (before == State::kReleasing) state = State::kDown;
      return {};
    case kDisc:
      state = State::kReleasing;
      return {};
    case kDm:
      state = State::kDown;
      if (before == State::kUp) return LinkName(line, tei) + " went down (DM)";
      if (before == State::kEstablishing) return LinkName(line, tei) + " could not be established (DM)";
      return {};
    case kFrmr:
      return LinkName(line, tei) + " rejected a frame (FRMR)";
    default:
      return {};
  }
}

std::string LinkWatch::RemoveTei(std::string_view line, std::uint8_t tei) {
  const auto it = links_.find(line);
  if (it == links_.end()) return {};
  std::string reason;
  for (std::uint8_t t = 0; t < kBroadcastTei; ++t) {
    if (tei != kBroadcastTei && t != tei) continue;
    State& state = it->second[t];
    if ((state == State::kUp || state == State::kEstablishing) && reason.empty()) {
      reason = LinkName(line, t) + " lost its TEI (identity remove)";
    }
    state = State::kDown;
  }
  return reason;
}

EvidenceWatch::EvidenceWatch()
    : tracker_(calls::TrackerOptions{}, [this](calls::Call&& call) {
        if (CallFailed(call)) Mark(call.first_tag, CallFailureText(call));
      }) {}

void EvidenceWatch::Feed(const WrittenFrame& frame) {
  current_file_ = frame.file;
  tracker_.Feed(calls::Frame{frame.line, frame.time,
                             frame.from_network ? calls::Side::kNetwork : calls::Side::kUser, frame.octets,
                             frame.file});
  const std::string reason = links_.Feed(frame.line, frame.octets);
  if (!reason.empty()) Mark(frame.file, reason);
}

void EvidenceWatch::Finish() { tracker_.Finish(); }

std::vector<EvidenceWatch::Marked> EvidenceWatch::TakeMarked() { return std::exchange(marked_, {}); }

void EvidenceWatch::Mark(std::uint64_t first, const std::string& reason) {
  const std::uint64_t last = current_file_;
  first = std::min(first, last);
  if (!marked_.empty() && first <= marked_.back().last + 1) {
    Marked& back = marked_.back();
    back.first = std::min(back.first, first);
    back.last = std::max(back.last, last);
    return;
  }
  marked_.push_back(Marked{first, last, reason});
}

}  // namespace bricap
