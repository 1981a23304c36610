# Installs the Debian packages the build, the simulator and the tests need, when missing.
# This is the one list: scripts/test, scripts/demo and CI all install from it.
bri_packages=(cmake ninja-build g++ python3 libgtest-dev libgmock-dev libbenchmark-dev
              nlohmann-json3-dev libcli11-dev libpcap-dev pkg-config
              tshark                       # the peer decoder of the capture cross-check
              time                         # peak memory in scripts/bench-vs-tshark
              clang-14 libfuzzer-14-dev libclang-rt-14-dev   # sanitizer builds and fuzz programs
              g++-mingw-w64-x86-64-posix   # the Windows build of the tools
              mingw-w64-x86-64-dev         # its driver headers (ddk/), for the relay driver
              groff-base man-db            # man page checks (groff -ww -z, man -l)
              dpkg-dev file zip            # cpack: the .deb (dpkg-shlibdeps) and the Windows zip
              clang-14 libclang-rt-14-dev  # the asan, tsan and fuzz presets (sanitizers, libFuzzer)
              wine wine64)                 # runs the Windows build: smoke test, end-to-end suite

bri_install_deps() {
  local missing=()
  for p in "${bri_packages[@]}" "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update -qq
    # tshark's setup asks whether non-root users may capture: answer no, without a dialogue.
    echo "wireshark-common wireshark-common/install-setuid boolean false" | $sudo debconf-set-selections
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
  fi
}
