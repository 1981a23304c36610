// SPDX-License-Identifier: BSD-2-Clause
// The layer summary of one line: Go!/Stop! verdicts for Layer 1 (S/T), Layer 2 (Q.921) and
// Layer 3 (Q.931 with its SPID service state), read from status areas 1, 2 and 3.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "areas/area_record.h"

// Positions of the values within the area record. The driver lists the parameters in a fixed
// order; the values read here are 16-bit words right after their identifiers.
inline constexpr std::size_t kL1TxStateOffset = 22;  // area 1, parameter 100 "Tx_Info_Pattern"
inline constexpr std::size_t kL1RxStateOffset = 26;  // area 1, parameter 101 "Rx_Info_Pattern"
inline constexpr std::size_t kL2StateOffset = 34;    // area 2, parameter 203 "Lap_State"
inline constexpr std::size_t kL3StateOffset = 22;    // area 3, parameter 300 "State"
inline constexpr int kL3ServiceParam = 7;            // area 3, parameter 306 "Service", the 7th

// What one layer's area says, as read: each raw number, its Go!/Stop! verdict and its state text
// (empty for a value without one). The summary printer and the monitoring plugin both work from
// these values; neither reads the record again.
struct L1Values {
  std::uint16_t tx = 0;
  std::uint16_t rx = 0;
  bool tx_go = false;  // the adapter sends INFO 3 (2 or 3)
  bool rx_go = false;  // the adapter receives INFO 4 (2)
  std::string_view tx_text;
  std::string_view rx_text;
};
struct L2Values {
  std::uint16_t state = 0;
  bool go = false;  // 7 "Multiframe Established" or 8 "Timer Recovery"
  std::string_view text;
};
struct L3Values {
  std::uint16_t state = 0;
  std::uint16_t service = 0;
  bool state_go = false;    // 2 or 4
  bool service_go = false;  // Full or Non Initializing, with or without TM
  std::string_view state_text;
  std::string_view service_text;
};

// The summary's own state texts; a value without an entry gives an empty text.
std::string_view TxStateText(std::uint32_t value);
std::string_view RxStateText(std::uint32_t value);
std::string_view L2StateText(std::uint32_t value);
std::string_view L3StateText(std::uint32_t value);
std::string_view L3ServiceText(std::uint32_t value);

// Values read from a fetched area record. No read goes past the record; bytes beyond it read as 0.
L1Values ReadL1Values(const AreaRecord& record);
L2Values ReadL2Values(const AreaRecord& record);
std::uint16_t ReadL2State(const AreaRecord& record);
L3Values ReadL3Values(const AreaRecord& record);

// The readings of raw numbers (verdicts and texts filled in), for callers that hold the numbers.
L1Values MakeL1Values(std::uint16_t tx, std::uint16_t rx);
L2Values MakeL2Values(std::uint16_t state);
L3Values MakeL3Values(std::uint16_t state, std::uint16_t service);

// The lines one layer prints, and whether any of them said Stop!.
struct LayerSummary {
  std::string text;
  bool stop = false;
};
LayerSummary FormatL1Summary(const L1Values& values, bool verbose);
LayerSummary FormatL2Summary(const L2Values& values, bool verbose);
LayerSummary FormatL2Summary(std::uint16_t state, bool verbose);
LayerSummary FormatL3Summary(const L3Values& values, bool verbose);

// Fetch the layer's area for the line and print its verdicts (with texts under -v); a Stop! sets
// TellFlag. 1 when no area record could be allocated, otherwise 0, also when the fetch failed (no
// verdict is printed then).
int GetL1Status(std::uint32_t line_handle);
int GetL2Status(std::uint32_t line_handle);
int GetL3Status(std::uint32_t line_handle);
