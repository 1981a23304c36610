// SPDX-License-Identifier: BSD-2-Clause
// Playing the fault rules of fault_rules.h on a connection: FaultPlan decides which requests get
// a faulty reply, FaultyStream wraps a connection's stream and spoils those replies. RunSession
// puts the wrapper around every connection when the simulator has rules.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "fault_rules.h"
#include "session.h"

namespace brisim {

// Counts the requests each rule matches, across all connections. Thread-safe.
class FaultPlan {
 public:
  explicit FaultPlan(std::vector<FaultRule> rules);

  // Counts the request for every rule it matches and returns the first rule whose faulty
  // requests it falls in, or null for a reply that goes out as it is.
  const FaultRule* Next(std::uint32_t opcode, std::uint64_t conn);

 private:
  std::mutex mu_;
  std::vector<FaultRule> rules_;
  std::vector<std::uint64_t> seen_;  // guarded by mu_
};

// Spoils an encoded reply (ok, returned, out_sent, bytes) as a garbage or oversize rule says;
// `seed` makes the random bytes repeatable.
std::vector<std::uint8_t> SpoilReply(const FaultRule& rule, const std::vector<std::uint8_t>& reply, std::uint64_t seed);

// A connection's stream with the simulator's fault rules applied to its replies. It follows the
// requests as they are read to know each one's opcode, and ends the connection once the simulated
// driver has restarted.
class FaultyStream : public Stream {
 public:
  FaultyStream(Stream& inner, Simulator& sim, std::uint64_t conn);

  bool ReadExact(std::uint8_t* data, std::size_t size) override;
  bool WriteAll(const std::uint8_t* data, std::size_t size) override;

 private:
  Stream& inner_;
  Simulator& sim_;
  std::uint64_t conn_;
  std::uint64_t generation_;       // the simulator's restart count when the connection began
  bool expect_input_ = false;      // the next read is the input of the request just announced
  std::uint32_t opcode_ = 0;       // opcode of the request being answered
  std::uint64_t requests_ = 0;
};

}  // namespace brisim
