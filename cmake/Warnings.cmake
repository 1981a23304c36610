# SPDX-License-Identifier: BSD-2-Clause
# The project's warnings, for every target of the project. BRI_WERROR makes them errors: our CI
# (scripts/test) and the presets turn it on; a packager's or a new user's plain build keeps it off,
# so that a new compiler's new warning does not stop the build.
option(BRI_WERROR "Treat the project's compiler warnings as errors" OFF)
add_library(bri_warnings INTERFACE)
if(MSVC)
  target_compile_options(bri_warnings INTERFACE /W4 $<$<BOOL:${BRI_WERROR}>:/WX>)
else()
  target_compile_options(bri_warnings INTERFACE
    -Wall -Wextra -Wpedantic
    -Wshadow -Wconversion -Wsign-conversion -Wformat=2
    -Wold-style-cast -Wcast-qual -Wundef)
  if(BRI_WERROR)
    target_compile_options(bri_warnings INTERFACE -Werror)
  endif()
  # GCC 12 reports false overlaps inside libstdc++'s string code at -O3 (-Wrestrict).
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    target_compile_options(bri_warnings INTERFACE -Wno-restrict)
  endif()
endif()
