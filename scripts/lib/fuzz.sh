# SPDX-License-Identifier: BSD-2-Clause
# Runs every fuzz program of a fuzz build (BRI_BUILD_FUZZ=ON, see scripts/lib/sanitize.sh) for a
# while, two at a time, from its seed corpus in fuzz/corpus/<program>/. New inputs go to a work
# folder in the build, never into the committed corpus. A crash, a failed check or a sanitizer
# report fails the run and leaves the input as BUILD/fuzz-runs/<program>/crash-* (or leak-*,
# timeout-*), with the program's output in BUILD/fuzz-runs/<program>.log.
#   bri_fuzz BUILD_DIR SECONDS_PER_PROGRAM

# Longest input each program is given: one record, or a little more where the input also steers
# the fuzz program.
bri_fuzz_max_len() {
  case $1 in
    fuzz_trace_entry) echo 288 ;;
    fuzz_area_record) echo 536 ;;
    fuzz_enum_linestat | fuzz_enum_lapmon) echo 1400 ;;
    fuzz_transport) echo 4096 ;;
    fuzz_capture_reader) echo 2048 ;;
    fuzz_q931_elements) echo 1024 ;;
    *) echo 8192 ;;
  esac
}

# bri_fuzz_one BUILD_DIR PROGRAM SECONDS: one program's run; its status is the run's.
bri_fuzz_one() {
  local build=$1 name=$2 seconds=$3
  local runs="$build/fuzz-runs"
  local work="$runs/$name"
  mkdir -p "$work/corpus"
  local status=0
  (
    bri_sanitizer_env
    cd "$work"
    "../../fuzz/$name" corpus "$OLDPWD/fuzz/corpus/$name" -max_total_time="$seconds" \
      -max_len="$(bri_fuzz_max_len "$name")" -timeout=20 -rss_limit_mb=2560 -print_final_stats=1 \
      >"../$name.log" 2>&1
  ) || status=$?
  local runs_line
  runs_line=$(grep -m1 'stat::number_of_executed_units' "$runs/$name.log" | awk '{print $2}') || true
  if [ $status -eq 0 ]; then
    echo "fuzz ok:   $name (${runs_line:-?} runs in ${seconds}s)"
  else
    echo "fuzz FAIL: $name (status $status; see $runs/$name.log and $work/)"
    tail -n 40 "$runs/$name.log" || true
  fi
  return $status
}

bri_fuzz() {
  local build=$1 seconds=$2
  local programs=() dir name
  for dir in fuzz/corpus/*/; do
    name=$(basename "$dir")
    if [ -x "$build/fuzz/$name" ]; then programs+=("$name"); fi
  done
  if [ ${#programs[@]} -eq 0 ]; then
    echo "fuzz: no fuzz programs in $build/fuzz"
    return 1
  fi
  echo "== Fuzzing: ${#programs[@]} programs, ${seconds}s each, two at a time"
  local failures=0 i
  for ((i = 0; i < ${#programs[@]}; i += 2)); do
    local pids=()
    bri_fuzz_one "$build" "${programs[i]}" "$seconds" &
    pids+=($!)
    if [ $((i + 1)) -lt ${#programs[@]} ]; then
      bri_fuzz_one "$build" "${programs[i + 1]}" "$seconds" &
      pids+=($!)
    fi
    local pid
    for pid in "${pids[@]}"; do
      wait "$pid" || failures=$((failures + 1))
    done
  done
  if [ $failures -ne 0 ]; then
    echo "fuzz: $failures of ${#programs[@]} programs failed"
    return 1
  fi
  echo "fuzz: all ${#programs[@]} programs ran without findings"
}
