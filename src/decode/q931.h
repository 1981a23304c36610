// The Q.931 view: call reference, message type and information elements of the layer 3 message
// in a captured frame, or a hex dump of an information field that is not Q.931.
#pragma once

#include <cstdint>
#include <string>

#include "decode/frame_display.h"

// Decodes the information field that starts at cursor and returns the view's text as printed,
// closing newline included. On return
// remaining is 0; the cursor stands behind the decoded octets, or where it was after a dump of
// a field that is not Q.931 (SAPI other than 0, or a protocol discriminator other than 0x08).
std::string FormatL3Frame(std::uint8_t sapi, std::uint32_t direction, std::int32_t& remaining,
                          const std::uint8_t*& cursor);

// The Q.931 view: always decodes and consumes, prints (time-stamp line first, if no view has
// printed it yet) only when ShowL3 is on.
void ShowL3Frame(DecodeContext* context, const char* lineName, std::uint64_t timeStamp, std::uint8_t sapi,
                 std::uint32_t direction, std::int32_t& remaining, const std::uint8_t*& cursor);
