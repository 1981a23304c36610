// SPDX-License-Identifier: BSD-2-Clause
// The message text database: a read-only byte image of named sections of key/text pairs.
#pragma once

#include <cstddef>
#include <cstdint>

// The program's own image, built at compile time from its tables; textdb_size bytes long.
extern const std::uint8_t* const textdb_dat;
extern const std::size_t textdb_size;

// The text of `key` in `section` of the image, or null. Section and key match whole, ignoring letter
// case. `image_size` bounds every read of the image: a malformed image (a name, key or text without
// its NUL, an offset past the end) gives null rather than a read past it. The result points into
// the image.
const char* db_lookup(const std::uint8_t* image, std::size_t image_size, const char* section, const char* key);
