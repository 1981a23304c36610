// SPDX-License-Identifier: BSD-2-Clause
// The Q.931 view: call reference, message type and information elements of the layer 3 message
// in a captured frame, or a hex dump of an information field that is not Q.931.
#pragma once

#include <cstdint>
#include <string>

#include "decode/view_text.h"

// Decodes the information field that starts at cursor and appends the view's text to out as it
// is shown, closing newline included. On return remaining is 0; the cursor stands behind the
// decoded octets, or where it was after a dump of a field that is not Q.931 (SAPI other than 0,
// or a protocol discriminator other than 0x08).
void AppendL3Frame(std::string& out, std::uint8_t sapi, std::uint32_t direction, std::int32_t& remaining,
                   const std::uint8_t*& cursor);

// The same text as a string of its own.
std::string FormatL3Frame(std::uint8_t sapi, std::uint32_t direction, std::int32_t& remaining,
                          const std::uint8_t*& cursor);
