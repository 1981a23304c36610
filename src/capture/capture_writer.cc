#include "capture/capture_writer.h"
#include "capture/pcapng_format.h"

namespace capture {
namespace {

using namespace pcapng;

void Put16(ByteBuffer& out, std::uint16_t v) {
  out.push_back(static_cast<std::uint8_t>(v));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
}

void Put32(ByteBuffer& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

void Put64(ByteBuffer& out, std::uint64_t v) {
  Put32(out, static_cast<std::uint32_t>(v));
  Put32(out, static_cast<std::uint32_t>(v >> 32));
}

// Pads to four octets counted from the block's start.
void Pad(ByteBuffer& out, std::size_t start) {
  while ((out.size() - start) % 4 != 0) out.push_back(0);
}

// Writes type and a length to be filled in; returns where the block starts.
std::size_t BeginBlock(ByteBuffer& out, std::uint32_t type) {
  const std::size_t start = out.size();
  Put32(out, type);
  Put32(out, 0);
  return start;
}

void EndBlock(ByteBuffer& out, std::size_t start) {
  Pad(out, start);
  const auto total = static_cast<std::uint32_t>(out.size() - start + 4);
  Put32(out, total);
  WriteLE32(MutableByteSpan(out), start + 4, total);
}

void Option(ByteBuffer& out, std::uint16_t code, const std::uint8_t* value, std::size_t length) {
  const std::size_t start = out.size();
  Put16(out, code);
  Put16(out, static_cast<std::uint16_t>(length));
  out.insert(out.end(), value, value + length);
  Pad(out, start);
}

void TextOption(ByteBuffer& out, std::uint16_t code, const std::string& text) {
  // Option values are at most 65535 octets; a longer text is cut there.
  const std::size_t n = text.size() > 0xFFFC ? 0xFFFC : text.size();
  Option(out, code, reinterpret_cast<const std::uint8_t*>(text.data()), n);
}

void Option32(ByteBuffer& out, std::uint16_t code, std::uint32_t v) {
  Put16(out, code);
  Put16(out, 4);
  Put32(out, v);
}

void Option64(ByteBuffer& out, std::uint16_t code, std::uint64_t v) {
  Put16(out, code);
  Put16(out, 8);
  Put64(out, v);
}

void EndOfOptions(ByteBuffer& out) { Put32(out, 0); }

}  // namespace

void AppendSectionHeader(ByteBuffer& out, const std::string& application) {
  const std::size_t start = BeginBlock(out, kSectionHeader);
  Put32(out, kByteOrderMagic);
  Put16(out, 1);  // version 1.0
  Put16(out, 0);
  Put64(out, ~std::uint64_t{0});  // section length not known
  if (!application.empty()) {
    TextOption(out, kShbUserappl, application);
    EndOfOptions(out);
  }
  EndBlock(out, start);
}

void AppendInterfaceDescription(ByteBuffer& out, const InterfaceSpec& interface) {
  const std::size_t start = BeginBlock(out, kInterfaceDescription);
  Put16(out, interface.link_type);
  Put16(out, 0);
  Put32(out, interface.snap_length);
  if (!interface.name.empty()) TextOption(out, kIfName, interface.name);
  const std::uint8_t resolution = interface.time_resolution & 0x7F;
  Option(out, kIfTsresol, &resolution, 1);
  EndOfOptions(out);
  EndBlock(out, start);
}

void AppendEnhancedPacket(ByteBuffer& out, const PacketSpec& packet) {
  const std::size_t start = BeginBlock(out, kEnhancedPacket);
  const auto captured = static_cast<std::uint32_t>(packet.data.size());
  Put32(out, packet.interface);
  Put32(out, static_cast<std::uint32_t>(packet.time_stamp >> 32));
  Put32(out, static_cast<std::uint32_t>(packet.time_stamp));
  Put32(out, captured);
  Put32(out, packet.original_length != 0 ? packet.original_length : captured);
  out.insert(out.end(), packet.data.begin(), packet.data.end());
  Pad(out, start);
  const bool flags = packet.direction != PacketDirection::kUnknown;
  if (flags) Option32(out, kEpbFlags, static_cast<std::uint32_t>(packet.direction));
  if (packet.has_drop_count) Option64(out, kEpbDropcount, packet.drop_count);
  if (flags || packet.has_drop_count) EndOfOptions(out);
  EndBlock(out, start);
}

void AppendInterfaceStatistics(ByteBuffer& out, const StatisticsSpec& statistics) {
  const std::size_t start = BeginBlock(out, kInterfaceStatistics);
  Put32(out, statistics.interface);
  Put32(out, static_cast<std::uint32_t>(statistics.time_stamp >> 32));
  Put32(out, static_cast<std::uint32_t>(statistics.time_stamp));
  if (statistics.has_received) Option64(out, kIsbIfrecv, statistics.received);
  if (statistics.has_dropped) Option64(out, kIsbIfdrop, statistics.dropped);
  if (statistics.has_received || statistics.has_dropped) EndOfOptions(out);
  EndBlock(out, start);
}

}  // namespace capture
