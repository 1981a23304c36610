#include "session.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include <nlohmann/json.hpp>

#include "faults.h"

namespace brisim {
namespace {

// FILETIME of the Unix epoch (1970-01-01 UTC), in 100-ns ticks since 1601-01-01.
constexpr std::uint64_t kUnixEpochFileTime = 116444736000000000ull;

}  // namespace

std::optional<std::string> MalformedReason(const RequestHeader& h) {
  if (h.in_sent > h.in_len) {
    return "in_sent " + std::to_string(h.in_sent) + " above in_len " + std::to_string(h.in_len);
  }
  if (h.in_len > kMaxInputLength) return "in_len " + std::to_string(h.in_len) + " too large";
  return std::nullopt;
}

std::size_t TrimmedLength(ByteSpan data) {
  // A command block is mostly zeros: compare 64 bytes at a time, then byte by byte.
  static constexpr std::uint8_t kZeros[64] = {};
  std::size_t n = data.size();
  while (n >= sizeof kZeros && std::memcmp(data.data() + n - sizeof kZeros, kZeros, sizeof kZeros) == 0) {
    n -= sizeof kZeros;
  }
  while (n > 0 && data[n - 1] == 0) --n;
  return n;
}

std::vector<std::uint8_t> EncodeReply(bool ok, ByteSpan block, std::uint32_t returned) {
  const std::size_t sent = TrimmedLength(block.first(std::min<std::size_t>(returned, block.size())));
  const auto header = EncodeReplyHeader({ok ? 1u : 0u, returned, static_cast<std::uint32_t>(sent)});
  std::vector<std::uint8_t> out(kReplyHeaderSize + sent);
  std::copy(header.begin(), header.end(), out.begin());
  std::copy_n(block.begin(), sent, out.begin() + kReplyHeaderSize);
  return out;
}

Served ServeRequest(Device& device, const RequestHeader& h, ByteSpan input, const SimTime& now) {
  // The device call uses one buffer for input and output: the reply starts as the request. The
  // block is kept from one request to the next on this thread and only the part that the last
  // one left non-zero is cleared, rather than a fresh 262,200-byte block each time.
  thread_local std::vector<std::uint8_t> block(kCommandBlockSize, 0);
  thread_local std::size_t dirty = 0;  // bytes from here on are zero
  std::fill_n(block.begin(), dirty, std::uint8_t{0});
  std::copy_n(input.begin(), std::min(input.size(), block.size()), block.begin());
  const ByteSpan view(block);

  Served served;
  LogRecord& r = served.log;
  r.code = h.code;
  r.in_len = h.in_len;
  r.in_sent = h.in_sent;
  r.out_len = h.out_len;
  r.signature = GetLE32(view, kSignatureOffset);
  r.header_word0 = GetLE16(view, kHeaderWord0Offset);
  r.header_word1 = GetLE16(view, kHeaderWord1Offset);
  r.opcode = GetLE32(view, kOpcodeOffset);
  r.line_handle = GetLE32(view, kLineHandleOffset);
  r.parameter = GetLE32(view, kParameterOffset);

  const bool transport_ok = h.code == kControlCode && h.in_len == kCommandBlockSize && h.out_len == kCommandBlockSize;
  const bool stamps_ok = r.signature == kSignature && r.header_word0 == kHeaderWord0 && r.header_word1 == kHeaderWord1;
  if (!transport_ok) {
    r.status = kStatusBadTransport;
  } else if (!stamps_ok) {
    r.status = kStatusBadHeader;
  } else {
    r.status = device.Execute(Block(block.data(), kCommandBlockSize), now);
  }
  WriteLE32(MutableByteSpan(block), kStatusOffset, r.status);

  // Never more than the caller asked for; a buffer too small to carry a Status fails the call.
  const auto returned = static_cast<std::uint32_t>(std::min<std::size_t>(h.out_len, kCommandBlockSize));
  const bool ok = returned >= kStatusOffset + 4;
  // Only the request's own bytes and what the device model wrote can be non-zero: no need to
  // scan the whole block for its end.
  dirty = TrimmedLength(view.first(std::max(std::min(input.size(), view.size()), kDeviceReplyEnd)));
  served.reply = EncodeReply(ok, view.first(dirty), ok ? returned : 0);
  return served;
}

std::string FormatLogLine(const LogRecord& r, double time_ms, std::uint64_t conn) {
  nlohmann::ordered_json j;
  j["time_ms"] = std::round(time_ms * 1000.0) / 1000.0;
  j["conn"] = conn;
  j["opcode"] = r.opcode;
  j["name"] = std::string(OpcodeName(r.opcode));
  j["line_handle"] = r.line_handle;
  j["parameter"] = r.parameter;
  j["signature"] = r.signature;
  j["header_word0"] = r.header_word0;
  j["header_word1"] = r.header_word1;
  j["in_len"] = r.in_len;
  j["out_len"] = r.out_len;
  j["status"] = r.status;
  j["code"] = r.code;
  j["in_sent"] = r.in_sent;
  return j.dump();
}

Simulator::Simulator(Scenario scenario, std::FILE* log)
    : device_(std::move(scenario)), log_(log), start_(std::chrono::steady_clock::now()) {
  if (!device_.scenario().faults.empty()) faults_ = std::make_unique<FaultPlan>(device_.scenario().faults);
}

Simulator::~Simulator() = default;

void Simulator::Restart() {
  std::lock_guard<std::mutex> lock(mu_);
  Scenario scenario = device_.scenario();
  device_ = Device(std::move(scenario));
  ++generation_;
}

SimTime Simulator::Now() const {
  using namespace std::chrono;
  SimTime t;
  t.mono_ms = duration<double, std::milli>(steady_clock::now() - start_).count();
  const auto since_epoch = duration_cast<nanoseconds>(system_clock::now().time_since_epoch()).count();
  t.filetime = kUnixEpochFileTime + static_cast<std::uint64_t>(since_epoch / 100);
  return t;
}

std::uint64_t Simulator::NextConnection() {
  std::lock_guard<std::mutex> lock(mu_);
  return ++connections_;
}

std::vector<std::uint8_t> Simulator::Serve(const RequestHeader& header, ByteSpan input, std::uint64_t conn) {
  std::lock_guard<std::mutex> lock(mu_);
  const SimTime now = Now();
  Served served = ServeRequest(device_, header, input, now);
  if (log_ != nullptr) {
    const std::string line = FormatLogLine(served.log, now.mono_ms, conn) + "\n";
    std::fputs(line.c_str(), log_);
    std::fflush(log_);
  }
  if (!watched_.empty()) {
    std::erase_if(watched_, [this](std::size_t line) {
      if (!device_.TraceReadToEnd(line)) return false;
      const LineSpec& scenario_line = device_.scenario().lines[line];
      std::fprintf(stderr, "brisim: line %zu (%s): the capture has ended, the tool has read its last frame\n",
                   line + 1, scenario_line.name.c_str());
      std::fflush(stderr);
      return true;
    });
    if (watched_.empty() && done_) done_pending_ = true;
  }
  return std::move(served.reply);
}

void Simulator::WatchCaptures(std::vector<std::size_t> lines, std::function<void()> done) {
  std::lock_guard<std::mutex> lock(mu_);
  watched_ = std::move(lines);
  done_ = std::move(done);
}

void Simulator::AfterReply() {
  if (done_pending_.exchange(false)) done_();
}

namespace {

void ServeStream(Stream& stream, Simulator& sim, std::uint64_t conn) {
  std::vector<std::uint8_t> input;
  for (;;) {
    std::array<std::uint8_t, kRequestHeaderSize> raw{};
    if (!stream.ReadExact(raw.data(), raw.size())) return;  // the tool closed its handle
    const RequestHeader header = DecodeRequestHeader(ByteSpan(raw));
    if (auto reason = MalformedReason(header)) {
      std::fprintf(stderr, "brisim: connection %llu: malformed request (%s); closing it\n",
                   static_cast<unsigned long long>(conn), reason->c_str());
      std::fflush(stderr);
      return;
    }
    input.resize(header.in_sent);
    if (header.in_sent > 0 && !stream.ReadExact(input.data(), input.size())) {
      std::fprintf(stderr, "brisim: connection %llu: request cut short; closing it\n",
                   static_cast<unsigned long long>(conn));
      std::fflush(stderr);
      return;
    }
    const std::vector<std::uint8_t> reply = sim.Serve(header, ByteSpan(input), conn);
    if (!stream.WriteAll(reply.data(), reply.size())) return;
    sim.AfterReply();
  }
}

}  // namespace

void RunSession(Stream& stream, Simulator& sim, std::uint64_t conn) {
  if (sim.Faults() == nullptr) return ServeStream(stream, sim, conn);
  FaultyStream faulty(stream, sim, conn);
  ServeStream(faulty, sim, conn);
}

}  // namespace brisim
