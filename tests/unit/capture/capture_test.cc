// SPDX-License-Identifier: BSD-2-Clause
// The capture module: what the pcapng writer writes reads back the same; classic pcap in every
// byte order and resolution; time resolutions; files cut at any octet or damaged; the side of
// each LAPD frame from pseudo-header, flag, inference or the caller.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "capture/capture_reader.h"
#include "capture/capture_writer.h"
#include "capture/lapd_capture.h"
#include "capture/lapd_frames.h"

namespace capture {
namespace {

using Buf = std::vector<std::uint8_t>;

struct Read {
  std::vector<Packet> packets;
  ReadStatus status = ReadStatus::kEnd;
  std::vector<Interface> interfaces;
  std::string problem;
};

// A file handed out a few bytes at a time, as a pipe may.
class PieceSource : public Source {
 public:
  PieceSource(const Buf& file, std::size_t piece) : file_(file), piece_(piece) {}
  std::size_t Read(std::uint8_t* data, std::size_t size) override {
    const std::size_t n = std::min({size, piece_, file_.size() - at_});
    std::copy_n(file_.begin() + static_cast<std::ptrdiff_t>(at_), n, data);
    at_ += n;
    return n;
  }

 private:
  const Buf& file_;
  std::size_t piece_;
  std::size_t at_ = 0;
};

Read ReadAll(const Buf& file) {
  Read r;
  Reader reader(file);
  Packet p;
  while ((r.status = reader.Next(&p)) == ReadStatus::kPacket) r.packets.push_back(p);
  EXPECT_EQ(reader.Next(&p), r.status) << "the final status repeats";
  r.interfaces = reader.interfaces();
  r.problem = reader.problem();

  // Read from a source, block by block in a window, the file gives the same packets, status and
  // problem (offsets included), however the source cuts it.
  for (const std::size_t piece : {1u, 5u, 1u << 20}) {
    PieceSource source(file, piece);
    Reader streamed(source);
    std::size_t i = 0;
    ReadStatus status;
    while ((status = streamed.Next(&p)) == ReadStatus::kPacket) {
      if (i >= r.packets.size()) break;
      const Packet& whole = r.packets[i++];
      EXPECT_EQ(Buf(p.data.begin(), p.data.end()), Buf(whole.data.begin(), whole.data.end())) << piece;
      EXPECT_EQ(p.seconds, whole.seconds);
      EXPECT_EQ(p.nanoseconds, whole.nanoseconds);
      EXPECT_EQ(p.interface, whole.interface);
      EXPECT_EQ(p.direction, whole.direction);
      EXPECT_EQ(p.drop_count, whole.drop_count);
      EXPECT_EQ(p.offset, whole.offset) << piece;
    }
    EXPECT_EQ(i, r.packets.size()) << piece;
    EXPECT_EQ(status, r.status) << piece;
    EXPECT_EQ(streamed.problem(), r.problem) << piece;
    EXPECT_EQ(streamed.interfaces().size(), r.interfaces.size()) << piece;
  }
  return r;
}

Buf Data(std::initializer_list<std::uint8_t> octets) { return Buf(octets); }

// A pcapng file of two interfaces with every kind of packet option the writer knows.
Buf WrittenCapture() {
  Buf out;
  AppendSectionHeader(out, "capture_test");
  AppendInterfaceDescription(out, {kLinkTypeLinuxLapd, 0, "Tessix1 LINE1", 7});
  AppendInterfaceDescription(out, {kLinkTypeLapd, 300, "", 9});
  static const Buf a = {0x00, 0x81, 0x7F}, b = {0x02, 0x81, 0x73, 0x44, 0x55};
  AppendEnhancedPacket(out, {0, 17650000002500000ull, a, 0, PacketDirection::kOutbound, false, 0});
  AppendEnhancedPacket(out, {1, 1765000000123456789ull, b, 9, PacketDirection::kInbound, true, 3});
  AppendEnhancedPacket(out, {0, 5, ByteSpan{}, 0, PacketDirection::kUnknown, false, 0});
  AppendInterfaceStatistics(out, {0, 17650000010000000ull, true, 3, true, 1});
  return out;
}

TEST(PcapngWriter, ReadsBackWhatItWrote) {
  const Buf file = WrittenCapture();
  EXPECT_EQ(file.size() % 4, 0u);
  const Read r = ReadAll(file);
  ASSERT_EQ(r.status, ReadStatus::kEnd) << r.problem;
  ASSERT_EQ(r.interfaces.size(), 2u);
  EXPECT_EQ(r.interfaces[0].link_type, kLinkTypeLinuxLapd);
  EXPECT_EQ(r.interfaces[0].name, "Tessix1 LINE1");
  EXPECT_EQ(r.interfaces[0].units_per_second, 10000000u);
  EXPECT_EQ(r.interfaces[1].name, "");
  EXPECT_EQ(r.interfaces[1].snap_length, 300u);
  EXPECT_EQ(r.interfaces[1].units_per_second, 1000000000u);
  ASSERT_EQ(r.packets.size(), 3u);

  EXPECT_EQ(r.packets[0].interface, 0u);
  EXPECT_EQ(r.packets[0].seconds, 1765000000);
  EXPECT_EQ(r.packets[0].nanoseconds, 250000000u);
  EXPECT_EQ(Buf(r.packets[0].data.begin(), r.packets[0].data.end()), Data({0x00, 0x81, 0x7F}));
  EXPECT_EQ(r.packets[0].original_length, 3u);
  EXPECT_EQ(r.packets[0].direction, PacketDirection::kOutbound);
  EXPECT_FALSE(r.packets[0].has_drop_count);

  EXPECT_EQ(r.packets[1].interface, 1u);
  EXPECT_EQ(r.packets[1].seconds, 1765000000);
  EXPECT_EQ(r.packets[1].nanoseconds, 123456789u);
  EXPECT_EQ(r.packets[1].data.size(), 5u);  // padded to eight octets in the block
  EXPECT_EQ(r.packets[1].original_length, 9u);
  EXPECT_EQ(r.packets[1].direction, PacketDirection::kInbound);
  EXPECT_TRUE(r.packets[1].has_drop_count);
  EXPECT_EQ(r.packets[1].drop_count, 3u);

  EXPECT_TRUE(r.packets[2].data.empty());
  EXPECT_EQ(r.packets[2].direction, PacketDirection::kUnknown);
}

TEST(PcapngWriter, BlocksAppendToABufferHoldingOtherData) {
  Buf out = {1, 2, 3};  // not a multiple of four: padding counts from each block's start
  AppendSectionHeader(out, "");
  AppendInterfaceDescription(out, {kLinkTypeLapd, 0, "abcde", 6});
  const Read r = ReadAll(Buf(out.begin() + 3, out.end()));
  EXPECT_EQ(r.status, ReadStatus::kEnd) << r.problem;
  ASSERT_EQ(r.interfaces.size(), 1u);
  EXPECT_EQ(r.interfaces[0].name, "abcde");
}

// ---- Classic pcap ----

void Put32(Buf& out, std::uint32_t v, bool big) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (big ? 24 - 8 * i : 8 * i)));
}
void Put16(Buf& out, std::uint16_t v, bool big) {
  out.push_back(static_cast<std::uint8_t>(big ? v >> 8 : v));
  out.push_back(static_cast<std::uint8_t>(big ? v : v >> 8));
}

