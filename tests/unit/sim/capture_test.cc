// SPDX-License-Identifier: BSD-2-Clause
// Capture files as frame sources: the pseudo-header, direction inference, times and pacing, and
// a trace paced by its reader.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <pcap/pcap.h>

#include "capture.h"
#include "capture/capture_writer.h"
#include "sim_test_util.h"

namespace brisim {
namespace {

namespace fs = std::filesystem;
using testing::Rig;
using testing::U32;

constexpr std::uint32_t kLine = 0x1001;

struct Record {
  std::int64_t sec = 0;
  std::int64_t usec = 0;
  Bytes data;
};

// Writes a microsecond pcap file of the given link type with libpcap's own writer.
void WritePcap(const std::string& path, int link_type, const std::vector<Record>& records) {
  pcap_t* dead = pcap_open_dead(link_type, 65535);
  ASSERT_NE(dead, nullptr);
  pcap_dumper_t* out = pcap_dump_open(dead, path.c_str());
  ASSERT_NE(out, nullptr);
  for (const Record& r : records) {
    pcap_pkthdr h{};
    h.ts.tv_sec = static_cast<time_t>(r.sec);
    h.ts.tv_usec = static_cast<suseconds_t>(r.usec);
    h.caplen = h.len = static_cast<bpf_u_int32>(r.data.size());
    pcap_dump(reinterpret_cast<u_char*>(out), &h, r.data.data());
  }
  pcap_dump_close(out);
  pcap_close(dead);
}

// The LINUX_LAPD pseudo-header: packet type, ARPHRD type, address length, address, protocol.
Bytes LinuxLapd(std::uint16_t packet_type, bool capturer_is_network, const Bytes& frame,
                std::uint16_t protocol = kLapdProtocol) {
  const std::uint8_t header[kLinuxLapdHeaderSize] = {
      static_cast<std::uint8_t>(packet_type >> 8), static_cast<std::uint8_t>(packet_type), 0x20, 0xFD, 0, 1,
      static_cast<std::uint8_t>(capturer_is_network ? 1 : 0), 0, 0, 0, 0, 0, 0, 0,
      static_cast<std::uint8_t>(protocol >> 8), static_cast<std::uint8_t>(protocol)};
  Bytes out;
  out.reserve(kLinuxLapdHeaderSize + frame.size());
  for (std::uint8_t b : header) out.push_back(b);
  for (std::uint8_t b : frame) out.push_back(b);
  return out;
}

class CaptureFile : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("brisim-capture-" + std::to_string(::getpid()) + "-" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }

