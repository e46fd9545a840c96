#!/usr/bin/env bash
# Installs what is missing, builds everything and runs all tests: the plain build, then the
# AddressSanitizer and UndefinedBehaviorSanitizer builds (OASET_SANITIZERS=0 skips those), then
# every end-to-end test with oaset under Valgrind (OASET_VALGRIND=0 skips it) and every fuzz
# target for OASET_FUZZ_SECONDS each (default 15; 0 skips them).
set -euo pipefail
top=$(cd "$(dirname "$0")" && pwd)
"$top/scripts/install-deps.sh"
types=(RelWithDebInfo)
[ "${OASET_SANITIZERS:-1}" = 0 ] || types+=(Asan Ubsan)
for type in "${types[@]}"; do
  echo "=== $type"
  dir=$("$top/scripts/build.sh" "$type")
  (cd "$dir" && ctest --output-on-failure -j "$(nproc)" --timeout 300)
done
if [ "${OASET_VALGRIND:-1}" != 0 ]; then
  echo "=== end-to-end under valgrind"
  "$top/scripts/valgrind-e2e.sh" "$top/build/RelWithDebInfo"
fi
fuzz_seconds=${OASET_FUZZ_SECONDS:-15}
if [ "$fuzz_seconds" != 0 ]; then
  echo "=== fuzz, $fuzz_seconds s per target"
  "$top/scripts/fuzz.sh" "$fuzz_seconds"
fi
