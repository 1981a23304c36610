#include "bricap/capture_file.h"

#include <algorithm>

#include "base/version.h"
#include "capture/lapd_frames.h"
#include "decode/trace_entry_codec.h"

namespace bricap {

std::uint64_t TicksSince1970(std::uint64_t file_time) {
  return file_time < capture::kUnixEpochFileTime ? 0 : file_time - capture::kUnixEpochFileTime;
}

void AppendFileHeader(capture::ByteBuffer& out, const std::vector<std::string>& line_names) {
  capture::AppendSectionHeader(out, "bricap (bri-tools) " + std::string(kVersionText));
  for (const std::string& name : line_names) {
    capture::InterfaceSpec block;
    block.link_type = capture::kLinkTypeLinuxLapd;
    block.snap_length = kSnapLength;
    block.name = name;
    block.time_resolution = kTimeResolution;
    capture::AppendInterfaceDescription(out, block);
  }
}

void AppendEntry(capture::ByteBuffer& out, std::uint32_t interface, TraceEntryBytes entry,
                 std::uint64_t* pending_drop) {
  const TraceEntryFields fields = ReadTraceEntry(entry);
  const std::uint64_t file_time = fields.file_time;
  const std::uint32_t direction = fields.direction != 0 ? 1 : 0;

  std::vector<std::uint8_t> data;
  data.reserve(capture::kLinuxLapdHeaderSize + fields.octets.size());
  capture::AppendLinuxLapdHeader(data, direction);
  data.insert(data.end(), fields.octets.begin(), fields.octets.end());

  capture::PacketSpec packet;
  packet.interface = interface;
  packet.time_stamp = TicksSince1970(file_time);
  packet.data = ByteSpan(data);
  packet.direction = capture::FlagFromDirection(direction);
  if (*pending_drop > 0) {
    packet.has_drop_count = true;
    packet.drop_count = *pending_drop;
    *pending_drop = 0;
  }
  capture::AppendEnhancedPacket(out, packet);
}

void AppendLineStatistics(capture::ByteBuffer& out, std::uint32_t interface, std::uint64_t ticks,
                          std::uint64_t received, std::uint64_t dropped) {
  capture::StatisticsSpec block;
  block.interface = interface;
  block.time_stamp = ticks;
  block.has_received = true;
  block.received = received;
  block.has_dropped = true;
  block.dropped = dropped;
  capture::AppendInterfaceStatistics(out, block);
}

}  // namespace bricap
