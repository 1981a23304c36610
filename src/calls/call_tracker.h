// SPDX-License-Identifier: BSD-2-Clause
// Calls followed through the Q.931 messages of captured D-channel frames.
//
// The tracker is fed one LAPD frame at a time and hands each call to its caller's sink when the
// call ends. A call lives on one data link (line and TEI) and is named by its call reference value
// together with the side that chose it: the flag of the call reference tells whether a message
// comes from the side that sent the SETUP, so the same value chosen by each side names two calls.
// A value is free again once its call has ended; the next SETUP with it starts a new call.
//
// A SETUP that the network broadcasts (SAPI 0, TEI 127, UI frame) is joined by the answers of the
// terminals that respond with the same call reference value on their own TEIs. The call settles on
// the terminal whose CONNECT came first; the messages that clear the other terminals are counted
// with the call but decide nothing.
//
// Memory: one record per open call, and at most kDefaultMaxOpenCalls of them (a SETUP beyond that
// ends, as `open`, the oldest call that its far side never answered, else the oldest call). So a
// flood of bogus SETUPs pushes out only other unanswered SETUPs, never a call in progress. Numbers
// are kept to kMaxDigits characters and ladders to max_ladder_rows rows per call.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/bytes.h"

namespace calls {

enum class Side : std::uint8_t { kUser, kNetwork };
const char* SideName(Side side);  // "user", "network"

enum class Outcome : std::uint8_t {
  kAnswered,
  kBusy,
  kNoAnswer,
  kRejected,
  kCancelled,
  kFailed,
  kOpen,
  kLost
};
inline constexpr int kOutcomeCount = 8;
// "answered", "busy", "no answer", "rejected", "cancelled", "failed", "open", "lost".
const char* OutcomeName(Outcome outcome);

struct CallCause {
  std::uint8_t value = 0;
  std::uint8_t location = 0;
};

// One Q.931 message of a call, for its ladder diagram.
struct LadderRow {
  std::uint64_t time = 0;  // FILETIME
  Side from = Side::kUser;
  std::uint8_t tei = 0;
  std::uint16_t message_type = 0;
  std::string detail;  // key contents: numbers on SETUP, the B channel, the cause
};

struct Call {
  std::string line;
  std::uint8_t tei = 0;  // the answering terminal's for a broadcast SETUP; 127 while none answered
  std::uint16_t call_ref = 0;
  bool broadcast = false;
  Side placed_by = Side::kUser;  // user: an outgoing call ("out"); network: incoming ("in")
  std::optional<std::string> calling, called;
  const char* bearer = nullptr;  // the transfer capability's name; nullptr when absent or unknown
  std::string channel;           // "B1", "B2", "any", ...; empty when none was given
  std::optional<std::uint64_t> setup, alerting, answered, cleared, released;  // FILETIMEs
  std::optional<Side> cleared_by;
  std::optional<CallCause> cause;
  Outcome outcome = Outcome::kOpen;
  std::uint32_t messages = 0;
  std::vector<LadderRow> ladder;  // kept only when the tracker is asked to
  std::uint32_t ladder_omitted = 0;
  std::uint64_t first_tag = 0;  // the tag of the frame that started the call
};

// The cause's text from the Q.931 name tables; empty without a cause.
std::string CauseText(const Call& call);

// A LAPD frame as captured: address first.
struct Frame {
  std::string_view line;
  std::uint64_t time = 0;  // FILETIME
  Side from = Side::kUser;
  ByteSpan octets;
  std::uint64_t tag = 0;  // the caller's own mark (bricap: the file the frame went into)
};

inline constexpr std::size_t kDefaultMaxOpenCalls = 1024;
inline constexpr std::size_t kMaxDigits = 32;
inline constexpr std::size_t kMaxResponders = 8;

struct TrackerOptions {
  std::size_t max_open_calls = kDefaultMaxOpenCalls;
  bool keep_ladder = false;
  std::size_t max_ladder_rows = 64;  // a call of the usual kind has 5 to 15 messages
};

class Tracker {
 public:
  using Sink = std::function<void(Call&&)>;

  Tracker(TrackerOptions options, Sink sink);

  void Feed(const Frame& frame);
  // Ends every call still open, in the order the calls started. The tracker may be fed again after.
  void Finish();

  std::size_t open_calls() const { return calls_.size(); }
  // Calls ended early because the table of open calls was full.
  std::uint64_t pushed_out() const { return pushed_out_; }

 private:
  // A key's line points into the name its call keeps (or, for a look-up, into the frame's).
  struct Key {
    std::string_view line;
    std::uint8_t tei = 0;
    std::uint16_t call_ref = 0;
    std::uint8_t call_ref_length = 1;  // the one-octet and the two-octet value 5 are two calls
    Side chosen_by = Side::kUser;
    auto operator<=>(const Key&) const = default;
  };
  struct State {
    Call call;
    std::vector<Key> keys;                 // the call's own, then one per terminal that answered a broadcast
    std::vector<std::uint8_t> responders;  // TEIs answering a broadcast SETUP, not yet released
    bool selected = false;                 // a broadcast call has settled on one terminal
    bool far_side_heard = false;           // a message from the side that did not send the SETUP
    bool lost = false;
    std::string network_channel, user_channel;  // the last B channel each side named
  };

  void OnMessage(const Frame& frame, std::uint8_t tei, bool broadcast_frame, ByteSpan message);
  void OnLinkDown(std::string_view line, std::uint8_t tei, std::uint64_t time);
  void StartCall(const Frame& frame, const Key& key, bool broadcast);
  void Apply(State& state, std::uint64_t id, const Frame& frame, std::uint8_t tei, std::uint16_t type,
             ByteSpan body);
  std::uint64_t* Find(const Key& key);
  void End(std::uint64_t id);
  void MakeRoom();

  TrackerOptions options_;
  Sink sink_;
  std::uint64_t next_id_ = 0;
  std::map<std::uint64_t, State> calls_;  // by id: the order calls started in
  std::map<Key, std::uint64_t> keys_;
  std::uint64_t pushed_out_ = 0;
};

}  // namespace calls
