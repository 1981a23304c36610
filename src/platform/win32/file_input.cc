// SPDX-License-Identifier: BSD-2-Clause
// Files and pipes read as their bytes come, on Windows.
#include "platform/file_input.h"

#include <fcntl.h>
#include <io.h>

#include <climits>

void PlatBinaryStdin() { _setmode(_fileno(stdin), _O_BINARY); }

long PlatReadSome(std::FILE* stream, void* data, std::size_t size) {
  // _read on a pipe returns what the writer has written so far; its count is an int.
  const unsigned count = size > INT_MAX ? INT_MAX : static_cast<unsigned>(size);
  return _read(_fileno(stream), data, count);
}
