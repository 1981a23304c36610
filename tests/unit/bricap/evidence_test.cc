#include "bricap/evidence.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using calls::Outcome;

TEST(Evidence, WhichEndedCallsAreFailures) {
  const struct {
    Outcome outcome;
    int cause;  // -1: none
    bool cleared, failed;
  } cases[] = {
      {Outcome::kAnswered, 16, true, false},  {Outcome::kAnswered, 31, true, false},
      {Outcome::kCancelled, 16, true, false}, {Outcome::kAnswered, -1, false, false},  // up at the end
      {Outcome::kOpen, -1, false, false},     {Outcome::kAnswered, 41, true, true},
      {Outcome::kAnswered, -1, true, true},  // cleared without its cause
      {Outcome::kBusy, 17, true, true},       {Outcome::kFailed, 16, true, true},
      {Outcome::kLost, -1, false, true},
  };
  for (const auto& c : cases) {
    calls::Call call;
    call.outcome = c.outcome;
    if (c.cleared) call.cleared = 1;
    if (c.cause >= 0) call.cause = calls::CallCause{static_cast<std::uint8_t>(c.cause), 0};
    EXPECT_EQ(bricap::CallFailed(call), c.failed) << calls::OutcomeName(c.outcome) << " cause " << c.cause;
  }
}

std::vector<std::uint8_t> Hex(const std::string& text) {
  std::vector<std::uint8_t> bytes;
  for (std::size_t i = 0; i + 1 < text.size(); i += 3)
    bytes.push_back(static_cast<std::uint8_t>(std::stoi(text.substr(i, 2), nullptr, 16)));
  return bytes;
}

// Frames of line "L" (of line "M" after a '*'), each with whether it shows a data link lost. (A
// release by DISC and UA, a reset and a refused SABME are played by the end-to-end ring.)
TEST(Evidence, DataLinksLostAndReleased) {
  const std::vector<std::pair<const char*, std::vector<std::pair<const char*, bool>>>> cases = {
      {"DM answering DISC",
       {{"00 81 7F", false}, {"00 81 73", false}, {"00 81 53", false}, {"00 81 1F", false}}},
      {"an I frame before the SABME was captured", {{"02 81 00 02 08 01 81 07", false}, {"00 81 7F", true}}},
      {"DM on an established link", {{"00 81 7F", false}, {"00 81 73", false}, {"02 81 0F", true}}},
      {"TEI removed, then again",
       {{"02 81 01 02", false}, {"FE FF 03 0F 00 00 06 81", true}, {"FE FF 03 0F 00 00 06 81", false}}},
      {"all TEIs removed", {{"02 81 01 02", false}, {"FE FF 03 0F 00 00 06 FF", true}}},
      {"others",
       {{"02 81 01 02", false},
        {"FE FF 03 0F 00 00 06 83", false},
        {"00 83 7F", false},
        {"*00 81 7F", false}}},
      {"FRMR, short and broadcast frames",
       {{"00 81 87 00 00 00", true}, {"00 81", false}, {"02 FF 03 08 01 01 05", false}}},
  };
  for (const auto& [what, steps] : cases) {
    bricap::LinkWatch watch;
    for (std::size_t i = 0; i < steps.size(); ++i) {
      const std::string hex = steps[i].first;
      const std::vector<std::uint8_t> octets = Hex(hex[0] == '*' ? hex.substr(1) : hex);
      const std::string reason = watch.Feed(hex[0] == '*' ? "M" : "L", ByteSpan(octets));
      EXPECT_EQ(!reason.empty(), steps[i].second) << what << ", frame " << i << ": " << reason;
    }
  }
}

}  // namespace
