// SPDX-License-Identifier: BSD-2-Clause
// Writing pcapng: each function appends one complete block (little-endian) to a byte buffer, so
// that a writer can hand whole blocks to a file and the file is a valid capture at every block
// boundary.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "capture/capture_reader.h"
#include "base/bytes.h"

namespace capture {

using ByteBuffer = std::vector<std::uint8_t>;

// Section header: byte-order magic, version 1.0, section length unknown, and the name of the
// program that wrote the file (shb_userappl) when one is given.
void AppendSectionHeader(ByteBuffer& out, const std::string& application);

struct InterfaceSpec {
  std::uint16_t link_type = 0;
  std::uint32_t snap_length = 0;
  std::string name;               // if_name; left out when empty
  std::uint8_t time_resolution = 6;  // if_tsresol: 10^-n seconds (n below 128)
};

// Interface description with if_name and if_tsresol.
void AppendInterfaceDescription(ByteBuffer& out, const InterfaceSpec& interface);

struct PacketSpec {
  std::uint32_t interface = 0;
  std::uint64_t time_stamp = 0;  // in the interface's units since 1970
  ByteSpan data;
  std::uint32_t original_length = 0;  // 0: the length of data
  PacketDirection direction = PacketDirection::kUnknown;  // epb_flags when known
  bool has_drop_count = false;
  std::uint64_t drop_count = 0;  // epb_dropcount
};

// Enhanced packet block with epb_flags and epb_dropcount where given.
void AppendEnhancedPacket(ByteBuffer& out, const PacketSpec& packet);

struct StatisticsSpec {
  std::uint32_t interface = 0;
  std::uint64_t time_stamp = 0;  // in the interface's units since 1970
  bool has_received = false;
  std::uint64_t received = 0;  // isb_ifrecv
  bool has_dropped = false;
  std::uint64_t dropped = 0;   // isb_ifdrop
};

// Interface statistics block with isb_ifrecv and isb_ifdrop where given.
void AppendInterfaceStatistics(ByteBuffer& out, const StatisticsSpec& statistics);

}  // namespace capture
