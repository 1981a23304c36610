#include "scenario.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "areas/area_record.h"
#include "decode/trace_entry.h"
#include "sim_test_util.h"

namespace brisim {
namespace {

TEST(PackParams, IdentifierThenValueByType) {
  struct Case {
    Param param;
    Bytes packed;
  };
  const Case cases[] = {
      {{100, 0x0, std::int64_t{2}}, {0x64, 0x00, 0x02, 0x00}},
      {{102, 0x4, std::int64_t{1234}}, {0x66, 0x40, 0xD2, 0x04, 0x00, 0x00}},
      {{102, 0x4, std::int64_t{-1}}, {0x66, 0x40, 0xFF, 0xFF, 0xFF, 0xFF}},
      {{303, 0x8, std::string("AB")}, {0x2F, 0x81, 'A', 'B', 0x00}},
      {{303, 0x8, std::string()}, {0x2F, 0x81, 0x00}},
      {{100, 0x1, Bytes{0x05, 0x00}}, {0x64, 0x10, 0x05, 0x00}},
      {{4095, 0xF, std::int64_t{0xBEEF}}, {0xFF, 0xFF, 0xEF, 0xBE}},
  };
  for (const Case& c : cases) EXPECT_EQ(PackParams({c.param}), c.packed) << c.param.number;
  // Back to back, no padding: a string of even length puts the next identifier at an odd offset.
  EXPECT_EQ(PackParams({cases[3].param, cases[0].param}),
            (Bytes{0x2F, 0x81, 'A', 'B', 0x00, 0x64, 0x00, 0x02, 0x00}));
}

TEST(ParseHex, AcceptsSpacesAndRejectsJunk) {
  Bytes out;
  EXPECT_TRUE(ParseHex("02 01 0a FF", &out));
  EXPECT_EQ(out, (Bytes{0x02, 0x01, 0x0A, 0xFF}));
  EXPECT_TRUE(ParseHex("0201", &out));
  EXPECT_EQ(out, (Bytes{0x02, 0x01}));
  EXPECT_FALSE(ParseHex("0 2", &out));
  EXPECT_FALSE(ParseHex("021", &out));
  EXPECT_FALSE(ParseHex("0x02", &out));
}

TEST(ParseScenario, Defaults) {
  Scenario s = ParseScenario(R"({"lines": [{}, {"name": "x", "areas": {"1": {}}}]})");
  ASSERT_EQ(s.lines.size(), 2u);
  EXPECT_EQ(s.lines[0].handle, 0x1001u);
  EXPECT_EQ(s.lines[1].handle, 0x1002u);
  EXPECT_EQ(s.lines[0].trace.capacity, 1000u);
  EXPECT_EQ(s.lines[1].areas.at(1).area_state, 2u);
  EXPECT_FALSE(s.enumeration.refuse);
  EXPECT_TRUE(ParseScenario("{}").lines.empty());
}

TEST(ParseScenario, ErrorsNameTheKey) {
  struct Case {
    const char* json;
    const char* message;
  };
  const Case cases[] = {
      {"[", "not valid JSON"},
      {R"({"line": []})", "line: unknown key"},
      {R"({"lines": [{"trace": {"capacity": "lots"}}]})", "lines[0].trace.capacity"},
      {R"({"lines": [{}, {"trace": {"frames": [{"hex": "0"}]}}]})", "lines[1].trace.frames[0].hex"},
      {R"({"lines": [{"trace": {"frames": [{"hex": "00", "lenght": 3}]}}]})", "lines[0].trace.frames[0].lenght: unknown key"},
      {R"({"lines": [{"areas": {"1": {"params": [{"id": 4096}]}}}]})", "lines[0].areas.1.params[0].id"},
      {R"({"lines": [{"areas": {"1": {"params": [{"id": 1, "type": 8, "value": 5}]}}}]})", "lines[0].areas.1.params[0].value"},
      {R"({"lines": [{"areas": {"1": {"params": [{"id": 1, "value": 70000}]}}}]})", "lines[0].areas.1.params[0].value"},
      {R"({"lines": [{"areas": {"x": {}}}]})", "lines[0].areas.x"},
      {R"({"lines": [{"areas": {"1": {"request": "no"}}}]})", "lines[0].areas.1.request"},
      {R"({"lines": [{"areas": {"1": {"ready_after_polls": "soon"}}}]})", "lines[0].areas.1.ready_after_polls"},
      {R"({"lines": [{"handle": 5}, {"handle": 5}]})", "lines[1].handle"},
      {R"({"lines": [{"trace": {"repeat": {"count": "forever"}}}]})", "lines[0].trace.repeat"},
      {R"({"enum": {"count": 70000}})", "enum.count"},
      {R"({"enum": {"raw_names": ["zz"]}})", "enum.raw_names[0]"},
      // A key given twice would otherwise be taken silently, the last one winning.
      {R"({"lines": [], "lines": []})", "lines: given twice"},
      {R"({"lines": [{}, {"trace": {"frames": [1, {"hex": "00", "hex": "01"}]}}]})",
       "lines[1].trace.frames[1].hex: given twice"},
      {R"({"lines": [{"areas": {"1": {}, "1": {}}}]})", "lines[0].areas.1: given twice"},
  };
  for (const Case& c : cases) {
    try {
      ParseScenario(c.json);
      ADD_FAILURE() << "accepted: " << c.json;
    } catch (const ScenarioError& e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
    }
  }
}

TEST(ParseScenario, TheSameKeyInOtherObjectsAndRepeatedCommentsAreAccepted) {
  const Scenario s = ParseScenario(
      R"({"_c": 1, "_c": 2, "lines": [{"name": "A", "trace": {"capacity": 3}}, {"name": "B", "trace": {"capacity": 4}}]})");
  ASSERT_EQ(s.lines.size(), 2u);
  EXPECT_EQ(s.lines[1].name, "B");
  EXPECT_EQ(s.lines[1].trace.capacity, 4u);
}

TEST(ParseScenario, TooLargeAreaAndFrameAreRejected) {
  std::string params;
  for (int i = 0; i < 86; ++i) params += std::string(i ? "," : "") + R"({"id": 102, "type": 4, "value": 1})";
  EXPECT_THROW(ParseScenario(R"({"lines": [{"areas": {"1": {"params": [)" + params + "]}}}]}"), ScenarioError);
  EXPECT_NO_THROW(ParseScenario(R"({"lines": [{"areas": {"1": {"params": [)" + params.substr(params.find("},") + 2) + "]}}}]}"));
  const std::string frame(261 * 2, 'A');
  EXPECT_THROW(ParseScenario(R"({"lines": [{"trace": {"frames": [{"hex": ")" + frame + "\"}]}}]}"), ScenarioError);
}

// ---- The built-in scenario ----

// Walks a parameter list by type (2-byte, 4-byte, string): the identifiers in order, or an empty
// list when a parameter runs past the end.
std::vector<std::uint16_t> WalkByType(const Bytes& params) {
  std::vector<std::uint16_t> ids;
  std::size_t pos = 0;
  while (pos < params.size()) {
    if (pos + 2 > params.size()) return {};
    const auto id = static_cast<std::uint16_t>(params[pos] | (params[pos + 1] << 8));
    ids.push_back(id);
    pos += 2;
    const unsigned type = id >> 12;
    if (type == 0x4) {
      pos += 4;
    } else if (type == 0x8) {
      auto nul = std::find(params.begin() + static_cast<std::ptrdiff_t>(pos), params.end(), 0);
      if (nul == params.end()) return {};
      pos = static_cast<std::size_t>(nul - params.begin()) + 1;
    } else {
      pos += 2;
    }
  }
  return pos == params.size() ? ids : std::vector<std::uint16_t>{};
}

class DefaultScenario : public ::testing::Test {
 protected:
  Scenario s = ParseScenario(DefaultScenarioJson());

