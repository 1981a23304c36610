#include <memory>

#include <pcap/pcap.h>

#include "capture_file.h"

namespace brisim {
namespace {

struct PcapCloser {
  void operator()(pcap_t* p) const { pcap_close(p); }
};

}  // namespace

std::vector<CaptureRecord> ReadCaptureRecords(const std::string& key, const std::string& path, int* link_type) {
  char err[PCAP_ERRBUF_SIZE] = {};
  std::unique_ptr<pcap_t, PcapCloser> pcap(
      pcap_open_offline_with_tstamp_precision(path.c_str(), PCAP_TSTAMP_PRECISION_NANO, err));
  if (!pcap) throw ScenarioError(key + ": cannot read capture " + path + ": " + err);
  *link_type = pcap_datalink(pcap.get());

  std::vector<CaptureRecord> records;
  pcap_pkthdr* header = nullptr;
  const u_char* data = nullptr;
  int rc = 0;
  while ((rc = pcap_next_ex(pcap.get(), &header, &data)) == 1) {
    CaptureRecord record;
    record.data.assign(data, data + header->caplen);
    record.seconds = static_cast<std::int64_t>(header->ts.tv_sec);
    // Opened with nanosecond precision: the second field holds nanoseconds.
    record.nanoseconds = static_cast<std::int64_t>(header->ts.tv_usec);
    records.push_back(std::move(record));
  }
  if (rc == PCAP_ERROR) {
    throw ScenarioError(key + ": " + path + ": " + pcap_geterr(pcap.get()) + " after " +
                        std::to_string(records.size()) + " frames");
  }
  return records;
}

}  // namespace brisim
