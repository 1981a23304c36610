// SPDX-License-Identifier: BSD-2-Clause
// bricap: captures the adapter's D-channel frames into pcapng, as a command of its own (dumpcap's
// manner) or as a Wireshark extcap program.
#pragma once

#include <string>

#include "bricap/options.h"
#include "common/enum_reply.h"

namespace bricap {

// Exit statuses.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;  // no driver, no lines, a write error, a lost driver connection
inline constexpr int kExitBadArguments = 2;

int BricapMain(int argc, char** argv);

// The texts of the extcap answers, given the adapter's lines (none when there is no driver).
std::string ExtcapInterfacesText(const EnumReply& lines);
std::string ExtcapVersionText();
std::string ExtcapDltsText();

// "-D": "N. name" per line, numbered as lapmon's menu numbers them.
std::string LineListText(const EnumReply& lines);

// "Capturing on 'A'", "Capturing on 'A' and 'B'", "Capturing on 'A', 'B' and 'C'".
std::string CapturingOnText(const std::vector<std::string>& names);

// The live count on a terminal: "\rPackets: N" and, once the driver dropped entries, their count.
std::string LiveCountText(std::uint64_t frames, std::uint64_t lost);

}  // namespace bricap
