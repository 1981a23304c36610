// Everything printed for one captured frame: time-stamp line, raw view, Q.921 view, Q.931 view.
#pragma once

#include "decode/trace_entry.h"

// Decodes one trace entry of the named line and prints the views whose flags are on, each view as
// one console write. Never reads outside the entry, whatever its FrameLength says.
void DecodeTraceFrame(const char* lineName, TraceEntryBytes entry);
