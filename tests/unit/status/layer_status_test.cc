#include "status/layer_status.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Packs parameters into an area record's list the way the driver does: identifier, then value,
// back to back.
class RecordBuilder {
 public:
  RecordBuilder& Word(std::uint16_t id, std::uint16_t value) {
    Put16(id);
    Put16(value);
    return *this;
  }
  RecordBuilder& Text(std::uint16_t id, const std::string& text) {
    Put16(id);
    for (char c : text) record_.raw.at(pos_++) = static_cast<std::uint8_t>(c);
    record_.raw.at(pos_++) = 0;
    return *this;
  }
  std::size_t pos() const { return pos_; }
  const AreaRecord& record() const { return record_; }

 private:
  void Put16(std::uint16_t v) {
    record_.raw.at(pos_++) = static_cast<std::uint8_t>(v & 0xFF);
    record_.raw.at(pos_++) = static_cast<std::uint8_t>(v >> 8);
  }
  AreaRecord record_{};
  std::size_t pos_ = kParamsOffset;
};

AreaRecord Area1(std::uint16_t tx, std::uint16_t rx) {
  return RecordBuilder().Word(100, tx).Word(101, rx).Word(102, 7).record();
}

AreaRecord Area2(std::uint16_t lap_state) {
  return RecordBuilder().Word(200, 1).Word(201, 0).Word(202, 64).Word(203, lap_state).record();
}

// Area 3 as the driver lists it, "Spid" (a text, identifier 0x812F) fourth.
AreaRecord Area3(std::uint16_t state, const std::string& spid, std::uint16_t service, std::size_t* service_at = nullptr) {
  RecordBuilder b;
  b.Word(300, state).Word(301, 64).Word(302, 1).Text(0x812F, spid).Word(304, 128).Word(305, 1);
  if (service_at != nullptr) *service_at = b.pos() + 2;
  b.Word(306, service);
  return b.record();
}

