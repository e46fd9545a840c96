#!/usr/bin/env bash
# Runs the Windows build's tests under Wine, in a private Wine prefix made and removed here: the
# Win32 unit tests (ctest, with Wine as the cross-compiling emulator), then the whole end-to-end
# suite with oaset.exe and its DLLs as users get them, from the zip that cpack -G ZIP makes and
# unpacked in a fresh folder, against the POSIX orvu-agentd over TCP loopback.
# Usage: scripts/wine-tests.sh [POSIX BUILD FOLDER, default build/RelWithDebInfo (built here)]
# Builds build/Win32 first. Prints ctest's summary line for each part; fails when either fails.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
source "$top/scripts/build_folder.sh"
posix=$(build_folder "$@")
command -v wine >/dev/null || { echo "wine-tests.sh: wine is not installed" >&2; exit 2; }
[ -x "$posix/bin/e2e_tests" ] || { echo "wine-tests.sh: no $posix/bin/e2e_tests" >&2; exit 2; }
win=$("$top/scripts/build.sh" Win32)

# Everything Wine makes (the prefix, the server's socket folder) and every test folder stays in
# one folder of the caller's TMPDIR, removed at the end.
work=$(mktemp -d "${TMPDIR:-/tmp}/oaset-wine.XXXXXX")
export TMPDIR="$work" WINEPREFIX="$work/prefix" WINEARCH=win32 WINEDEBUG=-all
# No menu entries or desktop files for the programs run, no debugger waiting on a crash (a
# crashing test must fail, not hang), and no offer to install Mono or Gecko while the prefix boots.
export WINEDLLOVERRIDES="winemenubuilder.exe=d;winedbg.exe=d;mscoree=d;mshtml=d"
Cleanup() {
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
  rm -rf "$work"
}
trap Cleanup EXIT

# Booted once, and the server kept up (-p) for the whole run: each program then starts in about a
# second instead of booting the prefix anew.
started=$(date +%s)
mkdir -m 700 "$WINEPREFIX"
wineserver -p
wineboot --init >/dev/null 2>&1
echo "wine-tests.sh: prefix ready in $(($(date +%s) - started)) s"

status=0
started=$(date +%s)
(cd "$win" && ctest --output-on-failure -j 2 --timeout 300) || status=1
echo "wine-tests.sh: unit tests under Wine in $(($(date +%s) - started)) s"

# The zip holds the tool, the three DLLs and the text on using them, in one folder of its name.
version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$win/CPackConfig.cmake")
zip="$work/package/oaset-$version-win32.zip"
unpacked="$work/unpacked/oaset-$version-win32"
if ! (cd "$work" && cpack -G ZIP --config "$win/CPackConfig.cmake" -B "$work/package") \
  >"$work/cpack.log" 2>&1 || [ ! -f "$zip" ]; then
  cat "$work/cpack.log"
  echo "wine-tests.sh: cpack -G ZIP made no $zip"
  exit 1
fi
mkdir -p "$work/unpacked"
(cd "$work/unpacked" && cmake -E tar xf "$zip")
for file in oaset.exe vnoagent.dll VnWsnmp.dll VNXMIB.dll README.txt; do
  [ -f "$unpacked/$file" ] || { echo "wine-tests.sh: $file is not in the zip" && exit 1; }
done
echo "wine-tests.sh: $(basename "$zip") unpacked: $(cd "$unpacked" && echo *)"
# A zip is unpacked anywhere: nothing in it may name the machine it was built on.
if grep -rlaF -e "$top" -e "$win" "$unpacked"; then
  echo "wine-tests.sh: the files above name the build machine's folders"
  status=1
fi
# The sample modules come with the zip and are found beside the MIB library, with no variable set.
loaded=$(cd "$work" && env -u ORVU_MIB_PATH ORVU_AGENT_ENDPOINT='Z:\nonexistent-oaset\endpoint' \
  wine "$unpacked/oaset.exe" -wVORNEL-VNBEEP-MIB 2>&1 | tr -d '\r')
if ! grep -q '^1: VORNEL-VNBEEP-MIB ... OK$' <<<"$loaded"; then
  echo "$loaded"
  echo "wine-tests.sh: the unpacked oaset.exe does not load the sample module by itself"
  status=1
fi
# Not shipped: the MIB library as older distributions have it, which one end-to-end test runs the
# tool with; it takes it from beside the programs under test, as on Linux.
cp -r "$win/bin/without-last-reason" "$unpacked/"

started=$(date +%s)
(cd "$posix" && OASET_E2E_WINDOWS_BIN="$unpacked" TZ=UTC \
  ctest --output-on-failure -j 2 --timeout 600 -L '^e2e$') || status=1
echo "wine-tests.sh: end-to-end suite with oaset.exe in $(($(date +%s) - started)) s"
exit "$status"
