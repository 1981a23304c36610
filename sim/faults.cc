#include "faults.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <random>
#include <thread>

#include "common/command_block.h"
#include "device.h"

namespace brisim {
namespace {

constexpr std::uint32_t kGarbageBytes = 2048;
constexpr std::uint32_t kNoiseBytes = 64;
constexpr std::uint32_t kOversizeBytes = 1;

std::vector<std::uint8_t> RandomBytes(std::size_t n, std::uint64_t seed) {
  std::mt19937_64 random(seed);
  std::vector<std::uint8_t> out(n);
  for (std::uint8_t& b : out) b = static_cast<std::uint8_t>(random());
  return out;
}

}  // namespace

FaultPlan::FaultPlan(std::vector<FaultRule> rules) : rules_(std::move(rules)), seen_(rules_.size(), 0) {}

const FaultRule* FaultPlan::Next(std::uint32_t opcode, std::uint64_t conn) {
  std::lock_guard<std::mutex> lock(mu_);
  const FaultRule* chosen = nullptr;
  for (std::size_t i = 0; i < rules_.size(); ++i) {
    const FaultRule& rule = rules_[i];
    if ((rule.opcode && *rule.opcode != opcode) || (rule.conn && *rule.conn != conn)) continue;
    const std::uint64_t n = ++seen_[i];  // 1-based number of this matching request
    const bool faulty = n > rule.after && (rule.forever || n - rule.after <= rule.count);
    if (faulty && chosen == nullptr) chosen = &rule;
  }
  return chosen;
}

std::vector<std::uint8_t> SpoilReply(const FaultRule& rule, const std::vector<std::uint8_t>& reply, std::uint64_t seed) {
  if (reply.size() < kReplyHeaderSize) return reply;
  const ReplyHeader header = DecodeReplyHeader(ByteSpan(reply));
  const std::uint32_t ok = header.ok;
  const std::uint32_t returned = header.returned;
  if (rule.kind == FaultKind::kOversize) {
    std::vector<std::uint8_t> out = reply;
    WriteLE32(MutableByteSpan(out), kReplyReturnedOffset, returned + rule.bytes.value_or(kOversizeBytes));
    return out;
  }
  if (rule.kind != FaultKind::kGarbage || ok != 1) return reply;
  // The block as the caller would see it, then Status 0 and random payload bytes over it.
  std::vector<std::uint8_t> block(reply.begin() + kReplyHeaderSize, reply.end());
  const std::size_t payload_end = std::min<std::size_t>(returned, kPayloadOffset + rule.bytes.value_or(kGarbageBytes));
  if (payload_end <= kStatusOffset + 4) return reply;
  block.resize(std::max(block.size(), payload_end), 0);
  WriteLE32(MutableByteSpan(block), kStatusOffset, 0);
  if (payload_end > kPayloadOffset) {
    const std::vector<std::uint8_t> noise = RandomBytes(payload_end - kPayloadOffset, seed);
    std::copy(noise.begin(), noise.end(), block.begin() + kPayloadOffset);
  }
  return EncodeReply(true, ByteSpan(block), returned);
}

FaultyStream::FaultyStream(Stream& inner, Simulator& sim, std::uint64_t conn)
    : inner_(inner), sim_(sim), conn_(conn), generation_(sim.Generation()) {}

bool FaultyStream::ReadExact(std::uint8_t* data, std::size_t size) {
  // A restarted driver has forgotten its handles: the connection is gone.
  if (sim_.Generation() != generation_) return false;
  if (!inner_.ReadExact(data, size)) return false;
  if (expect_input_) {
    expect_input_ = false;
    // The sender trims trailing zero bytes, so the opcode may be cut short: missing bytes are 0.
    std::array<std::uint8_t, 4> op{};
    for (std::size_t i = 0; i < op.size() && kOpcodeOffset + i < size; ++i) op[i] = data[kOpcodeOffset + i];
    opcode_ = GetLE32(ByteSpan(op), 0);
  } else if (size == kRequestHeaderSize) {
    // A request header: its input follows when it has any.
    opcode_ = 0;
    expect_input_ = DecodeRequestHeader(ByteSpan(data, size)).in_sent > 0;
  }
  return true;
}

bool FaultyStream::WriteAll(const std::uint8_t* data, std::size_t size) {
  ++requests_;
  FaultPlan* plan = sim_.Faults();
  const FaultRule* rule = plan != nullptr ? plan->Next(opcode_, conn_) : nullptr;
  if (rule == nullptr) return inner_.WriteAll(data, size);

  std::fprintf(stderr, "brisim: connection %llu: fault %.*s on request %llu (%.*s)\n",
               static_cast<unsigned long long>(conn_), static_cast<int>(FaultKindName(rule->kind).size()),
               FaultKindName(rule->kind).data(), static_cast<unsigned long long>(requests_),
               static_cast<int>(OpcodeName(opcode_).size()), OpcodeName(opcode_).data());
  std::fflush(stderr);

  const std::vector<std::uint8_t> reply(data, data + size);
  const std::uint64_t seed = (conn_ << 32) ^ requests_;
  switch (rule->kind) {
    case FaultKind::kHang:
      std::this_thread::sleep_for(std::chrono::milliseconds(rule->ms));
      return inner_.WriteAll(data, size);
    case FaultKind::kClose:
      return false;
    case FaultKind::kCut: {
      const std::size_t half = size > kReplyHeaderSize ? kReplyHeaderSize + (size - kReplyHeaderSize) / 2 : size / 2;
      inner_.WriteAll(data, half);
      return false;
    }
    case FaultKind::kNoise: {
      const std::vector<std::uint8_t> noise = RandomBytes(rule->bytes.value_or(kNoiseBytes), seed);
      inner_.WriteAll(noise.data(), noise.size());
      return false;
    }
    case FaultKind::kRestart:
      sim_.Restart();
      return false;
    case FaultKind::kGarbage:
    case FaultKind::kOversize: {
      const std::vector<std::uint8_t> spoilt = SpoilReply(*rule, reply, seed);
      return inner_.WriteAll(spoilt.data(), spoilt.size());
    }
  }
  return false;
}

}  // namespace brisim
