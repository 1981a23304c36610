// SPDX-License-Identifier: BSD-2-Clause
// The line table of the trace tool and the line enumeration with its selection menu.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "common/enum_reply.h"
#include "trace/trace_ring.h"

struct LineEntry {
  std::uint32_t Handle = 0;                // the driver's handle of the line
  std::array<char, kLineNameSize> Name{};  // the line's name, at most 31 characters and a zero
  std::uint8_t Selected = 0;               // 1 = the line is to be traced
  std::unique_ptr<TraceRing> Ring;         // the line's ring while its trace object exists
};

// Entry i describes the line listed at position i; entries from NumIdd on stay clear.
extern std::array<LineEntry, kMaxLines> idd_tbl;
extern std::size_t NumIdd;

// Clears all 20 entries (the rings must have been released).
void ClearLineTable();

// Lists the lines (OP_ENUM_IDD), prints them, creates one event per line and lets the user pick
// the lines to trace: all at once with "-a" or when there is only one line, else through the menu
// on standard input. A menu answer that is no number ends the program with status 0, a menu that
// cannot be shown (standard output gone) with status 1.
void EnumerateIdd();

// One pass of the selection menu as printed: the lines selected so far, every listed line with its
// index, and the prompt.
std::string MenuText();

enum class MenuAnswer { kSelected, kStartTracing, kInvalid };

// Applies one number typed at the menu: a listed index selects that line, 99 starts tracing,
// anything else is invalid.
MenuAnswer ApplyMenuAnswer(long answer);
