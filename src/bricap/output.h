// SPDX-License-Identifier: BSD-2-Clause
// Where bricap writes its capture: a file, standard output ("-"), or the FIFO (on Windows the
// named pipe) that Wireshark reads. Every write hands over whole blocks and pushes them on to
// the system at once, so that a reader sees every poll's frames and the file is a valid capture
// at every block boundary.
#pragma once

#include <cstdio>
#include <string>

#include "capture/capture_writer.h"

namespace bricap {

enum class WriteResult { kOk, kReaderGone, kFailed };

class CaptureOutput {
 public:
  CaptureOutput() = default;
  ~CaptureOutput() { Close(); }
  CaptureOutput(const CaptureOutput&) = delete;
  CaptureOutput& operator=(const CaptureOutput&) = delete;

  // Opens (creates or empties) the file, or takes standard output for "-". A FIFO is opened for
  // writing, which waits until its reader has opened it. False with *error on failure.
  bool Open(const std::string& path, std::string* error);

  // Writes every byte and flushes them to the system (for a file, to the disk). kReaderGone when
  // the output is a pipe whose reader has closed it; kFailed for any other failure, with *error.
  WriteResult Write(const capture::ByteBuffer& bytes, std::string* error);

  // Whether the output is a pipe whose reader has closed it (checked without writing).
  bool ReaderGone() const;

  void Close();

 private:
#ifdef _WIN32
  std::FILE* file_ = nullptr;
  bool owned_ = false;
#else
  int fd_ = -1;
  bool owned_ = false;
  bool regular_ = false;
#endif
};

// Whether standard error is a terminal (the live count is shown only there).
bool StandardErrorIsTerminal();

// A reader that goes away must end the capture through a failed write, not a signal.
void IgnoreBrokenPipe();

}  // namespace bricap