  // The area record as the final read returns it.
  std::vector<std::uint8_t> Record(std::uint32_t handle, std::uint32_t area) {
    testing::Rig rig{std::string(DefaultScenarioJson())};
    EXPECT_EQ(rig.Status(OP_AREA_REQUEST, handle, area), 0u);
    EXPECT_EQ(testing::U32(rig.Send(OP_AREA_POLL, handle), 48), kAreaReady);
    auto reply = rig.Send(OP_AREA_POLL, handle);
    return std::vector<std::uint8_t>(reply.begin() + kPayloadOffset, reply.begin() + kPayloadOffset + kAreaRecordSize);
  }
};

TEST_F(DefaultScenario, TwoLinesNamedByAdapterAndLine) {
  ASSERT_EQ(s.lines.size(), 2u);
  for (std::size_t i = 0; i < 2; ++i) {
    EXPECT_NE(s.lines[i].name.find("Tessix1"), std::string::npos);
    EXPECT_NE(s.lines[i].name.find("LINE" + std::to_string(i + 1)), std::string::npos);
    EXPECT_LT(s.lines[i].name.size(), 32u);  // shown whole by the trace tool
  }
}

TEST_F(DefaultScenario, EveryAreaPacksCleanly) {
  for (const LineSpec& line : s.lines) {
    std::vector<std::uint32_t> numbers;
    for (const auto& [number, area] : line.areas) {
      numbers.push_back(number);
      EXPECT_FALSE(WalkByType(area.params).empty()) << line.name << " area " << number;
    }
    EXPECT_EQ(numbers, (std::vector<std::uint32_t>{1, 2, 3, 10, 11, 12, 21, 22})) << line.name;
  }
}

TEST_F(DefaultScenario, LayerValuesSitWhereTheSummaryReadsThem) {
  for (const LineSpec& line : s.lines) {
    auto a1 = Record(line.handle, 1);
    EXPECT_EQ(testing::U16(a1, 20), 100u);
    EXPECT_EQ(testing::U16(a1, 22), 2u);  // Tx INFO 3
    EXPECT_EQ(testing::U16(a1, 24), 101u);
    EXPECT_EQ(testing::U16(a1, 26), 2u);  // Rx INFO 4
    auto a2 = Record(line.handle, 2);
    EXPECT_EQ(testing::U16(a2, 32), 203u);
    EXPECT_EQ(testing::U16(a2, 34), 7u);  // Multiframe Established
    auto a3 = Record(line.handle, 3);
    EXPECT_EQ(testing::U16(a3, 22), 4u);  // Active
    // The service is the seventh parameter, found by stepping over text parameters (bit 15) by
    // their length and over every other parameter by four bytes.
    std::size_t pos = 20;
    std::uint16_t id = 0, value = 0;
    for (int step = 0; step < 7; ++step) {
      id = testing::U16(a3, pos);
      value = testing::U16(a3, pos + 2);
      if (id & 0x8000) {
        pos += 2 + std::string(reinterpret_cast<const char*>(&a3[pos + 2])).size() + 1;
      } else {
        pos += 4;
      }
    }
    EXPECT_EQ(id, 306u);
    EXPECT_EQ(value, 2u);  // Full
  }
}

TEST_F(DefaultScenario, TrafficHasTheCallCycleAndRepeats) {
  for (const LineSpec& line : s.lines) {
    bool setup = false, disconnect16 = false;
    for (const FrameSpec& f : line.trace.frames) {
      ASSERT_GE(f.octets.size(), 3u);
      const Bytes& o = f.octets;
      const Bytes bearer = {0x04, 0x03, 0x80, 0x90, 0xA2};
      const Bytes cause16 = {0x08, 0x02, 0x80, 0x90};
      setup = setup || std::search(o.begin(), o.end(), bearer.begin(), bearer.end()) != o.end();
      disconnect16 = disconnect16 || std::search(o.begin(), o.end(), cause16.begin(), cause16.end()) != o.end();
    }
    EXPECT_TRUE(setup) << line.name;
    EXPECT_TRUE(disconnect16) << line.name;
    EXPECT_TRUE(line.trace.repeat_forever);
  }
}

}  // namespace
}  // namespace brisim
