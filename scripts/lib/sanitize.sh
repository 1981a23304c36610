# SPDX-License-Identifier: BSD-2-Clause
# Sanitizer builds with clang, each in a build folder of its own:
#   AddressSanitizer + UndefinedBehaviorSanitizer: every unit and end-to-end test. The same build
#     carries the fuzz programs (scripts/lib/fuzz.sh runs them).
#   ThreadSanitizer: lapmon, brisim, the trace and platform unit tests, the lapmon end-to-end tests.
# Every report ends the program at once (abort), so a test that meets one fails.
#   bri_sanitizer_tests ASAN_BUILD_DIR TSAN_BUILD_DIR

bri_sanitizer_env() {
  export ASAN_OPTIONS="abort_on_error=1:halt_on_error=1:detect_leaks=1:detect_stack_use_after_return=1:strict_string_checks=1:check_initialization_order=1"
  export UBSAN_OPTIONS="abort_on_error=1:halt_on_error=1:print_stacktrace=1"
  export TSAN_OPTIONS="abort_on_error=1:halt_on_error=1:second_deadlock_stack=1"
}

bri_sanitizer_configure() {
  local dir=$1 sanitize=$2 fuzz=$3
  CC=clang-14 CXX=clang++-14 cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBRI_WERROR=ON \
    -DBRI_SANITIZE="$sanitize" -DBRI_BUILD_FUZZ="$fuzz" -DBRI_BUILD_BENCH=OFF >/dev/null
}

bri_sanitizer_tests() {
  local asan=$1 tsan=$2
  local jobs
  jobs=$(nproc)
  (
    bri_sanitizer_env

    echo "== AddressSanitizer + UndefinedBehaviorSanitizer build ($asan)"
    bri_sanitizer_configure "$asan" "address;undefined" ON
    cmake --build "$asan" -j"$jobs"
    echo "== Tests under AddressSanitizer + UndefinedBehaviorSanitizer"
    ctest --test-dir "$asan" --output-on-failure -j2 --timeout 600

    echo "== ThreadSanitizer build ($tsan)"
    bri_sanitizer_configure "$tsan" thread OFF
    # linestat too: the start-up tests of lapmon check both tools.
    local targets=(lapmon linestat brisim platform_unit_tests)
    if [ -f tests/unit/trace/CMakeLists.txt ]; then targets+=(trace_unit_tests trace_teardown_tests); fi
    cmake --build "$tsan" -j"$jobs" --target "${targets[@]}"
    echo "== Capture and threading tests under ThreadSanitizer"
    # The unit test programs run whole; ctest runs the lapmon end-to-end tests.
    local t
    for t in "$tsan"/tests/unit/platform/platform_unit_tests "$tsan"/tests/unit/trace/trace_unit_tests \
      "$tsan"/tests/unit/trace/trace_teardown_tests; do
      [ -x "$t" ] || continue
      "$t" --gtest_brief=1
    done
    ctest --test-dir "$tsan" --output-on-failure -j2 --timeout 600 -R '^e2e\.test_lapmon'
  )
}