Buf Pcap(std::uint32_t magic, bool big, std::uint32_t link, const std::vector<std::pair<std::uint32_t, Buf>>& records) {
  Buf out;
  Put32(out, magic, big);
  Put16(out, 2, big);
  Put16(out, 4, big);
  Put32(out, 0, big);
  Put32(out, 0, big);
  Put32(out, 65535, big);
  Put32(out, link, big);
  for (const auto& [fraction, data] : records) {
    Put32(out, 1765000000, big);
    Put32(out, fraction, big);
    Put32(out, static_cast<std::uint32_t>(data.size()), big);
    Put32(out, static_cast<std::uint32_t>(data.size()), big);
    out.insert(out.end(), data.begin(), data.end());
  }
  return out;
}

TEST(PcapReader, EveryByteOrderAndResolution) {
  struct Case {
    std::uint32_t magic;
    bool big;
    std::uint32_t fraction;
    std::uint32_t nanoseconds;
  } cases[] = {
      {0xA1B2C3D4, false, 250000, 250000000},
      {0xA1B2C3D4, true, 250000, 250000000},
      {0xA1B23C4D, false, 123456789, 123456789},
      {0xA1B23C4D, true, 123456789, 123456789},
  };
  for (const Case& c : cases) {
    const Read r = ReadAll(Pcap(c.magic, c.big, 0x0100CB /* FCS bits above the type */, {{c.fraction, {1, 2, 3}}}));
    ASSERT_EQ(r.status, ReadStatus::kEnd) << r.problem;
    ASSERT_EQ(r.interfaces.size(), 1u);
    EXPECT_EQ(r.interfaces[0].link_type, kLinkTypeLapd);
    ASSERT_EQ(r.packets.size(), 1u);
    EXPECT_EQ(r.packets[0].seconds, 1765000000) << c.magic << c.big;
    EXPECT_EQ(r.packets[0].nanoseconds, c.nanoseconds) << c.magic << c.big;
    EXPECT_EQ(r.packets[0].data.size(), 3u);
  }
}

