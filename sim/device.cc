#include "device.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "areas/area_record.h"
#include "decode/trace_entry.h"
#include "decode/trace_entry_codec.h"

namespace brisim {
namespace {

// The line enumeration reply.
constexpr std::size_t kLineCountOffset = 40;
constexpr std::size_t kLineHandlesOffset = 44;
constexpr std::size_t kLineNamesOffset = 124;
constexpr std::size_t kLineNameSize = 64;
constexpr std::size_t kMaxListedLines = 20;
static_assert(kLineHandlesOffset + 4 * kMaxListedLines == kLineNamesOffset);
static_assert(kLineNamesOffset + kLineNameSize * kMaxListedLines <= kCommandBlockSize);

// The trace status reply: five words from the payload's start.
constexpr std::size_t kStatusWordsOffset = kPayloadOffset;
static_assert(kStatusWordsOffset + 4 * 4 == 56);

// Where the driver's own bytes of a trace entry go: the entry's number, and nothing at 20.
constexpr std::size_t kEntryNumberOffset = 0;
constexpr std::size_t kEntryDriverWordOffset = 20;
static_assert(kEntryNumberOffset + 4 <= kTimeStampOffset);
static_assert(kEntryDriverWordOffset + 4 <= kFrameLengthOffset && kEntryDriverWordOffset >= kDirectionOffset + 4);
static_assert(kPayloadOffset + kTraceEntrySize <= kDeviceReplyEnd);
static_assert(kPayloadOffset + kAreaRecordSize <= kDeviceReplyEnd);
static_assert(kLineNamesOffset + kLineNameSize * kMaxListedLines == kDeviceReplyEnd);
static_assert(kDeviceReplyEnd <= kCommandBlockSize);

// The area record header word that carries the area number (a driver's own field).
constexpr std::size_t kAreaNumberOffset = 0;
static_assert(kAreaNumberOffset + 4 <= kAreaStateOffset);

void Put32(Block block, std::size_t offset, std::uint32_t v) { WriteLE32(MutableByteSpan(block), offset, v); }

std::uint32_t Get32(Block block, std::size_t offset) { return GetLE32(ByteSpan(block), offset); }

}  // namespace

std::string_view OpcodeName(std::uint32_t opcode) {
  switch (opcode) {
    case OP_ENUM_IDD: return "OP_ENUM_IDD";
    case OP_TRACE_CREATE: return "OP_TRACE_CREATE";
    case OP_TRACE_START: return "OP_TRACE_START";
    case OP_TRACE_STATUS: return "OP_TRACE_STATUS";
    case OP_TRACE_READ: return "OP_TRACE_READ";
    case OP_LOG_FILE: return "OP_LOG_FILE";
    case OP_TRACE_STOP: return "OP_TRACE_STOP";
    case OP_TRACE_DESTROY: return "OP_TRACE_DESTROY";
    case OP_AREA_REQUEST: return "OP_AREA_REQUEST";
    case OP_AREA_POLL: return "OP_AREA_POLL";
    case OP_AREA_GIVE_UP: return "OP_AREA_GIVE_UP";
    default: return "unknown";
  }
}

// ---- Trace timeline ----

TraceTimeline::TraceTimeline(const TraceSpec* plan) : plan_(plan) {
  std::int64_t latest = 0;
  for (const FrameSpec& f : plan->frames) {
    latest = std::max(latest, f.at_ms);
    at_.push_back(latest);
  }
  const std::uint64_t n = at_.size();
  const std::uint64_t per_copy = n - std::min<std::uint64_t>(plan->repeat_from, n);
  if (plan->repeat_forever && per_copy > 0) {
    total_ = std::numeric_limits<std::uint64_t>::max();
  } else {
    total_ = n + plan->repeat_count * per_copy;
  }
}

const FrameSpec& TraceTimeline::Frame(std::uint64_t i) const {
  const std::uint64_t n = at_.size();
  if (i < n) return plan_->frames[static_cast<std::size_t>(i)];
  const std::uint64_t per_copy = n - plan_->repeat_from;
  return plan_->frames[static_cast<std::size_t>(plan_->repeat_from + (i - n) % per_copy)];
}

std::int64_t TraceTimeline::AvailableMs(std::uint64_t i) const {
  const std::uint64_t n = at_.size();
  if (i < n) return at_[static_cast<std::size_t>(i)];
  // Copy c (from 1) of frames repeat_from.. lies c * every_ms later than the first pass; an
  // entry also waits for every entry before it, the latest of which is the previous copy's last.
  const std::uint64_t per_copy = n - plan_->repeat_from;
  const std::uint64_t copy = (i - n) / per_copy + 1;
  const std::size_t k = static_cast<std::size_t>(plan_->repeat_from + (i - n) % per_copy);
  const auto every = static_cast<double>(plan_->repeat_every_ms);
  const double own = static_cast<double>(copy) * every + static_cast<double>(at_[k]);
  const double previous = static_cast<double>(copy - 1) * every + static_cast<double>(at_.back());
  const double when = std::max(own, previous);
  return when >= 9.0e18 ? std::numeric_limits<std::int64_t>::max() : static_cast<std::int64_t>(when);
}

std::uint64_t TraceTimeline::AvailableAt(double elapsed_ms) const {
  if (at_.empty() || elapsed_ms < 0) return 0;
  // Entries become available in order, so the available ones are a prefix: binary search for
  // its end. For a list repeated for ever, no copy past elapsed / every_ms + 1 has started.
  std::uint64_t hi = total_;
  if (total_ == std::numeric_limits<std::uint64_t>::max()) {
    const std::uint64_t per_copy = at_.size() - plan_->repeat_from;
    const double copies = std::floor(elapsed_ms / static_cast<double>(plan_->repeat_every_ms)) + 2;
    hi = at_.size() + static_cast<std::uint64_t>(std::min(copies, 1.0e12)) * per_copy;
  }
  std::uint64_t lo = 0;  // invariant: entries below lo are available, entries from hi on are not
  while (lo < hi) {
    const std::uint64_t mid = lo + (hi - lo) / 2;
    if (static_cast<double>(AvailableMs(mid)) <= elapsed_ms) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  return lo;
}

// ---- Device ----

Device::Device(Scenario scenario) : scenario_(std::move(scenario)), lines_(scenario_.lines.size()) {
  for (std::size_t i = 0; i < scenario_.lines.size(); ++i) by_handle_[scenario_.lines[i].handle] = i;
}

std::uint32_t Device::Execute(Block block, const SimTime& now) {
  const std::uint32_t opcode = Get32(block, kOpcodeOffset);
  std::uint32_t status = kStatusOk;
  if (opcode == OP_ENUM_IDD) {
    status = EnumIdd(block);
  } else if (OpcodeName(opcode) == "unknown") {
    status = kStatusUnknownOpcode;
  } else {
    auto it = by_handle_.find(Get32(block, kLineHandleOffset));
    if (it == by_handle_.end()) {
      status = kStatusNoSuchLine;
    } else {
      const std::size_t line = it->second;
      LineState& state = lines_[line];
      switch (opcode) {
        case OP_TRACE_CREATE: status = TraceCreate(line, block); break;
        case OP_TRACE_START: status = TraceStart(line, now); break;
        case OP_TRACE_STATUS: status = TraceStatus(line, block, now); break;
        case OP_TRACE_READ: status = TraceRead(line, block, now); break;
        case OP_TRACE_STOP: status = TraceStop(line, now); break;
        case OP_TRACE_DESTROY:
          status = state.trace ? kStatusOk : kStatusNoTrace;
          state.trace.reset();
          break;
        case OP_LOG_FILE:
          state.log_file = Get32(block, kParameterOffset) != 0;
          break;
        case OP_AREA_REQUEST: status = AreaRequest(line, block, now); break;
        case OP_AREA_POLL: status = AreaPoll(line, block, now); break;
        case OP_AREA_GIVE_UP:
          status = state.area ? kStatusOk : kStatusNoPendingArea;
          state.area.reset();
          break;
        default: status = kStatusUnknownOpcode; break;
      }
    }
  }
  Put32(block, kStatusOffset, status);
  return status;
}

std::uint32_t Device::EnumIdd(Block block) {
  const EnumSpec& plan = scenario_.enumeration;
  if (plan.refuse) return kStatusRefused;
  const std::size_t listed = std::min(scenario_.lines.size(), kMaxListedLines);
  const auto count = plan.count ? *plan.count : static_cast<std::uint16_t>(scenario_.lines.size());
  WriteLE16(MutableByteSpan(block), kLineCountOffset, count);
  for (std::size_t i = 0; i < listed; ++i) Put32(block, kLineHandlesOffset + 4 * i, scenario_.lines[i].handle);
  for (std::size_t i = 0; i < kMaxListedLines; ++i) {
    auto field = block.subspan(kLineNamesOffset + kLineNameSize * i, kLineNameSize);
    if (i < plan.raw_names.size()) {
      std::copy(plan.raw_names[i].begin(), plan.raw_names[i].end(), field.begin());
    } else if (i < listed) {
      std::fill(field.begin(), field.end(), std::uint8_t{0});
      const std::string& name = scenario_.lines[i].name;
      std::copy_n(name.begin(), std::min(name.size(), kLineNameSize - 1), field.begin());
    }
  }
  return kStatusOk;
}

std::uint32_t Device::TraceCreate(std::size_t line, Block block) {
  const TraceSpec& plan = scenario_.lines[line].trace;
  if (Get32(block, kParameterOffset) != kTraceCreateParameter) return kStatusBadParameter;
  if (plan.refuse_create) return kStatusRefused;
  // A second create starts the line's trace object afresh.
  lines_[line].trace.emplace(&plan);
  return kStatusOk;
}

std::uint32_t Device::TraceStart(std::size_t line, const SimTime& now) {
  auto& trace = lines_[line].trace;
  if (!trace) return kStatusNoTrace;
  // A trace records once: a second start leaves the running (or stopped) recording alone.
  if (!trace->started) {
    trace->started = true;
    trace->start_ms = now.mono_ms;
    trace->start_filetime = now.filetime;
  }
  return kStatusOk;
}

std::uint32_t Device::TraceStop(std::size_t line, const SimTime& now) {
  auto& trace = lines_[line].trace;
  if (!trace) return kStatusNoTrace;
  // Recording ends; what was recorded stays readable until the trace is destroyed.
  if (trace->started && !trace->stop_elapsed_ms) {
    if (trace->reader_window != 0) trace->stopped_available = Available(*trace, now);
    trace->stop_elapsed_ms = now.mono_ms - trace->start_ms;
  }
  return kStatusOk;
}

std::uint64_t Device::Available(const Trace& trace, const SimTime& now) const {
  if (!trace.started) return 0;
  double elapsed = now.mono_ms - trace.start_ms;
  if (trace.stop_elapsed_ms) elapsed = std::min(elapsed, *trace.stop_elapsed_ms);
  const std::uint64_t recorded = trace.timeline.AvailableAt(elapsed);
  if (trace.reader_window == 0) return recorded;
  if (trace.stopped_available) return *trace.stopped_available;
  return std::min(recorded, trace.read_upto + trace.reader_window);
}

bool Device::TraceReadToEnd(std::size_t line) const {
  if (line >= lines_.size() || !lines_[line].trace) return false;
  const Trace& trace = *lines_[line].trace;
  return trace.timeline.Total() != std::numeric_limits<std::uint64_t>::max() &&
         trace.read_upto >= trace.timeline.Total();
}

std::uint64_t Device::Held(std::size_t line, std::uint64_t available) const {
  return std::min(available, scenario_.lines[line].trace.capacity);
}

std::uint32_t Device::TraceStatus(std::size_t line, Block block, const SimTime& now) {
  auto& trace = lines_[line].trace;
  if (!trace) return kStatusNoTrace;
  ++trace->status_polls;
  const TraceSpec& plan = scenario_.lines[line].trace;
  if (plan.refuse_status_polls.count(trace->status_polls) != 0) return kStatusRefused;
  const std::uint64_t available = Available(*trace, now);
  const std::uint64_t held = Held(line, available);
  // capacity, entries recorded, entries dropped, entries held, number of the next entry: the
  // last minus the one before is the number of the oldest entry held.
  Put32(block, kStatusWordsOffset + 0, static_cast<std::uint32_t>(std::min<std::uint64_t>(plan.capacity, 0xFFFFFFFF)));
  Put32(block, kStatusWordsOffset + 4, static_cast<std::uint32_t>(available));
  Put32(block, kStatusWordsOffset + 8, static_cast<std::uint32_t>(available - held));
  Put32(block, kStatusWordsOffset + 12, static_cast<std::uint32_t>(held));
  Put32(block, kStatusWordsOffset + 16, static_cast<std::uint32_t>(plan.first_number + available));
  return kStatusOk;
}

std::uint32_t Device::TraceRead(std::size_t line, Block block, const SimTime& now) {
  auto& trace = lines_[line].trace;
  if (!trace) return kStatusNoTrace;
  const TraceSpec& plan = scenario_.lines[line].trace;
  const std::uint64_t available = Available(*trace, now);
  const std::uint64_t held = Held(line, available);
  // Entry numbers count in 32 bits from first_number and may wrap.
  const std::uint32_t number = Get32(block, kParameterOffset);
  const std::uint64_t index = static_cast<std::uint32_t>(number - plan.first_number);
  if (index >= available || index < available - held) return kStatusNotAvailable;

  trace->read_upto = std::max(trace->read_upto, index + 1);
  auto entry = block.subspan(kPayloadOffset, kTraceEntrySize);
  const FrameSpec& frame = trace->timeline.Frame(index);
  if (frame.entry) {
    std::copy(frame.entry->begin(), frame.entry->end(), entry.begin());
    return kStatusOk;
  }
  std::uint64_t filetime = 0;
  if (frame.filetime) {
    filetime = *frame.filetime;
  } else {
    const auto ms = static_cast<std::uint64_t>(trace->timeline.AvailableMs(index));
    filetime = trace->start_filetime + ms * kFileTimeTicksPerMs;
  }
  WriteTraceEntry(MutableTraceEntry(entry.data(), kTraceEntrySize), filetime, frame.direction, frame.octets,
                  frame.length);
  // The driver's own words: the entry's number (its other word, kEntryDriverWordOffset, stays zero).
  WriteLE32(MutableByteSpan(entry), kEntryNumberOffset, number);
  return kStatusOk;
}

std::uint32_t Device::AreaRequest(std::size_t line, Block block, const SimTime& now) {
  LineState& state = lines_[line];
  const std::uint32_t number = Get32(block, kParameterOffset);
  const auto& areas = scenario_.lines[line].areas;
  auto it = areas.find(number);
  state.area.reset();
  if (it == areas.end()) return kStatusNoSuchArea;
  if (it->second.refuse_request) return kStatusRefused;
  state.area = PendingArea{number, now.mono_ms, 0, false};
  return kStatusOk;
}

std::uint32_t Device::AreaPoll(std::size_t line, Block block, const SimTime& now) {
  LineState& state = lines_[line];
  if (!state.area) return kStatusNoPendingArea;
  PendingArea& pending = *state.area;
  const AreaSpec& plan = scenario_.lines[line].areas.at(pending.number);
  if (plan.refuse_poll) return kStatusRefused;

  auto record = block.subspan(kPayloadOffset, kAreaRecordSize);
  MutableByteSpan r(record);
  if (pending.said_ready) {
    // The read after the poll that said ready: the record, and the fetch is over.
    state.area.reset();
    if (plan.refuse_final) return kStatusRefused;
    std::fill(record.begin(), record.end(), std::uint8_t{0});
    WriteLE32(r, kAreaNumberOffset, pending.number);
    WriteLE32(r, kAreaStateOffset, plan.area_state);
    std::copy(plan.params.begin(), plan.params.end(), record.begin() + kParamsOffset);
    const auto len = plan.params_len ? *plan.params_len : static_cast<std::int32_t>(plan.params.size());
    WriteLE32(r, kParamsLenOffset, static_cast<std::uint32_t>(len));
    return kStatusOk;
  }
  ++pending.polls;
  const bool ready = !plan.never_ready && pending.polls > plan.ready_after_polls &&
                     now.mono_ms - pending.requested_ms >= static_cast<double>(plan.ready_after_ms);
  WriteLE32(r, kAreaNumberOffset, pending.number);
  WriteLE32(r, kAreaStateOffset, ready ? kAreaReady : kAreaNotReady);
  pending.said_ready = ready;
  return kStatusOk;
}

}  // namespace brisim
