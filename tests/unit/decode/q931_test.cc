// SPDX-License-Identifier: BSD-2-Clause
// The Q.931 view: header, message types, elements, codesets, Cause detail and the foreign dump.
#include "decode/q931.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "decode_test_util.h"
#include "platform/platform.h"

namespace {

using decode_test::Decode;
using decode_test::kNet;
using decode_test::MakeEntry;
using decode_test::Views;

std::string L3(const std::vector<std::uint8_t>& field, std::uint32_t direction = 0, std::uint8_t sapi = 0) {
  std::int32_t remaining = static_cast<std::int32_t>(field.size());
  const std::uint8_t* cursor = field.data();
  std::string text = FormatL3Frame(sapi, direction, remaining, cursor);
  EXPECT_EQ(remaining, 0);
  return text;
}

// The element lines of a SETUP with call reference 1 that carries the given elements: the view's
// text without its heading, call reference line and closing newline.
std::string Elements(const std::vector<std::uint8_t>& elements, std::uint32_t direction = 0) {
  std::vector<std::uint8_t> field = {0x08, 0x01, 0x01, 0x05};
  field.insert(field.end(), elements.begin(), elements.end());
  const std::string text = L3(field, direction);
  const std::string head = std::string(direction != 0 ? kNet : "") + "Q.931 Decode\n" +
                           (direction != 0 ? kNet : "") + "  Crv=001(T) SETUP\n";
  EXPECT_EQ(text.substr(0, head.size()), head);
  EXPECT_EQ(text.back(), '\n');
  return text.substr(head.size(), text.size() - head.size() - 1);
}

TEST(Q931, SetupWithSendingCompleteAndBearerCapability) {
  const std::vector<std::uint8_t> field = {0x08, 0x01, 0x01, 0x05, 0xA1, 0x04, 0x03, 0x80, 0x90, 0xA2};
  std::int32_t remaining = static_cast<std::int32_t>(field.size());
  const std::uint8_t* cursor = field.data();
  EXPECT_EQ(FormatL3Frame(0, 0, remaining, cursor),
            "Q.931 Decode\n"
            "  Crv=001(T) SETUP\n"
            "  [SndCmplt  ] A1\n"
            "  [BearerCap ] 04 (03) 80 90 a2\n"
            "\n");
  EXPECT_EQ(remaining, 0);
  EXPECT_EQ(cursor, field.data() + field.size());

  const Views views(false, false, true);
  std::vector<std::uint8_t> frame = {0x00, 0x81, 0x03};
  frame.insert(frame.end(), field.begin(), field.end());
  const std::string text = Decode(MakeEntry(0, frame));
  EXPECT_EQ(text.substr(text.find("Q.931")),
            "Q.931 Decode\n  Crv=001(T) SETUP\n  [SndCmplt  ] A1\n"
            "  [BearerCap ] 04 (03) 80 90 a2\n\n");
}

TEST(Q931, CallReferenceAndMessageType) {
  struct Case {
    std::vector<std::uint8_t> field;
    const char* line;
  };
  const Case cases[] = {
      {{0x08, 0x01, 0x81, 0x05}, "  Crv=001(O) SETUP\n"},
      {{0x08, 0x00, 0x05}, "  Crv=000(T) SETUP\n"},
      {{0x08, 0x02, 0x80, 0x05, 0x05}, "  Crv=005(O) SETUP\n"},
      {{0x08, 0x02, 0x12, 0x34, 0x05}, "  Crv=4660(T) SETUP\n"},
      {{0x08, 0x03, 0x81, 0x12, 0x34, 0x05}, "  Crv=4660(O) SETUP\n"},  // the last two octets remain
      {{0x08, 0xF1, 0x01, 0x05}, "  Crv=001(T) SETUP\n"},               // upper bits of the length ignored
      {{0x08, 0x01, 0x01, 0x00, 0xF7}, "  Crv=001(T) AT&T-MIM\n"},
      {{0x08, 0x01, 0x01, 0x00, 0x01}, "  Crv=001(T) MTYPE-8001\n"},
      {{0x08, 0x01, 0x01, 0x85}, "  Crv=001(T) MTYPE-0085\n"},
      {{0x08, 0x01, 0x01, 0x5A}, "  Crv=001(T) RELEASE COMPLETE\n"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(L3(c.field), std::string("Q.931 Decode\n") + c.line + "\n");
  }
}

TEST(Q931, ContentOctetsInRowsOfFive) {
  EXPECT_EQ(Elements({0x70, 0x05, 0x81, 0x31, 0x32, 0x33, 0x34}), "  [CalledAdr ] 70 (05) 81 31 32 33 34\n");
  EXPECT_EQ(Elements({0x70, 0x0B, 0x81, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10}),
            "  [CalledAdr ] 70 (0B) 81 01 02 03 04\n"
            "                       05 06 07 08 09\n"
            "                       0a\n");
  EXPECT_EQ(Elements({0x6C, 0x06, 1, 2, 3, 4, 5, 6}, 1),
            kNet + "  [CallingAdr] 6C (06) 01 02 03 04 05\n" + kNet + "                       06\n");
  EXPECT_EQ(Elements({0x28, 0x00}), "  [Display   ] 28 (00)\n");
}

TEST(Q931, CauseDetail) {
  EXPECT_EQ(Elements({0x08, 0x02, 0x80, 0x90}),
            "  [Cause     ] 08 (02) 80 90\n"
            "    User\n"
            "    Normal Event\n"
            "    Normal Clearing\n"
            "\n");
  EXPECT_EQ(Elements({0x08, 0x03, 0x80, 0xD8, 0x04}),
            "  [Cause     ] 08 (03) 80 d8 04\n"
            "    User\n"
            "    Invalid Message\n"
            "    Incompatible Destination\n"
            "Diagnostics:  04\n");
  // The Diagnostics line starts at the left margin on the network side too; its continuation
  // rows are indented like those of the element.
  EXPECT_EQ(Elements({0x08, 0x09, 0x8A, 0xA9, 1, 2, 3, 4, 5, 6, 7}, 1),
            kNet + "  [Cause     ] 08 (09) 8a a9 01 02 03\n" + kNet + "                       04 05 06 07\n" +
                kNet + "    Network Beyond Internetworking Point\n" + kNet + "    Network Congestion\n" +
                kNet + "    Termporary Failure\n" + "Diagnostics:  01 02 03 04 05\n" + kNet +
                "                       06 07\n");
  EXPECT_EQ(
      Elements({0x08, 0x02, 0x86, 0x80}),
      "  [Cause     ] 08 (02) 86 80\n    GeneralLocation-0006\n    Normal Event\n    CauseValue-0000\n\n");
}

// Without bit 8 in the location octet the recommendation octet follows it; the cause value is the
// octet after that, and only octets after the cause value are diagnostics.
TEST(Q931, CauseWithRecommendationOctet) {
  EXPECT_EQ(Elements({0x08, 0x03, 0x02, 0x80, 0x91}),
            "  [Cause     ] 08 (03) 02 80 91\n"
            "    Public Network Serving Local User\n"
            "    Normal Event\n"
            "    User Busy\n"
            "\n");
  EXPECT_EQ(Elements({0x08, 0x05, 0x00, 0x81, 0xD8, 0x04, 0x05}),
            "  [Cause     ] 08 (05) 00 81 d8 04 05\n"
            "    User\n"
            "    Invalid Message\n"
            "    Incompatible Destination\n"
            "Diagnostics:  04 05\n");
}

TEST(Q931, Codesets) {
  struct Case {
    std::vector<std::uint8_t> elements;
    std::string expected;
  };
  const Case cases[] = {
      {{0x96, 0x32, 0x01, 0x41}, "  [LShift 6  ] 96\n  [KeypadCont] 32 (01) 41\n"},
      {{0x95, 0x1D, 0x01, 0x00}, "  [LShift 5  ] 95\n  [OperSysAcc] 1D (01) 00\n"},
      // Single-octet elements have no names in codesets 5 and 6; a locking shift still shifts.
      {{0x95, 0xA1, 0x96, 0x32, 0x00},
       "  [LShift 5  ] 95\n  [<unknown> ] A1\n  [<unknown> ] 96\n  [KeypadCont] 32 (00)\n"},
      // A Cause element in codeset 6 is unnamed but still explained.
      {{0x96, 0x08, 0x02, 0x80, 0x90},
       "  [LShift 6  ] 96\n  [<unknown> ] 08 (02) 80 90\n    User\n    Normal Event\n    Normal "
       "Clearing\n\n"},
      // A non-locking shift names only the next element in its codeset.
      {{0x9D, 0x1D, 0x00, 0x1D, 0x00}, "  [NLShift 5 ] 9D\n  [OperSysAcc] 1D (00)\n  [<unknown> ] 1D (00)\n"},
      {{0x9E, 0xA1, 0xA1}, "  [NLShift 6 ] 9E\n  [<unknown> ] A1\n  [SndCmplt  ] A1\n"},
      {{0x96, 0x98, 0x04, 0x00, 0x32, 0x00},
       "  [LShift 6  ] 96\n  [<unknown> ] 98\n  [BearerCap ] 04 (00)\n  [KeypadCont] 32 (00)\n"},
      {{0x9F, 0x04, 0x00, 0x04, 0x00}, "  [<unknown> ] 9F\n  [<unknow Co] 04 (00)\n  [BearerCap ] 04 (00)\n"},
      {{0x97, 0x04, 0x00, 0x96, 0x04, 0x00},
       "  [<unknown> ] 97\n  [<unknow Co] 04 (00)\n  [<unknow Co] 96\n  [<unknown> ] 04 (00)\n"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Elements(c.elements), c.expected);
  }
}

TEST(Q931, NotQ931RowsOfTenThenNine) {
  std::vector<std::uint8_t> field = {0x09};
  for (std::uint8_t i = 1; i < 20; ++i) field.push_back(i);
  std::int32_t remaining = static_cast<std::int32_t>(field.size());
  const std::uint8_t* cursor = field.data();
  EXPECT_EQ(FormatL3Frame(0, 0, remaining, cursor),
            "Q.931 Decode\nNot Q931!\n"
            "  0x09 0x01 0x02 0x03 0x04 0x05 0x06 0x07 0x08 0x09 \n"
            "  0x0A 0x0B 0x0C 0x0D 0x0E 0x0F 0x10 0x11 0x12 \n"
            "  0x13 \n");
  EXPECT_EQ(remaining, 0);
  EXPECT_EQ(cursor, field.data());  // a dump leaves the cursor where it was

  EXPECT_EQ(L3({0x08, 0x01, 0x01, 0x05}, 1, 16),
            kNet + "Q.931 Decode\n" + kNet + "Not Q931!\n" + kNet + "  0x08 0x01 0x01 0x05 \n");
}

TEST(Q931, ViewOffShowsNothing) {
  const auto entry = MakeEntry(0, {0x00, 0x81, 0x03, 0x08, 0x01, 0x01, 0x05, 0xA1});
  for (const bool on : {false, true}) {
    std::string text;
    FormatTraceFrame(text, "L", TraceEntryBytes(entry), ViewSwitches{false, false, on}, PlatFileTimeToLocal);
    EXPECT_EQ(text.empty(), !on);
  }
}

// More text than the 4096 characters a view was once limited to is shown whole.
TEST(Q931, LongMessageIsShownWhole) {
  std::vector<std::uint8_t> elements(250, 0xA1);
  const std::string text = Elements(elements, 1);
  EXPECT_GT(text.size(), 4096U);
  const std::string line = kNet + "  [SndCmplt  ] A1\n";
  EXPECT_EQ(text.size(), 250 * line.size());
  EXPECT_EQ(text.substr(text.size() - line.size()), line);
}

}  // namespace