TEST(PcapReader, NotACaptureAndOversizedRecords) {
  EXPECT_EQ(ReadAll(Buf{}).status, ReadStatus::kNotCapture);
  EXPECT_EQ(ReadAll(Data({'n', 'o', 't', ' ', 'a', ' ', 'c', 'a', 'p'})).status, ReadStatus::kNotCapture);
  Buf huge = Pcap(0xA1B2C3D4, false, 203, {});
  Put32(huge, 0, false);
  Put32(huge, 0, false);
  Put32(huge, 0x7FFFFFFF, false);
  Put32(huge, 0x7FFFFFFF, false);
  EXPECT_EQ(ReadAll(huge).status, ReadStatus::kDamaged);
}

// ---- Files cut anywhere ----

TEST(CutShort, EveryCutGivesTheWholePacketsBeforeItThenSaysSo) {
  const Buf pcapng = WrittenCapture();
  const Buf pcap = Pcap(0xA1B2C3D4, false, 203, {{0, {1, 2, 3}}, {1, {4, 5}}, {2, {}}});
  for (const Buf* whole : {&pcapng, &pcap}) {
    const Read full = ReadAll(*whole);
    ASSERT_EQ(full.status, ReadStatus::kEnd);
    std::size_t boundaries = 0;
    for (std::size_t n = 1; n < whole->size(); ++n) {
      // The packets point into the buffer they were read from: it must outlive them.
      const Buf cut(whole->begin(), whole->begin() + static_cast<std::ptrdiff_t>(n));
      const Read r = ReadAll(cut);
      // Packets before the cut are exactly the first ones of the whole file.
      ASSERT_LE(r.packets.size(), full.packets.size()) << n;
      for (std::size_t i = 0; i < r.packets.size(); ++i) {
        EXPECT_EQ(Buf(r.packets[i].data.begin(), r.packets[i].data.end()),
                  Buf(full.packets[i].data.begin(), full.packets[i].data.end())) << n;
      }
      if (r.status == ReadStatus::kEnd) {
        ++boundaries;
      } else {
        EXPECT_EQ(r.status, ReadStatus::kCutShort) << n << ": " << r.problem;
        EXPECT_NE(r.problem.find("ends inside"), std::string::npos) << r.problem;
      }
    }
    // A cut at a block or record boundary is a shorter valid file.
    EXPECT_EQ(boundaries, whole == &pcapng ? 6u : 3u);
  }
}

// ---- Damaged pcapng ----

