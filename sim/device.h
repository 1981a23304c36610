// SPDX-License-Identifier: BSD-2-Clause
// The simulated driver: one command block and the time in, the reply written over the block.
//
// Nothing here touches a socket, a clock or a file, so the whole behaviour of the adapter can be
// driven from a test. The transport around it lives in session.h and server_posix.cc.
#pragma once

#include <algorithm>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "common/command_block.h"
#include "scenario.h"

namespace brisim {

// Status values that brisim answers; 0 is success, the tools only tell zero from non-zero.
inline constexpr std::uint32_t kStatusOk = 0;
inline constexpr std::uint32_t kStatusRefused = 1;         // the scenario says refuse
inline constexpr std::uint32_t kStatusNotAvailable = 2;    // trace entry not held (yet or any more)
inline constexpr std::uint32_t kStatusNoSuchLine = 3;      // LineHandle names no line
inline constexpr std::uint32_t kStatusNoTrace = 4;         // no trace object on the line
inline constexpr std::uint32_t kStatusNoPendingArea = 5;   // area poll/give-up without a request
inline constexpr std::uint32_t kStatusNoSuchArea = 6;      // area number the line does not have
inline constexpr std::uint32_t kStatusBadParameter = 7;    // trace create without Parameter 20
inline constexpr std::uint32_t kStatusUnknownOpcode = 8;
inline constexpr std::uint32_t kStatusBadHeader = 0x10;    // Signature/HeaderWord0/HeaderWord1 wrong
inline constexpr std::uint32_t kStatusBadTransport = 0x11; // control code or buffer lengths wrong

inline constexpr std::uint32_t kTraceCreateParameter = 20;
inline constexpr std::uint32_t kAreaNotReady = 1;  // area_state while the area is being prepared

// FILETIME ticks (100 ns) per millisecond.
inline constexpr std::uint64_t kFileTimeTicksPerMs = 10000;

// The two clocks a request is served at: monotonic milliseconds (any origin) and the wall clock
// as a FILETIME (100-ns ticks since 1601-01-01 UTC).
struct SimTime {
  double mono_ms = 0;
  std::uint64_t filetime = 0;
};

// The opcode's name as the request log shows it ("OP_TRACE_READ"), or "unknown".
std::string_view OpcodeName(std::uint32_t opcode);

using Block = std::span<std::uint8_t, kCommandBlockSize>;

// Device::Execute writes nothing at or beyond this offset of the block: the longest reply is the
// line enumeration (names up to offset 1404); a trace entry ends at 328, an area record at 576.
inline constexpr std::size_t kDeviceReplyEnd = 1404;

// A trace's frame list unrolled into numbered entries: when each becomes available, and the entry
// record itself. Entries become available in order: an entry is never available before the one
// recorded before it.
class TraceTimeline {
 public:
  explicit TraceTimeline(const TraceSpec* plan);

  // Entries that have become available elapsed_ms after the trace's start.
  std::uint64_t AvailableAt(double elapsed_ms) const;
  // When entry index i (0 = the first recorded) becomes available, from the trace's start.
  std::int64_t AvailableMs(std::uint64_t i) const;
  // The frame that entry index i plays.
  const FrameSpec& Frame(std::uint64_t i) const;
  // Total entries of the list with its repeats; UINT64_MAX when it repeats for ever.
  std::uint64_t Total() const { return total_; }

 private:
  const TraceSpec* plan_;
  std::vector<std::int64_t> at_;  // at_ms made non-decreasing
  std::uint64_t total_ = 0;
};

class Device {
 public:
  explicit Device(Scenario scenario);
  // Trace timelines point into the scenario held here: a move keeps them valid (the line list
  // moves with its storage), a copy would not.
  Device(const Device&) = delete;
  Device& operator=(const Device&) = delete;
  Device(Device&&) = default;
  Device& operator=(Device&&) = default;

  // Serves one well-formed command block: reads the request from it and writes Status and the
  // reply over it, the rest of the block staying as the request left it. Returns the Status.
  std::uint32_t Execute(Block block, const SimTime& now);

  const Scenario& scenario() const { return scenario_; }

  // The tool has read the last entry of the line's trace (a frame list that does not repeat for
  // ever), on the trace object it has now.
  bool TraceReadToEnd(std::size_t line) const;

 private:
  struct Trace {
    explicit Trace(const TraceSpec* plan)
        : timeline(plan), reader_window(plan->paced_by_reader ? std::max<std::uint64_t>(plan->capacity, 1) : 0) {}
    TraceTimeline timeline;
    // Paced by its reader: at most this many entries beyond the last one read are available
    // (0: not paced by the reader).
    std::uint64_t reader_window = 0;
    std::uint64_t read_upto = 0;    // index of the latest entry read, plus one
    std::optional<std::uint64_t> stopped_available;  // paced by its reader: what it held at the stop
    bool started = false;
    double start_ms = 0;            // monotonic time of the start request
    std::uint64_t start_filetime = 0;
    std::optional<double> stop_elapsed_ms;
    std::uint64_t status_polls = 0;
  };
  struct PendingArea {
    std::uint32_t number = 0;
    double requested_ms = 0;
    std::uint64_t polls = 0;
    bool said_ready = false;
  };
  struct LineState {
    std::optional<Trace> trace;
    std::optional<PendingArea> area;
    bool log_file = false;
  };

  std::uint32_t EnumIdd(Block block);
  std::uint32_t TraceCreate(std::size_t line, Block block);
  std::uint32_t TraceStart(std::size_t line, const SimTime& now);
  std::uint32_t TraceStatus(std::size_t line, Block block, const SimTime& now);
  std::uint32_t TraceRead(std::size_t line, Block block, const SimTime& now);
  std::uint32_t TraceStop(std::size_t line, const SimTime& now);
  std::uint32_t AreaRequest(std::size_t line, Block block, const SimTime& now);
  std::uint32_t AreaPoll(std::size_t line, Block block, const SimTime& now);

  // Entries available now on a started trace (0 before the start).
  std::uint64_t Available(const Trace& trace, const SimTime& now) const;
  std::uint64_t Held(std::size_t line, std::uint64_t available) const;

  Scenario scenario_;
  std::vector<LineState> lines_;
  std::map<std::uint32_t, std::size_t> by_handle_;
};

}  // namespace brisim
