#!/usr/bin/env bash
# orvu-agentd --agentx under net-snmp's snmpd, for ROUNDS rounds (default 50): each round writes
# three objects through snmpset, sends a set with one bad varbind (which must change nothing),
# reads the three back, walks the subtree; every 10th round restarts the master, every 10th from
# the 5th kills the agent with SIGKILL and starts it again, and after each restart the last
# acknowledged values must read back through SNMP and through oaset. Prints the figures that
# docs/reliability.md quotes; exits nonzero at the first value that is lost or wrong.
#   scripts/agentx-soak.sh [ROUNDS] [BUILD_DIR]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
rounds=${1:-50}
bin=${2:-$top/build/RelWithDebInfo}/bin
dir=$(mktemp -d)
snmpd_pid=
agent_pid=
cleanup() {
  [ -z "$agent_pid" ] || kill "$agent_pid" 2>/dev/null || true
  [ -z "$snmpd_pid" ] || kill "$snmpd_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$dir"
}
trap cleanup EXIT

export MIBS= SNMP_PERSISTENT_DIR="$dir/persist" ORVU_MIB_PATH="$top/mibs"
export ORVU_AGENT_SOCKET="$dir/agent.sock"
cat > "$dir/snmpd.conf" <<EOF
master agentx
agentXSocket $dir/agentx.sock
agentXPerms 0600 0700
rwcommunity private 127.0.0.1
EOF

entry=1.3.6.1.4.1.32473.99.1.9.1
descr=.$entry.2.7
hertz=.$entry.3.7
volume=.1.3.6.1.4.1.32473.99.1.2.0
now_ms() { echo $(($(date +%s%N) / 1000000)); }
snmp() { "$1" -v2c -c private -On -t 2 -r 1 "$address" "${@:2}"; }

start_master() {
  # A free loopback port: snmpd says when the one picked is taken, and another is tried.
  for _ in 1 2 3 4 5; do
    [ -n "${port:-}" ] || port=$((20000 + RANDOM % 40000))
    address=udp:127.0.0.1:$port
    /usr/sbin/snmpd -f -C -c "$dir/snmpd.conf" -I -smux -Lf "$dir/snmpd.log" \
      -p "$dir/snmpd.pid" "$address" &
    snmpd_pid=$!
    for _ in $(seq 1 100); do
      snmp snmpget -t 0.2 -r 0 .1.3.6.1.2.1.1.3.0 2>/dev/null | grep -q Timeticks && return 0
      kill -0 "$snmpd_pid" 2>/dev/null || break
      sleep 0.05
    done
    kill "$snmpd_pid" 2>/dev/null || true
    wait "$snmpd_pid" 2>/dev/null || true
    port=
  done
  echo "agentx-soak: snmpd does not start" >&2
  exit 1
}

start_agent() {
  "$bin/orvu-agentd" --socket "$dir/agent.sock" --state "$dir/agent.state" \
    --module VORNEL-VNBEEP-MIB --agentx "$dir/agentx.sock" 2>>"$dir/agent.log" &
  agent_pid=$!
}

# Milliseconds until the subagent answers through the master again.
wait_for_subagent() {
  local start
  start=$(now_ms)
  for _ in $(seq 1 400); do
    if snmp snmpget -t 0.2 -r 0 "$volume" 2>/dev/null | grep -q INTEGER; then
      echo $(($(now_ms) - start))
      return 0
    fi
    sleep 0.025
  done
  echo "agentx-soak: the subagent did not come back" >&2
  exit 1
}

check() {
  local got
  got=$(snmp snmpget "$descr" "$volume" "$hertz")
  local want="$descr = STRING: \"$1\"
$volume = INTEGER: $2
$hertz = INTEGER: $3"
  if [ "$got" != "$want" ]; then
    printf 'agentx-soak: round %s: read\n%s\ninstead of\n%s\n' "$round" "$got" "$want" >&2
    exit 1
  fi
  if ! "$bin/oaset" "-t$entry" | grep -q "^    2: $entry.2.7 \*\*\*\* (octets) $1\$"; then
    echo "agentx-soak: round $round: oaset does not read \"$1\"" >&2
    exit 1
  fi
}

start_master
start_agent
wait_for_subagent >/dev/null
"$bin/oaset" "-a$entry" -i7 >/dev/null

requests=0 written=0 refused=0 walked=0 master_restarts=0 agent_restarts=0
slowest_master=0 slowest_agent=0
# restart master|agent: stops the master, or kills the agent with SIGKILL, starts it again and
# counts the restart and how long the subagent took to be back.
restart() {
  local ms
  local -n slowest=slowest_$1 restarts=$1_restarts
  if [ "$1" = master ]; then
    kill "$snmpd_pid"
    wait "$snmpd_pid" 2>/dev/null || true
    start_master
  else
    kill -9 "$agent_pid"
    wait "$agent_pid" 2>/dev/null || true
    start_agent
  fi
  ms=$(wait_for_subagent)
  [ "$ms" -le "$slowest" ] || slowest=$ms
  restarts=$((restarts + 1))
}
started=$(now_ms)
for round in $(seq 1 "$rounds"); do
  text="round $round" level=$((round % 101)) pitch=$((20 + round))
  snmp snmpset "$descr" s "$text" "$volume" i "$level" "$hertz" i "$pitch" >/dev/null
  written=$((written + 3))
  if snmp snmpset "$descr" s "lost" "$hertz" i 5 >/dev/null 2>&1; then
    echo "agentx-soak: round $round: a set with a bad varbind was taken" >&2
    exit 1
  fi
  refused=$((refused + 2))
  check "$text" "$level" "$pitch"
  walk=$(snmp snmpbulkwalk .1.3.6.1.4.1.32473.99 | wc -l)
  walked=$((walked + walk))
  requests=$((requests + 3 + 2 + 3 + walk))
  if [ $((round % 10)) -eq 0 ]; then
    restart master
    check "$text" "$level" "$pitch"
  elif [ $((round % 10)) -eq 5 ]; then
    restart agent
    check "$text" "$level" "$pitch"
  fi
done
elapsed=$(($(now_ms) - started))

echo "rounds: $rounds in $elapsed ms"
echo "varbinds sent through the master: $requests ($walked in walks)"
echo "varbinds written: $written; refused with the set they came in: $refused (nothing changed)"
echo "master restarts: $master_restarts (back in at most $slowest_master ms after the master answered)"
echo "agent kills (-9) and restarts: $agent_restarts (answering again at most $slowest_agent ms after the start)"
echo "values lost or wrong: 0"
