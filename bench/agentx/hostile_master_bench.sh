#!/usr/bin/env bash
# What a hostile AgentX master costs the agent's clients: oaset -o run again and again (50 ms
# apart) for SECONDS against an agent of 50,000 rows of speakerFreqTable, first with no master,
# then while hostile_master (tests/e2e/hostile_master.cc) asks GetNext of 128 varbinds in the NULL
# column, and one of 524,287 ranges every fourth request, without a pause. Prints the median, the
# 99th percentile, the slowest run and the runs of 100 ms and more, for both.
# Usage: bench/agentx/hostile_master_bench.sh BIN_FOLDER [SECONDS]   (default 40)
set -euo pipefail
bin=$(cd "$1" && pwd)
seconds=${2:-40}
top=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/hostile-bench.XXXXXX")
master=
# The agent runs detached, known by its pid file; the master is a child of this script.
stop_agent() {
  [ -f "$work/agent.pid" ] || return 0
  kill "$(cat "$work/agent.pid")" 2> /dev/null || true
  while ! flock -n "$work/agent.pid" true; do sleep 0.05; done
  rm -f "$work/agent.pid"
}
finish() {
  stop_agent
  [ -z "$master" ] || { kill "$master" 2> /dev/null || true; wait "$master" || true; }
  rm -rf "$work"
}
trap finish EXIT
export ORVU_MIB_PATH="$top/mibs" ORVU_AGENT_SOCKET="$work/agent.sock"
entry=1.3.6.1.4.1.32473.99.1.9.1
{
  echo "module VORNEL-VNBEEP-MIB"
  for ((i = 1; i <= 50000; i++)); do
    echo "instance entry=$entry index=$i handle=$i creator=1 time=0"
  done
} > "$work/state"

measure() {
  python3 - "$bin/oaset" "$seconds" "$1" << 'PY'
import subprocess, sys, time
oaset, seconds, what = sys.argv[1], float(sys.argv[2]), sys.argv[3]
times = []
end = time.monotonic() + seconds
while time.monotonic() < end:
    start = time.monotonic()
    if subprocess.run([oaset, "-o"], capture_output=True).returncode != 0:
        sys.exit(f"hostile_master_bench: oaset -o failed {what}")
    times.append((time.monotonic() - start) * 1000)
    time.sleep(0.05)
times.sort()
print(f"{what}: {len(times)} runs of oaset -o, median {times[len(times) // 2]:.1f} ms, "
      f"99th percentile {times[int(len(times) * 0.99)]:.1f} ms, slowest {times[-1]:.1f} ms, "
      f"{sum(t >= 100 for t in times)} of 100 ms and more")
PY
}

start_agent() {
  "$bin/orvu-agentd" --socket "$work/agent.sock" --state "$work/state" "$@" \
    --detach --pid-file "$work/agent.pid" 2> "$work/agent.log"
}
start_agent
measure "no master"
stop_agent
"$bin/hostile_master" stall "$work/master.sock" "$work/report" 50000 &
master=$!
while [ ! -S "$work/master.sock" ]; do sleep 0.05; done
start_agent --agentx "$work/master.sock"
measure "the NULL-column stall"
kill "$master"
wait "$master" || true
master=
echo "the hostile master: $(tr '\n' ' ' < "$work/report")"
