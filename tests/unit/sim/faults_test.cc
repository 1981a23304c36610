#include "faults.h"

#include <gtest/gtest.h>

#include <cstring>

#include <nlohmann/json.hpp>

#include "scenario.h"
#include "sim_test_util.h"

namespace brisim {
namespace {

TEST(FaultRules, FlagsAndScenarioKeysReadTheSameRule) {
  const FaultRule flag = ParseFaultFlag("hang:opcode=OP_TRACE_READ,after=3,count=2,ms=5000,conn=1");
  const Scenario s = ParseScenario(
      R"({"faults": [{"kind": "hang", "opcode": "0x307", "after": 3, "count": 2, "ms": 5000, "conn": 1}]})");
  ASSERT_EQ(s.faults.size(), 1u);
  for (const FaultRule& rule : {flag, s.faults[0]}) {
    EXPECT_EQ(rule.kind, FaultKind::kHang);
    EXPECT_EQ(rule.opcode, OP_TRACE_READ);
    EXPECT_EQ(rule.conn, 1u);
    EXPECT_EQ(rule.after, 3u);
    EXPECT_EQ(rule.count, 2u);
    EXPECT_EQ(rule.ms, 5000);
  }
  EXPECT_TRUE(ParseFaultFlag("garbage:count=forever").forever);
  EXPECT_EQ(ParseFaultFlag("restart").kind, FaultKind::kRestart);
}

TEST(FaultRules, BadRulesAreRejectedNamingTheKey) {
  const struct {
    const char* json;
    const char* key;
  } cases[] = {
      {R"({"faults": {"kind": "hang"}})", "faults"},
      {R"({"faults": [{"kind": "explode"}]})", "faults[0].kind"},
      {R"({"faults": [{"opcode": 1}]})", "faults[0].kind"},
      {R"({"faults": [{"kind": "hang", "ms": -1}]})", "faults[0].ms"},
      {R"({"faults": [{"kind": "hang", "opcode": "OP_NOTHING"}]})", "faults[0].opcode"},
      {R"({"faults": [{"kind": "close", "when": 1}]})", "faults[0].when"},
  };
  for (const auto& c : cases) {
    try {
      ParseScenario(c.json);
      ADD_FAILURE() << c.json;
    } catch (const ScenarioError& e) {
      EXPECT_EQ(std::string(e.what()).rfind(c.key, 0), 0u) << e.what();
    }
  }
  EXPECT_THROW(ParseFaultFlag("hang:ms"), ScenarioError);
  EXPECT_THROW(ParseFaultFlag("hang:count=many"), ScenarioError);
}

TEST(FaultPlan, PicksRequestsByOpcodeConnectionAndCount) {
  FaultPlan plan({ParseFaultFlag("close:opcode=OP_TRACE_READ,after=2,count=2"), ParseFaultFlag("hang:conn=2"),
                  ParseFaultFlag("garbage:opcode=OP_ENUM_IDD,count=forever")});
  std::vector<std::string> got;
  const std::pair<std::uint32_t, std::uint64_t> requests[] = {
      {OP_TRACE_READ, 1}, {OP_TRACE_READ, 1}, {OP_TRACE_READ, 1}, {OP_TRACE_STATUS, 1}, {OP_TRACE_READ, 1},
      {OP_TRACE_READ, 1}, {OP_TRACE_STATUS, 2}, {OP_TRACE_STATUS, 2}, {OP_ENUM_IDD, 1},  {OP_ENUM_IDD, 1},
  };
  for (const auto& [opcode, conn] : requests) {
    const FaultRule* rule = plan.Next(opcode, conn);
    got.emplace_back(rule != nullptr ? FaultKindName(rule->kind) : "-");
  }
  EXPECT_EQ(got, (std::vector<std::string>{"-", "-", "close", "-", "close", "-", "hang", "-", "garbage", "garbage"}));
}

std::vector<std::uint8_t> Reply(std::uint32_t returned, std::vector<std::uint8_t> block) {
  return EncodeReply(true, ByteSpan(block), returned);
}

TEST(FaultPlan, GarbageKeepsTheFramingAndFillsThePayload) {
  std::vector<std::uint8_t> block(64, 0);
  block[kStatusOffset] = 7;
  const FaultRule garbage = ParseFaultFlag("garbage:bytes=100");
  const std::vector<std::uint8_t> spoilt = SpoilReply(garbage, Reply(kCommandBlockSize, block), 1);
  const ByteSpan s(spoilt);
  EXPECT_EQ(GetLE32(s, 0), 1u);
  EXPECT_EQ(GetLE32(s, 4), kCommandBlockSize);
  ASSERT_LE(GetLE32(s, 8), 140u);
  EXPECT_EQ(spoilt.size(), kReplyHeaderSize + GetLE32(s, 8));
  EXPECT_EQ(GetLE32(s, kReplyHeaderSize + kStatusOffset), 0u);
  EXPECT_EQ(spoilt, SpoilReply(garbage, Reply(kCommandBlockSize, block), 1));  // repeatable
  EXPECT_NE(spoilt, SpoilReply(garbage, Reply(kCommandBlockSize, block), 2));

  const std::vector<std::uint8_t> oversize = SpoilReply(ParseFaultFlag("oversize"), Reply(kCommandBlockSize, block), 1);
  EXPECT_EQ(GetLE32(ByteSpan(oversize), 4), kCommandBlockSize + 1);
}

// A connection fed from a byte string; counts what is written back.
class ScriptStream : public Stream {
 public:
  explicit ScriptStream(std::vector<std::uint8_t> in) : in_(std::move(in)) {}
  bool ReadExact(std::uint8_t* data, std::size_t size) override {
    if (in_.size() - pos_ < size) return false;
    std::memcpy(data, in_.data() + pos_, size);
    pos_ += size;
    return true;
  }
  bool WriteAll(const std::uint8_t* data, std::size_t size) override {
    out.insert(out.end(), data, data + size);
    ++replies;
    return true;
  }
  std::vector<std::uint8_t> out;
  int replies = 0;

