// SPDX-License-Identifier: BSD-2-Clause
// Faults that brisim can play on the device transport, to show how the tools cope with a driver
// that misbehaves. Each rule picks requests (by opcode, connection and count) and says what
// happens to their replies. Read from the scenario's "faults" list or from --fault flags; the
// format is described in sim/SCENARIOS.md.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json_fwd.hpp>

namespace brisim {

enum class FaultKind {
  kGarbage,   // a well-framed success whose Status is 0 and whose payload is random bytes
  kNoise,     // random bytes on the wire instead of the reply, then the connection is closed
  kOversize,  // the reply says it returns more bytes than the caller's buffer holds
  kHang,      // the reply comes only after a pause
  kClose,     // the connection is closed instead of replying
  kCut,       // half of the reply, then the connection is closed
  kRestart,   // the driver restarts: trace objects and pending areas are gone, connections close
};

struct FaultRule {
  FaultKind kind = FaultKind::kHang;
  std::optional<std::uint32_t> opcode;  // only requests with this opcode; any when absent
  std::optional<std::uint64_t> conn;    // only requests on this connection; any when absent
  std::uint64_t after = 0;              // matching requests let through before the first fault
  std::uint64_t count = 1;              // faulty replies in a row, after those
  bool forever = false;                 // every matching request from then on
  std::int64_t ms = 1000;               // kHang: the pause
  std::optional<std::uint32_t> bytes;   // kGarbage: payload bytes made random (2048);
                                        // kNoise: bytes sent (64); kOversize: the excess (1)
};

std::string_view FaultKindName(FaultKind kind);

// The "faults" list of a scenario; throws ScenarioError naming the key ("faults[0].ms: ...").
std::vector<FaultRule> ParseFaults(const nlohmann::json& list, const std::string& path);

// One --fault flag: KIND or KIND:key=value,... with the keys of a rule ("hang:opcode=OP_TRACE_READ,
// after=3,ms=5000"); throws ScenarioError.
FaultRule ParseFaultFlag(std::string_view flag);

}  // namespace brisim
