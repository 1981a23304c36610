#include "decode/q931_elements.h"

#include <gtest/gtest.h>

#include <vector>

namespace q931 {
namespace {

using Octets = std::vector<std::uint8_t>;

TEST(Q931Elements, ShiftsNameTheCodesetOfEachElement) {
  // A non-locking shift to 5 covers one element; a locking shift to 6 the rest of the message.
  const Octets body = {0x9D, 0x08, 0x01, 0x01, 0x08, 0x02, 0x80, 0x90, 0x96, 0x32, 0x00, 0xA1};
  ElementReader reader(body);
  Element e;
  std::vector<std::pair<std::int32_t, std::uint8_t>> seen;
  while (reader.Next(&e)) seen.emplace_back(e.codeset, e.identifier);
  const std::vector<std::pair<std::int32_t, std::uint8_t>> want = {{0, 0x9D}, {5, 0x08}, {0, 0x08},
                                                                   {0, 0x96}, {6, 0x32}, {6, 0xA1}};
  EXPECT_EQ(seen, want);
}

TEST(Q931Elements, ElementLongerThanTheMessageIsCutAndEndsTheWalk) {
  const Octets body = {0x6C, 0x09, 0x21, 0x80, '1', '2', 0x70, 0x02};
  ElementReader reader(body);
  Element e;
  ASSERT_TRUE(reader.Next(&e));
  EXPECT_TRUE(e.truncated);
  EXPECT_EQ(e.contents.size(), 6u);
  EXPECT_FALSE(reader.Next(&e));

  const Octets lone = {0x70};  // an identifier without its length octet
  ElementReader cut(lone);
  ASSERT_TRUE(cut.Next(&e));
  EXPECT_TRUE(e.truncated);
  EXPECT_TRUE(e.contents.empty());
  EXPECT_FALSE(cut.Next(&e));
}

TEST(Q931Elements, BearerCapability) {
  struct Case {
    Octets contents;
    Status status;
    const char* capability;
    std::uint8_t rate;
    int layer1;  // -1: none
  } cases[] = {
      {{0x80, 0x90, 0xA2}, Status::kOk, "speech", 0x10, 2},
      {{0x88, 0x90}, Status::kOk, "unrestricted digital", 0x10, -1},
      {{0x90, 0x90, 0xA3}, Status::kOk, "3.1kHz audio", 0x10, 3},
      {{0x91, 0x90}, Status::kOk, "7kHz audio", 0x10, -1},
      {{0x98, 0x98, 0x82, 0xA3}, Status::kOk, "video", 0x18, 3},  // multirate: the multiplier, then layer 1
      {{0x89, 0x10, 0x80, 0xA2}, Status::kOk, "restricted digital", 0x10, 2},  // octet 4a follows octet 4
      {{0x80}, Status::kShort, "speech", 0, -1},
      {{0x00, 0x00, 0x00}, Status::kShort, "speech", 0, -1},  // an extension chain that never ends
      {{0x98, 0x98}, Status::kShort, "video", 0x18, -1},      // multirate without its multiplier
      {{}, Status::kShort, nullptr, 0, -1},
  };
  for (const Case& c : cases) {
    const BearerCapability bc = DecodeBearerCapability(c.contents);
    EXPECT_EQ(bc.status, c.status) << c.contents.size();
    if (c.capability != nullptr) {
      EXPECT_STREQ(TransferCapabilityName(bc.transfer_capability), c.capability);
    }
    EXPECT_EQ(bc.transfer_rate, c.rate);
    EXPECT_EQ(bc.layer1 ? int{*bc.layer1} : -1, c.layer1);
  }
  EXPECT_EQ(TransferCapabilityName(0x1F), nullptr);
}

TEST(Q931Elements, ChannelIdentification) {
  struct Case {
    Octets contents;
    Status status;
    const char* name;
    bool exclusive;
  } cases[] = {
      {{0x81}, Status::kOk, "B1", false},
      {{0x8A}, Status::kOk, "B2", true},
      {{0x83}, Status::kOk, "any", false},
      {{0x80}, Status::kOk, "none", false},
      {{0x8C}, Status::kOk, "D", true},
      {{0xA9, 0x83, 0x97}, Status::kOk, "B23", true},          // primary rate, channel 23
      {{0xE9, 0x81, 0x83, 0x85}, Status::kOk, "B5", true},     // with an interface identifier
      {{0xA9, 0x93, 0x80}, Status::kMalformed, "none", true},  // a slot map
      {{0xA9, 0x83}, Status::kShort, "none", true},
      {{0xAA}, Status::kMalformed, "none", true},  // reserved selection
      {{}, Status::kShort, "none", false},
  };
  for (const Case& c : cases) {
    const ChannelIdentification id = DecodeChannelIdentification(c.contents);
    char buf[8];
    EXPECT_EQ(id.status, c.status) << c.name;
    EXPECT_EQ(ChannelName(id, buf, sizeof buf), c.name);
    EXPECT_EQ(id.exclusive, c.exclusive) << c.name;
  }
}

TEST(Q931Elements, PartyNumbers) {
  struct Case {
    std::uint8_t identifier;
    Octets contents;
    Status status;
    std::uint8_t type;
    bool has_3a;
    std::uint8_t presentation;
    int reason;
    std::string_view digits;
  } cases[] = {
      {kCallingPartyNumber, {0x21, 0x83, '0', '3', '0'}, Status::kOk, 2, true, 0, -1, "030"},
      {kCallingPartyNumber, {0x41, 0xA0, '7'}, Status::kOk, 4, true, 1, -1, "7"},
      {kCallingPartyNumber, {0x91, '4', '9'}, Status::kOk, 1, false, 0, -1, "49"},
      {kCallingPartyNumber, {0x21}, Status::kShort, 2, false, 0, -1, ""},
      {kCalledPartyNumber, {0x81, '5', '5', '#'}, Status::kOk, 0, false, 0, -1, "55#"},
      {kCalledPartyNumber, {0x81}, Status::kOk, 0, false, 0, -1, ""},
      {kCalledPartyNumber, {0x01, 0x80, '1'}, Status::kMalformed, 0, false, 0, -1, "1"},
      {kCalledPartyNumber, {0x81, '1', 0xB2}, Status::kMalformed, 0, false, 0, -1, "1\xB2"},
      {kRedirectingNumber, {0x21, 0x03, 0x8F, '9'}, Status::kOk, 2, true, 0, 15, "9"},
      {kRedirectingNumber, {0x21, 0x03}, Status::kShort, 2, true, 0, -1, ""},
      {kConnectedNumber, {0x21, 0x00}, Status::kShort, 2, true, 0, -1, ""},  // octet 3b missing
      {kCalledPartyNumber, {}, Status::kShort, 0, false, 0, -1, ""},
  };
  for (const Case& c : cases) {
    const PartyNumber n = DecodePartyNumber(c.identifier, c.contents);
    EXPECT_EQ(n.status, c.status) << c.digits;
    EXPECT_EQ(n.type_of_number, c.type) << c.digits;
    EXPECT_EQ(n.has_octet_3a, c.has_3a) << c.digits;
    EXPECT_EQ(n.presentation, c.presentation) << c.digits;
    EXPECT_EQ(n.redirection_reason ? int{*n.redirection_reason} : -1, c.reason) << c.digits;
    EXPECT_EQ(n.digits, c.digits);
  }
}

TEST(Q931Elements, Cause) {
  struct Case {
    Octets contents;
    Status status;
    std::uint8_t location, value;
    int recommendation;
    std::size_t diagnostics;
  } cases[] = {
      {{0x80, 0x90}, Status::kOk, 0, 16, -1, 0},
      {{0x82, 0x91, 0x04}, Status::kOk, 2, 17, -1, 1},
      {{0x0A, 0x80, 0x9F}, Status::kOk, 10, 31, 0, 0},  // with the recommendation octet
      {{0x80}, Status::kShort, 0, 0, -1, 0},
      {{0x02, 0x80}, Status::kShort, 2, 0, 0, 0},
      {{}, Status::kShort, 0, 0, -1, 0},
  };
  for (const Case& c : cases) {
    const Cause cause = DecodeCause(c.contents);
    EXPECT_EQ(cause.status, c.status) << int{c.value};
    EXPECT_EQ(cause.location, c.location);
    EXPECT_EQ(cause.value, c.value);
    EXPECT_EQ(cause.recommendation ? int{*cause.recommendation} : -1, c.recommendation);
    EXPECT_EQ(cause.diagnostics.size(), c.diagnostics);
  }
}

TEST(Q931Elements, SmallerElements) {
  const Octets progress = {0x82, 0x88};
  const ProgressIndicator p = DecodeProgressIndicator(progress);
  EXPECT_EQ(p.status, Status::kOk);
  EXPECT_EQ(p.location, 2);
  EXPECT_STREQ(ProgressDescriptionName(p.description), "in-band information available");
  EXPECT_EQ(DecodeProgressIndicator(ByteSpan(progress).first(1)).status, Status::kShort);

  const Octets display = {0xB1, 'H', 'e', 'l', 'l', 'o'};  // a character set octet first
  EXPECT_EQ(DecodeDisplay(display).text, "Hello");
  const Octets bad_display = {'A', 0xC4};
  EXPECT_EQ(DecodeDisplay(bad_display).status, Status::kMalformed);
  const Octets keypad = {'*', '2', '1', '#'};
  EXPECT_EQ(DecodeKeypad(keypad).text, "*21#");
  EXPECT_EQ(DecodeKeypad({}).status, Status::kShort);

  const Octets busy = {0x04};
  EXPECT_STREQ(SignalName(DecodeSignal(busy).value), "busy tone on");
  EXPECT_STREQ(SignalName(0x43), "alerting on");
  EXPECT_EQ(DecodeSignal({}).status, Status::kShort);

  struct DateCase {
    Octets contents;
    Status status;
    bool has_time;
  } dates[] = {
      {{26, 12, 9, 1, 45, 30}, Status::kOk, true},
      {{26, 12, 9}, Status::kOk, false},
      {{26, 13, 9, 1, 45}, Status::kMalformed, true},
      {{26, 12, 9, 24}, Status::kMalformed, true},
      {{26, 12}, Status::kShort, false},
  };
  for (const DateCase& c : dates) {
    const DateTime d = DecodeDateTime(c.contents);
    EXPECT_EQ(d.status, c.status) << c.contents.size();
    EXPECT_EQ(d.hour.has_value(), c.has_time);
  }
}

}  // namespace
}  // namespace q931
