#!/usr/bin/env bash
# Installs what is missing, builds everything and runs all tests: the plain build, then the
# AddressSanitizer and UndefinedBehaviorSanitizer builds (OASET_SANITIZERS=0 skips those).
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
