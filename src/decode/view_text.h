// SPDX-License-Identifier: BSD-2-Clause
// What every view of a frame shares: the indentation of network-side frames, the line shown where
// a frame ends before a field, and the frame length as the views use it. A leaf: the views and
// the frame display include it, it includes none of them.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "decode/trace_entry.h"

// Network-side frames stand in a second column, 39 characters in.
inline constexpr std::size_t kNetworkIndent = 39;

// What starts every line of a view: nothing for a user-side frame (direction 0), 39 spaces for a
// network-side frame, so that the two directions stand in two columns.
inline std::string_view Indentation(std::uint32_t direction) {
  static constexpr char kSpaces[kNetworkIndent + 1] = "                                       ";
  static_assert(sizeof kSpaces == kNetworkIndent + 1 && kSpaces[kNetworkIndent - 1] == ' ');
  // The empty indentation still points into kSpaces: a view with no data at all would be a null
  // pointer handed to memcpy by whoever copies it.
  return std::string_view(kSpaces, direction != 0 ? kNetworkIndent : 0);
}

// FrameLength as the decoders use it: negative counts as 0, more than FrameData holds as 260.
inline std::int32_t ClampFrameLength(std::int32_t frameLength) {
  return std::clamp<std::int32_t>(frameLength, 0, static_cast<std::int32_t>(kFrameDataSize));
}

// The line a view shows where the frame ends before a field that the view needs; the view
// then consumes the rest of the frame.
inline void AppendFrameEndsEarly(std::string& text, std::string_view indent) {
  text += indent;
  text += "  Frame ends early\n";
}
