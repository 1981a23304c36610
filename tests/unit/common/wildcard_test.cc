// SPDX-License-Identifier: BSD-2-Clause
// Wildcard expansion of program arguments.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/wildcard.h"
#include "fake_driver.h"

namespace {

TEST(WildcardMatch, Patterns) {
  struct Case {
    const char* pattern;
    const char* name;
    bool match;
  };
  const Case cases[] = {
      {"*", "anything", true},      {"*", "", true},           {"?", "", false},
      {"?", "a", true},             {"??", "a", false},        {"*.txt", "a.txt", true},
      {"*.txt", "a.txt.bak", false}, {"*.TXT", "a.txt", true}, {"a*b*c", "aXbYc", true},
      {"a*b*c", "aXbYcZ", false},   {"a*b", "ab", true},       {"*a*a*a*b", "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa", false},
      {"a?c", "abc", true},         {"a?c", "ac", false},      {"***", "x", true},
      {"", "", true},               {"", "a", false},
  };
  for (const Case& tc : cases) {
    EXPECT_EQ(WildcardMatch(tc.pattern, tc.name), tc.match) << tc.pattern << " / " << tc.name;
  }
}

TEST(ExpandArguments, ReplacesPatternsBySortedMatches) {
  const std::vector<std::string> folder = {"b.log", "a.log", "c.txt", "A.LOG2"};
  struct Case {
    std::vector<std::string> args;
    std::vector<std::string> want;
  };
  const Case cases[] = {
      {{"prog", "*.log"}, {"prog", "a.log", "b.log"}},
      {{"prog", "-a", "?.txt", "*.none"}, {"prog", "-a", "c.txt", "*.none"}},  // no match stays as typed
      {{"*.log", "x"}, {"*.log", "x"}},                                        // the program name is never expanded
      {{"prog", "*.log*"}, {"prog", "A.LOG2", "a.log", "b.log"}},
      {{"prog", "-?"}, {"prog", "-?"}},  // "-?" matches no file name of two characters here
  };
  for (const Case& tc : cases) {
    EXPECT_EQ(ExpandArguments(tc.args, folder), tc.want);
  }
  EXPECT_EQ(ExpandArguments({"prog", "-?"}, {"-a", "-b"}), (std::vector<std::string>{"prog", "-a", "-b"}));
}

TEST(ExpandWildcards, MatchesPlainFilesOfTheCurrentFolder) {
  TempDir dir;
  dir.Write("one.reg", "");
  dir.Write("two.reg", "");
  std::filesystem::create_directory(dir.path() + "/three.reg");  // a folder is no match
  const std::filesystem::path before = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());

  char arg0[] = "linestat", arg1[] = "*.reg", arg2[] = "-v";
  char* argv_in[] = {arg0, arg1, arg2, nullptr};
  int argc = 3;
  char** argv = argv_in;
  ExpandWildcards(&argc, &argv);
  std::filesystem::current_path(before);

  ASSERT_EQ(argc, 4);
  EXPECT_STREQ(argv[0], "linestat");
  EXPECT_STREQ(argv[1], "one.reg");
  EXPECT_STREQ(argv[2], "two.reg");
  EXPECT_STREQ(argv[3], "-v");
  EXPECT_EQ(argv[4], nullptr);
}

}  // namespace
