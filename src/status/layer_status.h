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

struct L1Values {
  std::uint16_t tx = 0;
  std::uint16_t rx = 0;
};
struct L3Values {
  std::uint16_t state = 0;
  std::uint16_t service = 0;
};

// The summary's own state texts; a value without an entry gives an empty text.
std::string_view TxStateText(std::uint32_t value);
std::string_view RxStateText(std::uint32_t value);
std::string_view L2StateText(std::uint32_t value);
std::string_view L3StateText(std::uint32_t value);
std::string_view L3ServiceText(std::uint32_t value);

// Values read from a fetched area record. No read goes past the record; bytes beyond it read as 0.
L1Values ReadL1Values(const AreaRecord& record);
std::uint16_t ReadL2State(const AreaRecord& record);
L3Values ReadL3Values(const AreaRecord& record);

// The lines one layer prints, and whether any of them said Stop!.
struct LayerSummary {
  std::string text;
  bool stop = false;
};
LayerSummary FormatL1Summary(const L1Values& values, bool verbose);
LayerSummary FormatL2Summary(std::uint16_t state, bool verbose);
LayerSummary FormatL3Summary(const L3Values& values, bool verbose);

// Fetch the layer's area for the line and print its verdicts (with texts under -v); a Stop! sets
// TellFlag. 1 when no area record could be allocated, otherwise 0, also when the fetch failed (no
// verdict is printed then).
int GetL1Status(std::uint32_t line_handle);
int GetL2Status(std::uint32_t line_handle);
int GetL3Status(std::uint32_t line_handle);
