// SPDX-License-Identifier: BSD-2-Clause
// Name lookups of the Q.931 view: table texts as printed, and the fallbacks.
#include "decode/q931_names.h"

#include <gtest/gtest.h>

namespace {

TEST(MessageTypeNames, KnownTypesEscapeFormAndFallback) {
  EXPECT_STREQ(GetMessageTypeName(0x05), "SETUP");
  EXPECT_STREQ(GetMessageTypeName(0x5A), "RELEASE COMPLETE");
  EXPECT_STREQ(GetMessageTypeName(0x0000), "ESCAPE");
  EXPECT_STREQ(GetMessageTypeName(0x80F7), "AT&T-MIM");
  EXPECT_STREQ(GetMessageTypeName(0x00F7), "MTYPE-00F7");  // AT&T-MIM only in the escape form
  EXPECT_STREQ(GetMessageTypeName(0x04), "MTYPE-0004");
  EXPECT_STREQ(GetMessageTypeName(0x8001), "MTYPE-8001");
}

TEST(MessageTypeNames, FallbackBufferHoldsTheLatestText) {
  const char* first = GetMessageTypeName(0x04);
  const char* second = GetMessageTypeName(0x06);
  EXPECT_EQ(first, second);
  EXPECT_STREQ(first, "MTYPE-0006");
}

TEST(ElementNames, ByCodeset) {
  struct Case {
    unsigned identifier;
    int codeset;
    const char* name;
  };
  const Case cases[] = {
      {0x04, 0, "BearerCap"},
      {0x08, 0, "Cause"},
      {0x7F, 0, "EscapeExt"},
      {0xA1, 0, "SndCmplt"},
      {0x90, 0, "LShift 0"},
      {0x95, 0, "LShift 5"},
      {0x9E, 0, "NLShift 6"},
      {0xD0, 0, "RepeatInd"},
      {0x81, 0, "<unknown>"},
      {0x91, 0, "<unknown>"},
      {0x01, 0, "<unknown>"},
      {0x1D, 5, "OperSysAcc"},
      {0x2A, 5, "DisplayTxt"},
      {0x04, 5, "<unknown>"},
      {0x32, 6, "KeypadControl"},
      {0x22, 6, "SelectedCallAppearance"},
      {0x7A, 6, "MimElem"},
      {0x08, 6, "<unknown>"},
      // Codesets 5 and 6 name no single-octet element, shifts included.
      {0x95, 5, "<unknown>"},
      {0x96, 6, "<unknown>"},
      {0xA1, 6, "<unknown>"},
      {0x04, 7, "<unknow Codeset>"},
      {0x90, 1, "<unknow Codeset>"},
      {0x08, 13, "<unknow Codeset>"},
      {0x04, -1, "<unknow Codeset>"},
      // Only the low eight bits of the identifier count.
      {0x104, 0, "BearerCap"},
  };
  for (const Case& c : cases) {
    EXPECT_STREQ(GetElementName(c.identifier, c.codeset), c.name)
        << "identifier " << std::hex << c.identifier << " codeset " << std::dec << c.codeset;
  }
}

TEST(CauseNames, LocationsAndFallback) {
  EXPECT_STREQ(GetGeneralLocation(0), "User");
  EXPECT_STREQ(GetGeneralLocation(7), "International Network");
  EXPECT_STREQ(GetGeneralLocation(10), "Network Beyond Internetworking Point");
  EXPECT_STREQ(GetGeneralLocation(6), "GeneralLocation-0006");
  EXPECT_STREQ(GetGeneralLocation(15), "GeneralLocation-000F");
  EXPECT_STREQ(GetGeneralLocation(255), "GeneralLocation-00FF");
}

TEST(CauseNames, ClassesAndFallback) {
  EXPECT_STREQ(GetCauseClass(0), "Normal Event");
  EXPECT_STREQ(GetCauseClass(1), "Normal Event");
  EXPECT_STREQ(GetCauseClass(5), "Invalid Message");
  EXPECT_STREQ(GetCauseClass(7), "Internetworking");
  EXPECT_STREQ(GetCauseClass(8), "CauseClass-0008");
}

TEST(CauseNames, ValuesKeepTheirSpellingAndFallback) {
  EXPECT_STREQ(GetCauseValueInClass(16), "Normal Clearing");
  EXPECT_STREQ(GetCauseValueInClass(41), "Termporary Failure");
  EXPECT_STREQ(GetCauseValueInClass(82), "Indentified Channel Does not Exist");
  EXPECT_STREQ(GetCauseValueInClass(127), "Interworking, unspecified");
  EXPECT_STREQ(GetCauseValueInClass(0), "CauseValue-0000");
  EXPECT_STREQ(GetCauseValueInClass(10), "CauseValue-000A");
  EXPECT_STREQ(GetCauseValueInClass(0x1234), "CauseValue-1234");
}

}  // namespace
