#!/usr/bin/env bash
# Builds the value fuzz targets with clang (libFuzzer, AddressSanitizer, UndefinedBehaviorSanitizer)
# into build/fuzz and runs each for a bounded time.
# Usage: scripts/fuzz-values.sh [SECONDS per target, default 30]
# New inputs land in build/fuzz/corpus/<target>, so the seeds under fuzz/values/corpus stay small;
# a failing input is kept as build/fuzz/artifacts/<target>-crash-... and the script exits nonzero.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-30}
dir="$top/build/fuzz"
targets=(parse_value_fuzzer print_var_bind_fuzzer)

cmake -S "$top" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DOASET_FUZZ=ON >"$dir.configure.log" 2>&1 ||
  { cat "$dir.configure.log" >&2; exit 1; }
cmake --build "$dir" --target "${targets[@]}" -j2 >"$dir.build.log" 2>&1 ||
  { tail -50 "$dir.build.log" >&2; exit 1; }

mkdir -p "$dir/artifacts"
for target in "${targets[@]}"; do
  work="$dir/corpus/$target"
  mkdir -p "$work"
  echo "== $target: $seconds s" >&2
  "$dir/bin/$target" -max_total_time="$seconds" -timeout=10 -max_len=8192 -print_final_stats=1 \
    -artifact_prefix="$dir/artifacts/$target-" "$work" "$top/fuzz/values/corpus/$target"
done
