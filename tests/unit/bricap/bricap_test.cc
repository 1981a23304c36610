#include "bricap/bricap.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "bricap/capture_file.h"
#include "bricap/file_set.h"
#include "bricap/options.h"
#include "capture/capture_reader.h"
#include "capture/lapd_frames.h"
#include "common/trace_poll.h"
#include "decode/trace_entry_codec.h"

namespace {

using bricap::Action;

struct Parsed {
  bool ok;
  bricap::Options options;
  std::string error;
};

Parsed Parse(std::vector<std::string> args) {
  args.insert(args.begin(), "bricap");
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  Parsed p{false, {}, {}};
  p.ok = bricap::ParseArguments(static_cast<int>(argv.size()), argv.data(), &p.options, &p.error);
  return p;
}

TEST(BricapOptions, CaptureOptionsInDumpcapsForms) {
  const Parsed p =
      Parse({"-i", "1", "-i3", "-i", "bri1", "-w", "out.pcapng", "-c", "25", "-a", "duration:7"});
  ASSERT_TRUE(p.ok) << p.error;
  EXPECT_EQ(p.options.action, Action::kCapture);
  EXPECT_EQ(p.options.lines, (std::vector<std::size_t>{1, 3}));  // in order, each once
  EXPECT_EQ(p.options.file, "out.pcapng");
  EXPECT_EQ(p.options.count, 25u);
  EXPECT_EQ(p.options.duration, 7u);

  const Parsed all = Parse({"-w", "-"});
  ASSERT_TRUE(all.ok);
  EXPECT_TRUE(all.options.lines.empty());
  EXPECT_EQ(all.options.file, "-");
  EXPECT_EQ(all.options.count, 0u);
  EXPECT_EQ(all.options.duration, 0u);
}

TEST(BricapOptions, StopAndSwitchCriteria) {
  const Parsed one =
      Parse({"-w", "x", "-c", "50", "-a", "packets:20", "-a", "filesize:100", "-a", "duration:9"});
  ASSERT_TRUE(one.ok) << one.error;
  EXPECT_EQ(one.options.count, 20u);  // the smaller of -c and -a packets
  EXPECT_EQ(one.options.stop_filesize_kb, 100u);
  EXPECT_FALSE(one.options.multiple_files);

  const Parsed set =
      Parse({"-w", "run.pcapng", "-b", "duration:60", "-b", "interval:3600", "-b", "packets:7", "-b",
             "files:4", "-b", "printname:stdout", "-a", "filesize:300", "-a", "files:9"});
  ASSERT_TRUE(set.ok) << set.error;
  const bricap::Options& o = set.options;
  EXPECT_TRUE(o.multiple_files);
  EXPECT_EQ(o.switch_duration, 60u);
  EXPECT_EQ(o.switch_interval, 3600u);
  EXPECT_EQ(o.switch_packets, 7u);
  EXPECT_EQ(o.ring_files, 4u);
  EXPECT_EQ(o.printname, "stdout");
  // With -b, -a filesize switches files instead of stopping.
  EXPECT_EQ(o.switch_filesize_kb, 300u);
  EXPECT_EQ(o.stop_filesize_kb, 0u);
  EXPECT_EQ(o.stop_files, 9u);

  // -a filesize alone is a criterion to switch by; a -b filesize of its own wins.
  const Parsed by_size = Parse({"-w", "x", "-b", "files:3", "-a", "filesize:10", "-b", "filesize:20"});
  ASSERT_TRUE(by_size.ok) << by_size.error;
  EXPECT_EQ(by_size.options.switch_filesize_kb, 20u);
}

TEST(BricapFileSet, NamesAsFileSetsFindThem) {
  const SystemTime t{2026, 12, 3, 9, 1, 2, 3, 0};
  const struct {
    std::string path;
    std::uint64_t number;
    std::string name;
  } cases[] = {
      {"run.pcapng", 1, "run_00001_20261209010203.pcapng"},
      {"/var/cap/run.d/bri", 42, "/var/cap/run.d/bri_00042_20261209010203"},  // the dot of a folder
      {"a.b.pcapng", 123456, "a.b_123456_20261209010203.pcapng"},
      {".pcapng", 1, ".pcapng_00001_20261209010203"},  // a name that is all suffix keeps it as the prefix
  };
  for (const auto& c : cases) EXPECT_EQ(bricap::FileSetName(c.path, c.number, t), c.name) << c.path;
  EXPECT_EQ(bricap::NextIntervalBoundary(7199, 3600), 7200u);
  EXPECT_EQ(bricap::NextIntervalBoundary(7200, 3600), 10800u);  // on the boundary: the next one
}

TEST(BricapOptions, ActionsWithoutACapture) {
  const struct {
    std::vector<std::string> args;
    Action action;
  } cases[] = {
      {{"-D"}, Action::kListLines},
      {{"-h"}, Action::kUsage},
      {{"-w", "x", "-h"}, Action::kUsage},
      {{"-v"}, Action::kVersion},
      {{"--extcap-interfaces"}, Action::kExtcapInterfaces},
      {{"--extcap-interfaces", "--extcap-version=4.0"}, Action::kExtcapInterfaces},
      {{"--extcap-version"}, Action::kExtcapVersion},
      {{"--extcap-dlts", "--extcap-interface", "bri0"}, Action::kExtcapDlts},
      {{"--extcap-config", "--extcap-interface=bri2"}, Action::kExtcapConfig},
      {{"--extcap-interface", "bri0", "--extcap-capture-filter", "lapd"}, Action::kExtcapFilter},
      {{"--capture", "--extcap-interface", "bri4", "--fifo", "/tmp/f", "--extcap-control-in", "x"},
       Action::kExtcapCapture},
  };
  for (const auto& c : cases) {
    const Parsed p = Parse(c.args);
    ASSERT_TRUE(p.ok) << c.args[0] << ": " << p.error;
    EXPECT_EQ(p.options.action, c.action) << c.args[0];
  }
  const Parsed capture = Parse({"--capture", "--extcap-interface", "bri4", "--fifo", "/tmp/f"});
  EXPECT_EQ(capture.options.lines, (std::vector<std::size_t>{4}));
  EXPECT_EQ(capture.options.file, "/tmp/f");
}

TEST(BricapOptions, BadCommandLinesSayWhy) {
  const std::vector<std::vector<std::string>> cases = {
      {},                       // nothing to do
      {"-w"},                   // no file
      {"-i", "0"},              // no -w
      {"-i", "20", "-w", "x"},  // no such line number
      {"-i", "-1", "-w", "x"},
      {"-i", "bri", "-w", "x"},
      {"-c", "0", "-w", "x"},
      {"-c", "ten", "-w", "x"},
      {"-a", "duration:0", "-w", "x"},
      {"-a", "filesize:0", "-w", "x"},  // (filesize:10 is a criterion now)
      {"-a", "size:10", "-w", "x"},
      {"-a", "files:2", "-w", "x"},  // files of -b, without -b
      {"-b", "files:5", "-w", "x"},  // a ring without a criterion to switch by
      {"-b", "printname:-", "-w", "x"},
      {"-b", "packets:10", "-w", "-"},  // a set of files on standard output
      {"-b", "packets:0", "-w", "x"},
      {"-b", "bytes:10", "-w", "x"},
      {"-b", "printname:", "-b", "packets:1", "-w", "x"},
      {"-b", "packets:1", "--capture", "--extcap-interface", "bri0", "--fifo", "/tmp/f"},
      {"-a", "duration:99999999999", "-w", "x"},
      {"--keep-failed", "k", "-w", "x"},                                  // no ring to keep files out of
      {"--keep-failed", "k", "-b", "packets:1", "-w", "x"},               // files, but no ring
      {"--keep-failed=", "-b", "files:2", "-b", "packets:1", "-w", "x"},  // no folder
      {"--keep-failed", "k", "--capture", "--extcap-interface", "bri0", "--fifo", "/tmp/f"},
      {"-Dx"},
      {"-x"},
      {"extra"},
      {"--nonsense"},
      {"--capture", "--extcap-interface", "bri0"},  // no FIFO
      {"--extcap-dlts"},                            // no interface
      {"--fifo", "/tmp/f", "--extcap-interface", "bri0"},
  };
  for (const auto& args : cases) {
    const Parsed p = Parse(args);
    EXPECT_FALSE(p.ok) << (args.empty() ? "(none)" : args[0]);
    EXPECT_FALSE(p.error.empty());
    EXPECT_EQ(p.error.find('\n'), std::string::npos);
  }
}

std::array<std::uint8_t, kTraceEntrySize> Entry(std::uint64_t file_time, std::uint32_t direction,
                                                std::int32_t length, std::uint8_t fill = 0xA5) {
  std::array<std::uint8_t, kFrameDataSize> octets{};
  for (std::size_t i = 0; i < kFrameDataSize; ++i) octets[i] = static_cast<std::uint8_t>(fill + i);
  std::array<std::uint8_t, kTraceEntrySize> e{};
  WriteTraceEntry(e, file_time, direction, octets, length);
  return e;
}

TEST(BricapFile, FileTimesKeepEvery100Nanoseconds) {
  EXPECT_EQ(bricap::TicksSince1970(capture::kUnixEpochFileTime), 0u);
  EXPECT_EQ(bricap::TicksSince1970(capture::kUnixEpochFileTime + 1), 1u);
  EXPECT_EQ(bricap::TicksSince1970(capture::kUnixEpochFileTime - 1), 0u);  // before 1970
  EXPECT_EQ(bricap::TicksSince1970(0), 0u);
  EXPECT_EQ(bricap::TicksSince1970(132223104000000007ull), 15778368000000007ull);  // 2020-01-01 + 700 ns
}

TEST(BricapFile, EntriesReadBackWithTimeDirectionFrameAndDrops) {
  capture::ByteBuffer file;
  bricap::AppendFileHeader(file, {"Tessix1 LINE1", "Tessix1 LINE2"});
  std::uint64_t pending = 3;  // dropped before the first entry of line 2
  const std::uint64_t t = 132223104000000007ull;
  bricap::AppendEntry(file, 1, Entry(t, 0, 3), &pending);
  EXPECT_EQ(pending, 0u);
  bricap::AppendEntry(file, 1, Entry(t + 1, 7, 260), &pending);  // any non-zero direction: network
  bricap::AppendEntry(file, 0, Entry(t + 2, 1, 300), &pending);  // longer than the field: cut there
  bricap::AppendEntry(file, 0, Entry(t + 3, 0, -5), &pending);   // negative: no octets
  bricap::AppendLineStatistics(file, 1, 5, 2, 3);

  capture::Reader reader{ByteSpan(file)};
  capture::Packet packet;
  struct Want {
    std::size_t interface;
    std::uint32_t nanoseconds;
    std::uint32_t direction;
    std::size_t octets;
    bool dropped;
  };
  const Want want[] = {
      {1, 700, 0, 3, true}, {1, 800, 1, 260, false}, {0, 900, 1, 260, false}, {0, 1000, 0, 0, false}};
  for (const Want& w : want) {
    ASSERT_EQ(reader.Next(&packet), capture::ReadStatus::kPacket);
    const capture::Interface& iface = reader.interfaces()[packet.interface];
    EXPECT_EQ(packet.interface, w.interface);
    EXPECT_EQ(iface.link_type, capture::kLinkTypeLinuxLapd);
    EXPECT_EQ(iface.units_per_second, 10000000u);
    EXPECT_EQ(packet.seconds, 1577836800);
    EXPECT_EQ(packet.nanoseconds, w.nanoseconds);
    EXPECT_EQ(packet.direction, capture::FlagFromDirection(w.direction));
    EXPECT_EQ(packet.has_drop_count, w.dropped);
    if (w.dropped) {
      EXPECT_EQ(packet.drop_count, 3u);
    }
    capture::LinuxLapdHeader header;
    ASSERT_TRUE(capture::ReadLinuxLapdHeader(packet.data, &header));
    EXPECT_TRUE(header.lapd);
    EXPECT_EQ(header.direction, w.direction);
    ASSERT_EQ(packet.data.size(), capture::kLinuxLapdHeaderSize + w.octets);
    if (w.octets > 0) {
      EXPECT_EQ(packet.data[capture::kLinuxLapdHeaderSize], 0xA5);
    }
  }
  EXPECT_EQ(reader.Next(&packet), capture::ReadStatus::kEnd);
  EXPECT_EQ(reader.interfaces()[0].name, "Tessix1 LINE1");
  EXPECT_EQ(reader.interfaces()[1].name, "Tessix1 LINE2");
}

TEST(BricapText, ExtcapAnswersAndListings) {
  EnumReply lines;
  lines.count = 2;
  lines.lines[0].name = {'L', 'I', 'N', 'E', '1'};
  lines.lines[1].name = {'B'};
  EXPECT_EQ(
      bricap::ExtcapInterfacesText(lines),
      bricap::ExtcapVersionText() +
          "interface {value=bri0}{display=LINE1 D channel}\ninterface {value=bri1}{display=B D channel}\n");
  EXPECT_EQ(bricap::ExtcapInterfacesText(EnumReply{}), bricap::ExtcapVersionText());
  EXPECT_EQ(bricap::LineListText(lines), "0. LINE1\n1. B\n");
  EXPECT_EQ(bricap::CapturingOnText({"A"}), "Capturing on 'A'");
  EXPECT_EQ(bricap::CapturingOnText({"A", "B", "C"}), "Capturing on 'A', 'B' and 'C'");
  EXPECT_EQ(bricap::LiveCountText(12, 0), "\rPackets: 12 ");
  EXPECT_EQ(bricap::LiveCountText(12, 200), "\rPackets: 12 (lost by the driver: 200) ");
}

// The shared rule for entries the driver dropped, across the wrap of the entry numbers.
TEST(TraceStatus, LostCountAndNextEntry) {
  const struct {
    std::uint32_t next;
    bool seen;
    std::uint32_t oldest;
    std::uint32_t lost;
    std::uint32_t then;
  } cases[] = {
      {0, false, 5, 5, 5},  // a new trace whose first entries are gone
      {7, true, 5, 0, 7},   // nothing dropped
      {7, true, 7, 0, 7},
      {0xFFFFFFFEu, true, 3, 5, 3},             // dropped across the wrap
      {0, false, 0xFFFFFFF0u, 0, 0xFFFFFFF0u},  // a driver whose numbers start below 0
      {5, true, 0xFFFFFFF0u, 0, 5},             // a running trace never goes back
  };
  for (const auto& c : cases) {
    std::array<std::uint8_t, 64> reply{};
    WriteLE32(MutableByteSpan(reply), kStatusHeldFromOffset, 1000);
    WriteLE32(MutableByteSpan(reply), kStatusHeldToOffset, 1000 + c.oldest);
    std::uint32_t next = c.next;
    bool seen = c.seen;
    EXPECT_EQ(TakeTraceStatus(ByteSpan(reply), TracePosition{next, seen}), c.lost)
        << c.next << " " << c.oldest;
    EXPECT_EQ(next, c.then);
    EXPECT_TRUE(seen);
  }
}

}  // namespace
