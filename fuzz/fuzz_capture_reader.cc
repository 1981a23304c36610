// SPDX-License-Identifier: BSD-2-Clause
// A capture file of arbitrary bytes through the capture reader and the LAPD frame sides, as
// lapdecode and brisim read them. Every packet lies inside the file, the reading ends with one
// final status that repeats, a problem is always explained, and what the pcapng writer makes of a
// packet reads back the same.
//
// The file is an exact-size heap block, so that AddressSanitizer reports any read past it. Read again
// from a source that hands it out in small pieces (the reader then works on a window it refills),
// it gives the same packets, final status and problem. The LAPD walk over the file gives a frame
// for every packet that the frame sides take, and explains every problem it meets.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "capture/capture_reader.h"
#include "capture/capture_writer.h"
#include "capture/lapd_capture.h"
#include "capture/lapd_frames.h"
#include "fuzz_check.h"

namespace {

bool Inside(ByteSpan part, const std::uint8_t* begin, std::size_t size) {
  return part.empty() || (part.data() >= begin && part.data() + part.size() <= begin + size);
}

// The packet written as an enhanced packet block of a new file, read back.
void CheckRoundTrip(const capture::Packet& packet, const capture::Interface& interface) {
  capture::ByteBuffer out;
  capture::AppendSectionHeader(out, "fuzz");
  capture::AppendInterfaceDescription(out, {interface.link_type, 0, interface.name, 9});
  const std::uint64_t stamp = static_cast<std::uint64_t>(packet.seconds < 0 ? 0 : packet.seconds % 1000000000) *
                                  1000000000u + packet.nanoseconds % 1000000000u;
  capture::AppendEnhancedPacket(out, {0, stamp, packet.data, 0, packet.direction, packet.has_drop_count,
                                      packet.drop_count});
  capture::Reader again(out);
  capture::Packet back;
  FUZZ_CHECK(again.Next(&back) == capture::ReadStatus::kPacket);
  FUZZ_CHECK(back.data.size() == packet.data.size());
  FUZZ_CHECK(packet.data.empty() || std::memcmp(back.data.data(), packet.data.data(), packet.data.size()) == 0);
  FUZZ_CHECK(back.direction == packet.direction);
  FUZZ_CHECK(back.has_drop_count == packet.has_drop_count && back.drop_count == packet.drop_count);
  FUZZ_CHECK(again.interfaces().size() == 1 && again.interfaces()[0].name.size() <= interface.name.size());
  FUZZ_CHECK(again.Next(&back) == capture::ReadStatus::kEnd);
}

// Hands the file out piece bytes at a time.
class PieceSource : public capture::Source {
 public:
  PieceSource(ByteSpan file, std::size_t piece) : file_(file), piece_(piece) {}
  std::size_t Read(std::uint8_t* data, std::size_t size) override {
    std::size_t n = file_.size() - at_;
    if (n > size) n = size;
    if (n > piece_) n = piece_;
    if (n > 0) std::memcpy(data, file_.data() + at_, n);
    at_ += n;
    return n;
  }

 private:
  ByteSpan file_;
  std::size_t piece_;
  std::size_t at_ = 0;
};

void CheckStreamed(ByteSpan file, const std::vector<ByteSpan>& packets, capture::ReadStatus status,
                   const std::string& problem) {
  PieceSource source(file, 1 + file.size() % 13);
  capture::Reader reader(source);
  capture::Packet packet;
  std::size_t count = 0;
  capture::ReadStatus streamed;
  while ((streamed = reader.Next(&packet)) == capture::ReadStatus::kPacket) {
    FUZZ_CHECK(count < packets.size());
    const ByteSpan whole = packets[count++];
    FUZZ_CHECK(packet.data.size() == whole.size());
    FUZZ_CHECK(whole.empty() || std::memcmp(packet.data.data(), whole.data(), whole.size()) == 0);
  }
  FUZZ_CHECK(count == packets.size());
  FUZZ_CHECK(streamed == status);
  FUZZ_CHECK(reader.problem() == problem);
}

// The walk's frames are the packets that LapdFrames takes, and every notice has its text.
void CheckWalk(ByteSpan file, std::size_t frames_taken, capture::ReadStatus status) {
  capture::Reader reader(file);
  capture::LapdCapture walk(reader, "fuzz", 260);
  capture::LapdFrame frame;
  capture::LapdNotice notice;
  std::size_t frames = 0;
  for (capture::LapdCapture::Step step;
       (step = walk.Next(&frame, &notice)) != capture::LapdCapture::Step::kEnd;) {
    if (step == capture::LapdCapture::Step::kFrame) ++frames;
    if (step == capture::LapdCapture::Step::kNotice) FUZZ_CHECK(!notice.text.empty());
  }
  FUZZ_CHECK(frames == frames_taken && walk.frames() == frames_taken);
  FUZZ_CHECK(walk.status() == status);
  FUZZ_CHECK(walk.Stop().has_value() == (status != capture::ReadStatus::kEnd));
  for (const capture::LapdNotice& count : walk.Counts()) FUZZ_CHECK(!count.text.empty());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::unique_ptr<std::uint8_t[]> file(new std::uint8_t[size == 0 ? 1 : size]);
  if (size > 0) std::memcpy(file.get(), data, size);
  const ByteSpan span(file.get(), size);

  capture::Reader reader(span);
  capture::LapdFrames frames(260);
  capture::Packet packet;
  capture::ReadStatus status;
  std::size_t count = 0, taken = 0;
  std::uint64_t last_offset = 0;
  std::vector<ByteSpan> packets;
  while ((status = reader.Next(&packet)) == capture::ReadStatus::kPacket) {
    ++count;
    packets.push_back(packet.data);
    FUZZ_CHECK(count <= size / 12);  // every packet takes at least a block or record header
    FUZZ_CHECK(Inside(packet.data, file.get(), size));
    FUZZ_CHECK(packet.interface < reader.interfaces().size());
    FUZZ_CHECK(packet.nanoseconds < 1000000000u);
    // Each packet's block or record starts after the one before and holds the packet.
    FUZZ_CHECK(packet.offset < size && (count == 1 || packet.offset > last_offset));
    FUZZ_CHECK(packet.data.empty() || packet.data.data() > file.get() + packet.offset);
    last_offset = packet.offset;
    const capture::Interface& interface = reader.interfaces()[packet.interface];
    capture::LapdFrame frame;
    if (frames.Take(packet, interface, &frame)) {
      ++taken;
      FUZZ_CHECK(frame.octets.size() <= 260);
      FUZZ_CHECK(Inside(frame.octets, file.get(), size));
      FUZZ_CHECK(frame.direction <= 1);
    }
    if (count <= 4) CheckRoundTrip(packet, interface);
  }
  FUZZ_CHECK(reader.Next(&packet) == status);
  FUZZ_CHECK((status == capture::ReadStatus::kEnd) == reader.problem().empty());
  FUZZ_CHECK(status != capture::ReadStatus::kNotCapture || count == 0);
  CheckStreamed(span, packets, status, reader.problem());
  CheckWalk(span, taken, status);
  return 0;
}
