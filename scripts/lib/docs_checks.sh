#!/usr/bin/env bash
# Checks of what users get beside the programs: the man pages render without a warning, the Debian
# package installs and its programs run, its dependencies cover what the programs link, and the
# Windows zip holds programs that need no DLL beyond the system's.
#   scripts/lib/docs_checks.sh LINUX_BUILD_DIR [MINGW_BUILD_DIR]
# Packages are made with cpack in the given build folders (their packages/ subfolder).
set -euo pipefail
cd "$(dirname "$0")/../.."

build=$1
mingw_build=${2:-}
failures=0
fail() { echo "docs checks FAIL: $*"; failures=$((failures + 1)); }
ok() { echo "docs checks ok:   $*"; }

work=$(mktemp -d /tmp/bri-docs-checks.XXXXXX)
trap 'rm -rf "$work"' EXIT

# Man pages: groff's own warnings (all of them), and what man-db says when it renders the page.
for page in docs/lapmon.1 docs/linestat.1 docs/brisim.1; do
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
for f in usr/bin/lapmon usr/bin/linestat usr/bin/brisim usr/share/man/man1/lapmon.1.gz \
         usr/share/man/man1/linestat.1.gz usr/share/man/man1/brisim.1.gz \
         usr/share/bri-tools/scenarios/default.json usr/share/bri-tools/registry-example.reg; do
  [ -e "$work/root/$f" ] || fail "the package lacks /$f"
done
for page in lapmon linestat brisim; do
  zcat "$work/root/usr/share/man/man1/$page.1.gz" | cmp -s - "docs/$page.1" \
    || fail "the package's $page.1.gz is not docs/$page.1"
done

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

# The Windows zip: both programs, importing nothing beyond the system's DLLs.
if [ -n "$mingw_build" ]; then
  rm -rf "$mingw_build/packages"
  (cd "$mingw_build" && cpack -G ZIP >"$work/cpack-zip.log" 2>&1) || { cat "$work/cpack-zip.log"; exit 1; }
  zip=$(readlink -f "$(ls "$mingw_build"/packages/*.zip)")
  mkdir -p "$work/zip"
  (cd "$work/zip" && unzip -q "$zip")
  for exe in lapmon.exe linestat.exe; do
    found=$(find "$work/zip" -name "$exe" | head -1 || true)
    if [ -z "$found" ]; then fail "the zip lacks $exe"; continue; fi
    dlls=$(x86_64-w64-mingw32-objdump -p "$found" | awk '/DLL Name:/ {print tolower($3)}' | sort -u)
    for dll in $dlls; do
      case $dll in
        kernel32.dll|advapi32.dll|msvcrt.dll|user32.dll|ws2_32.dll|ntdll.dll|ucrtbase.dll|api-ms-win-*) ;;
        *) fail "$exe in the zip needs $dll, which a bare Windows does not have" ;;
      esac
    done
  done
  ok "Windows zip $(basename "$zip")"
fi

if [ "$failures" -ne 0 ]; then
  echo "docs checks: $failures failed"
  exit 1
fi
echo "docs checks: all passed"
