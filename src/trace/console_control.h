// SPDX-License-Identifier: BSD-2-Clause
// Console control of the trace tool: single keys read by the keyboard thread, and the handler of
// Ctrl-C and Ctrl-Break.
#pragma once

#include <cstdint>

// Acts on one key: 0 clears the three views, 1/2/3 toggle the Q.921, Q.931 and raw views, 9 stops
// the tool, N and P ask for the driver's log file off or on; any other character is echoed as
// "c = %c (0x%x)\n".
void HandleKey(char key);

// The keyboard thread: puts the console into key mode and handles keys until EndGame is set or the
// input ends. Without standard input it sets EndGame at once.
int KeyboardMonitor();

// Ctrl-C or Ctrl-Break: sets EndGame, tears the traces down and closes the driver. Returns false
// for every event, so that the process then ends as the event's default action says. When another
// thread is ending the process already, it waits for that end instead, for as long as a teardown
// may take.
bool MyCtrlCHandler(std::uint32_t event);
