#!/usr/bin/env bash
# Installs what is missing, builds everything and runs all tests: the plain build, then the
# AddressSanitizer and UndefinedBehaviorSanitizer builds (OASET_SANITIZERS=0 skips those), then
# every end-to-end test with oaset under Valgrind (OASET_VALGRIND=0 skips it) and every fuzz
# target for OASET_FUZZ_SECONDS each (default 15; 0 skips them).
# Each stage is stamped with its duration; the last line sums up every stage: "N passed, N failed".
set -euo pipefail
top=$(cd "$(dirname "$0")" && pwd)
source "$top/scripts/stages.sh"

stage "install dependencies" "$top/scripts/install-deps.sh" || true

# The build folder of a type, once its build stage has passed.
BuildAndTest() {
  local type=$1 dir="$top/build/$1"
  if stage "build $type" "$top/scripts/build.sh" "$type"; then
    stage "tests $type" bash -c 'cd "$1" && ctest --output-on-failure -j "$(nproc)" --timeout 300' \
      _ "$dir" || true
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

stage "AgentX soak, 20 rounds" "$top/scripts/agentx-soak.sh" 20 "$top/build/RelWithDebInfo" || true

fuzz_seconds=${OASET_FUZZ_SECONDS:-15}
if [ "$fuzz_seconds" = 0 ]; then
  stage_skip "fuzz" "OASET_FUZZ_SECONDS=0"
else
  stage "fuzz, $fuzz_seconds s per target" "$top/scripts/fuzz.sh" "$fuzz_seconds" || true
fi

stage_summary
