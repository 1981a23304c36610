# SPDX-License-Identifier: BSD-2-Clause
# Smoke test of the Windows build under Wine: usage screens, exit statuses and the message for a
# missing driver. Wine's output goes to files in the build folder, never through a pipe.
#   bri_wine_smoke BUILD_DIR    (BUILD_DIR holds src/trace/lapmon.exe and src/status/linestat.exe)

bri_wine_smoke() {
  local build=$1
  local out
  out="$(cd "$build" && pwd)/wine-smoke"   # Wine wants an absolute prefix path
  rm -rf "$out"
  mkdir -p "$out"
  export WINEPREFIX="$out/prefix"
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml="   # no Mono or Gecko installer during wineboot
  unset DISPLAY

  if ! timeout 300 wineboot -i >"$out/wineboot.log" 2>&1; then
    echo "wine smoke: wineboot failed (see $out/wineboot.log)"
    return 1
  fi

  local failures=0 n=0
  # check NAME EXPECTED_STATUS EXPECTED_TEXT PROGRAM ARGS...
  check() {
    local name=$1 want_status=$2 want_text=$3
    shift 3
    n=$((n + 1))
    local status=0
    timeout 120 wine "$@" <"$out/empty.in" >"$out/$n.out" 2>"$out/$n.err" || status=$?
    local text
    text=$(<"$out/$n.out")
    if [ "$status" -ne "$want_status" ]; then
      echo "wine smoke FAIL: $name: exit status $status, wanted $want_status (output in $out/$n.out)"
      failures=$((failures + 1))
    elif [[ "$text" != *"$want_text"* ]]; then
      echo "wine smoke FAIL: $name: expected text missing (output in $out/$n.out)"
      failures=$((failures + 1))
    else
      echo "wine smoke ok:   $name"
    fi
  }
  : >"$out/empty.in"

  local lapmon="$build/src/trace/lapmon.exe" linestat="$build/src/status/linestat.exe"
  local lapmon_usage=$'Usage - trace -a -p -l2 -l3 -raw -?\n-a   - trace all lines\n-p   - show decode for all ISDN Protocols\n-l2  - show decode for ISDN Layer 2 (Q.921) Protocol\n-l3  - show decode for ISDN Layer 3 (Q.931) Protocol\n-raw - show raw hex dump of all ISDN Protocols\n-?   - show this screen'
  local linestat_usage=$'\nUsage: linestat       (default)\n       linestat -v    (default verbose)\n       linestat -a    (dump of all areas)\n       linestat -ax   (x is any valid area: 1, 2, 3, 10, 11, 12, 21, 22)\n       linestat -h    (print this screen)'
  local no_driver="Tessix.sys is not installed!"

  check "lapmon without arguments shows the usage, status 1" 1 "$lapmon_usage" "$lapmon"
  check "lapmon -? shows the usage, status 0" 0 "$lapmon_usage" "$lapmon" "-?"
  check "lapmon -a without a driver, status 1" 1 "$no_driver" "$lapmon" -a
  check "linestat -h shows the usage, status 0" 0 "$linestat_usage" "$linestat" -h
  check "linestat without a driver, status 1" 1 "$no_driver" "$linestat"

  wineserver -k >/dev/null 2>&1 || true
  unset -f check
  if [ "$failures" -ne 0 ]; then
    echo "wine smoke: $failures of $n checks failed"
    return 1
  fi
  echo "wine smoke: all $n checks passed"
}
