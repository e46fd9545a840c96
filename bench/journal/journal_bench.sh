#!/usr/bin/env bash
# The journal's figures of docs/performance.md: journal_costs (the core in-process: --fsync, a
# change during the copy after start, a change without room) in a folder on the disk, and
# session_reads against an agent serving 16,000 rows, 16,000 reads in one session and in a new
# session every 500.
#   bench/journal/journal_bench.sh [BIN_DIR]
# BENCH_FOLDER: where the states are written (default: a new folder under TMPDIR; name one on the
# disk to measure, as tmpfs makes --fsync free). BENCH_LIBRARY_DIR: a folder holding another
# libvnoagent.so to read with (an earlier build's, for the figures before). BENCH_PARTS (default
# "costs copy reads") picks the parts: copy is oaset's sets through an agent that started on a
# hand-written state of 100,000 rows, while it writes the sealed copy and after it.
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

parts=" ${BENCH_PARTS:-costs copy reads} "
ms_since() { awk -v a="$1" -v b="$(date +%s.%N)" 'BEGIN { printf "%.1f", (b - a) * 1000 }'; }

if [[ $parts == *" costs "* ]]; then
  "$bin/journal_costs" "${BENCH_FOLDER:-$work/costs}"
fi

if [[ $parts == *" copy "* ]]; then
  folder=${BENCH_FOLDER:-$work/copy}
  mkdir -p "$folder"
  awk -v n=100000 'BEGIN {
    print "module VORNEL-VNBEEP-MIB"
    for (i = 1; i <= n; i++) {
      printf "instance entry=1.3.6.1.4.1.32473.99.1.9.1 index=%d handle=%d creator=1 time=0\n", i, i
      printf "value handle=%d column=2 syntax=4 bytes=746f6e65%016x\n", i, i
      printf "value handle=%d column=3 syntax=2 number=%d\n", i, 20 + i % 19980
      printf "value handle=%d column=14 syntax=4 bytes=%04x\n", i, i % 65536
    }
  }' > "$folder/copy-state"
  echo "hand-written state of 100,000 rows: $(stat -c %s "$folder/copy-state") bytes"
  started=$(date +%s.%N)
  "$bin/orvu-agentd" --socket "$work/copy.sock" --state "$folder/copy-state" --detach \
    --pid-file "$work/copy.pid"
  echo "serving after $(ms_since "$started") ms"
  pid=$(cat "$work/copy.pid")
  sealed() { head -c 20 "$folder/copy-state" | grep -q '^# orvu-agentd state:'; }
  for round in during after; do
    if [ "$round" = after ]; then
      while ! sealed; do sleep 0.05; done
    fi
    times=()
    for i in $(seq 1 10); do
      copying=yes
      sealed && copying=no
      t=$(date +%s.%N)
      ORVU_AGENT_SOCKET=$work/copy.sock "$bin/oaset" "-s1.3.6.1.4.1.32473.99.1.9.1.3.$((i * 997))" \
        "-mi$((100 + i))" > /dev/null
      times+=("$(ms_since "$t")/$copying")
    done
    echo "oaset set runs $round the copy (ms/copy under way at the start of the run): ${times[*]}"
  done
  kill "$pid"
  pid=
  rm -f "$folder/copy-state"*
fi

[[ $parts == *" reads "* ]] || exit 0

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