  fs::path dir_;
};

TEST(CaptureTime, BecomesFileTime) {
  struct Case {
    std::int64_t sec, nsec;
    std::uint64_t filetime;
  } cases[] = {
      {0, 0, kUnixEpochFileTime},
      {1, 250, kUnixEpochFileTime + 10000000 + 2},       // 250 ns: two whole 100-ns ticks
      {1765000000, 123456789, kUnixEpochFileTime + 17650000001234567ull},
      {-1, 0, kUnixEpochFileTime - 10000000},             // before 1970 still counts from 1601
      {0, -100, kUnixEpochFileTime - 1},
      {-11644473601, 0, 0},                               // before 1601
  };
  for (const Case& c : cases) EXPECT_EQ(FileTimeFromCaptureTime(c.sec, c.nsec), c.filetime) << c.sec << "." << c.nsec;
}

TEST(LinuxLapdHeader, SenderFromPacketTypeAndCapturingSide) {
  struct Case {
    std::uint16_t packet_type;
    bool capturer_is_network;
    std::uint32_t direction;
  } cases[] = {
      {4, false, 0},  // the user side captured what it sent
      {0, false, 1},  // the user side received it from the network
      {4, true, 1},   // the network side sent it
      {0, true, 0},   // the network side received it from the user
      {1, false, 1},  // broadcast to the capturer: received
  };
  for (const Case& c : cases) {
    LinuxLapdHeader h;
    ASSERT_TRUE(ReadLinuxLapdHeader(LinuxLapd(c.packet_type, c.capturer_is_network, {}), &h));
    EXPECT_TRUE(h.lapd);
    EXPECT_EQ(h.direction, c.direction) << c.packet_type << " " << c.capturer_is_network;
  }
  LinuxLapdHeader h;
  ASSERT_TRUE(ReadLinuxLapdHeader(LinuxLapd(0, false, {}, 0x0800), &h));
  EXPECT_FALSE(h.lapd);
  EXPECT_FALSE(ReadLinuxLapdHeader(Bytes(15, 0), &h));
}

TEST(InferDirections, CommandResponsePolarityAndPollFinal) {
  // frame, the side that sent it
  const std::vector<std::pair<Bytes, std::uint32_t>> link = {
      {{0xFC, 0xFF, 0x03, 0x0F, 0x5A, 0x3C, 0x01, 0xFF}, 0},  // TEI Id request: UI command, C/R 0
      {{0xFE, 0xFF, 0x03, 0x0F, 0x5A, 0x3C, 0x02, 0x81}, 1},  // Id assigned: UI command, C/R 1
      {{0x00, 0x81, 0x7F}, 0},                                // SABME P=1
      {{0x00, 0x81, 0x73}, 1},                                // UA F=1: response, C/R 0
      {{0x02, 0x81, 0x01, 0x01}, 1},                          // RR P=1, nothing pending: command
      {{0x02, 0x81, 0x01, 0x01}, 0},                          // RR F=1 answering the poll: response
      {{0x00, 0x81, 0x00, 0x00, 0x08, 0x01, 0x01, 0x05}, 0},  // I frame from the user
      {{0x00, 0x81, 0x01, 0x02}, 1},                          // RR without P/F: acknowledgement
      {{0x02, 0x81, 0x00, 0x03}, 1},                          // I frame P=1 from the network
      {{0x02, 0x81, 0x01, 0x03}, 0},                          // RR F=1: the user's answer
      {{0x00, 0x81, 0x0F}, 1},                                // DM: response, C/R 0
      {{0x02, 0x81, 0x87, 0x00, 0x02, 0x01}, 0},              // FRMR response, C/R 1
      {{0x00, 0x81, 0x53}, 0},                                // DISC P=1
      {{0x00, 0x81}, 0},                                      // no control field: user side
  };
  std::vector<Bytes> frames;
  std::vector<std::uint32_t> expected;
  for (const auto& [f, d] : link) {
    frames.push_back(f);
    expected.push_back(d);
  }
  InferenceCounts counts;
  EXPECT_EQ(InferDirections(frames, &counts), expected);
  EXPECT_EQ(counts.by_kind, 9u);
  EXPECT_EQ(counts.by_poll, 4u);
  EXPECT_EQ(counts.too_short, 1u);
}

TEST(InferDirections, PendingPollIsPerLink) {
  // A poll on TEI 64 is not answered by an RR F=1 on TEI 65, which is then a command itself.
  InferenceCounts counts;
  const auto d = InferDirections({{0x02, 0x81, 0x01, 0x01}, {0x02, 0x83, 0x01, 0x01}, {0x02, 0x81, 0x01, 0x01}}, &counts);
  EXPECT_EQ(d, (std::vector<std::uint32_t>{1, 1, 0}));
}

TEST_F(CaptureFile, LinuxLapdGivesDirectionsTimesAndPace) {
  const Bytes sabme = {0x00, 0x81, 0x7F}, ua = {0x00, 0x81, 0x73};
  WritePcap(Path("a.pcap"), kLinkTypeLinuxLapd,
            {{1765000000, 0, LinuxLapd(4, false, sabme)},
             {1765000000, 30000, LinuxLapd(0, false, ua)},
             {1765000000, 40000, LinuxLapd(0, false, ua, 0x0800)},  // not LAPD: skipped
             {1765000002, 500000, LinuxLapd(0, false, Bytes(300, 0x02))}});
  struct Case {
    std::string pace;
    std::vector<std::int64_t> at_ms;
  } cases[] = {{"recorded", {100, 130, 2600}}, {"10x", {100, 103, 350}}, {"fast", {100, 100, 100}}};
  for (const Case& c : cases) {
    CaptureSpec plan;
    ASSERT_TRUE(ParsePace(c.pace, &plan));
    plan.start_ms = 100;
    CaptureSummary summary;
    const auto frames = ReadCapture(plan, Path("a.pcap"), &summary);
    ASSERT_EQ(frames.size(), 3u) << c.pace;
    EXPECT_EQ(summary.not_lapd, 1u);
    EXPECT_EQ(summary.cut_to_260, 1u);
    EXPECT_EQ(frames[0].octets, sabme);
    EXPECT_EQ(frames[1].octets, ua);
    EXPECT_EQ(frames[2].octets.size(), 260u);
    EXPECT_EQ(frames[0].direction, 0u);
    EXPECT_EQ(frames[1].direction, 1u);
    EXPECT_EQ(frames[1].filetime, FileTimeFromCaptureTime(1765000000, 30000000));
    for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(frames[i].at_ms, c.at_ms[i]) << c.pace << " frame " << i;
  }
}

TEST_F(CaptureFile, BareLapdTakesTheGivenDirectionOrInfersIt) {
  WritePcap(Path("b.pcap"), kLinkTypeLapd, {{10, 0, {0x00, 0x81, 0x7F}}, {10, 1000, {0x00, 0x81, 0x73}}});
  CaptureSpec plan;
  CaptureSummary summary;
  auto frames = ReadCapture(plan, Path("b.pcap"), &summary);
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0].direction, 0u);
  EXPECT_EQ(frames[1].direction, 1u);
  EXPECT_NE(summary.directions.find("inferred"), std::string::npos);

  plan.direction = 1;
  frames = ReadCapture(plan, Path("b.pcap"), &summary);
  EXPECT_EQ(frames[0].direction, 1u);
  EXPECT_EQ(frames[1].direction, 1u);
  EXPECT_NE(summary.directions.find("given"), std::string::npos);
}