TEST(PcapngReader, DamagedBlocksStopAfterThePacketsBeforeThem) {
  const Buf good = WrittenCapture();
  Buf header;  // section and first interface
  AppendSectionHeader(header, "");
  AppendInterfaceDescription(header, {kLinkTypeLapd, 0, "", 6});
  Buf one = header;
  static const Buf frame = {0x00, 0x81, 0x7F};
  AppendEnhancedPacket(one, {0, 1, frame, 0, PacketDirection::kUnknown, false, 0});

  struct Case {
    const char* what;
    Buf tail;
  } cases[] = {
      {"length not a multiple of four", Data({6, 0, 0, 0, 30, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                            0, 0, 0, 0, 30, 0, 0, 0})},
      {"lengths differ", Data({6, 0, 0, 0, 32, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                               28, 0, 0, 0})},
      {"interface not described", Data({6, 0, 0, 0, 32, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                        0, 0, 0, 32, 0, 0, 0})},
      {"packet longer than block", Data({6, 0, 0, 0, 32, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 200, 0, 0, 0,
                                         0, 0, 0, 0, 32, 0, 0, 0})},
      {"block shorter than a block", Data({1, 0, 0, 0, 8, 0, 0, 0})},
      {"time resolution", Data({1, 0, 0, 0, 28, 0, 0, 0, 203, 0, 0, 0, 0, 0, 0, 0, 9, 0, 1, 0, 99, 0, 0, 0, 28, 0, 0,
                                0})},
      // A length past the ceiling is refused before anything is buffered for it.
      {"block longer than any taken", Data({6, 0, 0, 0, 0xF0, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0})},
      {"custom block past the ceiling", Data({0xAD, 0x0B, 0, 0, 4, 0, 0, 1, 0, 0, 0, 0})},
  };
  for (const Case& c : cases) {
    Buf file = one;
    file.insert(file.end(), c.tail.begin(), c.tail.end());
    const Read r = ReadAll(file);
    EXPECT_EQ(r.status, ReadStatus::kDamaged) << c.what;
    EXPECT_EQ(r.packets.size(), 1u) << c.what;
    EXPECT_NE(r.problem.find("at offset " + std::to_string(one.size())), std::string::npos) << c.what << ": " << r.problem;
  }
}

// What a file describes costs bounded memory: names are kept to 256 octets, and a file that
// describes more interfaces than any capture has is damaged.
TEST(PcapngReader, InterfaceDescriptionsAreBounded) {
  Buf file;
  AppendSectionHeader(file, "");
  AppendInterfaceDescription(file, {kLinkTypeLapd, 0, std::string(300, 'n'), 6});
  for (int i = 1; i < 4096; ++i) AppendInterfaceDescription(file, {kLinkTypeLapd, 0, "", 6});
  const std::size_t last = file.size();
  AppendInterfaceDescription(file, {kLinkTypeLapd, 0, "", 6});
  Reader reader(file);
  Packet p;
  EXPECT_EQ(reader.Next(&p), ReadStatus::kDamaged);
  EXPECT_EQ(reader.problem(), "more than 4096 interfaces at offset " + std::to_string(last));
  ASSERT_EQ(reader.interfaces().size(), 4096u);
  EXPECT_EQ(reader.interfaces()[0].name, std::string(256, 'n'));
}

TEST(PcapngReader, SectionsRestartInterfaceNumbersAndSimplePacketsCarryNoTime) {
  Buf file;
  AppendSectionHeader(file, "");
  AppendInterfaceDescription(file, {kLinkTypeLapd, 0, "first", 6});
  AppendSectionHeader(file, "");
  AppendInterfaceDescription(file, {kLinkTypeLapd, 2, "second", 6});
  // Simple packet block: original length 4, four octets, snap length 2 keeps two.
  const Buf spb = {3, 0, 0, 0, 20, 0, 0, 0, 4, 0, 0, 0, 9, 8, 7, 6, 20, 0, 0, 0};
  file.insert(file.end(), spb.begin(), spb.end());
  static const Buf frame = {0x00, 0x81, 0x7F};
  AppendEnhancedPacket(file, {0, 7, frame, 0, PacketDirection::kUnknown, false, 0});
  const Read r = ReadAll(file);
  ASSERT_EQ(r.status, ReadStatus::kEnd) << r.problem;
  ASSERT_EQ(r.packets.size(), 2u);
  EXPECT_EQ(r.packets[0].interface, 1u);
  EXPECT_FALSE(r.packets[0].has_time);
  EXPECT_EQ(Buf(r.packets[0].data.begin(), r.packets[0].data.end()), Data({9, 8}));
  EXPECT_EQ(r.packets[1].interface, 1u);
  EXPECT_EQ(r.interfaces[r.packets[1].interface].name, "second");
}

