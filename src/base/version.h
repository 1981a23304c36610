// SPDX-License-Identifier: BSD-2-Clause
// The tools' version, one for all of them: lapmon and linestat print it in their banners,
// lapdecode and bricap when asked, and bricap writes it into its captures.
#pragma once

#include <string_view>

inline constexpr int kVersionMajor = 2;
inline constexpr int kVersionMinor = 51;
inline constexpr std::string_view kVersionText = "2.51";
