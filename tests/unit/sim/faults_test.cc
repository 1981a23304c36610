#include "faults.h"

#include <gtest/gtest.h>

#include <cstring>

#include <nlohmann/json.hpp>

#include "scenario.h"
#include "sim_test_util.h"

namespace brisim {
namespace {

using testing::Frame;
using testing::MemoryStream;

// The message of the ScenarioError that fn throws; empty when it throws none.
template <typename Fn>
std::string Message(Fn fn) {
  try {
    fn();
  } catch (const ScenarioError& e) {
    return e.what();
  }
  return "";
}

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

// A negative count or pause is a number all the same: the message says what is wrong with it.
TEST(FaultRules, NegativeNumbersAreRefusedAsNegative) {
  const std::string messages[] = {
      Message([] { ParseScenario(R"({"faults": [{"kind": "hang", "ms": -1}]})"); }),
      Message([] { ParseFaultFlag("hang:ms=-1"); }),
      Message([] { ParseFaultFlag("close:after=-0x10"); }),
  };
  EXPECT_EQ(messages[0], "faults[0].ms: must not be negative");
  EXPECT_EQ(messages[1], "--fault hang:ms=-1.ms: must not be negative");
  EXPECT_EQ(messages[2], "--fault close:after=-0x10.after: must not be negative");
  EXPECT_EQ(Message([] { ParseFaultFlag("hang:ms=-x"); }),
            "--fault hang:ms=-x.ms: expected a number, not \"-x\"");
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

std::vector<std::uint8_t> Frames(const std::vector<std::vector<std::uint8_t>>& blocks) {
  std::vector<std::uint8_t> out;
  for (const auto& block : blocks) {
    const std::vector<std::uint8_t> framed = Frame(block);
    out.insert(out.end(), framed.begin(), framed.end());
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
  MemoryStream first(Frames({Request(OP_TRACE_CREATE, 0x1001, 20), Request(OP_TRACE_STATUS, 0x1001),
                             Request(OP_TRACE_START, 0x1001)}));
  RunSession(first, sim, 1);
  EXPECT_EQ(first.replies, 1);

  // A restart forgets the trace object: the next status request finds none.
  // (The log-file request is sent without its trailing zeros, the opcode's last bytes among them.)
  MemoryStream second(Frames({Request(OP_TRACE_STATUS, 0x1001), Request(OP_LOG_FILE)}));
  RunSession(second, sim, 2);
  EXPECT_EQ(second.replies, 1);
  MemoryStream third(Frames({Request(OP_TRACE_STATUS, 0x1001)}));
  RunSession(third, sim, 3);
  ASSERT_EQ(third.replies, 1);
  EXPECT_EQ(GetLE32(ByteSpan(third.out), kReplyHeaderSize + kStatusOffset), kStatusNoTrace);
  EXPECT_EQ(sim.Generation(), 1u);
}

}  // namespace
}  // namespace brisim
