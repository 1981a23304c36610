// Fetching one status area of one line from the driver: request, polls, final read.
#pragma once

#include <cstdint>

#include "areas/area_record.h"

// Fills *record and returns 0, or returns 1 after printing its own message (if any); the record is
// written only on success.
int GetArea(std::uint32_t line_handle, std::int32_t area, AreaRecord* record);
