// SPDX-License-Identifier: BSD-2-Clause
// Names of Q.931 message types, information elements (codesets 0, 5 and 6) and Cause fields.
//
// Every lookup returns a NUL-terminated text that stays valid at least until the same lookup is
// called again: a constant string for a known value, or a formatted fallback in the lookup's own
// 32-character buffer (`ret_buf`), which the next fallback of that lookup overwrites. The lookups
// serve the decode thread; a caller uses each result before asking the same lookup again.
#pragma once

#include <cstdint>

// A message type: the type octet (0x00-0xFF), or 0x8000 + the octet that follows an escape octet.
// Fallback "MTYPE-%4.4X".
const char* GetMessageTypeName(std::uint16_t messageType);

// An information element identifier (only its low 8 bits count) in a codeset. "<unknown>" for an
// identifier the codeset does not name, "<unknow Codeset>" for codesets other than 0, 5 and 6.
const char* GetElementName(std::uint32_t identifier, std::int32_t codeset);

// The location of a Cause element (low four bits of its location octet).
// Fallback "GeneralLocation-%4.4X".
const char* GetGeneralLocation(std::uint8_t location);

// The class of a cause value (bits 5-7 of the cause value octet). Fallback "CauseClass-%4.4X".
const char* GetCauseClass(std::uint8_t causeClass);

// A cause value (the cause value octet without bit 8). Fallback "CauseValue-%4.4X".
const char* GetCauseValueInClass(std::uint16_t causeValue);
