// SPDX-License-Identifier: BSD-2-Clause
// The device transport as brisim speaks it on one connection, independent of what carries the
// bytes (a Unix stream socket here; a named pipe on Windows). The framing of requests and replies
// is the tools' own (platform/transport_framing.h).
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "device.h"
#include "platform/transport_framing.h"

namespace brisim {

class FaultPlan;

inline constexpr std::uint32_t kControlCode = 0x160040;
// The most input brisim reads for one request; a larger in_len is a broken stream.
inline constexpr std::uint32_t kMaxInputLength = 16u << 20;

// Why the bytes that follow this header cannot be read as a request (the connection is then
// closed), or nothing when they can.
std::optional<std::string> MalformedReason(const RequestHeader& header);

// What one request did, for the request log.
struct LogRecord {
  std::uint32_t code = 0;
  std::uint32_t opcode = 0;
  std::uint32_t line_handle = 0;
  std::uint32_t parameter = 0;
  std::uint32_t signature = 0;
  std::uint16_t header_word0 = 0;
  std::uint16_t header_word1 = 0;
  std::uint32_t in_len = 0;
  std::uint32_t in_sent = 0;
  std::uint32_t out_len = 0;
  std::uint32_t status = 0;
};

struct Served {
  std::vector<std::uint8_t> reply;  // reply header and the out_sent bytes
  LogRecord log;
};

// Serves one request whose header passed MalformedReason; input holds the in_sent bytes.
// Well-formed requests go to the device; a request with wrong header stamps, control code or
// buffer lengths is refused with a non-zero Status in the returned block.
Served ServeRequest(Device& device, const RequestHeader& header, ByteSpan input, const SimTime& now);

// The length of data without its trailing zero bytes.
std::size_t TrimmedLength(ByteSpan data);

// Builds a reply: ok, returned, then the block's bytes up to `returned` without its trailing zeros.
std::vector<std::uint8_t> EncodeReply(bool ok, ByteSpan block, std::uint32_t returned);

// One line of the request log (JSON, no newline).
std::string FormatLogLine(const LogRecord& record, double time_ms, std::uint64_t conn);

// The device with everything its connections share: the lock, the request log and the clocks.
class Simulator {
 public:
  // log may be null (no request log); it stays owned by the caller.
  Simulator(Scenario scenario, std::FILE* log);
  ~Simulator();

  // Serves one request under the lock and writes its log line before returning the reply.
  std::vector<std::uint8_t> Serve(const RequestHeader& header, ByteSpan input, std::uint64_t conn);

  std::uint64_t NextConnection();

  // The scenario's fault rules, or null when it has none.
  FaultPlan* Faults() { return faults_.get(); }

  // The simulated driver restarts: the device goes back to the scenario's start (no trace
  // objects, no pending areas) and every connection made before ends at its next request.
  void Restart();
  // How many restarts there have been.
  std::uint64_t Generation() const { return generation_.load(); }

  // Watches the lines (indexes) that play a capture: once the tool has read the last frame of one,
  // says so on standard error; once it has read every one, calls done (from AfterReply, when the
  // reply with the last frame has gone out).
  void WatchCaptures(std::vector<std::size_t> lines, std::function<void()> done);
  // Called by a connection after it has sent a reply.
  void AfterReply();

 private:
  SimTime Now() const;

  std::mutex mu_;
  Device device_;
  std::FILE* log_;
  std::chrono::steady_clock::time_point start_;
  std::uint64_t connections_ = 0;
  std::unique_ptr<FaultPlan> faults_;
  std::atomic<std::uint64_t> generation_{0};
  std::vector<std::size_t> watched_;        // capture lines not yet read to their end
  std::function<void()> done_;
  std::atomic<bool> done_pending_{false};
};

// A connected byte stream.
class Stream {
 public:
  virtual ~Stream() = default;
  // Reads exactly size bytes; false on end of stream or error.
  virtual bool ReadExact(std::uint8_t* data, std::size_t size) = 0;
  virtual bool WriteAll(const std::uint8_t* data, std::size_t size) = 0;
};

// Serves requests from one connection until it ends or breaks; a malformed request ends it too
// (reported on standard error). With fault rules the replies go through a FaultyStream.
void RunSession(Stream& stream, Simulator& sim, std::uint64_t conn);

}  // namespace brisim
