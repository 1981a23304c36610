// SPDX-License-Identifier: BSD-2-Clause
// Output files: a write the system refuses part-way leaves the file whole, as it was before it.
#include "platform/output_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <utility>
#include <vector>

#include "fake_driver.h"
#include "platform/platform.h"

namespace {

// Holds the process's file-size limit at `bytes` while it lives (SIGXFSZ ignored, so that the
// limit shows as a failed write).
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    PlatIgnoreWriteSignals();
    getrlimit(RLIMIT_FSIZE, &saved_);
    rlimit limit = saved_;
    limit.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &saved_); }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  rlimit saved_{};
};

off_t SizeOf(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 ? info.st_size : -1;
}

TEST(OutputFile, AWriteCutShortLeavesTheFileAsTheLastWholeWriteLeftIt) {
  const struct {
    std::size_t first, second;  // two writes under a limit of 10,000 bytes
    off_t size;
  } cases[] = {
      {6000, 6000, 6000},  // the second is cut part-way: its part is taken back
      {4000, 7000, 4000},  // the second is cut part-way too
      {12000, 10, 0},      // not even the first fits
  };
  for (const auto& c : cases) {
    TempDir dir;
    const std::string path = dir.path() + "/out.pcapng";
    OutputFile file;
    std::string error;
    ASSERT_TRUE(file.Open(path, &error)) << error;
    {
      const FileSizeLimit limit(10000);
      const std::vector<std::uint8_t> first(c.first, 1), second(c.second, 2);
      const OutputWriteResult result = file.Write(first, &error);
      if (result == OutputWriteResult::kOk) {
        EXPECT_EQ(file.Write(second, &error), OutputWriteResult::kFailed) << c.first;
      } else {
        EXPECT_EQ(result, OutputWriteResult::kFailed);
      }
      EXPECT_FALSE(error.empty());
    }
    EXPECT_EQ(SizeOf(path), c.size) << c.first << "+" << c.second;
    // The file goes on from where it was cut back to once it may grow again.
    EXPECT_EQ(file.Write(std::vector<std::uint8_t>(10, 3), &error), OutputWriteResult::kOk);
    EXPECT_EQ(SizeOf(path), c.size + 10);
    file.CloseAndRemove();
    EXPECT_EQ(SizeOf(path), -1);
  }
}

TEST(OutputFile, StandardOutputIsNeverRemoved) {
  OutputFile out;
  std::string error;
  ASSERT_TRUE(out.Open("-", &error));
  out.CloseAndRemove();
  EXPECT_NE(fcntl(STDOUT_FILENO, F_GETFD), -1);  // still open
}

}  // namespace

namespace {

// A move never overwrites: a kept capture is not lost to another of the same name.
TEST(MoveFile, MovesButNeverOverAFileThatIsThere) {
  TempDir dir;
  const std::string from = dir.path() + "/a", to = dir.path() + "/b";
  std::string error;
  ASSERT_TRUE(PlatReplaceFile(from, from + ".new", "new", &error)) << error;
  ASSERT_TRUE(PlatReplaceFile(to, to + ".new", "older", &error)) << error;
  EXPECT_FALSE(PlatMoveFile(from, to, &error));
  EXPECT_FALSE(PlatMoveFile(from, dir.path() + "/none/b", &error));
  EXPECT_EQ(std::make_pair(SizeOf(from), SizeOf(to)), std::make_pair(off_t{3}, off_t{5}));
  PlatRemoveFile(to);
  ASSERT_TRUE(PlatMoveFile(from, to, &error)) << error;
  EXPECT_EQ(std::make_pair(SizeOf(from), SizeOf(to)), std::make_pair(off_t{-1}, off_t{3}));
}

}  // namespace
