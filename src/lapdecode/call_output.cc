#include "lapdecode/call_output.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/platform.h"

namespace lapdecode {

CallSession::CallSession(CallOptions options) : options_(std::move(options)) {}

void CallSession::Start(std::string& text) {
  if (!options_.log) return;
  if (options_.format == CallFormat::kText) text += calls::CallLogHeader();
  if (options_.format == CallFormat::kCsv) text += calls::CallCsvHeader();
}

void CallSession::BeginFile() {
  calls::TrackerOptions tracker;
  tracker.keep_ladder = options_.ladder || !options_.html.empty();
  tracker_ =
      std::make_unique<calls::Tracker>(tracker, [this](calls::Call&& call) { Ended(std::move(call)); });
}

void CallSession::Take(std::string_view line, std::uint64_t file_time, std::uint32_t direction,
                       ByteSpan octets, std::string& text) {
  if (!tracker_) BeginFile();
  text_ = &text;
  tracker_->Feed(
      calls::Frame{line, file_time, direction != 0 ? calls::Side::kNetwork : calls::Side::kUser, octets});
  text_ = nullptr;
}

void CallSession::EndFile(std::string& text) {
  if (!tracker_) return;
  text_ = &text;
  tracker_->Finish();
  pushed_out_ += tracker_->pushed_out();
  tracker_.reset();
  text_ = nullptr;
}

void CallSession::Ended(calls::Call&& call) {
  summary_.Add(call);
  if (text_ != nullptr) {
    if (options_.log) {
      switch (options_.format) {
        case CallFormat::kText:
          calls::AppendCallLogLine(*text_, call);
          break;
        case CallFormat::kJson:
          calls::AppendCallJson(*text_, call);
          break;
        case CallFormat::kCsv:
          calls::AppendCallCsv(*text_, call);
          break;
      }
    }
    if (options_.ladder) calls::AppendLadder(*text_, call);
  }
  if (options_.html.empty()) return;
  if (page_.size() < calls::kMaxHtmlCalls) {
    page_.push_back(std::move(call));
  } else {
    ++not_drawn_;
  }
}

bool CallSession::Finish(std::string& text, std::string* error) {
  if (options_.log && options_.format == CallFormat::kText) {
    text += '\n';
    text += summary_.Text();
    if (pushed_out_ > 0) {
      text += std::to_string(pushed_out_) + " calls ended early: more than " +
              std::to_string(calls::kDefaultMaxOpenCalls) + " open at once\n";
    }
  }
  if (options_.html.empty()) return true;
  std::stable_sort(page_.begin(), page_.end(), [](const calls::Call& a, const calls::Call& b) {
    return a.setup.value_or(0) < b.setup.value_or(0);
  });
  const std::string page =
      calls::FormatHtmlPage(title_.empty() ? options_.html : title_, page_, summary_, not_drawn_);
  // A file (or a file's link) gets a new page beside it, renamed over it, so that a browser or a
  // failed write never leaves half a page in place of the old one. What a rename would destroy
  // (a device, a pipe) is written straight.
  std::string target, not_a_file;
  if (PlatReplaceTarget(options_.html, &target, &not_a_file)) {
    if (PlatReplaceFile(target, PlatTempBeside(target), page, error)) return true;
    *error = options_.html + ": cannot write: " + *error;
    return false;
  }
  std::FILE* file = std::fopen(options_.html.c_str(), "wb");
  if (file == nullptr) {
    *error = options_.html + ": cannot write: " + std::strerror(errno);
    return false;
  }
  const bool written = std::fwrite(page.data(), 1, page.size(), file) == page.size();
  const int saved = errno;
  const bool closed = std::fclose(file) == 0;
  if (!written || !closed) {
    *error = options_.html + ": cannot write: " + std::strerror(written ? errno : saved);
    return false;
  }
  return true;
}

}  // namespace lapdecode