 private:
  std::vector<std::uint8_t> in_;
  std::size_t pos_ = 0;
};

std::vector<std::uint8_t> Frames(const std::vector<std::vector<std::uint8_t>>& blocks) {
  std::vector<std::uint8_t> out;
  for (const auto& block : blocks) {
    std::size_t sent = block.size();
    while (sent > 0 && block[sent - 1] == 0) --sent;
    for (std::uint32_t v : {kControlCode, static_cast<std::uint32_t>(kCommandBlockSize), static_cast<std::uint32_t>(sent),
                            static_cast<std::uint32_t>(kCommandBlockSize)}) {
      for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    }
    out.insert(out.end(), block.begin(), block.begin() + static_cast<std::ptrdiff_t>(sent));
  }
  return out;
}

TEST(FaultyStream, CloseAndRestartEndConnections) {
  constexpr const char* kScenario =
      R"({"lines": [{"name": "Tessix1 LINE1"}], "faults": [{"kind": "close", "opcode": "OP_TRACE_STATUS"},
          {"kind": "restart", "opcode": "OP_LOG_FILE"}]})";
  Simulator sim(ParseScenario(kScenario), nullptr);
  using testing::Request;

  // The first status request loses its connection: nothing after it is answered.
  ScriptStream first(Frames({Request(OP_TRACE_CREATE, 0x1001, 20), Request(OP_TRACE_STATUS, 0x1001),
                             Request(OP_TRACE_START, 0x1001)}));
  RunSession(first, sim, 1);
  EXPECT_EQ(first.replies, 1);

  // A restart forgets the trace object: the next status request finds none.
  // (The log-file request is sent without its trailing zeros, the opcode's last bytes among them.)
  ScriptStream second(Frames({Request(OP_TRACE_STATUS, 0x1001), Request(OP_LOG_FILE)}));
  RunSession(second, sim, 2);
  EXPECT_EQ(second.replies, 1);
  ScriptStream third(Frames({Request(OP_TRACE_STATUS, 0x1001)}));
  RunSession(third, sim, 3);
  ASSERT_EQ(third.replies, 1);
  EXPECT_EQ(GetLE32(ByteSpan(third.out), kReplyHeaderSize + kStatusOffset), kStatusNoTrace);
  EXPECT_EQ(sim.Generation(), 1u);
}

}  // namespace
}  // namespace brisim
