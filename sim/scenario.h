// SPDX-License-Identifier: BSD-2-Clause
// What brisim plays: the lines of the simulated adapter, what each line records while traced,
// its status areas, and where the driver refuses. Read from a JSON scenario file (the format is
// described in sim/SCENARIOS.md) or from the built-in scenario.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "fault_rules.h"

namespace brisim {

using Bytes = std::vector<std::uint8_t>;

// A scenario file that cannot be played; the message names the key ("lines[0].trace.capacity: ...").
class ScenarioError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// One recorded frame of a trace.
struct FrameSpec {
  std::int64_t at_ms = 0;                  // when it becomes available, from the trace's start
  std::uint32_t direction = 0;             // Direction word
  Bytes octets;                            // FrameData
  std::optional<std::int32_t> length;      // FrameLength instead of the octet count
  std::optional<std::uint64_t> filetime;   // FILETIME instead of the moment it became available
  std::optional<Bytes> entry;              // the whole entry, zero-padded to its full size
};

// A capture file (pcap or pcapng) whose frames a trace plays after its listed frames.
struct CaptureSpec {
  std::string file;                      // as given; a relative path counts from the scenario's folder
  std::string key;                       // where it was given, for messages ("lines[0].trace.capture")
  double speed = 1.0;                    // 1 plays as recorded, N plays N times faster
  bool as_fast_as_read = false;          // each frame as soon as the reader has room for it
  std::optional<std::uint32_t> direction;  // for captures without direction: the Direction word
  std::int64_t start_ms = 0;             // when the first captured frame plays, from the trace's start
};

struct TraceSpec {
  bool refuse_create = false;
  std::uint64_t capacity = 1000;
  std::uint32_t first_number = 0;
  std::set<std::uint64_t> refuse_status_polls;  // 1-based, counted from the trace's creation
  std::vector<FrameSpec> frames;
  // The frames from index repeat_from on, played again repeat_count more times (or for ever),
  // each copy repeat_every_ms later than the one before.
  std::uint64_t repeat_count = 0;
  bool repeat_forever = false;
  std::int64_t repeat_every_ms = 0;
  std::size_t repeat_from = 0;
  std::optional<CaptureSpec> capture;  // frames still to be read from a file (LoadCaptures)
  // The driver holds at most `capacity` entries the reader has not yet read and makes the next
  // one available as soon as one is read: nothing is ever dropped, whatever the frames' times.
  bool paced_by_reader = false;
};

// One packed parameter of an area's parameter list.
struct Param {
  std::uint16_t number = 0;  // 0..4095
  std::uint8_t type = 0;     // 0x0..0xF; 0x0 2-byte value, 0x4 4-byte value, 0x8 string
  // An integer (packed in 2 or 4 bytes by type), a string (packed with its NUL) or raw value bytes.
  std::variant<std::int64_t, std::string, Bytes> value;
};

// The 16-bit identifier of a parameter: type in bits 15-12, number in bits 11-0.
constexpr std::uint16_t ParamIdentifier(std::uint8_t type, std::uint16_t number) {
  return static_cast<std::uint16_t>(((type & 0xFu) << 12) | (number & 0xFFFu));
}

// Packs the parameters back to back: each the identifier (little-endian) then its value.
Bytes PackParams(const std::vector<Param>& params);

struct AreaSpec {
  Bytes params;                            // the packed list (at most 512 bytes)
  std::optional<std::int32_t> params_len;  // instead of params.size()
  std::uint32_t area_state = 2;            // area_state of the final read
  bool never_ready = false;
  std::uint64_t ready_after_polls = 0;     // polls answered "not ready" first
  std::int64_t ready_after_ms = 0;         // and not ready before this long after the request
  bool refuse_request = false;
  bool refuse_poll = false;
  bool refuse_final = false;
};

struct LineSpec {
  std::string name;
  std::uint32_t handle = 0;
  TraceSpec trace;
  std::map<std::uint32_t, AreaSpec> areas;  // by area number
};

struct EnumSpec {
  bool refuse = false;
  std::optional<std::uint16_t> count;       // LineCount instead of the number of lines
  std::vector<Bytes> raw_names;             // name fields as sent, for the first lines
};

struct Scenario {
  EnumSpec enumeration;
  std::vector<LineSpec> lines;
  std::vector<FaultRule> faults;  // how the transport misbehaves (fault_rules.h)
};

// Reads a scenario from JSON text; throws ScenarioError naming the offending key. Capture files
// named in it are not read here (see capture.h).
Scenario ParseScenario(std::string_view json_text);

// Checks a trace's repeat against its frames (once a capture has added its own).
void CheckRepeat(const TraceSpec& trace, const std::string& path);

// The pace of a capture: "recorded", "fast" (as fast as the reader reads), or a speed-up factor
// ("10", "10x", "0.5"). False when the text is none of these.
bool ParsePace(std::string_view text, CaptureSpec* capture);

// A Direction word given as "T" (0), "N" (1) or a number; false otherwise.
bool ParseDirection(std::string_view text, std::uint32_t* out);

// The JSON text of the built-in scenario (sim/scenarios/default.json, embedded at build time).
std::string_view DefaultScenarioJson();

// Parses "02 01 01 05" / "02010105" into bytes; false on odd length or a non-hex character.
bool ParseHex(std::string_view text, Bytes* out);

}  // namespace brisim
