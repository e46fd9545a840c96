#!/usr/bin/env bash
# The journal's figures of docs/performance.md: journal_costs (the core in-process: --fsync, a
# change during the copy after start, a change without room) in a folder on the disk, and
# session_reads against an agent serving 16,000 rows, 16,000 reads in one session and in a new
# session every 500.
#   bench/journal/journal_bench.sh [BIN_DIR]
# BENCH_FOLDER: where the states are written (default: a new folder under TMPDIR; name one on the
# disk to measure, as tmpfs makes --fsync free). BENCH_LIBRARY_DIR: a folder holding another
# libvnoagent.so to read with (an earlier build's, for the figures before).
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
bin=$(cd "${1:-$top/build/RelWithDebInfo/bin}" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/oaset-journal-XXXXXX")
pid=
cleanup() {
  [ -n "$pid" ] && kill "$pid" 2> /dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

"$bin/journal_costs" "${BENCH_FOLDER:-$work/costs}"

rows=16000
awk -v n="$rows" 'BEGIN {
  print "module VORNEL-VNBEEP-MIB"
  for (i = 1; i <= n; i++) {
    print "instance entry=1.3.6.1.4.1.32473.99.1.9.1 index=" i " handle=" i " creator=1 time=0"
    print "value handle=" i " column=3 syntax=2 number=" i
    for (c = 4; c <= 5; c++) print "value handle=" i " column=" c " syntax=2 number=7"
  }
}' > "$work/state"
"$bin/orvu-agentd" --socket "$work/agent.sock" --state "$work/state" --detach \
  --pid-file "$work/agent.pid"
pid=$(cat "$work/agent.pid")
export ORVU_AGENT_SOCKET=$work/agent.sock
for mode in one renew; do
  if [ -n "${BENCH_LIBRARY_DIR:-}" ]; then
    LD_LIBRARY_PATH=$BENCH_LIBRARY_DIR "$bin/session_reads" "$rows" 500 "$mode"
  else
    "$bin/session_reads" "$rows" 500 "$mode"
  fi
done