TEST_F(CaptureFile, UnreadableFileAndForeignLinkTypeNameTheKey) {
  WritePcap(Path("eth.pcap"), 1, {{0, 0, {1, 2, 3}}});
  std::ofstream(Path("junk.pcap")) << "not a capture";
  // An endless input is read as lapdecode reads it: refused at its first octets, never held whole.
  for (const std::string& path :
       {Path("eth.pcap"), Path("junk.pcap"), Path("missing.pcap"), std::string("/dev/zero")}) {
    CaptureSpec plan;
    plan.key = "lines[0].trace.capture";
    CaptureSummary summary;
    try {
      ReadCapture(plan, path, &summary);
      ADD_FAILURE() << path << " was read";
    } catch (const ScenarioError& e) {
      EXPECT_EQ(std::string(e.what()).rfind("lines[0].trace.capture: ", 0), 0u) << e.what();
      if (path == "/dev/zero") {
        EXPECT_NE(std::string(e.what()).find("not a pcap or pcapng file"), std::string::npos);
      }
    }
  }
}

TEST_F(CaptureFile, ScenarioCapturesFollowTheListedFramesRelativeToTheScenario) {
  WritePcap(Path("c.pcap"), kLinkTypeLapd, {{10, 0, {0x00, 0x81, 0x7F}}, {11, 0, {0x00, 0x81, 0x73}}});
  Scenario s = ParseScenario(R"({"lines": [{"trace": {
      "frames": [{"hex": "02 01 01 05"}],
      "capture": {"file": "c.pcap", "pace": 2, "start_ms": 50},
      "repeat": {"count": 1, "every_ms": 5000, "from": 2}}}]})");
  const auto lines = LoadCaptures(s, dir_.string());
  ASSERT_EQ(lines.size(), 1u);
  const TraceSpec& t = s.lines[0].trace;
  ASSERT_EQ(t.frames.size(), 3u);
  EXPECT_EQ(t.frames[1].at_ms, 50);
  EXPECT_EQ(t.frames[2].at_ms, 550);
  EXPECT_FALSE(t.capture.has_value());
  EXPECT_FALSE(t.paced_by_reader);

  // A repeat beyond the frames is reported once the capture's frames are known.
  Scenario bad = ParseScenario(R"({"lines": [{"trace": {"capture": "c.pcap", "repeat": {"count": 1, "from": 3}}}]})");
  EXPECT_THROW(LoadCaptures(bad, dir_.string()), ScenarioError);
}

