// SPDX-License-Identifier: BSD-2-Clause
// Reading capture files: classic pcap (microsecond or nanosecond, either byte order) and pcapng
// (any number of sections and interfaces, enhanced, simple and old-style packet blocks, any time
// resolution an interface declares, the packets' inbound/outbound flags and drop counts).
//
// The reader works on the whole file in memory, or on a window of it that it refills from a source
// block by block (memory then stays flat whatever the file's size: no record or block longer than
// the ceilings below is ever buffered, whatever its length field says), and reads every field through
// the guarded byte helpers: nothing in the file can make it read outside the buffer. It hands out
// packets one at a time; when the file ends in the middle of a block or record it says so after
// the packets before the cut, and a block that contradicts itself stops the reading the same way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "base/bytes.h"

namespace capture {

enum class Format { kPcap, kPcapng };

// The direction flag of a pcapng packet, as the capturing interface saw it.
enum class PacketDirection : std::uint8_t { kUnknown = 0, kInbound = 1, kOutbound = 2 };

struct Interface {
  std::uint16_t link_type = 0;
  std::uint32_t snap_length = 0;  // 0: no limit
  std::string name;               // if_name, its first 256 octets; empty when the file gives none (pcap)
  std::uint8_t time_resolution = 6;          // if_tsresol: 10^-n seconds, or 2^-n with bit 7 set
  std::uint64_t units_per_second = 1000000;  // the same as a count
  std::int64_t offset_seconds = 0;           // if_tsoffset, added to every time stamp
};

struct Packet {
  std::size_t interface = 0;  // index into Reader::interfaces()
  bool has_time = true;       // false for simple packet blocks, which carry no time
  std::int64_t seconds = 0;   // capture time since 1970-01-01 UTC
  std::uint32_t nanoseconds = 0;
  ByteSpan data;              // the captured octets, inside the reader's buffer
  std::uint32_t original_length = 0;
  PacketDirection direction = PacketDirection::kUnknown;
  bool has_drop_count = false;
  std::uint64_t drop_count = 0;  // packets lost between this one and the one before
  std::uint64_t offset = 0;      // where its block or record starts in the file
};

enum class ReadStatus {
  kPacket,       // *packet holds the next packet
  kEnd,          // the file ended cleanly
  kNotCapture,   // the file is neither pcap nor pcapng (problem() says why); nothing was read
  kCutShort,     // the file ends inside a block or record (problem() says where)
  kDamaged,      // a block or record contradicts itself (problem() says which and where)
};

// Where a reader takes a file from piece by piece.
class Source {
 public:
  virtual ~Source() = default;
  // Up to size bytes of the file into data; 0 at its end (or when reading failed).
  virtual std::size_t Read(std::uint8_t* data, std::size_t size) = 0;
};

// A source on an open stream (binary). failed() and error() tell a read error from the end.
class StreamSource : public Source {
 public:
  explicit StreamSource(std::FILE* stream) : stream_(stream) {}
  std::size_t Read(std::uint8_t* data, std::size_t size) override;
  bool failed() const { return !error_.empty(); }
  const std::string& error() const { return error_; }

 private:
  std::FILE* stream_;
  std::string error_;
};

class Reader {
 public:
  // The buffer must outlive the reader and the packets it hands out.
  explicit Reader(ByteSpan file) : file_(file) {}
  // Reads the file from source, which must outlive the reader; a packet handed out stays valid
  // until the next call of Next.
  explicit Reader(Source& source) : source_(&source) {}

  // The next packet. After any status but kPacket every further call returns that status again.
  ReadStatus Next(Packet* packet);

  Format format() const { return format_; }
  // Every interface described so far, in the order of the file; pcap files have one.
  const std::vector<Interface>& interfaces() const { return interfaces_; }
  // What stopped the reading, for kNotCapture, kCutShort and kDamaged.
  const std::string& problem() const { return problem_; }

 private:
  ReadStatus Start();
  ReadStatus NextPcap(Packet* packet);
  ReadStatus NextPcapng(Packet* packet);
  ReadStatus SectionHeader(std::uint64_t at, ByteSpan block);
  ReadStatus InterfaceDescription(ByteSpan body);
  ReadStatus PacketFromBlock(std::uint32_t type, ByteSpan body, Packet* packet);
  ReadStatus Stop(ReadStatus status, std::string problem);
  void Fill(std::size_t n);
  std::uint64_t Offset() const { return base_ + pos_; }
  bool U16(ByteSpan buf, std::size_t off, std::uint16_t* out) const;
  bool U32(ByteSpan buf, std::size_t off, std::uint32_t* out) const;

  ByteSpan file_;    // the whole file, or the window of it held (from source_)
  std::size_t pos_ = 0;  // where reading stands in file_
  Source* source_ = nullptr;
  std::vector<std::uint8_t> window_;  // the window's bytes when reading from a source
  std::uint64_t base_ = 0;            // offset in the file of file_'s first byte
  bool source_ended_ = false;
  bool started_ = false;
  bool big_endian_ = false;
  Format format_ = Format::kPcap;
  bool nanosecond_pcap_ = false;
  std::uint64_t block_at_ = 0;     // offset in the file of the block being read, for messages
  std::size_t section_first_ = 0;  // index of the current section's first interface
  std::vector<Interface> interfaces_;
  ReadStatus final_ = ReadStatus::kPacket;
  std::string problem_;
};

// A fraction of a second in 10^-n or 2^-n units (the if_tsresol byte) as nanoseconds.
std::uint32_t FractionToNanoseconds(std::uint64_t fraction, std::uint8_t resolution);

// A capture time in an interface's units as seconds and nanoseconds since 1970.
void SplitTimeStamp(std::uint64_t stamp, const Interface& interface, std::int64_t* seconds, std::uint32_t* nanoseconds);

}  // namespace capture
