#include "status/layer_status.h"

#include <array>
#include <memory>
#include <new>

#include "areas/get_area.h"
#include "common/console.h"
#include "status/options.h"

namespace {

constexpr std::array<std::string_view, 4> ValueTxArray = {"INFO 0", "INFO 1", "INFO 3", "INFO 3"};

constexpr std::array<std::string_view, 4> ValueRxArray = {"INFO 0", "INFO 2", "INFO 4", "LostFraming"};

constexpr std::array<std::string_view, 10> ValueL2StateArray = {
    "Initialized",
    "Tei Unassigned",
    "Assign Awaiting Tei",
    "Establish Awaiting Tei",
    "Tei Assigned",
    "Awaiting Multiframe Establishment",
    "Awaiting Multiframe Release",
    "Multiframe Established",
    "Timer Recovery",
    "",
};

constexpr std::array<std::string_view, 6> ValueL3StateArray = {
    "Initialized",
    "Awaiting Layer 2 Establishment",
    "Established, Awaiting Restart",
    "Restart Pending, Awaiting Ack",
    "Active",
    "",
};

// Service values 0 to 4, then 16 to 20 (the same states in test mode) at indexes 5 to 9.
constexpr std::array<std::string_view, 10> ValueL3ServiceArray = {
    "Not Determined",
    "Restricted",
    "Full",
    "Non Initializing",
    "Rejected, Bad or No SPID",
    "Not Determined, TM",
    "Restricted, TM",
    "Full, TM",
    "Non Initializing, TM",
    "Rejected, Bad or No SPID, TM",
};
constexpr std::uint32_t kServiceTmFirst = 16;
constexpr std::uint32_t kServiceTmLast = 20;
constexpr std::uint32_t kServiceTmIndexShift = kServiceTmFirst - 5;

template <std::size_t N>
std::string_view Lookup(const std::array<std::string_view, N>& table, std::uint32_t value) {
  return value < N ? table[value] : std::string_view();
}

// A byte of the record, 0 beyond its end.
std::uint8_t ByteAt(const AreaRecord& record, std::size_t offset) {
  return offset < record.raw.size() ? record.raw[offset] : 0;
}

// A little-endian word at any offset, even or odd, read byte by byte.
std::uint16_t WordAt(const AreaRecord& record, std::size_t offset) {
  return static_cast<std::uint16_t>(ByteAt(record, offset) | (ByteAt(record, offset + 1) << 8));
}

// Walks area 3's parameter list to the value of its seventh parameter, the SPID service state.
// A parameter whose identifier has bit 15 set is taken as a NUL-terminated text; every other one
// as a 2-byte value. The walk stops at the end of the record.
std::uint16_t FindL3Service(const AreaRecord& record) {
  std::size_t pos = kParamsOffset;
  std::uint16_t value = 0;
  for (int step = 1; step <= kL3ServiceParam; ++step) {
    const std::uint16_t id = WordAt(record, pos);
    value = WordAt(record, pos + 2);
    if (step == kL3ServiceParam) break;
    if ((id & 0x8000u) != 0) {
      std::size_t end = pos + 2;
      while (end < record.raw.size() && record.raw[end] != 0) ++end;
      pos = end + 1;
    } else {
      pos += 4;
    }
  }
  return value;
}

bool L3ServiceIsGo(std::uint32_t v) { return v == 2 || v == 3 || v == 18 || v == 19; }

// One verdict line; a Stop! marks the summary.
void Verdict(LayerSummary* summary, const char* label, bool go, std::uint16_t value) {
  AppendF(summary->text, " %s: %s (%u)\n", label, go ? "Go!" : "Stop!", static_cast<unsigned>(value));
  if (!go) summary->stop = true;
}

void StateText(LayerSummary* summary, bool verbose, const char* label, std::string_view text) {
  if (!verbose) return;
  AppendF(summary->text, " %s: %.*s\n", label, static_cast<int>(text.size()), text.data());
}

// The frame of the three layer calls: fetch the area into a record of its own, format, print.
template <typename Format>
int PrintLayer(std::uint32_t line_handle, std::int32_t area, Format format) {
  std::unique_ptr<AreaRecord> record(new (std::nothrow) AreaRecord{});
  if (!record) {
    ConsoleWrite("Error: Error Allocating Memory.\n");
    return 1;
  }
  if (GetArea(line_handle, area, record.get()) != 0) return 0;
  const LayerSummary summary = format(*record, Verbose != 0);
  if (summary.stop) TellFlag = 1;
  ConsoleWrite(summary.text);
  return 0;
}

}  // namespace

