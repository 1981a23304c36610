// SPDX-License-Identifier: BSD-2-Clause
// pcap_decode: decodes every LAPD frame of a capture file with lapmon's frame display, all views
// on, and writes the text to standard output the way lapmon's decode thread does: the entries'
// views collected and written in writes of about 64 KiB (every entry of the file counts as ready).
// It is lapmon's decode path without the driver, the poll or the rings, for measuring it against
// another decoder on the same frames:
//
//   pcap_decode FILE [LINE_NAME] > /dev/null
//
// Reads pcap and pcapng files of link type 177 (LINUX_LAPD; the direction comes from the
// pseudo-header) or 203 (LAPD; every frame is taken as the user side's). The file is streamed:
// one frame in memory at a time. Prints the number of frames decoded on standard error.
#include <pcap/pcap.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <memory>

#include "capture.h"
#include "base/bytes.h"
#include "common/console_batch.h"
#include "decode/frame_display.h"
#include "decode/trace_entry.h"
#include "decode/trace_entry_codec.h"
#include "platform/platform.h"

namespace {

struct PcapCloser {
  void operator()(pcap_t* p) const { pcap_close(p); }
};

}  // namespace

int main(int argc, char** argv) {
  const int arg = 1;
  if (argc - arg < 1 || argc - arg > 2) {
    std::fprintf(stderr, "usage: pcap_decode FILE [LINE_NAME]\n");
    return 2;
  }
  const char* path = argv[arg];
  const char* lineName = argc - arg == 2 ? argv[arg + 1] : "Tessix1 LINE1";
  char err[PCAP_ERRBUF_SIZE] = {};
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr) {
    std::perror(path);
    return 1;
  }
  // The file is read in large pieces rather than the stream's few kilobytes at a time.
  static char readBuffer[256 * 1024];
  std::setvbuf(file, readBuffer, _IOFBF, sizeof readBuffer);
  std::unique_ptr<pcap_t, PcapCloser> pcap(
      pcap_fopen_offline_with_tstamp_precision(file, PCAP_TSTAMP_PRECISION_NANO, err));
  if (!pcap) {
    std::fclose(file);
    std::fprintf(stderr, "pcap_decode: %s\n", err);
    return 1;
  }
  const int linkType = pcap_datalink(pcap.get());
  if (linkType != brisim::kLinkTypeLinuxLapd && linkType != brisim::kLinkTypeLapd) {
    std::fprintf(stderr, "pcap_decode: link type %d carries no LAPD frames\n", linkType);
    return 1;
  }
  ConsoleBatch batch;
  bool written = true;

  std::array<std::uint8_t, kTraceEntrySize> entry{};
  std::uint64_t frames = 0;
  pcap_pkthdr* header = nullptr;
  const u_char* data = nullptr;
  int rc = 0;
  while ((rc = pcap_next_ex(pcap.get(), &header, &data)) == 1) {
    ByteSpan record(data, header->caplen);
    std::uint32_t direction = 0;
    if (linkType == brisim::kLinkTypeLinuxLapd) {
      brisim::LinuxLapdHeader lapd;
      if (!brisim::ReadLinuxLapdHeader(record, &lapd) || !lapd.lapd) continue;
      direction = lapd.direction;
      record = record.subspan(brisim::kLinuxLapdHeaderSize);
    }
    if (record.size() > kFrameDataSize) record = record.first(kFrameDataSize);
    const std::uint64_t fileTime = brisim::FileTimeFromCaptureTime(header->ts.tv_sec, header->ts.tv_usec);
    WriteTraceEntry(entry, fileTime, direction, record);
    FormatTraceFrame(batch.Text(), lineName, TraceEntryBytes(entry), ViewSwitches{}, PlatFileTimeToLocal);
    written = batch.EntryDone();
    if (!written) break;
    ++frames;
  }
  if (written) written = batch.Flush();
  if (!written) {
    std::fprintf(stderr, "pcap_decode: standard output is gone after %llu frames\n",
                 static_cast<unsigned long long>(frames));
    return 1;
  }
  if (rc == PCAP_ERROR) {
    std::fprintf(stderr, "pcap_decode: %s after %llu frames\n", pcap_geterr(pcap.get()),
                 static_cast<unsigned long long>(frames));
    return 1;
  }
  std::fprintf(stderr, "pcap_decode: %llu frames\n", static_cast<unsigned long long>(frames));
  return 0;
}
