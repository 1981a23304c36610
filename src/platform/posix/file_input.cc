// SPDX-License-Identifier: BSD-2-Clause
// Files and pipes read as their bytes come, on Linux.
#include "platform/file_input.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

void PlatBinaryStdin() {}

long PlatReadSome(std::FILE* stream, void* data, std::size_t size) {
  const int fd = fileno(stream);
  if (size > SSIZE_MAX) size = SSIZE_MAX;
  for (;;) {
    const ssize_t n = read(fd, data, size);
    if (n >= 0) return static_cast<long>(n);
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return -1;
    // A non-blocking input with nothing there yet: wait for it as a blocking one would.
    pollfd entry{fd, POLLIN, 0};
    while (poll(&entry, 1, -1) < 0 && errno == EINTR) {
    }
  }
}