std::string_view TxStateText(std::uint32_t value) { return Lookup(ValueTxArray, value); }
std::string_view RxStateText(std::uint32_t value) { return Lookup(ValueRxArray, value); }
std::string_view L2StateText(std::uint32_t value) { return Lookup(ValueL2StateArray, value); }
std::string_view L3StateText(std::uint32_t value) { return Lookup(ValueL3StateArray, value); }

std::string_view L3ServiceText(std::uint32_t value) {
  // 5 to 15 and above 20 have no text.
  if (value <= 4) return ValueL3ServiceArray[value];
  if (value >= kServiceTmFirst && value <= kServiceTmLast) return ValueL3ServiceArray[value - kServiceTmIndexShift];
  return {};
}

L1Values MakeL1Values(std::uint16_t tx, std::uint16_t rx) {
  return L1Values{tx, rx, tx == 2 || tx == 3, rx == 2, TxStateText(tx), RxStateText(rx)};
}

L2Values MakeL2Values(std::uint16_t state) { return L2Values{state, state >= 7, L2StateText(state)}; }

L3Values MakeL3Values(std::uint16_t state, std::uint16_t service) {
  return L3Values{state, service, state == 2 || state == 4, L3ServiceIsGo(service), L3StateText(state),
                  L3ServiceText(service)};
}

L1Values ReadL1Values(const AreaRecord& record) {
  return MakeL1Values(WordAt(record, kL1TxStateOffset), WordAt(record, kL1RxStateOffset));
}

L2Values ReadL2Values(const AreaRecord& record) { return MakeL2Values(ReadL2State(record)); }

std::uint16_t ReadL2State(const AreaRecord& record) { return WordAt(record, kL2StateOffset); }

L3Values ReadL3Values(const AreaRecord& record) {
  return MakeL3Values(WordAt(record, kL3StateOffset), FindL3Service(record));
}

LayerSummary FormatL1Summary(const L1Values& values, bool verbose) {
  LayerSummary summary;
  Verdict(&summary, "Layer 1 Tx State", values.tx_go, values.tx);
  StateText(&summary, verbose, "Layer 1 State", values.tx_text);
  Verdict(&summary, "Layer 1 Rx State", values.rx_go, values.rx);
  StateText(&summary, verbose, "Layer 1 Rx State", values.rx_text);
  return summary;
}

LayerSummary FormatL2Summary(const L2Values& values, bool verbose) {
  LayerSummary summary;
  Verdict(&summary, "Layer 2 State", values.go, values.state);
  StateText(&summary, verbose, "Layer 2 State", values.text);
  return summary;
}

LayerSummary FormatL2Summary(std::uint16_t state, bool verbose) { return FormatL2Summary(MakeL2Values(state), verbose); }

LayerSummary FormatL3Summary(const L3Values& values, bool verbose) {
  LayerSummary summary;
  Verdict(&summary, "Layer 3 State", values.state_go, values.state);
  StateText(&summary, verbose, "Layer 3 State", values.state_text);
  Verdict(&summary, "Layer 3 Service", values.service_go, values.service);
  StateText(&summary, verbose, "Layer 3 Service", values.service_text);
  return summary;
}

int GetL1Status(std::uint32_t line_handle) {
  return PrintLayer(line_handle, 1, [](const AreaRecord& record, bool verbose) {
    return FormatL1Summary(ReadL1Values(record), verbose);
  });
}

int GetL2Status(std::uint32_t line_handle) {
  return PrintLayer(line_handle, 2, [](const AreaRecord& record, bool verbose) {
    return FormatL2Summary(ReadL2Values(record), verbose);
  });
}

int GetL3Status(std::uint32_t line_handle) {
  return PrintLayer(line_handle, 3, [](const AreaRecord& record, bool verbose) {
    return FormatL3Summary(ReadL3Values(record), verbose);
  });
}
