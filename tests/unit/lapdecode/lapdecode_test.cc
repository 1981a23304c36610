// SPDX-License-Identifier: BSD-2-Clause
// lapdecode's command line, its batched output, the line name it shows and its messages.
#include "lapdecode/lapdecode.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "capture/capture_writer.h"
#include "capture/lapd_frames.h"

namespace lapdecode {
namespace {

struct FakeSink : Sink {
  std::vector<std::string> writes;
  std::vector<std::string> errors;
  int refuse_after = -1;  // Out fails from this write on
  bool Out(std::string_view text) override {
    if (refuse_after >= 0 && static_cast<int>(writes.size()) >= refuse_after) return false;
    writes.emplace_back(text);
    return true;
  }
  void Err(std::string_view line) override { errors.emplace_back(line); }
  std::string All() const {
    std::string s;
    for (const auto& w : writes) s += w;
    return s;
  }
};

ParseResult Parse(std::vector<std::string> args, Options* options, std::string* error) {
  args.insert(args.begin(), "lapdecode");
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  return ParseArguments(static_cast<int>(argv.size()), argv.data(), options, error);
}

TEST(Arguments, ViewsNamesAndFiles) {
  struct Case {
    std::vector<std::string> args;
    ParseResult result;
    bool raw, l2, l3;
    std::string name;
    std::vector<std::string> files;
  } cases[] = {
      {{"a.pcap"}, ParseResult::kRun, true, true, true, "", {"a.pcap"}},
      {{"-L2", "a"}, ParseResult::kRun, false, true, false, "", {"a"}},
      {{"-RAW", "-l3", "a", "b"}, ParseResult::kRun, true, false, true, "", {"a", "b"}},
      {{"-P", "-l2", "-"}, ParseResult::kRun, true, true, true, "", {"-"}},
      {{"-n", "Tessix1 LINE1", "a"}, ParseResult::kRun, true, true, true, "Tessix1 LINE1", {"a"}},
      {{"--", "-raw"}, ParseResult::kRun, true, true, true, "", {"-raw"}},
      {{"-?", "a"}, ParseResult::kUsage, true, true, true, "", {"a"}},
      {{"-h"}, ParseResult::kUsage, true, true, true, "", {}},
      {{"-v"}, ParseResult::kVersion, true, true, true, "", {}},
      {{"-x", "a"}, ParseResult::kBad, true, true, true, "", {}},
      {{"a", "-n"}, ParseResult::kBad, true, true, true, "", {"a"}},
      {{"-p"}, ParseResult::kBad, true, true, true, "", {}},
  };
  for (const Case& c : cases) {
    Options options;
    std::string error;
    const ParseResult result = Parse(c.args, &options, &error);
    const std::string what = c.args.empty() ? "" : c.args[0];
    ASSERT_EQ(result, c.result) << what;
    if (result == ParseResult::kBad) {
      EXPECT_FALSE(error.empty()) << what;
      continue;
    }
    if (result != ParseResult::kRun) continue;
    EXPECT_EQ(options.views.raw, c.raw) << what;
    EXPECT_EQ(options.views.l2, c.l2) << what;
    EXPECT_EQ(options.views.l3, c.l3) << what;
    EXPECT_EQ(options.name, c.name) << what;
    EXPECT_EQ(options.files, c.files) << what;
  }
}

// A pcapng file with one named and one unnamed LAPD interface and count frames on each.
capture::ByteBuffer TwoInterfaces(int count) {
  capture::ByteBuffer file;
  capture::AppendSectionHeader(file, "");
  capture::AppendInterfaceDescription(file, {capture::kLinkTypeLapd, 0, "Tessix1 LINE2", 6});
  capture::AppendInterfaceDescription(file, {capture::kLinkTypeLapd, 0, "", 6});
  static const std::vector<std::uint8_t> setup = {0x00, 0x81, 0x00, 0x00, 0x08, 0x01, 0x01,
                                                  0x05, 0x04, 0x03, 0x80, 0x90, 0xA2};
  for (int i = 0; i < count; ++i) {
    for (std::uint32_t interface = 0; interface < 2; ++interface) {
      capture::AppendEnhancedPacket(
          file, {interface, 1765000000000000ull + static_cast<std::uint64_t>(i) * 1000, setup, 0,
                 capture::PacketDirection::kInbound, false, 0});
    }
  }
  return file;
}

TEST(Arguments, CallOutputs) {
  struct Case {
    std::vector<std::string> args;
    ParseResult result;
    bool log;
    CallFormat format;
    bool ladder;
    std::string html;
  } cases[] = {
      {{"--calls", "a"}, ParseResult::kRun, true, CallFormat::kText, false, ""},
      {{"--calls-format", "JSON", "a"}, ParseResult::kRun, true, CallFormat::kJson, false, ""},
      {{"--calls-format", "csv", "--ladder", "a"}, ParseResult::kRun, true, CallFormat::kCsv, true, ""},
      {{"--html", "p.html", "a"}, ParseResult::kRun, false, CallFormat::kText, false, "p.html"},
      {{"--ladder", "a"}, ParseResult::kRun, false, CallFormat::kText, true, ""},
      {{"--calls-format", "xml", "a"}, ParseResult::kBad, false, CallFormat::kText, false, ""},
      {{"a", "--calls-format"}, ParseResult::kBad, false, CallFormat::kText, false, ""},
      {{"a", "--html"}, ParseResult::kBad, false, CallFormat::kText, false, ""},
  };
  for (const Case& c : cases) {
    Options options;
    std::string error;
    ASSERT_EQ(Parse(c.args, &options, &error), c.result) << c.args[0] << " " << c.args[1];
    if (c.result == ParseResult::kBad) continue;
    EXPECT_EQ(options.call_options.log, c.log);
    EXPECT_EQ(options.call_options.format, c.format);
    EXPECT_EQ(options.call_options.ladder, c.ladder);
    EXPECT_EQ(options.call_options.html, c.html);
    EXPECT_NE(options.calls, nullptr);
  }
  Options plain;
  std::string error;
  ASSERT_EQ(Parse({"a"}, &plain, &error), ParseResult::kRun);
  EXPECT_EQ(plain.calls, nullptr);  // the frame decode, as before
}

TEST(DecodeFile, WritesInLargeBatchesWithTheRightLineNames) {
  const capture::ByteBuffer file = TwoInterfaces(400);
  Options options;
  FakeSink sink;
  ASSERT_EQ(DecodeFile("f", file, "f.pcapng", options, sink), FileResult::kOk);
  ASSERT_GE(sink.writes.size(), 2u);
  for (std::size_t i = 0; i + 1 < sink.writes.size(); ++i) EXPECT_GE(sink.writes[i].size(), kBatchSize);
  const std::string all = sink.All();
  const auto count = [&all](const std::string& s) {
    std::size_t n = 0;
    for (std::size_t at = all.find(s); at != std::string::npos; at = all.find(s, at + 1)) ++n;
    return n;
  };
  EXPECT_EQ(count(" Tessix1 LINE2 (N)\n"), 400u);
  EXPECT_EQ(count(" f.pcapng (N)\n"), 400u);
  EXPECT_EQ(sink.errors,
            std::vector<std::string>{
                "lapdecode: f: link type LAPD (203): directions from the packets' inbound/outbound flags"});

  options.name = "X";
  FakeSink named;
  ASSERT_EQ(DecodeFile("f", file, "f.pcapng", options, named), FileResult::kOk);
  EXPECT_EQ(named.All().find("LINE2"), std::string::npos);
}

TEST(DecodeFile, StopsWhenTheOutputIsGone) {
  const capture::ByteBuffer file = TwoInterfaces(400);
  FakeSink sink;
  sink.refuse_after = 1;
  EXPECT_EQ(DecodeFile("f", file, "f", Options{}, sink), FileResult::kOutputGone);
  EXPECT_EQ(sink.writes.size(), 1u);
}

TEST(DecodeFile, ProblemsAreOneLineEachAfterTheFramesBeforeThem) {
  capture::ByteBuffer file = TwoInterfaces(2);
  capture::ByteBuffer cut(file.begin(), file.end() - 4);
  FakeSink sink;
  EXPECT_EQ(DecodeFile("c", cut, "c", Options{}, sink), FileResult::kProblem);
  ASSERT_EQ(sink.errors.size(), 2u);
  EXPECT_EQ(sink.errors[1].rfind("lapdecode: c: cut short after 3 frames (", 0), 0u) << sink.errors[1];

  capture::ByteBuffer mixed;
  capture::AppendSectionHeader(mixed, "");
  capture::AppendInterfaceDescription(mixed, {1, 0, "eth0", 6});
  static const std::vector<std::uint8_t> bytes = {1, 2, 3};
  capture::AppendEnhancedPacket(mixed, {0, 0, bytes, 0, capture::PacketDirection::kUnknown, false, 0});
  capture::AppendEnhancedPacket(mixed, {0, 0, bytes, 0, capture::PacketDirection::kUnknown, false, 0});
  FakeSink other;
  EXPECT_EQ(DecodeFile("m", mixed, "m", Options{}, other), FileResult::kProblem);
  EXPECT_EQ(other.errors,
            std::vector<std::string>{"lapdecode: m: link type EN10MB (1) carries no LAPD frames "
                                     "(lapdecode reads LINUX_LAPD (177) and LAPD (203))"});
  EXPECT_TRUE(other.writes.empty());

  FakeSink junk;
  const std::vector<std::uint8_t> text = {'h', 'e', 'l', 'l', 'o'};
  EXPECT_EQ(DecodeFile("j", text, "j", Options{}, junk), FileResult::kProblem);
  EXPECT_EQ(junk.errors, std::vector<std::string>{"lapdecode: j: not a pcap or pcapng file"});
}

// A file read block by block shows what the file read whole shows; a read error is said once,
// after the frames before it, instead of a cut.
TEST(DecodeStream, SameTextAsTheWholeFileAndReadErrorsSaid) {
  const capture::ByteBuffer file = TwoInterfaces(3000);  // a few windows of the reader
  std::FILE* stream = std::tmpfile();
  ASSERT_NE(stream, nullptr);
  ASSERT_EQ(std::fwrite(file.data(), 1, file.size(), stream), file.size());
  std::rewind(stream);
  FakeSink whole, streamed;
  ASSERT_EQ(DecodeFile("f", file, "f", Options{}, whole), FileResult::kOk);
  ASSERT_EQ(DecodeStream("f", stream, "f", Options{}, streamed), FileResult::kOk);
  std::fclose(stream);
  EXPECT_EQ(streamed.All(), whole.All());
  EXPECT_EQ(streamed.errors, whole.errors);

  std::FILE* folder = std::fopen(".", "rb");  // opens on Linux; every read then fails
  if (folder == nullptr) GTEST_SKIP() << "this system does not open a folder as a file";
  FakeSink failed;
  EXPECT_EQ(DecodeStream("d", folder, "d", Options{}, failed), FileResult::kProblem);
  std::fclose(folder);
  ASSERT_EQ(failed.errors.size(), 1u);
  EXPECT_EQ(failed.errors[0].rfind("lapdecode: d: cannot read: ", 0), 0u) << failed.errors[0];
  EXPECT_TRUE(failed.writes.empty());
}

TEST(BaseName, FoldersOfEitherSystem) {
  EXPECT_EQ(BaseName("/tmp/a/calls.pcapng"), "calls.pcapng");
  EXPECT_EQ(BaseName("C:\\caps\\x.pcap"), "x.pcap");
  EXPECT_EQ(BaseName("plain"), "plain");
}

}  // namespace
}  // namespace lapdecode
