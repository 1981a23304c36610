// Printing a status area parameter by parameter.
#pragma once

#include <cstdint>

// Prints area `area` of the line: heading, rule, one line per parameter. 1 only when no record
// could be allocated; 0 otherwise (a failed fetch prints GetArea's message).
int GetStatus(std::uint32_t line_handle, std::int32_t area);
