#!/usr/bin/env bash
# Builds every libFuzzer target under fuzz/ with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer too) into build/fuzz, once, and runs each for a bounded time.
# Usage: scripts/fuzz.sh [SECONDS per target, default 20] [AREA ...]
#   AREA is a folder under fuzz/ (cli, oidtext, values ...); without one, every area runs.
# A target is any oaset_add_fuzzer(NAME ...) in fuzz/AREA/CMakeLists.txt; its seeds are
# fuzz/AREA/corpus/NAME (or fuzz/AREA/corpus when the area has one target), its dictionary
# fuzz/AREA/NAME.dict when there is one. New inputs land in build/fuzz/corpus/NAME, so the seeds
# stay small. A failing input is kept as build/fuzz/artifacts/NAME-crash-..., every target still
# runs, and the script exits nonzero. Each run's log is build/fuzz/logs/NAME.log.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-20}
shift || true
dir="$top/build/fuzz"

areas=("$@")
if [ ${#areas[@]} -eq 0 ]; then
  for cmakelists in "$top"/fuzz/*/CMakeLists.txt; do
    areas+=("$(basename "$(dirname "$cmakelists")")")
  done
fi
targets=()
target_areas=()
for area in "${areas[@]}"; do
  cmakelists="$top/fuzz/$area/CMakeLists.txt"
  [ -f "$cmakelists" ] || { echo "fuzz.sh: no fuzz area $area" >&2; exit 2; }
  for name in $(sed -n 's/^[[:space:]]*oaset_add_fuzzer([[:space:]]*\([A-Za-z0-9_]*\).*/\1/p' "$cmakelists"); do
    targets+=("$name")
    target_areas+=("$area")
  done
done
[ ${#targets[@]} -gt 0 ] || { echo "fuzz.sh: no fuzz targets found" >&2; exit 2; }

mkdir -p "$dir"
cmake -S "$top" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DOASET_FUZZ=ON >"$dir.configure.log" 2>&1 ||
  { cat "$dir.configure.log" >&2; exit 1; }
cmake --build "$dir" --target "${targets[@]}" -j2 >"$dir.build.log" 2>&1 ||
  { tail -50 "$dir.build.log" >&2; exit 1; }

mkdir -p "$dir/artifacts" "$dir/logs"
failed=()
summary=()
for i in "${!targets[@]}"; do
  target=${targets[$i]}
  area=${target_areas[$i]}
  work="$dir/corpus/$target"
  mkdir -p "$work"
  seeds=()
  if [ -d "$top/fuzz/$area/corpus/$target" ]; then
    seeds=("$top/fuzz/$area/corpus/$target")
  elif [ -d "$top/fuzz/$area/corpus" ] && [ -n "$(find "$top/fuzz/$area/corpus" -maxdepth 1 -type f -print -quit)" ]; then
    seeds=("$top/fuzz/$area/corpus")
  fi
  options=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=8192
           -print_final_stats=1 -artifact_prefix="$dir/artifacts/$target-")
  [ -f "$top/fuzz/$area/$target.dict" ] && options+=(-dict="$top/fuzz/$area/$target.dict")
  log="$dir/logs/$target.log"
  echo "== $target: $seconds s" >&2
  if "$dir/bin/$target" "${options[@]}" "$work" "${seeds[@]}" >"$log" 2>&1; then
    result=ok
  else
    result=FAILED
    failed+=("$target")
    tail -40 "$log" >&2
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  summary+=("$(printf '%-24s %-6s %12s executions in %s s, corpus %s inputs' \
    "$target" "$result" "${runs:-?}" "$seconds" "$(find "$work" -type f | wc -l)")")
done

printf '%s\n' "${summary[@]}" >&2
if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz.sh: failed: ${failed[*]} (inputs in $dir/artifacts)" >&2
  exit 1
fi
