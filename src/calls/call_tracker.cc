#include "calls/call_tracker.h"

#include <algorithm>
#include <array>

#include "decode/lapd_codes.h"
#include "decode/q931_elements.h"
#include "decode/q931_names.h"

namespace calls {
namespace {

using namespace lapd;  // the LAPD values by their short names

Side Other(Side side) { return side == Side::kUser ? Side::kNetwork : Side::kUser; }

bool IsClearing(std::uint16_t type) {
  return type == q931::kDisconnect || type == q931::kRelease || type == q931::kReleaseComplete;
}

// A channel name that picks one B channel, rather than "any" or "none".
bool Specific(const std::string& channel) { return channel.size() > 1 && channel[0] == 'B'; }

std::string Digits(std::string_view digits) { return std::string(digits.substr(0, kMaxDigits)); }

void AddDetail(std::string& detail, std::string_view part) {
  if (!detail.empty()) detail += ", ";
  detail += part;
}

// What one message says that matters to its call, taken from its codeset 0 elements.
struct MessageFacts {
  std::optional<q931::BearerCapability> bearer;
  std::optional<std::string> calling, called, channel;
  std::optional<CallCause> cause;
};

MessageFacts ReadFacts(ByteSpan body) {
  MessageFacts facts;
  q931::ElementReader reader(body);
  q931::Element element;
  while (reader.Next(&element)) {
    // A cut element's octets are not trusted for what they would have said.
    if (element.single_octet || element.codeset != 0 || element.truncated) continue;
    switch (element.identifier) {
      case q931::kBearerCapability:
        if (!facts.bearer) facts.bearer = q931::DecodeBearerCapability(element.contents);
        break;
      case q931::kCallingPartyNumber:
      case q931::kCalledPartyNumber: {
        const q931::PartyNumber number = q931::DecodePartyNumber(element.identifier, element.contents);
        if (number.status == q931::Status::kShort) break;
        auto& slot = element.identifier == q931::kCallingPartyNumber ? facts.calling : facts.called;
        if (!slot) slot = Digits(number.digits);
        break;
      }
      case q931::kChannelIdentification: {
        const q931::ChannelIdentification id = q931::DecodeChannelIdentification(element.contents);
        if (id.status != q931::Status::kOk || id.channel == q931::Channel::kNone ||
            id.channel == q931::Channel::kD) {
          break;
        }
        std::array<char, 8> buf{};
        facts.channel = std::string(q931::ChannelName(id, buf.data(), buf.size()));
        break;
      }
      case q931::kCause: {
        const q931::Cause cause = q931::DecodeCause(element.contents);
        if (cause.status == q931::Status::kOk && !facts.cause)
          facts.cause = CallCause{cause.value, cause.location};
        break;
      }
      default:
        break;
    }
  }
  return facts;
}

std::string CauseDetail(const CallCause& cause) {
  return "cause " + std::to_string(cause.value) + " " + GetCauseValueInClass(cause.value);
}

// The ladder's key contents of a message.
std::string DetailOf(std::uint16_t type, const MessageFacts& facts) {
  std::string detail;
  if (facts.calling)
    AddDetail(detail, "from " + (facts.calling->empty() ? std::string("?") : *facts.calling));
  if (facts.called) AddDetail(detail, "to " + (facts.called->empty() ? std::string("?") : *facts.called));
  if (type == q931::kSetup && facts.bearer) {
    const char* name = q931::TransferCapabilityName(facts.bearer->transfer_capability);
    if (name != nullptr) AddDetail(detail, name);
  }
  if (facts.channel) AddDetail(detail, *facts.channel);
  if (facts.cause) AddDetail(detail, CauseDetail(*facts.cause));
  return detail;
}

Outcome Decide(const Call& call, bool lost) {
  if (lost && !call.cleared) return Outcome::kLost;
  if (call.answered) return Outcome::kAnswered;
  if (!call.cleared) return Outcome::kOpen;
  if (call.cause) {
    switch (call.cause->value) {
      case 17:
        return Outcome::kBusy;
      case 18:
      case 19:
        return Outcome::kNoAnswer;
      case 21:
        return Outcome::kRejected;
      default:
        break;
    }
  }
  return call.cleared_by == call.placed_by ? Outcome::kCancelled : Outcome::kFailed;
}

}  // namespace

const char* SideName(Side side) { return side == Side::kUser ? "user" : "network"; }

const char* OutcomeName(Outcome outcome) {
  static constexpr std::array<const char*, kOutcomeCount> kNames{
      "answered", "busy", "no answer", "rejected", "cancelled", "failed", "open", "lost"};
  return kNames[static_cast<std::size_t>(outcome)];
}

std::string CauseText(const Call& call) {
  return call.cause ? std::string(GetCauseValueInClass(call.cause->value)) : std::string();
}

Tracker::Tracker(TrackerOptions options, Sink sink) : options_(options), sink_(std::move(sink)) {
  options_.max_open_calls = std::max<std::size_t>(options_.max_open_calls, 1);
}

void Tracker::Feed(const Frame& frame) {
  const ByteSpan octets = frame.octets;
  if (octets.size() < 3) return;
  const std::uint8_t sapi = octets[0] >> 2;
  const std::uint8_t tei = octets[1] >> 1;
  const std::uint8_t control = octets[2];
  if ((control & 0x01) == 0) {  // I frame: two control octets
    if (sapi == kSignallingSapi && octets.size() > 4) OnMessage(frame, tei, false, octets.subspan(4));
    return;
  }
  if ((control & 0x03) == 0x01) return;  // S frame
  switch (control & 0xEF) {
    case kUi:
      if (sapi == kSignallingSapi) {
        OnMessage(frame, tei, tei == kBroadcastTei, octets.subspan(3));
      } else if (sapi == kManagementSapi && octets.size() >= 8 && octets[3] == kTeiManagementEntity &&
                 octets[6] == kIdRemove) {
        OnLinkDown(frame.line, static_cast<std::uint8_t>(octets[7] >> 1), frame.time);
      }
      return;
    case kDm:
    case kDisc:
    case kSabme:
      if (sapi == kSignallingSapi) OnLinkDown(frame.line, tei, frame.time);
      return;
    default:
      return;
  }
}

void Tracker::Finish() {
  while (!calls_.empty()) End(calls_.begin()->first);
}

std::uint64_t* Tracker::Find(const Key& key) {
  const auto it = keys_.find(key);
  return it == keys_.end() ? nullptr : &it->second;
}

void Tracker::OnMessage(const Frame& frame, std::uint8_t tei, bool broadcast_frame, ByteSpan message) {
  std::size_t body_start = 0;
  const std::optional<q931::Header> header = q931::ReadHeader(message, &body_start);
  // The dummy and the global call reference name no call, nor does a value longer than two octets
  // (more than a call reference holds: what it would be cut to is another call's).
  if (!header || header->call_ref_length == 0 || header->call_ref_length > 2 || header->call_ref == 0) return;
  const ByteSpan body = message.subspan(body_start);
  const Side chosen_by = header->call_ref_flag ? Other(frame.from) : frame.from;
  const Key key{frame.line, tei, header->call_ref, header->call_ref_length, chosen_by};

  if (header->message_type == q931::kSetup && !header->call_ref_flag) {
    if (const std::uint64_t* id = Find(key)) {
      State& state = calls_.at(*id);
      // Sent again before the far side said anything: the same call.
      if (!state.far_side_heard && state.call.placed_by == frame.from) {
        Apply(state, *id, frame, tei, header->message_type, body);
        return;
      }
      End(*id);
    }
    StartCall(frame, key, broadcast_frame && frame.from == Side::kNetwork);
    const std::uint64_t id = next_id_ - 1;
    Apply(calls_.at(id), id, frame, tei, header->message_type, body);
    return;
  }

  const std::uint64_t* found = Find(key);
  if (found == nullptr && tei != kBroadcastTei) {
    // A terminal answering a broadcast SETUP on its own TEI.
    Key broadcast = key;
    broadcast.tei = kBroadcastTei;
    const std::uint64_t* joined = Find(broadcast);
    if (joined != nullptr) {
      State& state = calls_.at(*joined);
      if (state.call.broadcast && !state.selected && state.responders.size() < kMaxResponders) {
        state.responders.push_back(tei);
        Key own = key;
        own.line = state.call.line;
        state.keys.push_back(own);
        found = &keys_.emplace(own, *joined).first->second;
      }
    }
  }
  if (found == nullptr) return;
  const std::uint64_t id = *found;
  Apply(calls_.at(id), id, frame, tei, header->message_type, body);
}

void Tracker::StartCall(const Frame& frame, const Key& key, bool broadcast) {
  MakeRoom();
  const std::uint64_t id = next_id_++;
  State& state = calls_[id];
  state.call.line = std::string(key.line);
  state.call.tei = key.tei;
  state.call.call_ref = key.call_ref;
  state.call.broadcast = broadcast;
  state.call.placed_by = frame.from;
  state.call.setup = frame.time;
  state.call.first_tag = frame.tag;
  Key own = key;
  own.line = state.call.line;
  state.keys.push_back(own);
  keys_[own] = id;
}

void Tracker::MakeRoom() {
  if (calls_.size() < options_.max_open_calls) return;
  auto victim = std::find_if(calls_.begin(), calls_.end(),
                             [](const auto& entry) { return !entry.second.far_side_heard; });
  if (victim == calls_.end()) victim = calls_.begin();
  ++pushed_out_;
  End(victim->first);
}

void Tracker::Apply(State& state, std::uint64_t id, const Frame& frame, std::uint8_t tei, std::uint16_t type,
                    ByteSpan body) {
  Call& call = state.call;
  ++call.messages;
  const MessageFacts facts = ReadFacts(body);
  if (options_.keep_ladder) {
    if (call.ladder.size() < options_.max_ladder_rows) {
      call.ladder.push_back(LadderRow{frame.time, frame.from, tei, type, DetailOf(type, facts)});
    } else {
      ++call.ladder_omitted;
    }
  }
  if (frame.from != call.placed_by) state.far_side_heard = true;

  // After a broadcast call settled, the other terminals' messages only clear them.
  if (call.broadcast && state.selected && tei != call.tei) {
    if (type == q931::kReleaseComplete) {
      std::erase(state.responders, tei);
      Key key = state.keys.front();
      key.tei = tei;
      keys_.erase(key);
      std::erase(state.keys, key);
    }
    return;
  }

  if (type == q931::kSetup) {
    if (facts.bearer && !call.bearer)
      call.bearer = q931::TransferCapabilityName(facts.bearer->transfer_capability);
    if (facts.calling && !call.calling) call.calling = facts.calling;
  }
  if (facts.called) {
    // Digits sent after the SETUP (overlap sending) complete the called number.
    if (!call.called) {
      call.called = facts.called;
    } else if (type == q931::kInformation && frame.from == call.placed_by && !call.answered) {
      call.called = Digits(*call.called + *facts.called);
    }
  }
  if (facts.channel) {
    std::string& slot = frame.from == Side::kNetwork ? state.network_channel : state.user_channel;
    if (Specific(*facts.channel) || slot.empty()) slot = *facts.channel;
  }

  switch (type) {
    case q931::kAlerting:
      if (!call.alerting) call.alerting = frame.time;
      break;
    case q931::kConnect:
      if (!call.answered) {
        call.answered = frame.time;
        if (call.broadcast && !state.selected) {
          state.selected = true;
          call.tei = tei;
          // What other terminals said before this one answered does not clear the call.
          call.cleared.reset();
          call.cleared_by.reset();
          call.cause.reset();
        }
      }
      break;
    default:
      break;
  }
  if (!IsClearing(type)) return;
  if (!call.cleared) {
    call.cleared = frame.time;
    call.cleared_by = frame.from;
    call.cause = facts.cause;
  } else if (!call.cause) {
    call.cause = facts.cause;
  }
  if (type != q931::kReleaseComplete) return;
  if (call.broadcast && !state.selected && tei != kBroadcastTei) {
    // One terminal of a broadcast SETUP is done; the call ends when the last one is.
    std::erase(state.responders, tei);
    if (!state.responders.empty()) return;
  }
  call.released = frame.time;
  End(id);
}

void Tracker::OnLinkDown(std::string_view line, std::uint8_t tei, std::uint64_t /*time*/) {
  std::vector<std::uint64_t> ended;
  for (auto& [id, state] : calls_) {
    if (state.call.line != line) continue;
    const bool all = tei == kBroadcastTei;
    if (state.call.broadcast && !state.selected && !all) {
      // A terminal that answered a broadcast SETUP went away: the others may still answer.
      if (std::find(state.responders.begin(), state.responders.end(), tei) == state.responders.end())
        continue;
      std::erase(state.responders, tei);
      Key key = state.keys.front();
      key.tei = tei;
      keys_.erase(key);
      std::erase(state.keys, key);
      continue;
    }
    if (!all && state.call.tei != tei) continue;
    state.lost = true;
    ended.push_back(id);
  }
  for (const std::uint64_t id : ended) End(id);
}

void Tracker::End(std::uint64_t id) {
  const auto it = calls_.find(id);
  if (it == calls_.end()) return;
  State& state = it->second;
  Call& call = state.call;
  // The network's choice of B channel, else the terminal's, else "any" as either said it.
  if (Specific(state.network_channel) || (!Specific(state.user_channel) && !state.network_channel.empty())) {
    call.channel = state.network_channel;
  } else {
    call.channel = state.user_channel;
  }
  call.outcome = Decide(call, state.lost);
  for (const Key& key : state.keys) {
    const auto k = keys_.find(key);
    if (k != keys_.end() && k->second == id) keys_.erase(k);
  }
  Call done = std::move(call);
  calls_.erase(it);
  if (sink_) sink_(std::move(done));
}

}  // namespace calls
