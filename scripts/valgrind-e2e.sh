#!/usr/bin/env bash
# Runs every end-to-end test once with each oaset under Valgrind's memcheck: any invalid access,
# or any block definitely or indirectly lost, fails the test that ran it.
# Usage: scripts/valgrind-e2e.sh [BUILD FOLDER, default build/RelWithDebInfo (built here)]
# Valgrind's reports are kept as <folder>/valgrind/oaset.<pid>.log; those with findings are printed.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
source "$top/scripts/build_folder.sh"
dir=$(build_folder "$@")
valgrind=$(command -v valgrind) || { echo "valgrind-e2e.sh: valgrind is not installed" >&2; exit 2; }
[ -x "$dir/bin/e2e_tests" ] || { echo "valgrind-e2e.sh: no $dir/bin/e2e_tests" >&2; exit 2; }

logs="$dir/valgrind"
rm -rf "$logs"
mkdir -p "$logs"
export OASET_E2E_WRAPPER="$valgrind -q --leak-check=full --errors-for-leak-kinds=definite,indirect --error-exitcode=99 --log-file=$logs/oaset.%p.log"

# The agent names a client by the program its process runs, which under Valgrind is Valgrind's
# tool, not oaset: ask a short run under it which program that is. Before the tool starts, the
# probe's process is first this shell's fork and then Valgrind's launcher, so wait for the tool.
"$valgrind" -q sleep 10 &
probe=$!
seen=
for _ in $(seq 100); do
  seen=$(readlink "/proc/$probe/exe" 2>/dev/null || true)
  case "$seen" in */memcheck-*) break ;; esac
  sleep 0.1
done
kill "$probe" 2>/dev/null || true
wait "$probe" 2>/dev/null || true
case "$seen" in
  */memcheck-*) ;;
  *) echo "valgrind-e2e.sh: cannot find the program Valgrind's memcheck runs as (saw '$seen')" >&2; exit 2 ;;
esac
export OASET_E2E_WRAPPER_PROGRAM="$seen"

# Two shards side by side: Valgrind runs one thread at a time.
shards=2
pids=()
for ((shard = 0; shard < shards; ++shard)); do
  GTEST_TOTAL_SHARDS=$shards GTEST_SHARD_INDEX=$shard TZ=UTC \
    "$dir/bin/e2e_tests" --gtest_brief=1 >"$logs/shard$shard.txt" 2>&1 &
  pids+=($!)
done
status=0
for ((shard = 0; shard < shards; ++shard)); do
  wait "${pids[$shard]}" || { status=1; tail -60 "$logs/shard$shard.txt" >&2; }
done

runs=$(find "$logs" -name 'oaset.*.log' | wc -l)
findings=0
for log in "$logs"/oaset.*.log; do
  [ -s "$log" ] || continue
  findings=$((findings + 1))
  echo "--- $log" >&2
  cat "$log" >&2
done
echo "valgrind-e2e.sh: $runs oaset runs under memcheck, $findings with findings" >&2
[ "$findings" -eq 0 ] || status=1
exit "$status"
