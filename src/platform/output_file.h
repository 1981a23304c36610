// SPDX-License-Identifier: BSD-2-Clause
// A product written into a file, standard output ("-"), or a FIFO (on Windows a named pipe) that
// another program reads. Every write hands over all its bytes or reports why not; a regular file
// is whole after every write that is reported as done, and cut back to that length after a write
// that failed.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

enum class OutputWriteResult { kOk, kReaderGone, kFailed };

class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile() { Close(); }
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Opens (creates or empties) the file, or takes standard output for "-". A FIFO is opened for
  // writing, which waits until its reader has opened it. False with *error on failure.
  bool Open(const std::string& path, std::string* error);

  // Writes every byte and pushes them on to the system (a file's to the disk). An output that
  // would block (non-blocking, its reader late) is waited for: nothing is dropped or split.
  // kReaderGone when the output is a pipe whose reader has closed it; kFailed for any other
  // failure, with *error. After a failure a regular file is cut back to where it stood before
  // this write.
  OutputWriteResult Write(std::span<const std::uint8_t> bytes, std::string* error);

  // Whether the output is a pipe whose reader has closed it (checked without writing).
  bool ReaderGone() const;

  // Closes the output (standard output stays open).
  void Close();

  // Closes the output and deletes the file it made ("-" and a FIFO are left alone).
  void CloseAndRemove();

 private:
  std::string path_;
  std::intptr_t handle_ = -1;  // the descriptor (Linux) or the FILE* (Windows); -1 when closed
  bool owned_ = false;
  bool regular_ = false;
  std::uint64_t whole_ = 0;  // where the file stood after the last write that was done
};

// The bytes still free for us on the file system that holds `path` (a file that may not exist
// yet); nullopt when the system cannot say.
std::optional<std::uint64_t> PlatFreeBytes(const std::string& path);

// Whether standard error is a terminal.
bool PlatStandardErrorIsTerminal();

// A reader that goes away, or a file-size limit, must end a writer through a failed write, not
// a signal (SIGPIPE, SIGXFSZ).
void PlatIgnoreWriteSignals();
