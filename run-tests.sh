#!/usr/bin/env bash
# Installs what is missing, builds everything and runs all tests: the plain build, then the
# AddressSanitizer and UndefinedBehaviorSanitizer builds (OASET_SANITIZERS=0 skips those), then
# every end-to-end test with oaset under Valgrind (OASET_VALGRIND=0 skips it), the Debian package
# installed and purged (as root; OASET_PACKAGE=0 skips it), the Windows build's tests under Wine
# (OASET_WINE=0 skips them) and every fuzz target for OASET_FUZZ_SECONDS each
# (default 15; 0 skips them).
# Each stage is stamped with its duration; the last line sums up every stage: "N passed, N failed".
set -euo pipefail
top=$(cd "$(dirname "$0")" && pwd)
source "$top/scripts/stages.sh"

stage "install dependencies" "$top/scripts/install-deps.sh" || true

# The tests run with a TMPDIR of their own and must leave it empty, and the source tree as it was:
# a test writes only inside the temporary folder that it makes (and removes).
LeftBehind() {
  local tmp=$1 before=$2
  if [ -n "$(ls -A "$tmp")" ]; then
    echo "left behind in TMPDIR:" && ls -lA "$tmp"
    return 1
  fi
  if [ "$(git -C "$top" status --porcelain 2>/dev/null)" != "$before" ]; then
    echo "the tests changed the source tree:" && git -C "$top" status --short
    return 1
  fi
}

BuildAndTest() {
  local type=$1 dir="$top/build/$1" tmp before
  if stage "build $type" "$top/scripts/build.sh" "$type"; then
    tmp=$(mktemp -d "${TMPDIR:-/tmp}/oaset-tests.XXXXXX")
    # Open to others as /tmp is: a test connects as another user through a folder in it.
    chmod 755 "$tmp"
    before=$(git -C "$top" status --porcelain 2>/dev/null || true)
    stage "tests $type" bash -c 'cd "$1" && TMPDIR="$2" ctest --output-on-failure -j "$(nproc)" \
      --timeout 300' _ "$dir" "$tmp" || true
    stage "tests $type wrote only in their own folders" LeftBehind "$tmp" "$before" || true
    rm -rf "$tmp"
  else
    stage_skip "tests $type" "the build failed"
  fi
}

types=(RelWithDebInfo)
[ "${OASET_SANITIZERS:-1}" = 0 ] || types+=(Asan Ubsan)
for type in "${types[@]}"; do
  BuildAndTest "$type"
done

if [ "${OASET_VALGRIND:-1}" = 0 ]; then
  stage_skip "end-to-end under valgrind" "OASET_VALGRIND=0"
else
  stage "end-to-end under valgrind" "$top/scripts/valgrind-e2e.sh" "$top/build/RelWithDebInfo" ||
    true
fi

# The Debian package linted, installed, used by a group member and a non-member, upgraded, joined
# to the system's snmpd, removed and purged on this machine (OASET_PACKAGE=0 skips it); it makes
# users and installs, so only as root.
if [ "${OASET_PACKAGE:-1}" = 0 ]; then
  stage_skip "Debian package" "OASET_PACKAGE=0"
elif [ "$(id -u)" -ne 0 ]; then
  stage_skip "Debian package" "needs root"
else
  tmp=$(mktemp -d "${TMPDIR:-/tmp}/oaset-tests.XXXXXX")
  before=$(git -C "$top" status --porcelain 2>/dev/null || true)
  stage "Debian package" env TMPDIR="$tmp" "$top/scripts/package-tests.sh" \
    "$top/build/RelWithDebInfo" || true
  stage "Debian package tests wrote only in their own folders" LeftBehind "$tmp" "$before" || true
  rm -rf "$tmp"
fi

# The Windows build's unit tests and the whole end-to-end suite with oaset.exe, under Wine.
if [ "${OASET_WINE:-1}" = 0 ]; then
  stage_skip "Windows build under Wine" "OASET_WINE=0"
else
  tmp=$(mktemp -d "${TMPDIR:-/tmp}/oaset-tests.XXXXXX")
  chmod 755 "$tmp"
  before=$(git -C "$top" status --porcelain 2>/dev/null || true)
  stage "Windows build under Wine" env TMPDIR="$tmp" "$top/scripts/wine-tests.sh" \
    "$top/build/RelWithDebInfo" || true
  stage "Windows tests wrote only in their own folders" LeftBehind "$tmp" "$before" || true
  rm -rf "$tmp"
fi

stage "AgentX soak, 20 rounds" "$top/scripts/agentx-soak.sh" 20 "$top/build/RelWithDebInfo" || true

fuzz_seconds=${OASET_FUZZ_SECONDS:-15}
if [ "$fuzz_seconds" = 0 ]; then
  stage_skip "fuzz" "OASET_FUZZ_SECONDS=0"
else
  stage "fuzz, $fuzz_seconds s per target" "$top/scripts/fuzz.sh" "$fuzz_seconds" || true
fi

stage_summary
