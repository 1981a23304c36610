// SPDX-License-Identifier: BSD-2-Clause
// bricap's command line: dumpcap's options for a capture into a file, and Wireshark's extcap
// options for a capture into Wireshark.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace bricap {

enum class Action {
  kUsage,             // -h
  kVersion,           // -v
  kListLines,         // -D
  kCapture,           // -w FILE
  kExtcapInterfaces,  // --extcap-interfaces
  kExtcapVersion,     // --extcap-version alone
  kExtcapDlts,        // --extcap-dlts --extcap-interface X
  kExtcapConfig,      // --extcap-config --extcap-interface X
  kExtcapFilter,      // --extcap-capture-filter F without --capture: is the filter valid?
  kExtcapCapture,     // --capture --extcap-interface X --fifo PATH
};

struct Options {
  Action action = Action::kCapture;
  std::vector<std::size_t> lines;             // -i (or the extcap interface), in the order given, no repeats
  std::string file;                           // -w FILE or --fifo PATH; "-" is standard output
  std::uint64_t count = 0;                    // -c: stop after this many frames; 0 = no limit
  std::uint32_t duration = 0;                 // -a duration:SEC; 0 = no limit
  std::uint64_t stop_filesize_kb = 0;         // -a filesize:KB (with -b: a switch to the next file)
  std::uint32_t stop_files = 0;               // -a files:N, with -b
  std::optional<std::string> capture_filter;  // --extcap-capture-filter

  // -b: multiple files PREFIX_NNNNN_YYYYMMDDHHMMSS.SUFFIX, switched by any criterion that is set.
  bool multiple_files = false;
  std::uint32_t switch_duration = 0;     // -b duration:SEC, since the file was opened
  std::uint32_t switch_interval = 0;     // -b interval:SEC, on the clock (3600: on the hour)
  std::uint64_t switch_filesize_kb = 0;  // -b filesize:KB (1 kB = 1000 bytes)
  std::uint64_t switch_packets = 0;      // -b packets:N
  std::uint32_t ring_files = 0;          // -b files:N: a ring of N files, the oldest deleted
  std::optional<std::string> printname;  // -b printname:FILE ("-", "stdout", "stderr" or a file)
  // --keep-failed DIR: a file of the ring that holds a failed call or a lost data link is moved
  // into DIR when it closes, out of the rotation.
  std::optional<std::string> keep_failed;

  bool HasSwitchCriterion() const {
    return switch_duration != 0 || switch_interval != 0 || switch_filesize_kb != 0 || switch_packets != 0;
  }
};

// Reads the command line. False for a bad one, with *error saying why in one line.
bool ParseArguments(int argc, char** argv, Options* options, std::string* error);

// The index of a line from "-i N" or an extcap interface "bri<N>": 0 to 19.
std::optional<std::size_t> ParseLineIndex(const std::string& text);

// "bri<N>".
std::string InterfaceValue(std::size_t index);

std::string UsageText();
std::string VersionText();

}  // namespace bricap
