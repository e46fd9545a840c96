#!/usr/bin/env bash
# Times `oaset -t` on tables of 1,000, 10,000 and 100,000 leaves (10 leaves per instance) served
# by a private agent, next to `cat` writing the same bytes, and prints a Markdown table.
#   bench/listing/listing_bench.sh [BIN_DIR] [LEAF_COUNTS...]
# BIN_DIR holds oaset, orvu-agentd and the libraries (default: build/RelWithDebInfo/bin).
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
bin=$(cd "${1:-$top/build/RelWithDebInfo/bin}" && pwd)
shift || true
counts=("$@")
[ ${#counts[@]} -gt 0 ] || counts=(1000 10000 100000)
runs=${BENCH_RUNS:-3}
entry=1.3.6.1.4.1.32473.99.5.1

work=$(mktemp -d "${TMPDIR:-/tmp}/oaset-bench-XXXXXX")
agent_pid=
cleanup() {
  if [ -n "$agent_pid" ]; then
    kill "$agent_pid" 2>/dev/null || true
    wait "$agent_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

# One instance per 10 leaves, with values of several syntaxes so that every printing path of a
# real listing is taken.
write_state() {
  awk -v n="$1" -v entry="$entry" 'BEGIN {
    print "module VORNEL-VNBEEP-MIB"
    for (i = 1; i <= n; i++) {
      printf "instance entry=%s index=%d handle=%d creator=1 time=86400 enabled=8 leaves=10\n", entry, i, i
      printf "value handle=%d column=1 syntax=2 number=%d\n", i, i
      printf "value handle=%d column=2 syntax=4 bytes=537065616b657220%04x\n", i, i % 65536
      printf "value handle=%d column=3 syntax=2 number=440\n", i
      printf "value handle=%d column=4 syntax=6 oid=1.3.6.1.4.1.32473.99.1.9.1.%d\n", i, i
      printf "value handle=%d column=5 syntax=64 bytes=7f000001\n", i
      printf "value handle=%d column=6 syntax=65 number=%d\n", i, i * 7
      printf "value handle=%d column=7 syntax=66 number=100\n", i
      printf "value handle=%d column=8 syntax=67 number=%d\n", i, i * 1234
      printf "value handle=%d column=9 syntax=68 bytes=01ab\n", i
      printf "value handle=%d column=10 syntax=4 bytes=00ff10\n", i
    }
  }' > "$work/state"
}

start_agent() {
  rm -f "$work/agent.sock"
  ORVU_MIB_PATH="$top/mibs" "$bin/orvu-agentd" --socket "$work/agent.sock" --state "$work/state" \
    --module VORNEL-VNBEEP-MIB --clock 86400 > "$work/agent.log" 2>&1 &
  agent_pid=$!
  for _ in $(seq 300); do
    [ -S "$work/agent.sock" ] && return 0
    sleep 0.1
  done
  echo "orvu-agentd did not start; see $work/agent.log" >&2
  cat "$work/agent.log" >&2
  exit 1
}

stop_agent() {
  kill "$agent_pid"
  wait "$agent_pid" 2>/dev/null || true
  agent_pid=
}

now() { date +%s.%N; }

# Best of $runs: wall seconds and peak resident kilobytes of oaset; best wall seconds of cat.
measure() {
  local best_tool= best_cat= peak=0
  for _ in $(seq "$runs"); do
    local start end kb
    start=$(now)
    ORVU_AGENT_SOCKET="$work/agent.sock" ORVU_MIB_PATH="$top/mibs" TZ=UTC \
      /usr/bin/time -f %M -o "$work/rss" "$bin/oaset" "-t$entry" > "$work/out"
    end=$(now)
    kb=$(cat "$work/rss")
    best_tool=$(echo "$start $end ${best_tool:-}" | awk '{t = $2 - $1; if ($3 == "" || t < $3) print t; else print $3}')
    [ "$kb" -gt "$peak" ] && peak=$kb
    start=$(now)
    cat "$work/out" > "$work/copy"
    end=$(now)
    best_cat=$(echo "$start $end ${best_cat:-}" | awk '{t = $2 - $1; if ($3 == "" || t < $3) print t; else print $3}')
  done
  echo "$best_tool $peak $best_cat"
}

echo "| leaves | instances | output bytes | oaset wall s | oaset peak RSS KiB | cat wall s | s per 1,000 leaves |"
echo "|---:|---:|---:|---:|---:|---:|---:|"
for leaves in "${counts[@]}"; do
  instances=$((leaves / 10))
  write_state "$instances"
  start_agent
  read -r tool peak catwall < <(measure)
  bytes=$(wc -c < "$work/out")
  listed=$(grep -c '^    10: ' "$work/out" || true)
  stop_agent
  if [ "$listed" -ne "$instances" ]; then
    echo "listing of $instances instances showed $listed complete ones" >&2
    exit 1
  fi
  per=$(awk -v t="$tool" -v n="$leaves" 'BEGIN { printf "%.4f", t * 1000 / n }')
  printf '| %d | %d | %d | %.3f | %d | %.4f | %s |\n' \
    "$leaves" "$instances" "$bytes" "$tool" "$peak" "$catwall" "$per"
done
