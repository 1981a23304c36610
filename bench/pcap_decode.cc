// pcap_decode: decodes every LAPD frame of a capture file with lapmon's frame decoder, all views
// on, exactly as lapmon prints them, to standard output. It is the decoder core without the
// driver, the poll or the rings, for measuring the decoder against another decoder on the same
// frames:
//
//   pcap_decode [--buffered] FILE [LINE_NAME] > /dev/null
//
// As lapmon does, every view of every frame goes to standard output as one write. --buffered
// collects the same text and writes it in blocks of about 64 KiB instead, to tell the cost of the
// decoding and formatting from the cost of the writes; the bytes written are the same.
//
// Reads pcap and pcapng files of link type 177 (LINUX_LAPD; the direction comes from the
// pseudo-header) or 203 (LAPD; every frame is taken as the user side's). The file is streamed:
// one frame in memory at a time. Prints the number of frames decoded on standard error.
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include <pcap/pcap.h>

#include "capture.h"
#include "common/bytes.h"
#include "common/console.h"
#include "decode/frame_display.h"
#include "decode/trace_entry.h"

namespace {

struct PcapCloser {
  void operator()(pcap_t* p) const { pcap_close(p); }
};

}  // namespace

int main(int argc, char** argv) {
  int arg = 1;
  const bool buffered = argc > 1 && std::strcmp(argv[1], "--buffered") == 0;
  if (buffered) ++arg;
  if (argc - arg < 1 || argc - arg > 2) {
    std::fprintf(stderr, "usage: pcap_decode [--buffered] FILE [LINE_NAME]\n");
    return 2;
  }
  const char* path = argv[arg];
  const char* lineName = argc - arg == 2 ? argv[arg + 1] : "Tessix1 LINE1";
  char err[PCAP_ERRBUF_SIZE] = {};
  std::unique_ptr<pcap_t, PcapCloser> pcap(pcap_open_offline_with_tstamp_precision(path, PCAP_TSTAMP_PRECISION_NANO, err));
  if (!pcap) {
    std::fprintf(stderr, "pcap_decode: %s\n", err);
    return 1;
  }
  const int linkType = pcap_datalink(pcap.get());
  if (linkType != brisim::kLinkTypeLinuxLapd && linkType != brisim::kLinkTypeLapd) {
    std::fprintf(stderr, "pcap_decode: link type %d carries no LAPD frames\n", linkType);
    return 1;
  }
  std::string text;
  const auto flush = [&text] {
    std::fwrite(text.data(), 1, text.size(), stdout);
    text.clear();
  };

  std::array<std::uint8_t, kTraceEntrySize> entry{};
  const MutableByteSpan e(entry);
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
    entry.fill(0);
    const std::uint64_t fileTime = brisim::FileTimeFromCaptureTime(header->ts.tv_sec, header->ts.tv_usec);
    WriteLE32(e, kTimeStampOffset, static_cast<std::uint32_t>(fileTime));
    WriteLE32(e, kTimeStampOffset + 4, static_cast<std::uint32_t>(fileTime >> 32));
    WriteLE32(e, kDirectionOffset, direction);
    WriteLE32(e, kFrameLengthOffset, static_cast<std::uint32_t>(record.size()));
    for (std::size_t i = 0; i < record.size(); ++i) entry[kFrameDataOffset + i] = record[i];
    if (!buffered) text.clear();
    FormatTraceFrame(text, lineName, TraceEntryBytes(entry), ViewSwitches{});
    if (!buffered) ConsoleWrite(text);
    ++frames;
    if (buffered && frames % 128 == 0) flush();
  }
  if (buffered) {
    flush();
    std::fflush(stdout);
  }
  if (rc == PCAP_ERROR) {
    std::fprintf(stderr, "pcap_decode: %s after %llu frames\n", pcap_geterr(pcap.get()),
                 static_cast<unsigned long long>(frames));
    return 1;
  }
  std::fprintf(stderr, "pcap_decode: %llu frames\n", static_cast<unsigned long long>(frames));
  return 0;
}
