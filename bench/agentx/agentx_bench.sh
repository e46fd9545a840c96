#!/usr/bin/env bash
# The SNMP path through net-snmp's snmpd as AgentX master, in one run:
# - snmpbulkwalk -Cr50 of ROWS rows of speakerFreqTable (one column) through snmpd and the agent,
#   next to snmpbulkwalk -Cr50 of 16,000 of snmpd's own objects (override constants), both in
#   varbinds per second, and the agent's and snmpd's CPU time per varbind on that path (with the
#   kernel's part), next to the floor: what one bare request and answer over a Unix socket cost
#   the answering process on the same core (round_trip_floor);
# - after snmpd restarts, how long the agent's objects take to come back once snmpd answers.
# Everything runs pinned to one core (taskset -c 0). Nothing is installed; everything lives in a
# temporary folder that goes at the end.
# Usage: bench/agentx/agentx_bench.sh BIN_FOLDER [ROWS]   (BENCH_RUNS rounds, default 3)
# BENCH_PROFILE=FILE records the agent with perf during the first round's walk into FILE.
set -euo pipefail
bin=$(cd "$1" && pwd)
rows=${2:-100000}
runs=${BENCH_RUNS:-3}
top=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/agentx-bench.XXXXXX")
pin=(taskset -c 0)
pids=()
cleanup() {
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2> /dev/null || true; done
  for pid in "${pids[@]}"; do
    while kill -0 "$pid" 2> /dev/null; do sleep 0.05; done
  done
  rm -rf "$work"
}
trap cleanup EXIT
say() { echo "agentx_bench: $*" >&2; }
for tool in snmpd snmpbulkwalk snmpget taskset; do
  command -v "$tool" > /dev/null || [ -x "/usr/sbin/$tool" ] || {
    say "$tool is not installed (Debian packages snmp, snmpd, util-linux)"
    exit 1
  }
done

entry=1.3.6.1.4.1.32473.99.1.9.1
source "$top/bench/peer_table.sh"
peer_oid=$PEER_OID
port=$(python3 -c 'import socket; s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
peer="127.0.0.1:$port"
net=(env MIBDIRS="$work/nomibs" MIBS=)
mkdir -p "$work/persist" "$work/nomibs"
{
  PeerTableConfig "$peer"
  echo "master agentx"
  echo "agentXSocket $work/agentx.sock"
} > "$work/snmpd.conf"

now_ms() { date +%s%3N; }
answers() { # OID: snmpd answers it with a value
  "${net[@]}" snmpget -v2c -c public -r0 -t1 -On "$peer" "$1" 2> /dev/null | grep -qv 'No Such'
}
start_snmpd() {
  SNMP_PERSISTENT_DIR="$work/persist" "${net[@]}" "${pin[@]}" /usr/sbin/snmpd -f -Lf \
    "$work/snmpd.log" -C -c "$work/snmpd.conf" -I -smux &
  snmpd_pid=$!
  pids+=("$snmpd_pid")
  for _ in $(seq 600); do
    answers "$peer_oid.16.1000" && return 0
    sleep 0.05
  done
  say "snmpd did not answer; its log:" && cat "$work/snmpd.log" >&2
  exit 1
}

awk -v n="$rows" -v entry="$entry" 'BEGIN {
  print "module VORNEL-VNBEEP-MIB"
  for (i = 1; i <= n; i++) {
    printf "instance entry=%s index=%d handle=%d creator=1 time=86400 enabled=8\n", entry, i, i
    printf "value handle=%d column=3 syntax=2 number=%d\n", i, 20 + i % 19980
  }
}' > "$work/state"

start_snmpd
ORVU_MIB_PATH="$top/mibs" "${pin[@]}" "$bin/orvu-agentd" --socket "$work/agent.sock" \
  --state "$work/state" --agentx "$work/agentx.sock" > "$work/agent.log" 2>&1 &
agent_pid=$!
pids+=("$agent_pid")
for _ in $(seq 1200); do
  answers ".$entry.3.$rows" && break
  sleep 0.05
done
answers ".$entry.3.$rows" || { say "the agent's objects did not show; its log:" && cat "$work/agent.log" >&2 && exit 1; }

cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
system_ticks() { awk '{ print $15 }' "/proc/$1/stat"; }
ticks=$(getconf CLK_TCK)
walk() { # OID EXPECTED -> seconds on stdout
  local start end count
  start=$(date +%s%N)
  count=$("${net[@]}" "${pin[@]}" snmpbulkwalk -v2c -c public -Cr50 -On "$peer" "$1" | wc -l)
  end=$(date +%s%N)
  [ "$count" -eq "$2" ] || { say "the walk of $1 gave $count varbinds, not $2" && exit 1; }
  awk -v ns=$((end - start)) 'BEGIN { printf "%.4f", ns / 1e9 }'
}
best_own=""
best_agent=""
best_cpu=""
best_master=""
for round in $(seq "$runs"); do
  own=$(walk "$peer_oid" 16000)
  if [ -n "${BENCH_PROFILE:-}" ] && [ "$round" = 1 ]; then
    perf record -q -g -p "$agent_pid" -o "$BENCH_PROFILE" 2> /dev/null &
    perf_pid=$!
    sleep 0.5
  fi
  system_before=$(system_ticks "$agent_pid")
  before=$(cpu_ticks "$agent_pid")
  master_before=$(cpu_ticks "$snmpd_pid")
  master_system_before=$(system_ticks "$snmpd_pid")
  through=$(walk ".$entry.3" "$rows")
  after=$(cpu_ticks "$agent_pid")
  system_after=$(system_ticks "$agent_pid")
  master_after=$(cpu_ticks "$snmpd_pid")
  master_system=$(awk -v t=$(($(system_ticks "$snmpd_pid") - master_system_before)) -v hz="$ticks" \
    -v n="$rows" 'BEGIN { printf "%.2f", t / hz * 1e6 / n }')
  if [ -n "${perf_pid:-}" ]; then
    kill -INT "$perf_pid" && wait "$perf_pid" || true
    perf_pid=""
  fi
  cpu=$(awk -v t=$((after - before)) -v hz="$ticks" -v n="$rows" 'BEGIN { printf "%.2f", t / hz * 1e6 / n }')
  system=$(awk -v t=$((system_after - system_before)) -v hz="$ticks" -v n="$rows" \
    'BEGIN { printf "%.2f", t / hz * 1e6 / n }')
  master_cpu=$(awk -v t=$((master_after - master_before)) -v hz="$ticks" -v n="$rows" \
    'BEGIN { printf "%.2f", t / hz * 1e6 / n }')
  say "round $round: snmpd's own $own s, through the agent $through s, agent CPU $cpu us per varbind" \
    "($system us in the kernel), snmpd's $master_cpu us ($master_system us)"
  [ -z "$best_own" ] || awk -v a="$own" -v b="$best_own" 'BEGIN { exit !(a < b) }' && best_own=$own
  [ -z "$best_agent" ] || awk -v a="$through" -v b="$best_agent" 'BEGIN { exit !(a < b) }' &&
    best_agent=$through
  [ -z "$best_cpu" ] || awk -v a="$cpu" -v b="$best_cpu" 'BEGIN { exit !(a < b) }' && best_cpu=$cpu
  [ -z "$best_master" ] || awk -v a="$master_cpu" -v b="$best_master" 'BEGIN { exit !(a < b) }' &&
    best_master=$master_cpu
done

# snmpd restarts: from its first answer to the first answer of the agent's objects.
kill "$snmpd_pid"
while kill -0 "$snmpd_pid" 2> /dev/null; do sleep 0.02; done
start_snmpd
answered=$(now_ms)
until answers ".$entry.3.1"; do sleep 0.005; done
back=$(($(now_ms) - answered))

own_rate=$(awk -v s="$best_own" 'BEGIN { printf "%.0f", 16000 / s }')
agent_rate=$(awk -v s="$best_agent" -v n="$rows" 'BEGIN { printf "%.0f", n / s }')
echo "snmpbulkwalk -Cr50, best of $runs, pinned to one core:"
echo "  snmpd's own objects: 16,000 varbinds in $best_own s, $own_rate varbinds/s"
echo "  through snmpd and orvu-agentd: $rows varbinds in $best_agent s, $agent_rate varbinds/s" \
  "($(awk -v a="$agent_rate" -v o="$own_rate" 'BEGIN { printf "%.2f", a / o }') of snmpd's own rate)"
echo "  orvu-agentd's CPU per varbind on that path: $best_cpu us (snmpd's: $best_master us)"
if [ -x "$bin/round_trip_floor" ]; then
  read -r floor_user floor_system < <("${pin[@]}" "$bin/round_trip_floor" 200000)
  echo "  the floor, one bare round trip over a Unix socket on one core: $floor_user us user +" \
    "$floor_system us system for the answering side"
fi
echo "After snmpd restarts: the agent's objects answer $back ms after snmpd does" \
  "(each probe is one snmpget, a few ms)"
