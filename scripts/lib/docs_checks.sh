#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-2-Clause
# Checks of what users get beside the programs: the man pages render without a warning, the Debian
# package passes lintian (no error; the warnings it may give are listed below), installs, and its
# programs run, carry the hardening flags and have their dependencies declared; each Windows zip
# holds the programs, needing no DLL beyond the system's, with README.txt, LICENSE.txt and the
# manual pages as text in CRLF, and no registry file.
#   scripts/lib/docs_checks.sh LINUX_BUILD_DIR [MINGW_BUILD_DIR ...]
# Packages are made with cpack in the given build folders (their packages/ subfolder); the
# programs to find in them are those cmake/Install.cmake lists (BUILD_DIR/shipped-programs.txt).
set -euo pipefail
cd "$(dirname "$0")/../.."

build=$1
shift
mingw_builds=("$@")
failures=0
fail() { echo "docs checks FAIL: $*"; failures=$((failures + 1)); }
ok() { echo "docs checks ok:   $*"; }

work=$(mktemp -d /tmp/bri-docs-checks.XXXXXX)
trap 'rm -rf "$work"' EXIT

# Man pages: groff's own warnings (all of them), and what man-db says when it renders the page.
for page in docs/*.1; do
  warnings=$(groff -ww -z -man "$page" 2>&1 || echo "groff failed")
  if [ -z "$warnings" ]; then
    warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null || echo "man failed")
  fi
  if [ -n "$warnings" ]; then fail "$page: $warnings"; else ok "$page renders clean"; fi
done

# The Debian package, unpacked into a temporary root.
rm -rf "$build/packages"
(cd "$build" && cpack -G DEB >"$work/cpack-deb.log" 2>&1) || { cat "$work/cpack-deb.log"; exit 1; }
deb=$(ls "$build"/packages/*.deb)
dpkg -x "$deb" "$work/root"
bin="$work/root/usr/bin"
mapfile -t programs <"$build/shipped-programs.txt"
for program in lapmon linestat brisim; do
  [[ " ${programs[*]} " == *" $program "* ]] || fail "$build/shipped-programs.txt lacks $program"
done
doc=usr/share/doc/bri-tools
for f in usr/share/bri-tools/scenarios/default.json usr/share/bri-tools/registry-example.reg \
         $doc/copyright $doc/changelog.Debian.gz $doc/README $doc/SCENARIOS.md; do
  [ -e "$work/root/$f" ] || fail "the package lacks /$f"
done
for program in "${programs[@]}"; do
  [ -x "$bin/$program" ] || fail "the package lacks /usr/bin/$program"
  zcat "$work/root/usr/share/man/man1/$program.1.gz" 2>/dev/null | cmp -s - "docs/$program.1" \
    || fail "the package's $program.1.gz is not docs/$program.1"
  # Debian's hardening: read-only relocations bound at start (relro, bindnow); lintian below
  # looks at the fortified functions and the rest.
  headers=$(readelf -lWd "$bin/$program")
  [[ "$headers" == *GNU_RELRO* ]] || fail "$program is built without relro"
  [[ "$headers" == *BIND_NOW* || "$headers" == *"FLAGS_1"*"NOW"* ]] || fail "$program is built without bindnow"
done
# The README for users of the package names no file of the source tree.
if grep -nE '(^|[^/])(docs|sim|scripts|tests|src)/' "$work/root/$doc/README"; then
  fail "/$doc/README points into the source tree"
fi
zcat "$work/root/$doc/changelog.Debian.gz" | head -1 | grep -q "^bri-tools ($(dpkg-deb -f "$deb" Version)) " \
  || fail "changelog.Debian.gz does not start with the package's version"

# lintian: no error, and no hardening tag at any level. The warnings this package is known to
# give, and why they stay, are listed here; any other warning is printed (and should be looked
# at) but does not fail the check. (Informational tags it gives: binary-has-unneeded-section
# .comment, as cpack strips less than dh_strip; spelling-error-in-binary for two messages of
# lapmon that keep their historical spelling.)
lintian_accepted=(
  # The changelog's first entry closes no "intent to package" bug: the package is not uploaded
  # to Debian's archive, so there is none to close.
  ": initial-upload-closes-no-bugs "
)
lintian_status=0
lintian --fail-on error --display-level '>=info' "$deb" >"$work/lintian.out" 2>&1 || lintian_status=$?
grep -v "running with root privileges" "$work/lintian.out" >"$work/lintian.log" || true
if [ "$lintian_status" -ne 0 ]; then
  fail "lintian reports errors (status $lintian_status): $(grep '^E:' "$work/lintian.log")"
else
  ok "lintian: no errors"
fi
if grep -q ': hardening-' "$work/lintian.log"; then
  fail "lintian: the programs lack hardening: $(grep ': hardening-' "$work/lintian.log")"
fi
other=$(grep '^W:' "$work/lintian.log" | grep -v -F -f <(printf '%s\n' "${lintian_accepted[@]}") || true)
if [ -n "$other" ]; then
  echo "docs checks note: lintian warns: $other"
fi

status=0
out=$(BRI_DEVICE_DIR="$work/no-device" "$bin/lapmon" '-?' </dev/null) || status=$?
if [ "$status" -eq 0 ] && [[ "$out" == *"Usage - trace -a -p -l2 -l3 -raw -?"* ]]; then
  ok "installed lapmon -? shows the usage"
else
  fail "installed lapmon -?: status $status, output: $out"
fi
status=0
out=$(BRI_DEVICE_DIR="$work/no-device" "$bin/linestat" -h </dev/null) || status=$?
if [ "$status" -eq 0 ] && [[ "$out" == *"Usage: linestat       (default)"* ]]; then
  ok "installed linestat -h shows the usage"
else
  fail "installed linestat -h: status $status, output: $out"
fi
"$bin/brisim" --print-default-scenario >"$work/default.json" \
  && cmp -s "$work/default.json" "$work/root/usr/share/bri-tools/scenarios/default.json" \
  || fail "installed brisim's built-in scenario differs from the installed default.json"

# Every option brisim's help lists is in its man page (written there as \-\-name).
for option in $("$bin/brisim" --help | grep -o -- '--[a-z][a-z-]*' | sort -u); do
  grep -qF -- "${option//-/\\-}" docs/brisim.1 || fail "docs/brisim.1 does not describe $option"
done

# Every option lapdecode's usage lists is in its man page (written there as \-name).
while read -r option; do
  grep -qF -- "${option//-/\\-}" docs/lapdecode.1 || fail "docs/lapdecode.1 does not describe $option"
done < <("$bin/lapdecode" -h | grep -o -- '-[a-z0-9?]\+' | sort -u)

# Every option bricap's usage lists, short and long, is in its man page; its link in Wireshark's
# extcap folder leads to it.
while read -r option; do
  grep -qF -- "${option//-/\\-}" docs/bricap.1 || fail "docs/bricap.1 does not describe $option"
done < <("$bin/bricap" -h | grep -oE -- '(^| )--?[a-zA-Z?][a-z-]*' | tr -d ' ' | sort -u)
[ "$(readlink "$work/root/usr/lib/x86_64-linux-gnu/wireshark/extcap/bricap")" = ../../../../bin/bricap ] \
  || fail "the package's extcap link does not lead to /usr/bin/bricap"

# Every shared library the programs need comes from a package the .deb depends on.
depends=$(dpkg-deb -f "$deb" Depends)
depends_names=" $(echo "$depends" | tr ',|' '\n\n' | awk '{print $1}' | tr '\n' ' ')"
for program in "$bin"/*; do
  for soname in $(objdump -p "$program" | awk '/NEEDED/ {print $2}'); do
    path=$(ldconfig -p | awk -v s="$soname" '$1 == s && !found {print $NF; found = 1}')
    owner=""
    for candidate in "$path" "$(readlink -f "${path:-/nonexistent}")"; do
      [ -n "$owner" ] || owner=$(dpkg -S "$candidate" 2>/dev/null | head -1 | cut -d: -f1 || true)
    done
    if [ -z "$owner" ]; then
      fail "$(basename "$program") needs $soname, which no installed package provides"
    elif [[ "$depends_names" != *" $owner "* ]]; then
      fail "$(basename "$program") needs $soname from $owner, missing from Depends: $depends"
    fi
  done
done
ok "package dependencies: $depends"

# The Windows zips: the programs, importing nothing beyond the system's DLLs, the texts for
# Windows users in CRLF, no registry file (double-clicked, it would merge into the real registry).
for mingw_build in "${mingw_builds[@]}"; do
  rm -rf "$mingw_build/packages"
  (cd "$mingw_build" && cpack -G ZIP >"$work/cpack-zip.log" 2>&1) || { cat "$work/cpack-zip.log"; exit 1; }
  zip=$(readlink -f "$(ls "$mingw_build"/packages/*.zip)")
  unpacked="$work/zip-$(basename "$zip" .zip)"
  mkdir -p "$unpacked"
  (cd "$unpacked" && unzip -q "$zip")
  top=$(find "$unpacked" -mindepth 1 -maxdepth 1 -type d | head -1)
  [ -n "$top" ] || { fail "$(basename "$zip") has no top folder"; continue; }
  case $(basename "$zip") in
    *-win64.zip) want_format=pei-x86-64 ;;
    *-win32.zip) want_format=pei-i386 ;;
    *) want_format=unknown; fail "$(basename "$zip"): neither -win64 nor -win32" ;;
  esac
  mapfile -t tools <"$mingw_build/shipped-programs.txt"
  for tool in lapmon linestat; do
    [[ " ${tools[*]} " == *" $tool "* ]] || fail "$mingw_build/shipped-programs.txt lacks $tool"
  done
  for tool in "${tools[@]}"; do
    exe="$top/$tool.exe"
    if [ ! -f "$exe" ]; then fail "$(basename "$zip") lacks $tool.exe"; continue; fi
    headers=$(x86_64-w64-mingw32-objdump -p "$exe")
    [[ "$headers" == *"file format $want_format"* ]] || fail "$tool.exe in $(basename "$zip") is not $want_format"
    dlls=$(awk '/DLL Name:/ {print tolower($3)}' <<<"$headers" | sort -u)
    for dll in $dlls; do
      case $dll in
        kernel32.dll|advapi32.dll|msvcrt.dll|user32.dll|ws2_32.dll|ntdll.dll|ucrtbase.dll|api-ms-win-*) ;;
        *) fail "$tool.exe in $(basename "$zip") needs $dll, which a bare Windows does not have" ;;
      esac
    done
  done
  texts=("$top/README.txt" "$top/LICENSE.txt")
  for tool in "${tools[@]}"; do texts+=("$top/$tool.txt"); done
  for text in "${texts[@]}"; do
    if [ ! -s "$text" ]; then
      fail "$(basename "$zip") lacks $(basename "$text")"
    elif grep -q $'[^\r]$' "$text" || grep -q '^$' "$text"; then
      fail "$(basename "$text") in $(basename "$zip") has lines without CRLF"
    fi
  done
  grep -q "trace and decode the D-channel frames" "$top/lapmon.txt" 2>/dev/null \
    || fail "lapmon.txt in $(basename "$zip") is not the manual page"
  registry_files=$(cd "$unpacked" && find . -iname '*.reg')
  [ -z "$registry_files" ] || fail "$(basename "$zip") holds a registry file: $registry_files"
  ok "Windows zip $(basename "$zip")"
done

if [ "$failures" -ne 0 ]; then
  echo "docs checks: $failures failed"
  exit 1
fi
echo "docs checks: all passed"
