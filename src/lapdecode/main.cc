// SPDX-License-Identifier: BSD-2-Clause
// lapdecode [-p] [-l2] [-l3] [-raw] [-n NAME] [--calls] [--calls-format F] [--ladder] [--html FILE] FILE...
// Exit status: 0 when every file was read whole, 1 when a file could not be read, was cut short
// or damaged, held another link type, or standard output went away; 2 for a bad command line.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "base/program_message.h"
#include "lapdecode/lapdecode.h"
#include "platform/file_input.h"
#include "platform/platform.h"

namespace {

struct StdSink : lapdecode::Sink {
  bool Out(std::string_view text) override { return PlatWriteStdout(text); }
  void Err(std::string_view line) override {
    std::string whole(line);
    whole += '\n';
    WriteStderr(whole);
  }
};

}  // namespace

int main(int argc, char** argv) {
  PlatInitStdHandles();  // a closed standard descriptor becomes the null device before anything opens
  lapdecode::Options options;
  std::string error;
  switch (lapdecode::ParseArguments(argc, argv, &options, &error)) {
    case lapdecode::ParseResult::kUsage:
      return PlatWriteStdout(lapdecode::UsageText()) ? 0 : 1;
    case lapdecode::ParseResult::kVersion:
      return PlatWriteStdout(lapdecode::VersionText()) ? 0 : 1;
    case lapdecode::ParseResult::kBad:
      WriteStderr(ProgramMessageLine("lapdecode", error) + lapdecode::UsageText());
      return 2;
    case lapdecode::ParseResult::kRun:
      break;
  }

  StdSink sink;
  int status = 0;
  if (options.calls) {
    std::string title;
    for (const std::string& path : options.files) {
      title += (title.empty() ? "" : ", ") +
               (path == "-" ? std::string("standard input") : lapdecode::BaseName(path));
    }
    options.calls->SetTitle(title);
    std::string header;
    options.calls->Start(header);
    if (!header.empty() && !PlatWriteStdout(header)) return 1;
  }
  for (const std::string& path : options.files) {
    const bool from_stdin = path == "-";
    const std::string label = from_stdin ? "standard input" : path;
    std::FILE* stream = stdin;
    if (from_stdin) {
      PlatBinaryStdin();
    } else {
      stream = std::fopen(path.c_str(), "rb");
      if (stream == nullptr) {
        sink.Err("lapdecode: " + label + ": cannot read: " + std::strerror(errno));
        status = 1;
        continue;
      }
    }
    const std::string fallback = from_stdin ? "stdin" : lapdecode::BaseName(path);
    const lapdecode::FileResult result = lapdecode::DecodeStream(label, stream, fallback, options, sink);
    if (!from_stdin) std::fclose(stream);
    switch (result) {
      case lapdecode::FileResult::kOutputGone:
        return 1;
      case lapdecode::FileResult::kProblem:
        status = 1;
        break;
      case lapdecode::FileResult::kOk:
        break;
    }
  }
  if (options.calls) {
    std::string summary;
    if (!options.calls->Finish(summary, &error)) {
      sink.Err("lapdecode: " + error);
      status = 1;
    }
    if (!summary.empty() && !PlatWriteStdout(summary)) return 1;
  }
  return status;
}
