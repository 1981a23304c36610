// SPDX-License-Identifier: BSD-2-Clause
// Expansion of wildcard characters in program arguments, done by the programs themselves so that
// both builds behave alike: an argument holding "*" (any run) or "?" (one character) is replaced by
// the sorted names of the matching plain files of the current folder, or stays as typed.
#pragma once

#include <string>
#include <string_view>
#include <vector>

bool WildcardMatch(std::string_view pattern, std::string_view name);

// Expands args against the given folder names (a pure step, for tests).
std::vector<std::string> ExpandArguments(const std::vector<std::string>& args,
                                         const std::vector<std::string>& folder_names);

// Expands argv in place against the current folder; argv[0] is never expanded. The new vector
// lives until the process ends.
void ExpandWildcards(int* argc, char*** argv);
