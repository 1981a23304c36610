#include "bricap/evidence.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bricap/file_set.h"

namespace {

using calls::Outcome;

calls::Call Ended(Outcome outcome, std::optional<std::uint8_t> cause, bool cleared = true) {
  calls::Call call;
  call.line = "L";
  call.outcome = outcome;
  if (cleared) call.cleared = 1;
  if (cause) call.cause = calls::CallCause{*cause, 0};
  return call;
}

TEST(Evidence, WhichEndedCallsAreFailures) {
  struct Case {
    calls::Call call;
    bool failed;
  };
  const std::vector<Case> cases = {
      {Ended(Outcome::kAnswered, 16), false},
      {Ended(Outcome::kAnswered, 31), false},
      {Ended(Outcome::kCancelled, 16), false},
      {Ended(Outcome::kAnswered, std::nullopt, false), false},  // still up when the capture ended
      {Ended(Outcome::kOpen, std::nullopt, false), false},
      {Ended(Outcome::kAnswered, 41), true},  // answered, then torn down by a temporary failure
      {Ended(Outcome::kCancelled, 102), true},
      {Ended(Outcome::kAnswered, std::nullopt), true},  // cleared, but the cause is missing
      {Ended(Outcome::kBusy, 17), true},
      {Ended(Outcome::kNoAnswer, 18), true},
      {Ended(Outcome::kRejected, 21), true},
      {Ended(Outcome::kFailed, 16), true},
      {Ended(Outcome::kLost, std::nullopt, false), true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(bricap::CallFailed(c.call), c.failed)
        << calls::OutcomeName(c.call.outcome) << " cause " << (c.call.cause ? int{c.call.cause->value} : -1);
  }
}

std::vector<std::uint8_t> Hex(const std::string& text) {
  std::vector<std::uint8_t> bytes;
  for (std::size_t i = 0; i + 1 < text.size(); i += 3)
    bytes.push_back(static_cast<std::uint8_t>(std::stoi(text.substr(i, 2), nullptr, 16)));
  return bytes;
}

// Frames of line "L", TEI 64 unless said: each with whether it shows the link lost.
TEST(Evidence, DataLinksLostAndReleased) {
  struct Step {
    const char* hex;
    bool lost;
  };
  const std::vector<std::pair<const char*, std::vector<Step>>> cases = {
      {"established, released by DISC and UA, established again",
       {{"00 81 7F", false},
        {"00 81 73", false},
        {"00 81 53", false},
        {"00 81 73", false},
        {"00 81 7F", false},
        {"00 81 73", false}}},
      {"a DM answering DISC",
       {{"00 81 7F", false}, {"00 81 73", false}, {"00 81 53", false}, {"00 81 1F", false}}},
      {"reset: SABME on an established link, its retries, then refused",
       {{"00 81 7F", false},
        {"00 81 73", false},
        {"00 81 7F", true},
        {"00 81 7F", false},
        {"00 81 1F", true}}},
      {"an I frame shows a link whose SABME came before the capture",
       {{"02 81 00 02 08 01 81 07", false}, {"00 81 7F", true}}},
      {"a DM on an established link", {{"00 81 7F", false}, {"00 81 73", false}, {"02 81 0F", true}}},
      {"FRMR", {{"00 81 87 00 00 00", true}}},
      {"the TEI of an established link removed, then of none",
       {{"00 81 7F", false},
        {"00 81 73", false},
        {"FE FF 03 0F 00 00 06 81", true},
        {"FE FF 03 0F 00 00 06 81", false}}},
      {"all TEIs removed", {{"00 81 7F", false}, {"00 81 73", false}, {"FE FF 03 0F 00 00 06 FF", true}}},
      {"another TEI removed", {{"00 81 7F", false}, {"00 81 73", false}, {"FE FF 03 0F 00 00 06 83", false}}},
      {"a SABME on another line or TEI",
       {{"00 81 7F", false}, {"00 81 73", false}, {"00 83 7F", false}, {"*00 81 7F", false}}},
      {"short and broadcast frames", {{"00 81", false}, {"02 FF 03 08 01 01 05", false}}},
  };
  for (const auto& [what, steps] : cases) {
    bricap::LinkWatch watch;
    for (std::size_t i = 0; i < steps.size(); ++i) {
      std::string hex = steps[i].hex;
      const bool other_line = hex[0] == '*';
      if (other_line) hex.erase(0, 1);
      const std::vector<std::uint8_t> octets = Hex(hex);
      const std::string reason = watch.Feed(other_line ? "M" : "L", ByteSpan(octets));
      EXPECT_EQ(!reason.empty(), steps[i].lost) << what << ", frame " << i << ": " << reason;
    }
  }
}

// A busy call that starts in file 2 and ends in file 4 marks 2 to 4; an answered one marks none.
TEST(Evidence, AFailedCallMarksEveryFileItSpans) {
  bricap::EvidenceWatch watch;
  const auto feed = [&](std::uint64_t file, bool network, const std::string& hex) {
    const std::vector<std::uint8_t> octets = Hex(hex);
    watch.Feed(bricap::WrittenFrame{file, "L", 0, network, ByteSpan(octets)});
  };
  feed(1, false, "00 81 7F");
  feed(1, true, "00 81 73");
  feed(2, false, "00 81 00 00 08 01 02 05 04 03 80 90 A2");  // SETUP
  feed(3, true, "02 81 02 02 08 01 82 45 08 02 82 91");      // DISCONNECT, cause 17
  EXPECT_TRUE(watch.TakeMarked().empty());                   // the call has not ended yet
  feed(4, false, "00 81 02 04 08 01 02 4D");                 // RELEASE
  feed(4, true, "02 81 04 04 08 01 82 5A");                  // RELEASE COMPLETE
  feed(5, false, "00 81 04 06 08 01 03 05 04 03 80 90 A2");  // SETUP, answered and cleared normally
  feed(5, true, "02 81 06 06 08 01 83 07");
  feed(6, false, "00 81 06 08 08 01 03 45 08 02 80 90");
  feed(6, true, "02 81 08 08 08 01 83 5A");
  const std::vector<bricap::EvidenceWatch::Marked> marked = watch.TakeMarked();
  ASSERT_EQ(marked.size(), 1u);
  EXPECT_EQ(marked[0].first, 2u);
  EXPECT_EQ(marked[0].last, 4u);
  EXPECT_NE(marked[0].reason.find("busy, cause 17"), std::string::npos) << marked[0].reason;
  EXPECT_TRUE(watch.TakeMarked().empty());  // taken
}

TEST(Evidence, KeptFilesKeepTheirNames) {
  EXPECT_EQ(bricap::KeptFilePath("kept", "/var/ring/r_00001_20260101000000.pcapng"),
            "kept/r_00001_20260101000000.pcapng");
  EXPECT_EQ(bricap::KeptFilePath("D:\\kept\\", "C:\\ring\\r_00002.pcapng"), "D:\\kept\\r_00002.pcapng");
  EXPECT_EQ(bricap::KeptFilePath("/k/", "r_00003"), "/k/r_00003");
}

}  // namespace
