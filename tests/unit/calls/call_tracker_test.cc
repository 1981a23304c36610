#include "calls/call_tracker.h"

#include <gtest/gtest.h>

#include "call_test_util.h"

namespace calls::test {
namespace {

constexpr Side U = Side::kUser;
constexpr Side N = Side::kNetwork;

Octets Join(std::initializer_list<Octets> parts) {
  Octets all;
  for (const Octets& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

TEST(CallTracker, OutcomeOfEachWayACallEnds) {
  struct Case {
    const char* name;
    Side placed_by;
    std::vector<Step> steps;
    Outcome outcome;
    std::optional<Side> cleared_by;
    int cause;  // -1: none
  } cases[] = {
      {"answered, user hangs up",
       U,
       {{U, kSetup, Join({Speech(), Number(0x70, "0309")})},
        {N, kProceed, Channel(0x89)},
        {N, kAlert},
        {N, kConnect},
        {U, kConnAck},
        {U, kDisc, Cause(16)},
        {N, kRel},
        {U, kRelComp}},
       Outcome::kAnswered,
       U,
       16},
      {"busy",
       U,
       {{U, kSetup}, {N, kProceed}, {N, kDisc, Cause(17)}, {U, kRel}, {N, kRelComp}},
       Outcome::kBusy,
       N,
       17},
      {"no user responding",
       U,
       {{U, kSetup}, {N, kDisc, Cause(18)}, {U, kRel}, {N, kRelComp}},
       Outcome::kNoAnswer,
       N,
       18},
      {"no answer after alerting",
       U,
       {{U, kSetup}, {N, kAlert}, {N, kDisc, Cause(19)}, {U, kRel}, {N, kRelComp}},
       Outcome::kNoAnswer,
       N,
       19},
      {"incoming rejected", N, {{N, kSetup}, {U, kRelComp, Cause(21)}}, Outcome::kRejected, U, 21},
      {"caller gives up while it rings",
       U,
       {{U, kSetup}, {N, kAlert}, {U, kDisc, Cause(16)}, {N, kRel}, {U, kRelComp}},
       Outcome::kCancelled,
       U,
       16},
      {"unallocated number", U, {{U, kSetup}, {N, kRelComp, Cause(1)}}, Outcome::kFailed, N, 1},
      {"cleared without a cause", U, {{U, kSetup}, {N, kRelComp}}, Outcome::kFailed, N, -1},
      // Identifier 08 after a locking shift to codeset 6 is a national element, not the Cause.
      {"cause only in codeset 6",
       U,
       {{U, kSetup}, {N, kRelComp, Join({{0x96}, Cause(17)})}},
       Outcome::kFailed,
       N,
       -1},
      {"cause only in the RELEASE",
       U,
       {{U, kSetup}, {N, kDisc}, {U, kRel, Cause(17)}, {N, kRelComp}},
       Outcome::kBusy,
       N,
       17},
      {"still ringing at the end", U, {{U, kSetup}, {N, kAlert}}, Outcome::kOpen, std::nullopt, -1},
      {"cleared but never released", U, {{U, kSetup}, {N, kDisc, Cause(17)}}, Outcome::kBusy, N, 17},
  };
  for (const Case& c : cases) {
    const std::vector<Call> ended = Track(c.steps, c.placed_by);
    ASSERT_EQ(ended.size(), 1u) << c.name;
    const Call& call = ended[0];
    EXPECT_EQ(call.outcome, c.outcome) << c.name;
    EXPECT_EQ(call.cleared_by, c.cleared_by) << c.name;
    EXPECT_EQ(call.cause ? int{call.cause->value} : -1, c.cause) << c.name;
    EXPECT_EQ(call.messages, c.steps.size()) << c.name;
    EXPECT_EQ(call.placed_by, c.placed_by) << c.name;
  }
}

TEST(CallTracker, RecordsTimesNumbersBearerAndTheNetworksChannel) {
  const std::vector<Step> steps = {
      {U, kSetup, Join({Speech(), Channel(0x83), Number(0x6C, "0301"), Number(0x70, "0309")})},
      {N, kProceed, Channel(0x8A)},
      {N, kAlert},
      {N, kConnect},
      {U, kConnAck},
      {N, kDisc, Cause(16)},
      {U, kRel},
      {N, kRelComp}};
  const std::vector<Call> ended = Track(steps, U);
  ASSERT_EQ(ended.size(), 1u);
  const Call& call = ended[0];
  EXPECT_EQ(call.calling, "0301");
  EXPECT_EQ(call.called, "0309");
  EXPECT_STREQ(call.bearer, "speech");
  EXPECT_EQ(call.channel, "B2");  // the network's choice, not the terminal's "any"
  EXPECT_EQ(call.setup, kStart);
  EXPECT_EQ(call.alerting, kStart + 2 * kSecond);
  EXPECT_EQ(call.answered, kStart + 3 * kSecond);
  EXPECT_EQ(call.cleared, kStart + 5 * kSecond);
  EXPECT_EQ(call.released, kStart + 7 * kSecond);
  EXPECT_EQ(CauseText(call), "Normal Clearing");
}

TEST(CallTracker, OverlapSendingCompletesTheCalledNumber) {
  const std::vector<Step> steps = {{U, kSetup, Number(0x70, "03")},
                                   {N, 0x0D},
                                   {U, kInfo, Number(0x70, "09")},
                                   {U, kInfo, Number(0x70, "1")},
                                   {N, kProceed}};
  const std::vector<Call> ended = Track(steps, U);
  ASSERT_EQ(ended.size(), 1u);
  EXPECT_EQ(ended[0].called, "03091");
}

TEST(CallTracker, BroadcastSetupSettlesOnTheTerminalThatConnects) {
  const std::vector<Step> steps = {
      {N, kSetup, Join({Speech(), Channel(0x89), Number(0x6C, "0301")}), 127, 5, true},
      {U, kAlert, {}, 64, 5},
      {U, kAlert, {}, 65, 5},
      {U, kConnect, {}, 65, 5},
      {N, kConnAck, {}, 65, 5},
      {N, kRel, Cause(26), 64, 5},  // the terminal that lost the race
      {U, kRelComp, {}, 64, 5},
      {N, kDisc, Cause(16), 65, 5},
      {U, kRel, {}, 65, 5},
      {N, kRelComp, {}, 65, 5}};
  const std::vector<Call> ended = Track(steps, N);
  ASSERT_EQ(ended.size(), 1u);
  const Call& call = ended[0];
  EXPECT_TRUE(call.broadcast);
  EXPECT_EQ(call.tei, 65);
  EXPECT_EQ(call.outcome, Outcome::kAnswered);
  EXPECT_EQ(call.cause->value, 16);
  EXPECT_EQ(call.cleared_by, N);
  EXPECT_EQ(call.channel, "B1");
  EXPECT_EQ(call.messages, steps.size());
  EXPECT_EQ(call.released, kStart + 9 * kSecond);
}

TEST(CallTracker, BroadcastSetupRefusedByEveryTerminal) {
  const std::vector<Step> steps = {
      {N, kSetup, {}, 127, 9, true}, {U, kRelComp, Cause(17), 64, 9}, {U, kRelComp, Cause(21), 65, 9}};
  // Both refuse before the first one's RELEASE COMPLETE ends its part: the call ends with the last.
  std::vector<Step> two_alerting = {{N, kSetup, {}, 127, 9, true},
                                    {U, kAlert, {}, 64, 9},
                                    {U, kAlert, {}, 65, 9},
                                    {U, kRelComp, Cause(17), 64, 9},
                                    {U, kRelComp, Cause(21), 65, 9}};
  std::vector<Call> ended = Track(two_alerting, N);
  ASSERT_EQ(ended.size(), 1u);
  EXPECT_EQ(ended[0].outcome, Outcome::kBusy);  // the first clearing decides
  EXPECT_EQ(ended[0].released, kStart + 4 * kSecond);

  ended = Track(steps, N);
  ASSERT_EQ(ended.size(), 1u);  // the second terminal's answer comes after the call ended
  EXPECT_EQ(ended[0].outcome, Outcome::kBusy);
}

TEST(CallTracker, CallReferencesNameCallsPerSideAndAreReused) {
  const std::vector<Step> steps = {
      {U, kSetup, Number(0x70, "1"), 64, 3},
      {N, kRelComp, Cause(17), 64, 3},
      {U, kSetup, Number(0x70, "2"), 64, 3},            // the same value again: a new call
      {N, kSetup, Number(0x6C, "9"), 64, 3, false, 0},  // the network's own call reference 3
      {U, kConnect, {}, 64, 3, false, 1},               // answers the network's call
      {N, kRelComp, Cause(16), 64, 3},                  // clears the user's second call
      {N, kSetup, {}, 65, 3, false, 0},                 // another terminal's link
  };
  const std::vector<Call> ended = Track(steps, U);
  ASSERT_EQ(ended.size(), 4u);
  EXPECT_EQ(ended[0].called, "1");
  EXPECT_EQ(ended[0].outcome, Outcome::kBusy);
  EXPECT_EQ(ended[1].called, "2");
  EXPECT_EQ(ended[1].outcome, Outcome::kFailed);
  EXPECT_EQ(ended[2].calling, "9");  // ended by Finish, in order of start
  EXPECT_EQ(ended[2].outcome, Outcome::kAnswered);
  EXPECT_EQ(ended[2].placed_by, N);
  EXPECT_EQ(ended[3].tei, 65);
}

// A call reference is its value in its length: the one-octet 5, the two-octet 5 and a longer
// field whose last octets read 5 are not one call, and a field too long to be a call reference
// touches no call at all.
TEST(CallTracker, CallReferenceFormsAreNotMixed) {
  const auto frame = [](Side from, Octets call_ref, std::uint8_t type) {
    Octets f = {static_cast<std::uint8_t>(from == N ? 0x02 : 0x00), 0x81, 0x00, 0x00, 0x08,
                static_cast<std::uint8_t>(call_ref.size())};
    f.insert(f.end(), call_ref.begin(), call_ref.end());
    f.push_back(type);
    return f;
  };
  Octets fifteen(13, 0x89);
  fifteen.insert(fifteen.end(), {0x00, 0x05});
  const Octets frames[] = {
      frame(U, {0x05}, kSetup),                // a call with the one-octet value 5
      frame(N, {0x80, 0x05}, kConnect),        // the two-octet 5: another call (of no SETUP)
      frame(N, fifteen, kRelComp),             // fifteen octets ending in 00 05: no call
      frame(N, {0x81, 0x00, 0x05}, kRelComp),  // three octets: no call
      frame(U, {0x00, 0x07}, kSetup),          // a two-octet call of its own
      frame(N, {0x80, 0x07}, kConnect),
  };
  std::vector<Call> ended;
  Tracker tracker({}, [&ended](Call&& c) { ended.push_back(std::move(c)); });
  for (const Octets& f : frames) tracker.Feed(Frame{"bri0", kStart, f[0] == 0x02 ? N : U, f});
  tracker.Finish();
  ASSERT_EQ(ended.size(), 2u);
  EXPECT_EQ(ended[0].call_ref, 5);
  EXPECT_EQ(ended[0].outcome, Outcome::kOpen);
  EXPECT_EQ(ended[0].messages, 1u);
  EXPECT_EQ(ended[1].call_ref, 7);
  EXPECT_EQ(ended[1].outcome, Outcome::kAnswered);
}

TEST(CallTracker, SetupSentAgainBeforeAnAnswerIsTheSameCall) {
  const std::vector<Step> steps = {
      {N, kSetup, {}, 127, 4, true}, {N, kSetup, {}, 127, 4, true}, {U, kConnect, {}, 64, 4}};
  const std::vector<Call> ended = Track(steps, N);
  ASSERT_EQ(ended.size(), 1u);
  EXPECT_EQ(ended[0].messages, 3u);
  EXPECT_EQ(ended[0].setup, kStart);
}

TEST(CallTracker, LinkLossEndsTheCallsOnThatLinkOnly) {
  struct Case {
    const char* name;
    Octets link_frame;
    std::size_t lost;
  } cases[] = {
      {"DISC", LinkFrame(0x53), 1},
      {"DM", LinkFrame(0x1F), 1},
      {"SABME again", LinkFrame(0x7F), 1},
      {"DISC of another TEI", LinkFrame(0x53, 70), 0},
      {"TEI removed", {0xFC, 0xFF, 0x03, 0x0F, 0x00, 0x00, 0x06, 0x81}, 1},
      {"all TEIs removed", {0xFC, 0xFF, 0x03, 0x0F, 0x00, 0x00, 0x06, 0xFF}, 2},
      {"RR", LinkFrame(0x01), 0},
  };
  const std::vector<Step> steps = {{U, kSetup, {}, 64, 1}, {N, kConnect, {}, 64, 1}, {U, kSetup, {}, 66, 2}};
  for (const Case& c : cases) {
    const std::vector<Call> ended = Track(steps, U, {}, {{3, c.link_frame}});
    ASSERT_EQ(ended.size(), 2u) << c.name;
    std::size_t lost = 0;
    for (const Call& call : ended) lost += call.outcome == Outcome::kLost ? 1 : 0;
    EXPECT_EQ(lost, c.lost) << c.name;
  }
}

TEST(CallTracker, SetupFloodPushesOutUnansweredCallsFirst) {
  std::vector<Call> ended;
  TrackerOptions options;
  options.max_open_calls = 4;
  Tracker tracker(options, [&ended](Call&& c) { ended.push_back(std::move(c)); });
  const auto feed = [&tracker](const Step& s, Side placed_by) {
    const Octets f = FrameOf(s, placed_by);
    tracker.Feed(Frame{"bri0", kStart, s.from, f});
  };
  feed({U, kSetup, {}, 64, 1}, U);
  feed({N, kConnect, {}, 64, 1}, U);
  for (std::uint16_t cr = 2; cr < 2002; ++cr) feed({N, kSetup, {}, 127, cr, true}, N);
  EXPECT_LE(tracker.open_calls(), 4u);
  EXPECT_EQ(tracker.pushed_out(), 1997u);
  feed({U, kDisc, Cause(16), 64, 1}, U);
  feed({N, kRel, {}, 64, 1}, U);
  feed({U, kRelComp, {}, 64, 1}, U);
  ASSERT_FALSE(ended.empty());
  EXPECT_EQ(ended.back().call_ref, 1);
  EXPECT_EQ(ended.back().outcome, Outcome::kAnswered);
}

TEST(CallTracker, MessagesOutsideAnyCallAndDamagedFramesAreIgnored) {
  std::vector<Call> ended;
  Tracker tracker({}, [&ended](Call&& c) { ended.push_back(std::move(c)); });
  const Octets frames[] = {
      {},
      {0x00},
      {0x00, 0x81, 0x00, 0x00},                                            // an I frame without information
      {0x00, 0x81, 0x00, 0x00, 0x08, 0x01, 0x81, 0x45},                    // DISCONNECT of no call
      {0x00, 0x81, 0x00, 0x00, 0x08, 0x00, 0x46},                          // dummy call reference
      {0x00, 0x81, 0x00, 0x00, 0x08, 0x01, 0x00, 0x46},                    // global call reference
      {0x00, 0x81, 0x00, 0x00, 0x08, 0x01, 0x01, 0x05, 0x70, 0x40, 0x81},  // SETUP, element cut
      {0x04, 0x81, 0x00, 0x00, 0x08, 0x01, 0x02, 0x05},                    // SAPI 1
  };
  for (const Octets& f : frames) tracker.Feed(Frame{"bri0", kStart, U, f});
  tracker.Finish();
  ASSERT_EQ(ended.size(), 1u);
  EXPECT_EQ(ended[0].call_ref, 1);
  EXPECT_EQ(ended[0].called, std::nullopt);  // the cut element's digits are not taken
}

TEST(CallTracker, LadderIsKeptWithinItsBound) {
  TrackerOptions options;
  options.keep_ladder = true;
  options.max_ladder_rows = 3;
  const std::vector<Step> steps = {{U, kSetup, Number(0x70, "12")},
                                   {N, kProceed, Channel(0x89)},
                                   {U, kInfo},
                                   {U, kInfo},
                                   {N, kRelComp, Cause(16)}};
  const std::vector<Call> ended = Track(steps, U, options);
  ASSERT_EQ(ended.size(), 1u);
  ASSERT_EQ(ended[0].ladder.size(), 3u);
  EXPECT_EQ(ended[0].ladder_omitted, 2u);
  EXPECT_EQ(ended[0].ladder[0].detail, "to 12");
  EXPECT_EQ(ended[0].ladder[1].detail, "B1");
  EXPECT_EQ(ended[0].ladder[1].from, N);
}

}  // namespace
}  // namespace calls::test
