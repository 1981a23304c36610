# SPDX-License-Identifier: BSD-2-Clause
# BRI_BUILD_FUZZ: the libFuzzer programs under fuzz/ (clang only). Every target of the build gets
# coverage instrumentation, so that the fuzzers see into the libraries they drive; the fuzzer
# runtime, with its main(), goes into the fuzz programs alone. The other programs of such a build
# run as usual (the coverage hooks do nothing without the fuzzer runtime), so one sanitizer build
# serves the tests and the fuzzers.
if(BRI_BUILD_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "BRI_BUILD_FUZZ needs clang (libFuzzer); configure with CXX=clang++-14")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()