TEST(PcapngReader, BigEndianSection) {
  Buf f;
  const auto block = [&f](std::uint32_t type, const Buf& body) {
    Put32(f, type, true);
    Put32(f, static_cast<std::uint32_t>(body.size() + 12), true);
    f.insert(f.end(), body.begin(), body.end());
    Put32(f, static_cast<std::uint32_t>(body.size() + 12), true);
  };
  Buf shb;
  Put32(shb, 0x1A2B3C4D, true);
  Put16(shb, 1, true);
  Put16(shb, 0, true);
  Put32(shb, 0xFFFFFFFF, true);
  Put32(shb, 0xFFFFFFFF, true);
  block(0x0A0D0D0A, shb);
  Buf idb;
  Put16(idb, kLinkTypeLapd, true);
  Put16(idb, 0, true);
  Put32(idb, 0, true);
  Put16(idb, 2, true);  // if_name "B"
  Put16(idb, 1, true);
  idb.insert(idb.end(), {'B', 0, 0, 0});
  block(1, idb);
  Buf epb;
  Put32(epb, 0, true);
  Put32(epb, 0, true);
  Put32(epb, 3000001, true);  // microseconds
  Put32(epb, 2, true);
  Put32(epb, 2, true);
  epb.insert(epb.end(), {0xAB, 0xCD, 0, 0});
  Put16(epb, 2, true);  // epb_flags: outbound
  Put16(epb, 4, true);
  Put32(epb, 2, true);
  block(6, epb);
  const Read r = ReadAll(f);
  ASSERT_EQ(r.status, ReadStatus::kEnd) << r.problem;
  ASSERT_EQ(r.packets.size(), 1u);
  EXPECT_EQ(r.interfaces[0].name, "B");
  EXPECT_EQ(r.packets[0].seconds, 3);
  EXPECT_EQ(r.packets[0].nanoseconds, 1000u);
  EXPECT_EQ(r.packets[0].direction, PacketDirection::kOutbound);
}

TEST(TimeStamps, ResolutionsAndOffset) {
  struct Case {
    std::uint8_t resolution;
    std::uint64_t units;
    std::int64_t offset;
    std::uint64_t stamp;
    std::int64_t seconds;
    std::uint32_t nanoseconds;
  } cases[] = {
      {6, 1000000, 0, 1765000000250000ull, 1765000000, 250000000},
      {9, 1000000000, 0, 1765000000000000007ull, 1765000000, 7},
      {7, 10000000, 0, 17650000000000001ull, 1765000000, 100},
      {0x8A, 1024, 0, 1024 * 5 + 512, 5, 500000000},
      {0, 1, 100, 5, 105, 0},
      {19, 10000000000000000000ull, 0, ~0ull, 1, 844674407},
  };
  for (const Case& c : cases) {
    Interface i;
    i.time_resolution = c.resolution;
    i.units_per_second = c.units;
    i.offset_seconds = c.offset;
    std::int64_t s = 0;
    std::uint32_t ns = 0;
    SplitTimeStamp(c.stamp, i, &s, &ns);
    EXPECT_EQ(s, c.seconds) << c.units;
    EXPECT_EQ(ns, c.nanoseconds) << c.units;
  }
}

TEST(TimeStamps, BinaryFractionsAreExactWithoutWideIntegers) {
  // floor(fraction * 10^9 / 2^n) against a long-hand reference, for every binary exponent.
  for (unsigned n = 0; n <= 63; ++n) {
    const std::uint64_t units = std::uint64_t{1} << n;
    for (const std::uint64_t fraction : {std::uint64_t{0}, std::uint64_t{1}, units / 3, units / 2, units - 1}) {
      if (fraction >= units) continue;
      // Reference: binary long division of fraction * 10^9, one bit of the quotient at a time.
      std::uint64_t expected = 0;
      {
        std::uint64_t remainder = 0;
        // fraction * 10^9 as (high, low) with 32-bit limbs: at most 94 bits.
        const std::uint64_t f_lo = fraction & 0xFFFFFFFFu, f_hi = fraction >> 32;
        const std::uint64_t p0 = f_lo * 1000000000u, p1 = f_hi * 1000000000u;
        const std::uint64_t low = p0 + (p1 << 32);
        const std::uint64_t high = (p1 >> 32) + (low < p0 ? 1 : 0);
        for (int bit = 127; bit >= 0; --bit) {
          const std::uint64_t b = bit >= 64 ? (high >> (bit - 64)) & 1 : (low >> bit) & 1;
          remainder = (remainder << 1) | b;
          expected <<= 1;
          if (remainder >= units) {
            remainder -= units;
            expected |= 1;
          }
        }
      }
      EXPECT_EQ(FractionToNanoseconds(fraction, static_cast<std::uint8_t>(0x80 | n)), expected) << n << " " << fraction;
    }
  }
}

