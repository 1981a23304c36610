#include "capture_file.h"

namespace brisim {

// This build has no capture file reader (libpcap is not available to it).
std::vector<CaptureRecord> ReadCaptureRecords(const std::string& key, const std::string& path, int* link_type) {
  *link_type = 0;
  throw ScenarioError(key + ": cannot read capture " + path + ": this brisim is built without capture file support");
}

}  // namespace brisim
