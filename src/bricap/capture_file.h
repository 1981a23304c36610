// SPDX-License-Identifier: BSD-2-Clause
// The pcapng blocks bricap writes: one interface per traced line (LINUX_LAPD, time in 100 ns
// units, so the driver's FILETIME stamps are kept exactly), one enhanced packet per trace entry.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "capture/capture_writer.h"
#include "decode/trace_entry.h"

namespace bricap {

// if_tsresol 7: time stamps count 100 ns, as FILETIMEs do.
inline constexpr std::uint8_t kTimeResolution = 7;
// The pseudo-header and the largest frame a trace entry holds.
inline constexpr std::uint32_t kSnapLength = 16 + 260;

// A FILETIME (100 ns since 1601) as 100 ns since 1970; a time before 1970 gives 0.
std::uint64_t TicksSince1970(std::uint64_t file_time);

// The section header and one interface description per line name, in order.
void AppendFileHeader(capture::ByteBuffer& out, const std::vector<std::string>& line_names);

// One trace entry as an enhanced packet of the given interface: the LINUX_LAPD pseudo-header
// with the entry's direction, its valid frame octets, the entry's time, the inbound/outbound flag
// (outbound: the user side sent it, as the adapter is the user side; inbound: the network sent
// it). Entries the driver dropped before this one (*pending_drop) go into its drop count, and
// *pending_drop is then 0.
void AppendEntry(capture::ByteBuffer& out, std::uint32_t interface, TraceEntryBytes entry,
                 std::uint64_t* pending_drop);

// The interface statistics of one line at the end: frames captured and entries the driver dropped.
void AppendLineStatistics(capture::ByteBuffer& out, std::uint32_t interface, std::uint64_t ticks,
                          std::uint64_t received, std::uint64_t dropped);

}  // namespace bricap
