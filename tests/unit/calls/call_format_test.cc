#include "calls/call_format.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "call_test_util.h"

namespace calls::test {
namespace {

Call Answered() {
  Call call;
  call.line = "bri0";
  call.tei = 64;
  call.call_ref = 7;
  call.placed_by = Side::kUser;
  call.calling = "0301";
  call.called = "09\"x";
  call.bearer = "speech";
  call.channel = "B1";
  call.setup = kStart;
  call.alerting = kStart + kSecond;
  call.answered = kStart + 2 * kSecond + 5000;  // and half a millisecond
  call.cleared = kStart + 64 * kSecond + 1234 * 10000;
  call.released = call.cleared;
  call.cleared_by = Side::kNetwork;
  call.cause = CallCause{16, 2};
  call.outcome = Outcome::kAnswered;
  call.messages = 8;
  return call;
}

TEST(CallFormat, UtcTimes) {
  struct Case {
    std::uint64_t file_time;
    const char* text;
  } cases[] = {
      {kStart, "2025-12-09T00:45:00.000Z"},
      {116444736000000000ull, "1970-01-01T00:00:00.000Z"},
      {116444736000000000ull + 9999, "1970-01-01T00:00:00.000Z"},  // cut, not rounded
      {125911584000000000ull + 10000 * 999, "2000-01-01T00:00:00.999Z"},
      {126227808000000000ull - 10000, "2000-12-31T23:59:59.999Z"},  // the leap year's last day
      {0, "1601-01-01T00:00:00.000Z"},
  };
  for (const Case& c : cases) {
    std::string out;
    AppendUtcTime(out, c.file_time);
    EXPECT_EQ(out, c.text);
  }
}

TEST(CallFormat, JsonHasTheDocumentedKeysInOrder) {
  std::string line;
  AppendCallJson(line, Answered());
  ASSERT_EQ(line.back(), '\n');
  const nlohmann::ordered_json j = nlohmann::ordered_json::parse(line);
  std::vector<std::string> keys;
  for (const auto& item : j.items()) keys.push_back(item.key());
  const std::vector<std::string> want = {
      "line",       "tei",   "call_ref",       "direction",  "calling", "called",   "bearer",
      "channel",    "setup", "alerting",       "answered",   "cleared", "released", "duration_s",
      "cleared_by", "cause", "cause_location", "cause_text", "outcome", "messages"};
  EXPECT_EQ(keys, want);
  EXPECT_EQ(j["direction"], "out");
  EXPECT_EQ(j["called"], "09\"x");
  EXPECT_EQ(j["answered"], "2025-12-09T00:45:02.000Z");
  EXPECT_DOUBLE_EQ(j["duration_s"].get<double>(), 63.234);  // as the two times shown give it, not 63.2335 cut
  EXPECT_EQ(j["cleared_by"], "network");
  EXPECT_EQ(j["cause_location"], 2);
  EXPECT_EQ(j["cause_text"], "Normal Clearing");
}

TEST(CallFormat, JsonNullsForWhatTheCallLacks) {
  Call call;
  call.line = "line\x01";
  call.placed_by = Side::kNetwork;
  call.setup = kStart;
  call.calling = std::string("1\xB2", 2);  // not IA5: escaped, never raw
  std::string line;
  AppendCallJson(line, call);
  const nlohmann::json j = nlohmann::json::parse(line);
  for (const char* key : {"called", "bearer", "channel", "alerting", "answered", "cleared", "released",
                          "duration_s", "cleared_by", "cause", "cause_location", "cause_text"}) {
    EXPECT_TRUE(j[key].is_null()) << key;
  }
  EXPECT_EQ(j["direction"], "in");
  EXPECT_EQ(j["outcome"], "open");
  EXPECT_EQ(j["line"], "line\x01");
  EXPECT_EQ(j["calling"].get<std::string>().size(), 3u);  // "1" and U+00B2
}

TEST(CallFormat, LadderArrowsPointTheWayEachMessageWent) {
  Call call = Answered();
  call.ladder = {{kStart, Side::kUser, 64, 0x05, "to 0309"},
                 {kStart, Side::kNetwork, 64, 0x02, "B1"},
                 {kStart, Side::kNetwork, 65, 0x4D, "cause 26 Non-Selected User Clearing"}};
  call.ladder_omitted = 4;
  std::string out;
  AppendLadder(out, call);
  std::vector<std::string> lines;
  for (std::size_t start = 0, end; (end = out.find('\n', start)) != std::string::npos; start = end + 1) {
    lines.push_back(out.substr(start, end - start));
  }
  ASSERT_GE(lines.size(), 6u);
  EXPECT_NE(lines[0].find("call reference 7, outgoing, answered, cause 16 Normal Clearing"),
            std::string::npos);
  EXPECT_NE(lines[2].find("|-- SETUP (to 0309) "), std::string::npos);
  EXPECT_TRUE(lines[2].ends_with("->|"));
  EXPECT_NE(lines[3].find("|<-"), std::string::npos);
  EXPECT_TRUE(lines[3].ends_with(" CALL PROCEEDING (B1) --|"));
  EXPECT_TRUE(lines[4].ends_with("--| TEI 65"));  // a message of another terminal says whose
  EXPECT_NE(lines[5].find("(4 more messages)"), std::string::npos);
  EXPECT_EQ(lines[2].size(), lines[3].size());  // both sides' columns line up
}

TEST(CallFormat, HtmlPageEscapesTextAndLinksEachRowToItsLadder) {
  Call a = Answered();
  a.line = "<b>&";
  a.ladder = {{kStart, Side::kUser, 64, 0x05, "to <x>"}};
  Call b;
  b.line = "bri1";
  b.outcome = Outcome::kBusy;
  Summary summary;
  summary.Add(a);
  summary.Add(b);
  const std::string page = FormatHtmlPage("t.pcap", {a, b}, summary, 3);
  EXPECT_EQ(page.find("<b>&"), std::string::npos);
  EXPECT_NE(page.find("&lt;b&gt;&amp;"), std::string::npos);
  EXPECT_NE(page.find("SETUP (to &lt;x&gt;)"), std::string::npos);
  EXPECT_NE(page.find("<a href=\"#call-2\">2</a>"), std::string::npos);
  EXPECT_NE(page.find("<h2 id=\"call-2\" class=\"failed\">"), std::string::npos);
  EXPECT_NE(page.find("<tr class=\"failed call\">"), std::string::npos);
  EXPECT_NE(page.find("(3 more calls not drawn on this page)"), std::string::npos);
  EXPECT_EQ(page.find("http://"), page.find("http://www.w3.org/2000/svg"));  // nothing fetched
}

}  // namespace
}  // namespace calls::test