TEST(LayerSummary, Layer1Verdicts) {
  struct Case {
    std::uint16_t tx, rx;
    std::string plain, verbose;
  };
  const std::vector<Case> cases = {
      {3, 2, " Layer 1 Tx State: Go! (3)\n Layer 1 Rx State: Go! (2)\n",
       " Layer 1 Tx State: Go! (3)\n Layer 1 State: INFO 3\n Layer 1 Rx State: Go! (2)\n Layer 1 Rx State: INFO 4\n"},
      {2, 3, " Layer 1 Tx State: Go! (2)\n Layer 1 Rx State: Stop! (3)\n",
       " Layer 1 Tx State: Go! (2)\n Layer 1 State: INFO 3\n Layer 1 Rx State: Stop! (3)\n"
       " Layer 1 Rx State: LostFraming\n"},
      {1, 1, " Layer 1 Tx State: Stop! (1)\n Layer 1 Rx State: Stop! (1)\n",
       " Layer 1 Tx State: Stop! (1)\n Layer 1 State: INFO 1\n Layer 1 Rx State: Stop! (1)\n"
       " Layer 1 Rx State: INFO 2\n"},
      {0, 0, " Layer 1 Tx State: Stop! (0)\n Layer 1 Rx State: Stop! (0)\n",
       " Layer 1 Tx State: Stop! (0)\n Layer 1 State: INFO 0\n Layer 1 Rx State: Stop! (0)\n"
       " Layer 1 Rx State: INFO 0\n"},
      // No table entry: an empty text after the label. Values are printed unsigned.
      {4, 65535, " Layer 1 Tx State: Stop! (4)\n Layer 1 Rx State: Stop! (65535)\n",
       " Layer 1 Tx State: Stop! (4)\n Layer 1 State: \n Layer 1 Rx State: Stop! (65535)\n Layer 1 Rx State: \n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "tx " << c.tx << " rx " << c.rx);
    const L1Values values = ReadL1Values(Area1(c.tx, c.rx));
    EXPECT_EQ(values.tx, c.tx);
    EXPECT_EQ(values.rx, c.rx);
    const LayerSummary plain = FormatL1Summary(values, false);
    EXPECT_EQ(plain.text, c.plain);
    EXPECT_EQ(plain.stop, c.plain.find("Stop!") != std::string::npos);
    EXPECT_EQ(FormatL1Summary(values, true).text, c.verbose);
  }
}

TEST(LayerSummary, Layer2Verdicts) {
  struct Case {
    std::uint16_t state;
    bool go;
    std::string text;
  };
  const std::vector<Case> cases = {
      {0, false, "Initialized"},
      {5, false, "Awaiting Multiframe Establishment"},
      {6, false, "Awaiting Multiframe Release"},
      {7, true, "Multiframe Established"},
      {8, true, "Timer Recovery"},
      {9, true, ""},
      {300, true, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.state);
    const std::uint16_t state = ReadL2State(Area2(c.state));
    EXPECT_EQ(state, c.state);
    const std::string verdict =
        std::string(" Layer 2 State: ") + (c.go ? "Go!" : "Stop!") + " (" + std::to_string(c.state) + ")\n";
    const LayerSummary plain = FormatL2Summary(state, false);
    EXPECT_EQ(plain.text, verdict);
    EXPECT_EQ(plain.stop, !c.go);
    EXPECT_EQ(FormatL2Summary(state, true).text, verdict + " Layer 2 State: " + c.text + "\n");
  }
}

TEST(LayerSummary, Layer3StateVerdicts) {
  struct Case {
    std::uint16_t state;
    bool go;
    std::string text;
  };
  const std::vector<Case> cases = {
      {1, false, "Awaiting Layer 2 Establishment"}, {2, true, "Established, Awaiting Restart"},
      {3, false, "Restart Pending, Awaiting Ack"},  {4, true, "Active"},
      {5, false, ""},                               {6, false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.state);
    const L3Values values = ReadL3Values(Area3(c.state, "0123456789", 2));
    EXPECT_EQ(values.state, c.state);
    const std::string verdict =
        std::string(" Layer 3 State: ") + (c.go ? "Go!" : "Stop!") + " (" + std::to_string(c.state) + ")\n";
    const std::string service = " Layer 3 Service: Go! (2)\n";
    EXPECT_EQ(FormatL3Summary(values, false).text, verdict + service);
    EXPECT_EQ(FormatL3Summary(values, false).stop, !c.go);
    EXPECT_EQ(FormatL3Summary(values, true).text,
              verdict + " Layer 3 State: " + c.text + "\n" + service + " Layer 3 Service: Full\n");
  }
}

TEST(LayerSummary, Layer3ServiceAtEvenAndOddOffsets) {
  struct Case {
    std::uint16_t service;
    bool go;
    std::string text;
  };
  const std::vector<Case> cases = {
      {0, false, "Not Determined"},
      {1, false, "Restricted"},
      {2, true, "Full"},
      {3, true, "Non Initializing"},
      {4, false, "Rejected, Bad or No SPID"},
      {5, false, ""},
      {11, false, ""},  // must not show the texts of 0 to 4
      {15, false, ""},
      {16, false, "Not Determined, TM"},
      {17, false, "Restricted, TM"},
      {18, true, "Full, TM"},
      {19, true, "Non Initializing, TM"},
      {20, false, "Rejected, Bad or No SPID, TM"},
      {21, false, ""},
      {258, false, ""},  // bytes 02 01: read as one word, not as 2
      {0x8012, false, ""},
  };
  // Even SPID lengths (the empty one included) put the service value at an odd offset.
  const std::vector<std::string> spids = {"", "5", "55", "0123456789", "01234567890"};
  for (const std::string& spid : spids) {
    for (const Case& c : cases) {
      SCOPED_TRACE(testing::Message() << "spid \"" << spid << "\" service " << c.service);
      std::size_t at = 0;
      const AreaRecord record = Area3(4, spid, c.service, &at);
      EXPECT_EQ(at % 2, spid.size() % 2 == 0 ? 1u : 0u);
      const L3Values values = ReadL3Values(record);
      EXPECT_EQ(values.service, c.service);
      const std::string verdict =
          std::string(" Layer 3 Service: ") + (c.go ? "Go!" : "Stop!") + " (" + std::to_string(c.service) + ")\n";
      const std::string state = " Layer 3 State: Go! (4)\n";
      EXPECT_EQ(FormatL3Summary(values, false).text, state + verdict);
      EXPECT_EQ(FormatL3Summary(values, false).stop, !c.go);
      EXPECT_EQ(FormatL3Summary(values, true).text,
                state + " Layer 3 State: Active\n" + verdict + " Layer 3 Service: " + c.text + "\n");
    }
  }
}

TEST(LayerSummary, ServiceWalkStopsAtTheRecordEnd) {
  // Every identifier has bit 15 set and no text ends inside the record: the walk runs off the end
  // and reads zeros there.
  AreaRecord full{};
  full.raw.fill(0xFF);
  EXPECT_EQ(ReadL3Values(full).service, 0);

  // A seventh value whose low byte is the record's last byte: its high byte reads as 0.
  AreaRecord edge{};
  edge.raw[kParamsOffset] = 0x00;
  edge.raw[kParamsOffset + 1] = 0x80;  // a text parameter of 490 characters
  for (std::size_t i = kParamsOffset + 2; i < kParamsOffset + 2 + 490; ++i) edge.raw[i] = 'x';
  // The NUL at 512, five 4-byte parameters from 513, the seventh at 533, its value at 535.
  edge.raw[kAreaRecordSize - 1] = 0x05;
  EXPECT_EQ(ReadL3Values(edge).service, 5);
}

TEST(LayerSummary, StateTextsNeverLeaveTheirTables) {
  for (std::uint32_t v : {4u, 5u, 100u, 0xFFFFu, 0xFFFFFFFFu}) {
    EXPECT_EQ(TxStateText(v), "");
    EXPECT_EQ(RxStateText(v), "");
  }
  EXPECT_EQ(L2StateText(9), "");
  EXPECT_EQ(L2StateText(0xFFFFFFFFu), "");
  EXPECT_EQ(L3StateText(5), "");
  EXPECT_EQ(L3StateText(0xFFFFFFFFu), "");
  for (std::uint32_t v = 5; v <= 15; ++v) EXPECT_EQ(L3ServiceText(v), "") << v;
  EXPECT_EQ(L3ServiceText(0xFFFFFFFFu), "");
}

}  // namespace
