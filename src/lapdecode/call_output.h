// SPDX-License-Identifier: BSD-2-Clause
// lapdecode's call outputs: the call log (text, JSON Lines or CSV), the ladder diagrams and the
// HTML page, in place of the frame decode.
//
// One session spans all the files of a run: each file's calls are followed by a tracker of its
// own (a call never spans two files), the summary and the page count every file's calls. A call's
// text is appended to the caller's batch as the call ends, so a live pipe shows it as soon as the
// batch goes out.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "calls/call_format.h"
#include "calls/call_tracker.h"

namespace lapdecode {

enum class CallFormat { kText, kJson, kCsv };

struct CallOptions {
  bool log = false;  // --calls (also set by --calls-format)
  CallFormat format = CallFormat::kText;
  bool ladder = false;  // --ladder
  std::string html;     // --html FILE
  bool any() const { return log || ladder || !html.empty(); }
};

class CallSession {
 public:
  explicit CallSession(CallOptions options);

  // What the HTML page is about: the capture files' names.
  void SetTitle(std::string title) { title_ = std::move(title); }
  // Before the first file: the log's header, when it has one.
  void Start(std::string& text);
  // A new file: its calls are followed from nothing.
  void BeginFile();
  void Take(std::string_view line, std::uint64_t file_time, std::uint32_t direction, ByteSpan octets,
            std::string& text);
  // The file's end: the calls still open end now, in the order they started.
  void EndFile(std::string& text);
  // After the last file: the text log's summary, and the HTML page written. False with *error
  // when the page cannot be written.
  bool Finish(std::string& text, std::string* error);

 private:
  void Ended(calls::Call&& call);

  CallOptions options_;
  std::string title_;
  std::unique_ptr<calls::Tracker> tracker_;
  std::string* text_ = nullptr;  // the batch the call being fed appends to
  calls::Summary summary_;
  std::vector<calls::Call> page_;  // the calls the HTML page draws, at most kMaxHtmlCalls
  std::uint64_t not_drawn_ = 0;
  std::uint64_t pushed_out_ = 0;
};

}  // namespace lapdecode