// ---- LAPD frames and their sides ----

TEST(LapdFrames, DirectionFromHeaderFlagInferenceOrCaller) {
  Interface linux_lapd, lapd, ethernet;
  linux_lapd.link_type = kLinkTypeLinuxLapd;
  lapd.link_type = kLinkTypeLapd;
  ethernet.link_type = 1;
  Buf with_header;
  AppendLinuxLapdHeader(with_header, 1);
  const Buf sabme_net = {0x02, 0x81, 0x7F};  // C/R 1 SABME: a network command
  with_header.insert(with_header.end(), sabme_net.begin(), sabme_net.end());

  struct Case {
    const char* what;
    const Interface* interface;
    const Buf* data;
    PacketDirection flag;
    std::optional<std::uint32_t> given;
    bool taken;
    std::uint32_t direction;
    DirectionSource source;
  } cases[] = {
      {"pseudo-header", &linux_lapd, &with_header, PacketDirection::kOutbound, 0u, true, 1, DirectionSource::kPseudoHeader},
      {"inbound flag", &lapd, &sabme_net, PacketDirection::kInbound, std::nullopt, true, 1, DirectionSource::kFlag},
      {"outbound flag", &lapd, &sabme_net, PacketDirection::kOutbound, std::nullopt, true, 0, DirectionSource::kFlag},
      {"no flag", &lapd, &sabme_net, PacketDirection::kUnknown, std::nullopt, true, 1, DirectionSource::kInferred},
      {"given wins", &lapd, &sabme_net, PacketDirection::kInbound, 0u, true, 0, DirectionSource::kGiven},
      {"other link type", &ethernet, &sabme_net, PacketDirection::kUnknown, std::nullopt, false, 0, DirectionSource::kFlag},
      {"header too short", &linux_lapd, &sabme_net, PacketDirection::kUnknown, std::nullopt, false, 0, DirectionSource::kFlag},
  };
  for (const Case& c : cases) {
    LapdFrames frames(260, c.given);
    Packet p;
    p.data = *c.data;
    p.direction = c.flag;
    p.seconds = 1765000000;
    LapdFrame f;
    ASSERT_EQ(frames.Take(p, *c.interface, &f), c.taken) << c.what;
    if (!c.taken) continue;
    EXPECT_EQ(f.direction, c.direction) << c.what;
    EXPECT_EQ(f.source, c.source) << c.what;
    EXPECT_EQ(Buf(f.octets.begin(), f.octets.end()), sabme_net) << c.what;
    EXPECT_EQ(f.file_time, FileTimeFromCaptureTime(1765000000, 0)) << c.what;
  }
}

TEST(LapdFrames, FlaggedFramesTeachTheInferenceAndLongFramesAreCut) {
  Interface lapd;
  lapd.link_type = kLinkTypeLapd;
  LapdFrames frames(4);
  // A user RR command with the poll bit (flagged outbound), then an unflagged RR with the final
  // bit: the answer, a network response.
  const Buf poll = {0x00, 0x81, 0x01, 0x03}, final_rr = {0x00, 0x81, 0x01, 0x03, 0xEE};
  Packet p;
  p.data = poll;
  p.direction = PacketDirection::kOutbound;
  LapdFrame f;
  ASSERT_TRUE(frames.Take(p, lapd, &f));
  EXPECT_EQ(f.direction, 0u);
  p.data = final_rr;
  p.direction = PacketDirection::kUnknown;
  ASSERT_TRUE(frames.Take(p, lapd, &f));
  EXPECT_EQ(f.direction, 1u);
  EXPECT_TRUE(f.cut);
  EXPECT_EQ(f.octets.size(), 4u);
  EXPECT_EQ(frames.by_flag, 1u);
  EXPECT_EQ(frames.inferred.by_poll, 1u);
}

// ---- Walking the LAPD frames of a capture ----

struct Walked {
  std::vector<std::string> said;  // notices as they came, "!" before a problem
  std::vector<std::uint64_t> frame_offsets;
  std::vector<std::string> counts;
  std::string stop;
};