TEST_F(CaptureFile, FlagsGiveDirectionsAndACutFilePlaysTheFramesBeforeTheCut) {
  // pcapng with the packets' inbound/outbound flags, written by the capture module, cut inside
  // its last block.
  capture::ByteBuffer file;
  capture::AppendSectionHeader(file, "");
  capture::AppendInterfaceDescription(file, {kLinkTypeLapd, 0, "x", 6});
  const Bytes sabme = {0x02, 0x81, 0x7F}, ua = {0x02, 0x81, 0x73};  // C/R 1 both: inference would say N, T
  capture::AppendEnhancedPacket(file, {0, 1000000, sabme, 0, capture::PacketDirection::kOutbound, false, 0});
  capture::AppendEnhancedPacket(file, {0, 2000000, ua, 0, capture::PacketDirection::kInbound, false, 0});
  capture::AppendEnhancedPacket(file, {0, 3000000, ua, 0, capture::PacketDirection::kInbound, false, 0});
  file.resize(file.size() - 6);
  std::ofstream(Path("cut.pcapng"), std::ios::binary).write(reinterpret_cast<const char*>(file.data()),
                                                             static_cast<std::streamsize>(file.size()));
  Scenario s = ParseScenario(R"({"lines": [{"trace": {"capture": "cut.pcapng"}}]})");
  const auto lines = LoadCaptures(s, dir_.string());
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[0].find("2 frames"), std::string::npos) << lines[0];
  EXPECT_NE(lines[0].find("directions from the packets' inbound/outbound flags"), std::string::npos) << lines[0];
  EXPECT_EQ(lines[1].rfind("warning: ", 0), 0u) << lines[1];
  EXPECT_NE(lines[1].find("cut short"), std::string::npos) << lines[1];
  const TraceSpec& t = s.lines[0].trace;
  ASSERT_EQ(t.frames.size(), 2u);
  EXPECT_EQ(t.frames[0].direction, 0u);
  EXPECT_EQ(t.frames[1].direction, 1u);
  EXPECT_EQ(t.frames[1].filetime, FileTimeFromCaptureTime(2, 0));
}

TEST(CaptureScenario, BadKeysAreRejected) {
  for (const char* json : {
           R"({"lines": [{"trace": {"capture": {"pace": "fast"}}}]})",
           R"({"lines": [{"trace": {"capture": {"file": "x.pcap", "pace": 0}}}]})",
           R"({"lines": [{"trace": {"capture": {"file": "x.pcap", "pace": "slow"}}}]})",
           R"({"lines": [{"trace": {"capture": {"file": "x.pcap", "speed": 2}}}]})",
           R"({"lines": [{"trace": {"repeat": {"count": 1, "from": 1}}}]})",
       }) {
    EXPECT_THROW(ParseScenario(json), ScenarioError) << json;
  }
}

TEST(PacedByReader, HoldsNoMoreUnreadEntriesThanItsCapacityAndDropsNone) {
  Scenario s = ParseScenario(R"({"lines": [{"trace": {"capacity": 3, "frames": [
      {"hex": "00"}, {"hex": "01"}, {"hex": "02"}, {"hex": "03"}, {"hex": "04"}, {"hex": "05"}]}}]})");
  s.lines[0].trace.paced_by_reader = true;
  Rig rig(std::move(s));
  ASSERT_EQ(rig.Status(OP_TRACE_CREATE, kLine, 20), 0u);
  ASSERT_EQ(rig.Status(OP_TRACE_START, kLine), 0u);
  auto status = rig.Send(OP_TRACE_STATUS, kLine);
  EXPECT_EQ(U32(status, 44), 3u);  // recorded
  EXPECT_EQ(U32(status, 48), 0u);  // dropped
  EXPECT_EQ(rig.Status(OP_TRACE_READ, kLine, 3), kStatusNotAvailable);
  // Each entry read makes room for the next one; every entry is read, none dropped.
  for (std::uint32_t n = 0; n < 6; ++n) ASSERT_EQ(rig.Status(OP_TRACE_READ, kLine, n), 0u) << n;
  status = rig.Send(OP_TRACE_STATUS, kLine);
  EXPECT_EQ(U32(status, 44), 6u);
  EXPECT_EQ(U32(status, 56) - U32(status, 52), 3u);  // the oldest held entry
  EXPECT_EQ(rig.Status(OP_TRACE_READ, kLine, 6), kStatusNotAvailable);
}

TEST(PacedByReader, StopFreezesWhatWasRecorded) {
  Scenario s = ParseScenario(R"({"lines": [{"trace": {"capacity": 2, "frames": [
      {"hex": "00"}, {"hex": "01"}, {"hex": "02"}, {"hex": "03"}]}}]})");
  s.lines[0].trace.paced_by_reader = true;
  Rig rig(std::move(s));
  ASSERT_EQ(rig.Status(OP_TRACE_CREATE, kLine, 20), 0u);
  ASSERT_EQ(rig.Status(OP_TRACE_START, kLine), 0u);
  ASSERT_EQ(rig.Status(OP_TRACE_STOP, kLine), 0u);
  EXPECT_EQ(rig.Status(OP_TRACE_READ, kLine, 0), 0u);
  EXPECT_EQ(rig.Status(OP_TRACE_READ, kLine, 1), 0u);
  EXPECT_EQ(rig.Status(OP_TRACE_READ, kLine, 2), kStatusNotAvailable);
}

}  // namespace
}  // namespace brisim
