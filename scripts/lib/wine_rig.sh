# SPDX-License-Identifier: BSD-2-Clause
# The Wine rig: the Windows programs against brisim.exe through the relay driver brirelay.sys,
# in Wine prefixes of their own under the build folder.
#
#   bri_wine_rig_up BUILD_DIR RIG_DIR N   makes N fresh prefixes RIG_DIR/prefix1..N, installs the
#                                         relay services (TESSIX0, Quorlink) and keeps a wineserver
#                                         running in each
#   bri_wine_rig_down RIG_DIR             ends every wineserver of the rig
#   bri_wine_e2e BUILD_DIR                the whole end-to-end suite under Wine (up, run, down)
#   bri_wine_stop_all BUILD_DIR           ends every wineserver that the rig or the smoke test
#                                         started under BUILD_DIR (for an exit trap)
#   bri_wine_e2e_under_load BUILD_DIR [N] bri_wine_e2e N times in a row (default 5) with
#                                         stress-ng --cpu 2 running beside it: a check by hand
#                                         that the rig's waits hold on a loaded machine
#
# Wine's output always goes to files: background Wine processes would hold a pipe open.

bri_wine_env() {
  export WINEPREFIX=$1
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml="   # no Mono or Gecko installer during wineboot
  unset DISPLAY WAYLAND_DISPLAY
}

# The devices the rig installs a relay service for; a Sim installs others when it needs them.
bri_wine_devices=(TESSIX0 Quorlink)

bri_wine_prefix_up() {
  local build=$1 prefix=$2 log=$2.log
  # A wineserver of an earlier run goes first: once its folder is gone nothing could reach it.
  if [ -d "$prefix" ]; then (bri_wine_env "$prefix"; wineserver -k >/dev/null 2>&1 || true); fi
  rm -rf "$prefix"
  (
    bri_wine_env "$prefix"
    timeout 300 wineboot -i >"$log" 2>&1 || { echo "wine rig: wineboot failed (see $log)"; exit 1; }
    # Wine ends its prefix's services a few seconds after the last program: wait for that, then
    # keep a wineserver that stays, so that the relay driver stays loaded between programs.
    wineserver -w >>"$log" 2>&1
    wineserver -p >>"$log" 2>&1
    cp "$build/sim/relay/brirelay.sys" "$prefix/drive_c/windows/system32/drivers/brirelay.sys"
    local reg="$prefix/bri-rig.reg" device service
    {
      printf 'REGEDIT4\r\n\r\n'
      # The tools see Windows NT 4.0 build 1381, the version the end-to-end tests expect.
      for program in lapmon.exe linestat.exe; do
        printf '[HKEY_CURRENT_USER\\Software\\Wine\\AppDefaults\\%s]\r\n"Version"="nt40"\r\n\r\n' "$program"
      done
    } >"$reg"
    : >"$prefix/bri-state-devices"
    for device in "${bri_wine_devices[@]}"; do
      service="BriRelay_$device"
      timeout 60 wine sc create "$service" type= kernel start= demand error= normal \
        binPath= 'C:\windows\system32\drivers\brirelay.sys' >>"$log" 2>&1 \
        || { echo "wine rig: cannot create the service $service (see $log)"; exit 1; }
      printf '[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\%s\\Parameters]\r\n"DeviceName"="%s"\r\n\r\n' \
        "$service" "$device" >>"$reg"
      printf '\n%s' "$device" >>"$prefix/bri-state-devices"
    done
    timeout 60 wine regedit /S "Z:${reg//\//\\}" >>"$log" 2>&1 \
      || { echo "wine rig: cannot import $reg (see $log)"; exit 1; }
  )
}

bri_wine_rig_up() {
  local build=$1 rig=$2 n=${3:-1} i pids=() failed=0
  mkdir -p "$rig"
  rig=$(cd "$rig" && pwd)   # Wine wants absolute prefix paths
  for ((i = 1; i <= n; i++)); do
    bri_wine_prefix_up "$build" "$rig/prefix$i" &
    pids+=($!)
  done
  for i in "${pids[@]}"; do wait "$i" || failed=1; done
  return $failed
}

bri_wine_rig_down() {
  local rig=$1 prefix
  [ -d "$rig" ] || return 0
  rig=$(cd "$rig" && pwd)   # wineserver finds its prefix by absolute path only
  for prefix in "$rig"/prefix*/; do
    [ -d "$prefix" ] || continue
    (bri_wine_env "${prefix%/}"; wineserver -k >/dev/null 2>&1 || true)
  done
}

bri_wine_e2e() {
  local build rig jobs=${BRI_WINE_JOBS:-2} status=0 i prefixes=()
  build=$(cd "$1" && pwd)
  rig="$build/wine-rig"
  for exe in src/trace/lapmon.exe src/status/linestat.exe src/check_bri/check_bri.exe src/bricap/bricap.exe \
             sim/brisim.exe sim/relay/brirelay.sys; do
    [ -f "$build/$exe" ] || { echo "wine e2e: $build/$exe was not built"; return 1; }
  done
  echo "wine e2e: making $jobs prefixes under $rig"
  bri_wine_rig_up "$build" "$rig" "$jobs" || { bri_wine_rig_down "$rig"; return 1; }
  for ((i = 1; i <= jobs; i++)); do prefixes+=(--prefix "$rig/prefix$i"); done
  BRI_WRAP=wine WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY= \
    BRI_LAPMON="$build/src/trace/lapmon.exe" BRI_LINESTAT="$build/src/status/linestat.exe" \
    BRI_CHECK_BRI="$build/src/check_bri/check_bri.exe" BRI_BRICAP="$build/src/bricap/bricap.exe" \
    BRI_BRISIM="$build/sim/brisim.exe" BRI_RELAY_PROBE="$build/sim/relay/relay_probe.exe" \
    python3 tests/e2e/runner.py --out "$rig/results" "${prefixes[@]}" || status=1
  bri_wine_rig_down "$rig"
  return $status
}

bri_wine_e2e_under_load() {
  local build=$1 runs=${2:-5} run started stress status=0
  command -v stress-ng >/dev/null || { echo "wine e2e under load: stress-ng is not installed"; return 1; }
  stress-ng --cpu 2 --quiet &
  stress=$!
  for ((run = 1; run <= runs; run++)); do
    echo "wine e2e under load: run $run of $runs"
    started=$SECONDS
    if ! bri_wine_e2e "$build"; then
      echo "wine e2e under load: run $run failed after $((SECONDS - started)) s"
      status=1
      break
    fi
    echo "wine e2e under load: run $run passed in $((SECONDS - started)) s"
  done
  kill "$stress" 2>/dev/null || true
  wait "$stress" 2>/dev/null || true
  [ $status -ne 0 ] || echo "wine e2e under load: $runs runs passed in a row"
  return $status
}

bri_wine_stop_all() {
  local build=$1
  [ -d "$build" ] || return 0
  bri_wine_rig_down "$build/wine-rig"
  if [ -d "$build/wine-smoke/prefix" ]; then
    (bri_wine_env "$(cd "$build/wine-smoke/prefix" && pwd)"; wineserver -k >/dev/null 2>&1 || true)
  fi
}
