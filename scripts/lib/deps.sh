# SPDX-License-Identifier: BSD-2-Clause
# Installs the Debian packages the build, the simulator and the tests need, when missing.
# This is the one list: scripts/test, scripts/package, scripts/demo and CI all install from it.
#   bri_install_deps        everything scripts/test and scripts/package need
#   bri_install_demo_deps   only what scripts/demo and the README's tour need
#   bri_use_ccache          compiles of the builds configured after it go through ccache

# The tools and brisim (Release build without the tests), and text2pcap for the tour's capture.
bri_demo_packages=(cmake ninja-build g++ pkg-config
                   nlohmann-json3-dev libcli11-dev libpcap-dev   # brisim
                   wireshark-common)            # text2pcap, for the capture of the README's tour
bri_packages=("${bri_demo_packages[@]}"
              python3 libgtest-dev libgmock-dev libbenchmark-dev
              ccache                       # the package builds reuse the test builds' compiles
              tshark                       # the peer decoder of the capture cross-check
              chromium                     # renders lapdecode's HTML call page in its test
              time                         # peak memory in scripts/bench-vs-tshark
              prometheus                   # promtool, the check of check_bri's metrics files
              prometheus-node-exporter     # its textfile collector serves them in the tests
              nagios4-core                 # a Nagios 4 core runs check_bri as a service check
              clang-14 libfuzzer-14-dev libclang-rt-14-dev   # sanitizer builds and fuzz programs
              g++-mingw-w64-x86-64-posix   # the 64-bit Windows build of the tools
              mingw-w64-x86-64-dev         # its driver headers (ddk/), for the relay driver
              g++-mingw-w64-i686-posix mingw-w64-i686-dev    # the 32-bit Windows build of the tools
              groff-base man-db            # man page checks (groff -ww -z, man -l), manuals in the zips
              dpkg-dev file zip            # cpack: the .deb (dpkg-shlibdeps, dpkg-buildflags), the zips
              lintian                      # the check of the Debian package
              wine wine64                  # runs the Windows build: smoke test, end-to-end suite
              stress-ng)                   # load beside the Wine suite (bri_wine_e2e_under_load)
# Wine's 32-bit side (wine32, from the i386 architecture), for the smoke test of the 32-bit
# programs, is installed only with BRI_WINE32=1: on a kernel without 32-bit support it cannot run,
# and with it installed Debian's `wine` starts the 32-bit loader first, which would then fail for
# the 64-bit programs too.

bri_install_packages() {
  local missing=()
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  if [ ${#missing[@]} -gt 0 ]; then
    $sudo apt-get update -qq
    # tshark's setup asks whether non-root users may capture: answer no, without a dialogue.
    echo "wireshark-common wireshark-common/install-setuid boolean false" | $sudo debconf-set-selections
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
  fi
}

bri_install_deps() {
  bri_install_packages "${bri_packages[@]}" "$@"
  if [ "${BRI_WINE32:-0}" = 1 ] && ! dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q 'install ok installed'; then
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo dpkg --add-architecture i386
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq wine32:i386 >/dev/null
  fi
}

bri_install_demo_deps() {
  bri_install_packages "${bri_demo_packages[@]}" "$@"
}

# Every build folder configured from here on compiles through ccache, when it is installed and the
# caller has not chosen a launcher of their own: scripts/package then builds what scripts/test has
# compiled already (the same sources with the same flags) from the cache. A folder configured
# before keeps the launcher it was configured with.
bri_use_ccache() {
  command -v ccache >/dev/null || return 0
  export CMAKE_C_COMPILER_LAUNCHER=${CMAKE_C_COMPILER_LAUNCHER:-ccache}
  export CMAKE_CXX_COMPILER_LAUNCHER=${CMAKE_CXX_COMPILER_LAUNCHER:-ccache}
  # Paths inside the clone are hashed relative to it, so that another clone's build (CI makes a
  # fresh one each run) finds the same objects.
  export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$PWD}
  export CCACHE_NOHASHDIR=${CCACHE_NOHASHDIR:-1}
}
