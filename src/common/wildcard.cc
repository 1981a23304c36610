#include "common/wildcard.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <system_error>

namespace {

bool SameLetter(char a, char b) {
  return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
}

bool HasWildcard(std::string_view arg) { return arg.find_first_of("*?") != std::string_view::npos; }

}  // namespace

// Iterative match with one backtrack point for the last "*": linear in practice, never recursive.
// Letter case is ignored, as file names are matched on Windows.
bool WildcardMatch(std::string_view pattern, std::string_view name) {
  std::size_t p = 0, n = 0, star = std::string_view::npos, resume = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || (pattern[p] != '*' && SameLetter(pattern[p], name[n])))) {
      ++p;
      ++n;
    } else if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      resume = n;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      n = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

std::vector<std::string> ExpandArguments(const std::vector<std::string>& args,
                                         const std::vector<std::string>& folder_names) {
  std::vector<std::string> sorted = folder_names;
  std::sort(sorted.begin(), sorted.end());
  std::vector<std::string> out;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (i == 0 || !HasWildcard(arg)) {
      out.push_back(arg);
      continue;
    }
    const std::size_t before = out.size();
    for (const std::string& name : sorted) {
      if (WildcardMatch(arg, name)) out.push_back(name);
    }
    if (out.size() == before) out.push_back(arg);
  }
  return out;
}

void ExpandWildcards(int* argc, char*** argv) {
  std::vector<std::string> args(*argv, *argv + *argc);
  if (std::none_of(args.begin() + (args.empty() ? 0 : 1), args.end(),
                   [](const std::string& a) { return HasWildcard(a); })) {
    return;
  }
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(".", ec)) {
    std::error_code type_ec;
    if (entry.is_regular_file(type_ec)) names.push_back(entry.path().filename().string());
  }
  // Kept for the rest of the process, as the vector the runtime hands to main is.
  static std::vector<std::string> storage;
  static std::vector<char*> pointers;
  storage = ExpandArguments(args, names);
  pointers.clear();
  for (std::string& s : storage) pointers.push_back(s.data());
  pointers.push_back(nullptr);
  *argc = static_cast<int>(storage.size());
  *argv = pointers.data();
}
