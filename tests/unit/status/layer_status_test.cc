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

// The verdict line of one value and, under -v, its text line.
std::string Lines(const std::string& label, const std::string& text_label, bool go, unsigned value,
                  const std::string& text, bool verbose) {
  std::string out = " " + label + ": " + (go ? "Go!" : "Stop!") + " (" + std::to_string(value) + ")\n";
  if (verbose) out += " " + text_label + ": " + text + "\n";
  return out;
}

struct ValueCase {
  std::uint16_t value;
  bool go;
  std::string text;
};

TEST(LayerSummary, Layer1Verdicts) {
  // Tx: 2 and 3 (INFO 3) are Go!; Rx: only 2 (INFO 4). No entry past 3: an empty text.
  const std::vector<ValueCase> tx = {{0, false, "INFO 0"}, {1, false, "INFO 1"}, {2, true, "INFO 3"},
                                     {3, true, "INFO 3"},  {4, false, ""},       {65535, false, ""}};
  const std::vector<ValueCase> rx = {{1, false, "INFO 2"}, {2, true, "INFO 4"}, {3, false, "LostFraming"},
                                     {4, false, ""}};
  for (const ValueCase& t : tx) {
    for (const ValueCase& r : rx) {
      SCOPED_TRACE(testing::Message() << "tx " << t.value << " rx " << r.value);
      const L1Values values = ReadL1Values(Area1(t.value, r.value));
      for (bool verbose : {false, true}) {
        const LayerSummary summary = FormatL1Summary(values, verbose);
        EXPECT_EQ(summary.text, Lines("Layer 1 Tx State", "Layer 1 State", t.go, t.value, t.text, verbose) +
                                    Lines("Layer 1 Rx State", "Layer 1 Rx State", r.go, r.value, r.text, verbose));
        EXPECT_EQ(summary.stop, !t.go || !r.go);
      }
    }
  }
}

TEST(LayerSummary, Layer2Verdicts) {
  const std::vector<ValueCase> cases = {{0, false, "Initialized"},   {6, false, "Awaiting Multiframe Release"},
                                        {7, true, "Multiframe Established"}, {8, true, "Timer Recovery"},
                                        {9, true, ""},                 {300, true, ""}};
  for (const ValueCase& c : cases) {
    SCOPED_TRACE(c.value);
    for (bool verbose : {false, true}) {
      const LayerSummary summary = FormatL2Summary(ReadL2State(Area2(c.value)), verbose);
      EXPECT_EQ(summary.text, Lines("Layer 2 State", "Layer 2 State", c.go, c.value, c.text, verbose));
      EXPECT_EQ(summary.stop, !c.go);
    }
  }
}

TEST(LayerSummary, Layer3Verdicts) {
  const std::vector<ValueCase> states = {{1, false, "Awaiting Layer 2 Establishment"},
                                         {2, true, "Established, Awaiting Restart"},
                                         {3, false, "Restart Pending, Awaiting Ack"},
                                         {4, true, "Active"},
                                         {5, false, ""}};
  const std::vector<ValueCase> services = {
      {0, false, "Not Determined"}, {1, false, "Restricted"},  {2, true, "Full"},
      {3, true, "Non Initializing"}, {4, false, "Rejected, Bad or No SPID"},
      {5, false, ""},  {11, false, ""},  // 11 to 15 must not show the texts of 0 to 4
      {15, false, ""}, {16, false, "Not Determined, TM"}, {17, false, "Restricted, TM"},
      {18, true, "Full, TM"}, {19, true, "Non Initializing, TM"}, {20, false, "Rejected, Bad or No SPID, TM"},
      {21, false, ""}, {258, false, ""},  // bytes 02 01, one word
  };
  // Even SPID lengths (the empty one included) put the service value at an odd offset.
  const std::vector<std::string> spids = {"", "5", "0123456789", "01234567890"};
  for (const std::string& spid : spids) {
    for (const ValueCase& state : states) {
      for (const ValueCase& service : services) {
        SCOPED_TRACE(testing::Message() << "spid \"" << spid << "\" state " << state.value << " service "
                                        << service.value);
        std::size_t at = 0;
        const L3Values values = ReadL3Values(Area3(state.value, spid, service.value, &at));
        EXPECT_EQ(at % 2, spid.size() % 2 == 0 ? 1u : 0u);
        for (bool verbose : {false, true}) {
          const LayerSummary summary = FormatL3Summary(values, verbose);
          EXPECT_EQ(summary.text,
                    Lines("Layer 3 State", "Layer 3 State", state.go, state.value, state.text, verbose) +
                        Lines("Layer 3 Service", "Layer 3 Service", service.go, service.value, service.text, verbose));
          EXPECT_EQ(summary.stop, !state.go || !service.go);
        }
      }
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

}  // namespace
