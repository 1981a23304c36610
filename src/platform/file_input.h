// SPDX-License-Identifier: BSD-2-Clause
// Reading files and pipes as their bytes come, for the programs that decode capture files.
#pragma once

#include <cstddef>
#include <cstdio>

// Standard input as a binary stream: no line-end translation and no end at a Ctrl-Z (Windows);
// nothing to do where streams are binary anyway.
void PlatBinaryStdin();

// Reads up to size bytes from the descriptor under stream, returning as soon as any are there:
// a pipe's reader gets each piece when it arrives, not when a buffer is full. The stream must be
// read only through this function (its own buffer stays empty). The count, 0 at the end of the
// input, -1 on an error (errno says which).
long PlatReadSome(std::FILE* stream, void* data, std::size_t size);
