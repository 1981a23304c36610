#include "capture/lapd_frames.h"

#include <limits>

namespace capture {
namespace {

constexpr std::uint16_t kPacketOutgoing = 4;  // sent by the capturing side
constexpr std::uint16_t kArphrdLapd = 8445;

// Control octets with the P/F bit (0x10) cleared.
constexpr std::uint8_t kUi = 0x03, kDm = 0x0F, kDisc = 0x43, kUa = 0x63, kSabme = 0x6F, kFrmr = 0x87;

enum class Role { kCommand, kResponse, kEither };

// What the frame's kind says; the P/F bit of the frame (poll in a command, final in a response).
// The frame has at least three octets.
Role RoleOf(ByteSpan frame, bool* pf) {
  const std::uint8_t c1 = frame[2];
  if ((c1 & 0x01) == 0) {  // I frame: always a command
    *pf = frame.size() > 3 && (frame[3] & 0x01) != 0;
    return Role::kCommand;
  }
  if ((c1 & 0x03) == 0x01) {  // supervisory
    *pf = frame.size() > 3 && (frame[3] & 0x01) != 0;
    return Role::kEither;
  }
  *pf = (c1 & 0x10) != 0;
  switch (c1 & ~0x10 & 0xFF) {
    case kUi:
    case kSabme:
    case kDisc: return Role::kCommand;
    case kUa:
    case kDm:
    case kFrmr: return Role::kResponse;
    default: return Role::kEither;  // XID, and U frames the protocol does not define
  }
}

}  // namespace

std::uint64_t FileTimeFromCaptureTime(std::int64_t seconds, std::int64_t nanoseconds) {
  // 100-ns ticks; kept in signed arithmetic until the result is known to be in range.
  constexpr std::int64_t kTicksPerSecond = 10000000;
  constexpr auto kEpochSeconds = static_cast<std::int64_t>(kUnixEpochFileTime / 10000000);
  constexpr std::int64_t kMaxSeconds = std::numeric_limits<std::int64_t>::max() / kTicksPerSecond - kEpochSeconds - 1;
  // Far outside the range on either side: no arithmetic below may overflow.
  if (seconds > kMaxSeconds) return static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
  if (seconds < -kEpochSeconds - 1) return 0;
  seconds += nanoseconds / 1000000000;
  nanoseconds %= 1000000000;
  if (nanoseconds < 0) {
    nanoseconds += 1000000000;
    seconds -= 1;
  }
  if (seconds < -kEpochSeconds) return 0;
  if (seconds > kMaxSeconds) return static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
  return static_cast<std::uint64_t>((seconds + kEpochSeconds) * kTicksPerSecond + nanoseconds / 100);
}

std::string LinkTypeName(std::uint16_t link_type) {
  struct Known {
    std::uint16_t type;
    const char* name;
  };
  static constexpr Known kKnown[] = {
      {0, "NULL"},          {1, "EN10MB"},     {9, "PPP"},          {101, "RAW"},          {104, "C_HDLC"},
      {105, "IEEE802_11"},  {113, "LINUX_SLL"}, {127, "IEEE802_11_RADIOTAP"}, {147, "USER0"},
      {177, "LINUX_LAPD"},  {187, "BLUETOOTH_HCI_H4"}, {189, "USB_LINUX"}, {203, "LAPD"},
      {228, "IPV4"},        {229, "IPV6"},     {276, "LINUX_SLL2"},
  };
  for (const Known& k : kKnown) {
    if (k.type == link_type) return std::string(k.name) + " (" + std::to_string(link_type) + ")";
  }
  return std::to_string(link_type);
}

bool ReadLinuxLapdHeader(ByteSpan record, LinuxLapdHeader* out) {
  std::uint16_t packet_type = 0, protocol = 0;
  std::uint8_t capturer = 0;
  if (!ReadBE16(record, 0, &packet_type) || !ReadU8(record, 6, &capturer) || !ReadBE16(record, 14, &protocol)) {
    return false;
  }
  const bool capturer_is_network = capturer != 0;
  const bool sent_by_capturer = packet_type == kPacketOutgoing;
  out->lapd = protocol == kLapdProtocol;
  // The network side sent it when the capturing side is the network and sent it, or is the user
  // and received it.
  out->direction = sent_by_capturer == capturer_is_network ? 1u : 0u;
  return true;
}

void AppendLinuxLapdHeader(std::vector<std::uint8_t>& out, std::uint32_t direction) {
  const std::uint16_t packet_type = direction == 0 ? kPacketOutgoing : 0;  // the user side captures
  const std::uint8_t header[kLinuxLapdHeaderSize] = {
      0, static_cast<std::uint8_t>(packet_type), kArphrdLapd >> 8, kArphrdLapd & 0xFF, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0,
      kLapdProtocol >> 8, kLapdProtocol & 0xFF};
  out.insert(out.end(), header, header + kLinuxLapdHeaderSize);
}

std::optional<std::uint32_t> DirectionFromFlag(PacketDirection flag) {
  switch (flag) {
    case PacketDirection::kInbound: return 1u;
    case PacketDirection::kOutbound: return 0u;
    default: return std::nullopt;
  }
}

PacketDirection FlagFromDirection(std::uint32_t direction) {
  return direction != 0 ? PacketDirection::kInbound : PacketDirection::kOutbound;
}

std::uint32_t DirectionInference::Next(ByteSpan f, std::optional<std::uint32_t> known) {
  if (f.size() < 3) {
    if (known) return *known;
    ++counts_.too_short;
    return 0;
  }
  const auto link = static_cast<std::uint16_t>(((f[0] & ~0x02 & 0xFF) << 8) | f[1]);
  const bool cr = (f[0] & 0x02) != 0;
  bool pf = false;
  Role role = RoleOf(f, &pf);
  if (known) {
    role = cr == (*known != 0) ? Role::kCommand : Role::kResponse;
  } else if (role == Role::kEither) {
    ++counts_.by_poll;
    role = !pf || poll_pending_.test(link) ? Role::kResponse : Role::kCommand;
  } else {
    ++counts_.by_kind;
  }
  poll_pending_.set(link, role == Role::kCommand && pf);
  if (known) return *known;
  // Network commands carry C/R 1, network responses C/R 0.
  return role == Role::kCommand ? (cr ? 1u : 0u) : (cr ? 0u : 1u);
}

std::vector<std::uint32_t> InferDirections(const std::vector<std::vector<std::uint8_t>>& frames,
                                           InferenceCounts* counts) {
  DirectionInference inference;
  std::vector<std::uint32_t> out;
  out.reserve(frames.size());
  for (const auto& f : frames) out.push_back(inference.Next(f));
  *counts = inference.counts();
  return out;
}

std::string DescribeInference(const InferenceCounts& c) {
  std::string text = "directions inferred from command/response polarity (" + std::to_string(c.by_kind) +
                     " by frame kind, " + std::to_string(c.by_poll) + " by poll/final bit";
  if (c.too_short > 0) text += ", " + std::to_string(c.too_short) + " without control field taken as T";
  return text + ")";
}

bool LapdFrames::Take(const Packet& packet, const Interface& interface, LapdFrame* frame, SkipReason* why) {
  SkipReason unused = SkipReason::kNone;
  if (why == nullptr) why = &unused;
  *why = SkipReason::kNone;
  ByteSpan octets = packet.data;
  if (interface.link_type == kLinkTypeLinuxLapd) {
    LinuxLapdHeader header;
    if (!ReadLinuxLapdHeader(octets, &header)) {
      *why = SkipReason::kShortRecord;
      return false;
    }
    if (!header.lapd) {
      *why = SkipReason::kOtherProtocol;
      return false;
    }
    octets = octets.subspan(kLinuxLapdHeaderSize);
    frame->direction = header.direction;
    frame->source = DirectionSource::kPseudoHeader;
    ++by_header;
  } else if (interface.link_type == kLinkTypeLapd) {
    DirectionInference& inference = inference_[packet.interface];
    std::optional<std::uint32_t> known = given_;
    frame->source = DirectionSource::kGiven;
    if (!known) {
      known = DirectionFromFlag(packet.direction);
      frame->source = DirectionSource::kFlag;
    }
    const InferenceCounts before = inference.counts();
    frame->direction = inference.Next(octets, known);
    if (!known) {
      frame->source = DirectionSource::kInferred;
      const InferenceCounts& after = inference.counts();
      inferred.by_kind += after.by_kind - before.by_kind;
      inferred.by_poll += after.by_poll - before.by_poll;
      inferred.too_short += after.too_short - before.too_short;
    } else if (frame->source == DirectionSource::kFlag) {
      ++by_flag;
    } else {
      ++by_given;
    }
  } else {
    *why = SkipReason::kOtherLinkType;
    return false;
  }
  frame->cut = octets.size() > max_octets_;
  frame->octets = frame->cut ? octets.first(max_octets_) : octets;
  frame->file_time = packet.has_time ? FileTimeFromCaptureTime(packet.seconds, packet.nanoseconds)
                                     : FileTimeFromCaptureTime(0, 0);
  return true;
}

}  // namespace capture
