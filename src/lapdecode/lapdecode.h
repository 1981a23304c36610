// SPDX-License-Identifier: BSD-2-Clause
// lapdecode: the LAPD frames of capture files (pcap, pcapng) shown as lapmon shows them.
//
// Each frame becomes a 288-byte trace entry (capture time as FILETIME, direction, length, up to
// 260 octets) and goes through lapmon's frame display with the chosen views. The text is collected
// and written in large batches; messages about the files go to standard error.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/bytes.h"
#include "decode/frame_display.h"
#include "lapdecode/call_output.h"

namespace lapdecode {

struct Options {
  ViewSwitches views;
  std::string name;               // -n NAME: the line name of every frame; empty: from the file
  std::vector<std::string> files;  // "-" is standard input
  CallOptions call_options;        // --calls, --calls-format, --ladder, --html
  // The run's call outputs, in place of the frame decode; null when none was asked for.
  std::shared_ptr<CallSession> calls;
};

enum class ParseResult { kRun, kUsage, kVersion, kBad };

// The command line: the view switches as lapmon's, whatever their letter case ("-p", "-l2",
// "-l3", "-raw"; all three views when none is given), "-n NAME", "-h" or "-?", "-v", "--" and the
// files; the call outputs "--calls", "--calls-format text|json|csv", "--ladder" and "--html FILE". On kBad, error says what is wrong.
ParseResult ParseArguments(int argc, char** argv, Options* options, std::string* error);

std::string UsageText();
std::string VersionText();

// Where the text and the messages go. out returns false once the output is gone for good.
struct Sink {
  virtual ~Sink() = default;
  virtual bool Out(std::string_view text) = 0;
  virtual void Err(std::string_view line) = 0;
};

// Text is written in batches of this size.
inline constexpr std::size_t kBatchSize = 64 * 1024;

enum class FileResult { kOk, kProblem, kOutputGone };

// Decodes one capture held in memory. label names the file in messages; fallbackName is the line
// name when neither -n nor the interface gives one.
FileResult DecodeFile(const std::string& label, ByteSpan file, const std::string& fallbackName,
                      const Options& options, Sink& sink);

// Decodes a capture read from an open stream block by block, so that memory stays flat whatever
// the file's size. The stream is read as its bytes come (a pipe's pieces as they arrive), and the
// text decoded so far is written before each read: a live capture shows each frame once its block
// is whole. A read error is said after the frames before it.
FileResult DecodeStream(const std::string& label, std::FILE* stream, const std::string& fallbackName,
                        const Options& options, Sink& sink);

// The file's base name: the part after the last folder separator.
std::string BaseName(const std::string& path);

}  // namespace lapdecode