Walked Walk(const Buf& file) {
  Walked w;
  Reader reader(file);
  LapdCapture walk(reader, "test", 4);
  LapdFrame frame;
  LapdNotice notice;
  for (LapdCapture::Step step; (step = walk.Next(&frame, &notice)) != LapdCapture::Step::kEnd;) {
    if (step == LapdCapture::Step::kNotice) w.said.push_back((notice.problem ? "!" : "") + notice.text);
    if (step == LapdCapture::Step::kFrame) w.frame_offsets.push_back(walk.packet().offset);
  }
  for (const LapdNotice& n : walk.Counts()) w.counts.push_back((n.problem ? "!" : "") + n.text);
  if (const auto stop = walk.Stop()) w.stop = (stop->problem ? "!" : "") + stop->text;
  return w;
}

TEST(LapdCapture, SkippedRecordsAreCountedAndShortOnesAreDamage) {
  Buf lapd_record, other_protocol;
  AppendLinuxLapdHeader(lapd_record, 0);
  other_protocol = lapd_record;
  other_protocol[15] = 0x00;  // protocol 0x0000
  lapd_record.insert(lapd_record.end(), {0x00, 0x81, 0x7F, 0x01, 0x02});
  const Buf short_record = {0, 4, 0x20, 0xFD, 0};
  // Records at 24, 61, 82, 114, 135 (header 24, record headers 16).
  const Buf file =
      Pcap(0xA1B2C3D4, false, kLinkTypeLinuxLapd,
           {{0, lapd_record}, {1, short_record}, {2, other_protocol}, {3, short_record}, {4, lapd_record}});
  const Walked w = Walk(file);
  EXPECT_TRUE(w.said.empty());
  EXPECT_EQ(w.frame_offsets, (std::vector<std::uint64_t>{24, 135}));
  EXPECT_EQ(w.counts,
            (std::vector<std::string>{
                "1 LINUX_LAPD records of another protocol skipped",
                "!2 damaged LINUX_LAPD records skipped: shorter than their 16-octet header (the first at "
                "offset 61)",
                "2 frames longer than 4 octets shown cut to 4"}));
  EXPECT_EQ(w.stop, "");

  const Buf one_short = Pcap(0xA1B2C3D4, false, kLinkTypeLinuxLapd, {{0, Buf{}}});
  EXPECT_EQ(
      Walk(one_short).counts,
      std::vector<std::string>{"!1 damaged LINUX_LAPD record skipped: shorter than its 16-octet header (at "
                               "offset 24)"});
}

TEST(LapdCapture, NoticesComeBeforeTheFramesTheyConcernAndTheStopIsSaidLast) {
  Buf file;
  AppendSectionHeader(file, "");
  AppendInterfaceDescription(file, {1, 0, "eth0", 6});
  AppendInterfaceDescription(file, {kLinkTypeLapd, 0, "", 6});
  static const Buf sabme = {0x00, 0x81, 0x7F};
  for (int i = 0; i < 2; ++i) {
    AppendEnhancedPacket(file, {0, 1, sabme, 0, PacketDirection::kUnknown, false, 0});
    AppendEnhancedPacket(file, {1, 1, sabme, 0, PacketDirection::kInbound, false, 0});
    AppendEnhancedPacket(file, {1, 1, sabme, 0, PacketDirection::kUnknown, false, 0});
  }
  const std::size_t whole = file.size();
  file.resize(whole - 3);
  const Walked w = Walk(file);
  EXPECT_EQ(w.said,
            (std::vector<std::string>{
                "!link type EN10MB (1) carries no LAPD frames (test reads LINUX_LAPD (177) and LAPD (203))",
                "link type LAPD (203): directions from the packets' inbound/outbound flags",
                "link type LAPD (203) without direction flags: directions inferred from the command/response "
                "bits"}));
  EXPECT_EQ(w.frame_offsets.size(), 3u);
  EXPECT_EQ(w.stop.rfind("!cut short after 3 frames (the file ends inside a block at offset ", 0), 0u)
      << w.stop;

  EXPECT_EQ(Walk(Buf{'x', 'y', 'z', 'w'}).stop, "!not a pcap or pcapng file");
}

TEST(LinkTypeName, KnownAndUnknown) {
  EXPECT_EQ(LinkTypeName(1), "EN10MB (1)");
  EXPECT_EQ(LinkTypeName(203), "LAPD (203)");
  EXPECT_EQ(LinkTypeName(4242), "4242");
}

}  // namespace
}  // namespace capture
