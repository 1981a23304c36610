// SPDX-License-Identifier: BSD-2-Clause
// The Q.921 (LAPD) view: address, control field and TEI management of one captured frame.
#pragma once

#include <cstdint>
#include <string>

#include "decode/view_text.h"

// Name of a U frame, keyed by its control octet without the P/F bit: a constant string, or
// "U-%2.2X" in the lookup's own buffer (`RetBuffer`), which the next unknown key overwrites.
const char* UFrameName(std::uint16_t key);

// Name of a TEI management message type; "<mdl-?}" for an unknown type.
const char* MdlFrameName(std::uint16_t messageType);

// Decodes the control field (and, on SAPI 63, the TEI management message) that starts at cursor
// and appends the view's text to out. Advances cursor and lowers remaining past the consumed
// octets. addressComplete is false when the frame ended inside its two address octets; the view
// then shows no address and consumes whatever is left.
void AppendLapdFrame(std::string& out, bool addressComplete, std::uint8_t sapi, std::uint8_t tei,
                     std::uint32_t direction, char crLetter, std::int32_t& remaining,
                     const std::uint8_t*& cursor);

// The same text as a string of its own.
std::string FormatLapdFrame(bool addressComplete, std::uint8_t sapi, std::uint8_t tei,
                            std::uint32_t direction, char crLetter, std::int32_t& remaining,
                            const std::uint8_t*& cursor);
