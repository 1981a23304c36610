#include "capture/capture_reader.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <limits>
#include <utility>

#include "capture/pcapng_format.h"

namespace capture {
namespace {

constexpr std::uint32_t kPcapMicro = 0xA1B2C3D4;
constexpr std::uint32_t kPcapNano = 0xA1B23C4D;
constexpr std::size_t kPcapHeaderSize = 24;
constexpr std::size_t kPcapRecordHeaderSize = 16;
// Longest record accepted from a classic pcap file; a longer length is a damaged record header.
constexpr std::uint32_t kMaxPcapRecord = 262144;

using namespace pcapng;
constexpr std::size_t kBlockOverhead = 12;  // type, total length, and the total length again
// Interfaces held for one file, and the longest interface name kept: what a file describes costs
// bounded memory however many descriptions it holds (real captures have one per line).
constexpr std::size_t kMaxInterfaces = 4096;
constexpr std::size_t kMaxInterfaceName = 256;
// A reader on a source refills its window this much at a time (more when one block needs it).
constexpr std::size_t kWindowSize = 256 * 1024;

std::string At(std::uint64_t offset) { return " at offset " + std::to_string(offset); }

std::size_t Padded(std::size_t n) { return (n + 3) & ~static_cast<std::size_t>(3); }

}  // namespace

std::size_t StreamSource::Read(std::uint8_t* data, std::size_t size) {
  if (failed()) return 0;
  const std::size_t n = std::fread(data, 1, size, stream_);
  if (n < size && std::ferror(stream_)) error_ = std::strerror(errno);
  return n;
}

// A fraction of a second (below units) in nanoseconds, rounded down, in 64-bit arithmetic only
// (32-bit builds have no wider integers).
std::uint32_t FractionToNanoseconds(std::uint64_t fraction, std::uint8_t resolution) {
  const unsigned exponent = resolution & 0x7Fu;
  if ((resolution & 0x80u) == 0) {  // 10^-exponent
    std::uint64_t scale = 1;
    for (unsigned i = exponent; i < 9; ++i) scale *= 10;
    for (unsigned i = 9; i < exponent; ++i) scale *= 10;
    return static_cast<std::uint32_t>(exponent <= 9 ? fraction * scale : fraction / scale);
  }
  // 2^-exponent: fraction * 10^9 / 2^exponent, with 10^9 = 2^9 * 1953125.
  if (exponent <= 9) return static_cast<std::uint32_t>((fraction * 1000000000u) >> exponent);
  constexpr std::uint64_t kOdd = 1953125;  // below 2^21
  const unsigned m = exponent - 9;
  if (m <= 33) return static_cast<std::uint32_t>((fraction * kOdd) >> m);  // below 2^(m+30)
  // Split the fraction at k = m - 30 bits: fraction * kOdd / 2^m = hi * kOdd / 2^30 + lo * kOdd / 2^m.
  const unsigned k = m - 30;
  const std::uint64_t hi = fraction >> k, lo = fraction & ((std::uint64_t{1} << k) - 1);
  const std::uint64_t a = hi * kOdd;  // hi below 2^39
  const std::uint64_t whole = a >> 30, rest = a & ((std::uint64_t{1} << 30) - 1);
  return static_cast<std::uint32_t>(whole + (((rest << k) + lo * kOdd) >> m));
}

void SplitTimeStamp(std::uint64_t stamp, const Interface& interface, std::int64_t* seconds,
                    std::uint32_t* nanoseconds) {
  const std::uint64_t units = interface.units_per_second == 0 ? 1 : interface.units_per_second;
  const std::uint64_t whole = stamp / units;
  *nanoseconds = FractionToNanoseconds(stamp % units, interface.time_resolution);
  // Seconds past what a signed count holds cannot occur in a real capture; they are held at the
  // largest value rather than wrapped.
  constexpr auto kMax = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
  const std::int64_t s = whole > kMax ? std::numeric_limits<std::int64_t>::max() : static_cast<std::int64_t>(whole);
  const std::int64_t offset = interface.offset_seconds;
  if ((offset > 0 && s > std::numeric_limits<std::int64_t>::max() - offset)) {
    *seconds = std::numeric_limits<std::int64_t>::max();
  } else {
    *seconds = s + offset;  // s >= 0, so a negative offset cannot overflow
  }
}

bool Reader::U16(ByteSpan buf, std::size_t off, std::uint16_t* out) const {
  return big_endian_ ? ReadBE16(buf, off, out) : ReadLE16(buf, off, out);
}

bool Reader::U32(ByteSpan buf, std::size_t off, std::uint32_t* out) const {
  return big_endian_ ? ReadBE32(buf, off, out) : ReadLE32(buf, off, out);
}

// Makes the window hold n bytes from pos_ on, or all the file has left when that is fewer. The
// bytes before pos_ are done with: the window then starts at pos_. It grows past kWindowSize only
// as far as a block's bytes really come, so a length that the file does not back costs nothing.
void Reader::Fill(std::size_t n) {
  if (source_ == nullptr || file_.size() - pos_ >= n) return;
  const std::size_t kept = file_.size() - pos_;
  if (window_.empty()) window_.resize(kWindowSize);
  if (kept > 0 && pos_ > 0) std::memmove(window_.data(), window_.data() + pos_, kept);
  base_ += pos_;
  pos_ = 0;
  // A window grown for a long block goes back to its usual size once that block is done with.
  if (window_.size() > kWindowSize && kept <= kWindowSize && n <= kWindowSize) {
    window_.resize(kWindowSize);
    window_.shrink_to_fit();
  }
  std::size_t filled = kept;
  while (filled < n && !source_ended_) {
    if (filled == window_.size()) window_.resize(window_.size() * 2);
    const std::size_t got = source_->Read(window_.data() + filled, window_.size() - filled);
    if (got == 0) source_ended_ = true;
    filled += got;
  }
  file_ = ByteSpan(window_.data(), filled);
}

ReadStatus Reader::Stop(ReadStatus status, std::string problem) {
  final_ = status;
  problem_ = std::move(problem);
  return status;
}

ReadStatus Reader::Next(Packet* packet) {
  if (final_ != ReadStatus::kPacket) return final_;
  if (!started_) {
    started_ = true;
    const ReadStatus status = Start();
    if (status != ReadStatus::kPacket) return status;
  }
  *packet = Packet{};
  return format_ == Format::kPcap ? NextPcap(packet) : NextPcapng(packet);
}

ReadStatus Reader::Start() {
  Fill(kPcapHeaderSize);
  std::uint32_t le = 0, be = 0;
  if (!ReadLE32(file_, 0, &le) || !ReadBE32(file_, 0, &be)) {
    // Fewer than four octets: the start of a capture that was cut, or not a capture at all.
    static constexpr std::array<std::uint32_t, 3> kMagics{kPcapMicro, kPcapNano, kSectionHeader};
    for (const std::uint32_t magic : kMagics) {
      for (const bool big : {false, true}) {
        bool prefix = !file_.empty();
        for (std::size_t i = 0; i < file_.size(); ++i) {
          const unsigned shift = big ? 8 * (3 - static_cast<unsigned>(i)) : 8 * static_cast<unsigned>(i);
          prefix = prefix && file_[i] == static_cast<std::uint8_t>(magic >> shift);
        }
        if (prefix) return Stop(ReadStatus::kCutShort, "the file ends inside its header");
      }
    }
    return Stop(ReadStatus::kNotCapture, file_.empty() ? "the file is empty" : "not a pcap or pcapng file");
  }
  if (le == kSectionHeader) {
    format_ = Format::kPcapng;
    return ReadStatus::kPacket;  // the section header is read as the first block
  }
  format_ = Format::kPcap;
  if (le == kPcapMicro || le == kPcapNano) {
    big_endian_ = false;
    nanosecond_pcap_ = le == kPcapNano;
  } else if (be == kPcapMicro || be == kPcapNano) {
    big_endian_ = true;
    nanosecond_pcap_ = be == kPcapNano;
  } else {
    return Stop(ReadStatus::kNotCapture, "not a pcap or pcapng file");
  }
  std::uint16_t major = 0;
  std::uint32_t snap = 0, network = 0;
  if (!U16(file_, 4, &major) || !U32(file_, 16, &snap) || !U32(file_, 20, &network)) {
    return Stop(ReadStatus::kCutShort, "the file ends inside its header");
  }
  if (major != 2) return Stop(ReadStatus::kNotCapture, "pcap version " + std::to_string(major) + " is not known");
  Interface interface;
  // The upper bits of the link type field carry frame check sequence details.
  interface.link_type = static_cast<std::uint16_t>(network & 0xFFFF);
  interface.snap_length = snap;
  interface.units_per_second = nanosecond_pcap_ ? 1000000000 : 1000000;
  interface.time_resolution = nanosecond_pcap_ ? 9 : 6;
  interfaces_.push_back(interface);
  pos_ = kPcapHeaderSize;
  return ReadStatus::kPacket;
}

ReadStatus Reader::NextPcap(Packet* packet) {
  Fill(kPcapRecordHeaderSize);
  if (pos_ == file_.size()) return Stop(ReadStatus::kEnd, "");
  std::uint32_t sec = 0, frac = 0, incl = 0, orig = 0;
  if (!U32(file_, pos_, &sec) || !U32(file_, pos_ + 4, &frac) || !U32(file_, pos_ + 8, &incl) ||
      !U32(file_, pos_ + 12, &orig)) {
    return Stop(ReadStatus::kCutShort, "the file ends inside a record header" + At(Offset()));
  }
  if (incl > kMaxPcapRecord) {
    return Stop(ReadStatus::kDamaged, "record of " + std::to_string(incl) + " octets" + At(Offset()));
  }
  Fill(kPcapRecordHeaderSize + incl);
  const std::size_t data_at = pos_ + kPcapRecordHeaderSize;
  if (!InBounds(file_.size(), data_at, incl)) {
    return Stop(ReadStatus::kCutShort, "the file ends inside a record" + At(Offset()));
  }
  packet->interface = 0;
  packet->offset = Offset();
  // A fraction past one second is carried into the seconds.
  const std::uint64_t nanos = nanosecond_pcap_ ? frac : static_cast<std::uint64_t>(frac) * 1000;
  packet->seconds = static_cast<std::int64_t>(sec) + static_cast<std::int64_t>(nanos / 1000000000);
  packet->nanoseconds = static_cast<std::uint32_t>(nanos % 1000000000);
  packet->data = file_.subspan(data_at, incl);
  packet->original_length = orig;
  pos_ = data_at + incl;
  return ReadStatus::kPacket;
}

ReadStatus Reader::NextPcapng(Packet* packet) {
  for (;;) {
    Fill(kBlockOverhead);  // the type, the length and a section header's byte-order magic
    if (pos_ == file_.size()) return Stop(ReadStatus::kEnd, "");
    block_at_ = Offset();
    std::uint32_t type = 0;
    if (!U32(file_, pos_, &type)) return Stop(ReadStatus::kCutShort, "the file ends inside a block" + At(Offset()));
    if (type == kSectionHeader) {
      // The byte order of the section (and of this block's length) is the byte-order magic's.
      std::uint32_t magic = 0;
      if (!ReadLE32(file_, pos_ + 8, &magic)) {
        return Stop(ReadStatus::kCutShort, "the file ends inside a section header" + At(Offset()));
      }
      if (magic == kByteOrderMagic) {
        big_endian_ = false;
      } else if (ReadBE32(file_, pos_ + 8, &magic) && magic == kByteOrderMagic) {
        big_endian_ = true;
      } else {
        return Stop(Offset() == 0 ? ReadStatus::kNotCapture : ReadStatus::kDamaged,
                    "section header without byte-order magic" + At(Offset()));
      }
    }
    std::uint32_t total = 0;
    if (!U32(file_, pos_ + 4, &total)) return Stop(ReadStatus::kCutShort, "the file ends inside a block" + At(Offset()));
    if (total < kBlockOverhead || total % 4 != 0 || total > kMaxBlockLength) {
      return Stop(ReadStatus::kDamaged, "block of length " + std::to_string(total) + At(Offset()));
    }
    Fill(total);
    if (!InBounds(file_.size(), pos_, total)) {
      return Stop(ReadStatus::kCutShort, "the file ends inside a block" + At(Offset()));
    }
    std::uint32_t trailer = 0;
    if (!U32(file_, pos_ + total - 4, &trailer) || trailer != total) {
      return Stop(ReadStatus::kDamaged, "block lengths differ" + At(Offset()));
    }
    const ByteSpan block = file_.subspan(pos_, total);
    const ByteSpan body = block.subspan(8, total - kBlockOverhead);
    pos_ += total;

    ReadStatus status = ReadStatus::kEnd;  // kEnd here: a block without a packet, read on
    switch (type) {
      case kSectionHeader:
        status = SectionHeader(block_at_, body);
        break;
      case kInterfaceDescription:
        status = InterfaceDescription(body);
        break;
      case kEnhancedPacket:
      case kSimplePacket:
      case kOldPacket:
        status = PacketFromBlock(type, body, packet);
        break;
      default:  // statistics, name resolution, custom and other blocks carry no packets
        break;
    }
    if (status != ReadStatus::kEnd) return status;
  }
}

ReadStatus Reader::SectionHeader(std::uint64_t at, ByteSpan body) {
  std::uint16_t major = 0;
  if (!U16(body, 4, &major)) return Stop(ReadStatus::kDamaged, "section header too short" + At(at));
  if (major != 1) {
    return Stop(at == 0 ? ReadStatus::kNotCapture : ReadStatus::kDamaged,
                "pcapng version " + std::to_string(major) + " is not known" + At(at));
  }
  section_first_ = interfaces_.size();  // interface numbers start again in every section
  return ReadStatus::kEnd;
}

ReadStatus Reader::InterfaceDescription(ByteSpan body) {
  if (interfaces_.size() >= kMaxInterfaces) {
    return Stop(ReadStatus::kDamaged, "more than " + std::to_string(kMaxInterfaces) + " interfaces" + At(block_at_));
  }
  Interface interface;
  if (!U16(body, 0, &interface.link_type) || !U32(body, 4, &interface.snap_length)) {
    return Stop(ReadStatus::kDamaged, "interface description too short" + At(block_at_));
  }
  std::size_t off = 8;
  while (off < body.size()) {
    std::uint16_t code = 0, length = 0;
    if (!U16(body, off, &code) || !U16(body, off + 2, &length) || !InBounds(body.size(), off + 4, length)) {
      return Stop(ReadStatus::kDamaged, "interface option runs past its block" + At(block_at_));
    }
    const ByteSpan value = body.subspan(off + 4, length);
    if (code == kOptEnd) break;
    if (code == kIfName) {
      const ByteSpan kept = value.first(std::min(value.size(), kMaxInterfaceName));
      interface.name.assign(kept.begin(), kept.end());
      // Some writers count a terminating NUL.
      while (!interface.name.empty() && interface.name.back() == '\0') interface.name.pop_back();
    } else if (code == kIfTsresol && length >= 1) {
      const std::uint8_t resol = value[0];
      const unsigned exponent = resol & 0x7Fu;
      const bool binary = (resol & 0x80u) != 0;
      if (binary ? exponent > 63 : exponent > 19) {
        return Stop(ReadStatus::kDamaged, "time resolution " + std::to_string(resol) + " not supported" + At(block_at_));
      }
      std::uint64_t units = 1;
      for (unsigned i = 0; i < exponent; ++i) units *= binary ? 2 : 10;
      interface.units_per_second = units;
      interface.time_resolution = resol;
    } else if (code == kIfTsoffset && length >= 8) {
      std::uint32_t lo = 0, hi = 0;
      if (U32(value, big_endian_ ? 4 : 0, &lo) && U32(value, big_endian_ ? 0 : 4, &hi)) {
        interface.offset_seconds = static_cast<std::int64_t>((static_cast<std::uint64_t>(hi) << 32) | lo);
      }
    }
    off += 4 + Padded(length);
  }
  interfaces_.push_back(std::move(interface));
  return ReadStatus::kEnd;
}

ReadStatus Reader::PacketFromBlock(std::uint32_t type, ByteSpan body, Packet* packet) {
  std::uint32_t id = 0, hi = 0, lo = 0, captured = 0, original = 0;
  std::size_t data_at = 0;
  if (type == kSimplePacket) {
    if (!U32(body, 0, &original)) return Stop(ReadStatus::kDamaged, "simple packet block too short" + At(block_at_));
    data_at = 4;
    captured = original;
    packet->has_time = false;
  } else if (type == kEnhancedPacket) {
    if (!U32(body, 0, &id) || !U32(body, 4, &hi) || !U32(body, 8, &lo) || !U32(body, 12, &captured) ||
        !U32(body, 16, &original)) {
      return Stop(ReadStatus::kDamaged, "enhanced packet block too short" + At(block_at_));
    }
    data_at = 20;
  } else {
    std::uint16_t id16 = 0;
    if (!U16(body, 0, &id16) || !U32(body, 4, &hi) || !U32(body, 8, &lo) || !U32(body, 12, &captured) ||
        !U32(body, 16, &original)) {
      return Stop(ReadStatus::kDamaged, "packet block too short" + At(block_at_));
    }
    id = id16;
    data_at = 20;
  }
  if (id >= interfaces_.size() - section_first_) {
    return Stop(ReadStatus::kDamaged, "packet of interface " + std::to_string(id) + ", which is not described" +
                                          At(block_at_));
  }
  packet->interface = section_first_ + id;
  packet->offset = block_at_;
  const Interface& interface = interfaces_[packet->interface];
  if (type == kSimplePacket) {
    // The captured part is what the block holds, up to the interface's snap length.
    std::size_t room = body.size() - data_at;
    if (interface.snap_length != 0 && interface.snap_length < room) room = interface.snap_length;
    if (captured > room) captured = static_cast<std::uint32_t>(room);
  }
  if (!InBounds(body.size(), data_at, captured)) {
    return Stop(ReadStatus::kDamaged, "packet longer than its block" + At(block_at_));
  }
  packet->data = body.subspan(data_at, captured);
  packet->original_length = original;
  if (packet->has_time) {
    SplitTimeStamp((static_cast<std::uint64_t>(hi) << 32) | lo, interface, &packet->seconds, &packet->nanoseconds);
  }
  if (type == kSimplePacket) return ReadStatus::kPacket;

  std::size_t off = data_at + Padded(captured);
  while (off < body.size()) {
    std::uint16_t code = 0, length = 0;
    if (!U16(body, off, &code) || !U16(body, off + 2, &length) || !InBounds(body.size(), off + 4, length)) {
      return Stop(ReadStatus::kDamaged, "packet option runs past its block" + At(block_at_));
    }
    if (code == kOptEnd) break;
    const ByteSpan value = body.subspan(off + 4, length);
    std::uint32_t flags = 0;
    if (code == kEpbFlags && length == 4 && U32(value, 0, &flags)) {
      switch (flags & 0x3u) {
        case 1: packet->direction = PacketDirection::kInbound; break;
        case 2: packet->direction = PacketDirection::kOutbound; break;
        default: packet->direction = PacketDirection::kUnknown; break;
      }
    } else if (code == kEpbDropcount && type == kEnhancedPacket && length == 8) {
      std::uint32_t a = 0, b = 0;
      if (U32(value, 0, &a) && U32(value, 4, &b)) {
        packet->has_drop_count = true;
        packet->drop_count = big_endian_ ? (static_cast<std::uint64_t>(a) << 32) | b
                                         : (static_cast<std::uint64_t>(b) << 32) | a;
      }
    }
    off += 4 + Padded(length);
  }
  return ReadStatus::kPacket;
}

}  // namespace capture
