// SPDX-License-Identifier: BSD-2-Clause
#include "capture/lapd_capture.h"

#include <utility>

namespace capture {

std::string ForeignLinkTypeText(std::uint16_t link_type, const std::string& program) {
  return "link type " + LinkTypeName(link_type) + " carries no LAPD frames (" + program +
         " reads LINUX_LAPD (177) and LAPD (203))";
}

LapdCapture::LapdCapture(Reader& reader, std::string program, std::size_t max_octets,
                         std::optional<std::uint32_t> given)
    : reader_(reader), program_(std::move(program)), max_octets_(max_octets), lapd_(max_octets, given) {}

LapdCapture::Step LapdCapture::Next(LapdFrame* frame, LapdNotice* notice) {
  if (held_) {
    *frame = *held_;
    held_.reset();
    return Step::kFrame;
  }
  while (status_ == ReadStatus::kPacket) {
    status_ = reader_.Next(&packet_);
    if (status_ != ReadStatus::kPacket) break;
    SkipReason why = SkipReason::kNone;
    if (!lapd_.Take(packet_, interface(), frame, &why)) {
      if (why == SkipReason::kOtherProtocol) {
        ++other_protocol_;
      } else if (why == SkipReason::kShortRecord) {
        if (short_records_++ == 0) first_short_at_ = packet_.offset;
      } else if (foreign_said_.insert(packet_.interface).second) {
        *notice = {ForeignLinkTypeText(interface().link_type, program_), true};
        return Step::kNotice;
      }
      continue;
    }
    ++frames_;
    if (frame->cut) ++cut_;
    const bool first_flagged = frame->source == DirectionSource::kFlag && !flags_said_;
    const bool first_inferred = frame->source == DirectionSource::kInferred && !inference_said_;
    if (!first_flagged && !first_inferred) return Step::kFrame;
    // Said once per capture, before the first frame it concerns.
    flags_said_ = flags_said_ || first_flagged;
    inference_said_ = inference_said_ || first_inferred;
    *notice = {first_flagged ? "link type LAPD (203): directions from the packets' inbound/outbound flags"
                             : "link type LAPD (203) without direction flags: directions inferred from the "
                               "command/response bits",
               false};
    held_ = *frame;
    return Step::kNotice;
  }
  return Step::kEnd;
}

std::vector<LapdNotice> LapdCapture::Counts() const {
  std::vector<LapdNotice> out;
  if (other_protocol_ > 0) {
    out.push_back(
        {std::to_string(other_protocol_) + " LINUX_LAPD records of another protocol skipped", false});
  }
  if (short_records_ > 0) {
    const bool one = short_records_ == 1;
    out.push_back({std::to_string(short_records_) +
                       (one ? " damaged LINUX_LAPD record" : " damaged LINUX_LAPD records") +
                       " skipped: shorter than " + (one ? "its " : "their ") +
                       std::to_string(kLinuxLapdHeaderSize) + "-octet header (" +
                       (one ? "at offset " : "the first at offset ") + std::to_string(first_short_at_) + ")",
                   true});
  }
  if (cut_ > 0) {
    const std::string limit = std::to_string(max_octets_);
    out.push_back(
        {std::to_string(cut_) + " frames longer than " + limit + " octets shown cut to " + limit, false});
  }
  return out;
}

std::optional<LapdNotice> LapdCapture::Stop() const {
  const std::string frames = std::to_string(frames_);
  switch (status_) {
    case ReadStatus::kNotCapture:
      return LapdNotice{reader_.problem(), true};
    case ReadStatus::kCutShort:
      return LapdNotice{"cut short after " + frames + " frames (" + reader_.problem() + ")", true};
    case ReadStatus::kDamaged:
      return LapdNotice{"damaged after " + frames + " frames (" + reader_.problem() + ")", true};
    default:
      return std::nullopt;
  }
}

}  // namespace capture
