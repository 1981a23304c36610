// Reading the records of a capture file (pcap or pcapng). Linux builds read them with libpcap;
// builds without it say that capture files cannot be played.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "scenario.h"

namespace brisim {

struct CaptureRecord {
  Bytes data;                    // the captured octets of the record
  std::int64_t seconds = 0;      // capture time, since 1970-01-01 UTC
  std::int64_t nanoseconds = 0;
};

// Every record of the file, in order, and the file's link type. Throws ScenarioError starting with
// `key` when the file cannot be read.
std::vector<CaptureRecord> ReadCaptureRecords(const std::string& key, const std::string& path, int* link_type);

}  // namespace brisim
