#!/usr/bin/env bash
# Produces every figure of docs/performance.md in one interleaved run: the table listing, the
# tool's and the agent's memory, the agent's start-up on hand-written and sealed states, value
# setting and the MIB reader, each next to its net-snmp peer (snmpbulkwalk, snmpd, snmpset,
# snmptranslate) when Debian's snmp and snmpd are installed. Both
# sides run pinned to one core (`taskset -c 0`); wall times are the best of BENCH_RUNS rounds, peak
# memory comes from /usr/bin/time, the agents' resident sets from /proc.
#   bench/figures/figures_bench.sh [BIN_DIR]
# BIN_DIR holds oaset, orvu-agentd and the libraries (default: build/RelWithDebInfo/bin).
# BENCH_RUNS (default 3) rounds; BENCH_SIZES (default "1000 10000 100000") instance counts of the
# 16-leaf sample table, every column stored; BENCH_MILLION=1 adds 1,000,000 instances (memory
# flatness, start-up). Start-up is timed from 10,000 instances up.
# Installs nothing: a missing peer is said and its column left empty.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
bin=$(cd "${1:-$top/build/RelWithDebInfo/bin}" && pwd)
runs=${BENCH_RUNS:-3}
read -r -a sizes <<< "${BENCH_SIZES:-1000 10000 100000}"
[ "${BENCH_MILLION:-0}" = 1 ] && sizes+=(1000000)
entry=1.3.6.1.4.1.32473.99.1.9.1
leaves=16
sets=10000
pin=(taskset -c 0)
for tool in taskset /usr/bin/time; do
  command -v "$tool" > /dev/null || { echo "figures_bench: $tool is needed" >&2; exit 1; }
done

source "$top/bench/bench_lib.sh" oaset-figures
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.6f", b - a }'; }
most() { awk -v a="$1" -v b="${2:-}" 'BEGIN { print (b == "" || a + 0 > b + 0) ? a : b }'; }
kib_of() { awk -v k="$2" '$1 == k ":" { print $2 }' "/proc/$1/status"; }

have_peers=1
for peer in snmpd snmpbulkwalk snmpset snmptranslate snmpget; do
  if ! command -v "$peer" > /dev/null; then
    say "figures_bench: $peer not installed (Debian packages snmp and snmpd): no peer figures"
    have_peers=0
  fi
done

# --- Inputs -------------------------------------------------------------------------------------

# N instances of the sample table with a value stored in each of its fifteen columns past the
# index, as a provisioning script leaves a row: 61 payload bytes per instance (numbers count 4 bytes,
# Counter64 8, an OID 4 per sub-identifier). BIG_BYTES adds that many bytes to column 14's value.
value_bytes=61
write_state() { # N FILE [BIG_BYTES]
  awk -v n="$1" -v entry="$entry" -v big="${3:-0}" 'BEGIN {
    print "module VORNEL-VNBEEP-MIB"
    if (big > 0) { fat = ""; for (i = 0; i < big; i++) fat = fat "ab" }
    for (i = 1; i <= n; i++) {
      printf "instance entry=%s index=%d handle=%d creator=1 time=86400 enabled=8\n", entry, i, i
      printf "value handle=%d column=2 syntax=4 bytes=746f6e65%016x\n", i, i
      printf "value handle=%d column=3 syntax=2 number=%d\n", i, 20 + i % 19980
      printf "value handle=%d column=4 syntax=2 number=%d\n", i, 1 + i % 3
      printf "value handle=%d column=5 syntax=4 bytes=%02x\n", i, (i % 16) * 16
      printf "value handle=%d column=6 syntax=6 oid=1.%d\n", i, i % 40
      printf "value handle=%d column=7 syntax=64 bytes=0a%06x\n", i, i % 16777216
      printf "value handle=%d column=8 syntax=65 number=%d\n", i, i * 7
      printf "value handle=%d column=9 syntax=66 number=%d\n", i, i % 101
      printf "value handle=%d column=10 syntax=67 number=%d\n", i, 25 + i % 500
      printf "value handle=%d column=11 syntax=68 bytes=4f\n", i
      printf "value handle=%d column=12 syntax=69 bytes=%02x\n", i, 16 + i % 200
      printf "value handle=%d column=13 syntax=5 bytes=\n", i
      printf "value handle=%d column=14 syntax=4 bytes=%04x%s\n", i, i % 65536, fat
      printf "value handle=%d column=15 syntax=70 number=%d second=%d\n", i, i, i % 3
      printf "value handle=%d column=16 syntax=67 number=%d\n", i, 8640000 + i
    }
  }' > "$2"
}

start_agent() { # NAME STATE -> pid in agent_pid
  local name=$1
  ORVU_MIB_PATH="$top/mibs" "${pin[@]}" "$bin/orvu-agentd" --socket "$work/$name.sock" \
    --state "$2" --clock 86400 > "$work/$name.log" 2>&1 &
  agent_pid=$!
  pids+=("$agent_pid")
  for _ in $(seq 3000); do
    [ -S "$work/$name.sock" ] && return 0
    kill -0 "$agent_pid" 2> /dev/null || break
    sleep 0.1
  done
  say "orvu-agentd ($name) did not start:"
  cat "$work/$name.log" >&2
  exit 1
}

# Seconds from starting an agent on STATE to its readiness (--detach returns only once it
# serves); it is stopped again before this returns. The first start on a hand-written file seals
# it once it serves, between requests: with "sealed", the agent is stopped only once it has, so
# that a second start reads the sealed form.
startup() { # STATE [sealed]
  local start end pid
  start=$(now)
  ORVU_MIB_PATH="$top/mibs" "${pin[@]}" "$bin/orvu-agentd" --socket "$work/boot.sock" \
    --state "$1" --clock 86400 --detach --pid-file "$work/boot.pid" > "$work/boot.log" 2>&1 ||
    { say "orvu-agentd did not start on $1:"; cat "$work/boot.log" >&2; exit 1; }
  end=$(now)
  if [ "${2:-}" = sealed ]; then
    for _ in $(seq 6000); do
      head -c 20 "$1" | grep -q '^# orvu-agentd state' && break
      sleep 0.01
    done
  fi
  pid=$(cat "$work/boot.pid")
  kill "$pid"
  while kill -0 "$pid" 2> /dev/null; do sleep 0.01; done
  elapsed "$start" "$end"
}

# The peer agent: snmpd with one writable constant per object, 1,000 rows of 16 columns under
# .1.3.6.1.4.1.32473.77.1.1, on a free UDP port of 127.0.0.1.
source "$top/bench/peer_table.sh"
peer_oid=$PEER_OID
# and the objects that the sets write: SETS writable INTEGERs, 16 columns a row, beside them.
peer_int_oid=.1.3.6.1.4.1.32473.77.2.1
start_snmpd() {
  local port
  port=$(python3 -c 'import socket; s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])' 2> /dev/null || echo $((20000 + RANDOM % 20000)))
  peer="127.0.0.1:$port"
  mkdir -p "$work/snmp" "$work/nomibs"
  {
    PeerTableConfig "$peer" writable
    echo "rwcommunity private 127.0.0.1"
    awk -v base="$peer_int_oid" -v n="$sets" 'BEGIN { for (k = 0; k < n; k++)
      printf "override -rw %s.%d.%d integer 440\n", base, k % 16 + 1, int(k / 16) + 1 }'
  } > "$work/snmpd.conf"
  SNMP_PERSISTENT_DIR="$work/snmp" MIBDIRS="$work/nomibs" MIBS= "${pin[@]}" \
    /usr/bin/time -f %M -o "$work/snmpd.peak" snmpd -f -Lf "$work/snmpd.log" -C \
    -c "$work/snmpd.conf" > "$work/snmpd.out" 2>&1 &
  local timer=$!
  for _ in $(seq 1200); do
    if MIBDIRS="$work/nomibs" MIBS= snmpget -v2c -c public -r0 -t1 "$peer" "$peer_oid.16.1000" \
      > /dev/null 2>&1; then
      # /usr/bin/time does not pass a signal on: the agent itself is stopped at the end.
      snmpd_pid=$(pgrep -x snmpd -P "$timer")
      pids+=("$snmpd_pid" "$timer")
      return 0
    fi
    sleep 0.1
  done
  say "snmpd did not answer; see its log:"
  cat "$work/snmpd.log" >&2
  exit 1
}

# A module of 10,000 objects: 625 tables of an entry and 14 columns, each with a DESCRIPTION.
write_big_mib() { # FOLDER
  awk 'BEGIN {
    print "BENCH-BIG-MIB DEFINITIONS ::= BEGIN"
    print "IMPORTS MODULE-IDENTITY, OBJECT-TYPE, Integer32, Counter32, enterprises"
    print "    FROM SNMPv2-SMI;"
    print "benchBigMIB MODULE-IDENTITY"
    print "    LAST-UPDATED \"202601010000Z\" ORGANIZATION \"bench\" CONTACT-INFO \"bench\""
    print "    DESCRIPTION \"A generated module for the MIB reader benchmark.\""
    print "    ::= { enterprises 32473 88 }"
    for (t = 1; t <= 625; t++) {
      printf "bigTable%d OBJECT-TYPE\n    SYNTAX SEQUENCE OF BigEntry%d\n", t, t
      print "    MAX-ACCESS not-accessible\n    STATUS current"
      printf "    DESCRIPTION \"Table number %d of the generated module.\"\n", t
      printf "    ::= { benchBigMIB %d }\n", t
      printf "bigEntry%d OBJECT-TYPE\n    SYNTAX BigEntry%d\n", t, t
      print "    MAX-ACCESS not-accessible\n    STATUS current"
      printf "    DESCRIPTION \"One row.\"\n    INDEX { big%dCol1 }\n", t
      printf "    ::= { bigTable%d 1 }\n", t
      printf "BigEntry%d ::= SEQUENCE {\n", t
      for (c = 1; c <= 14; c++) printf "    big%dCol%d %s%s\n", t, c, c % 3 ? "Integer32" : "Counter32", c < 14 ? "," : ""
      print "}"
      for (c = 1; c <= 14; c++) {
        printf "big%dCol%d OBJECT-TYPE\n", t, c
        if (c == 2) print "    SYNTAX INTEGER { on(1), off(2), unknown(3) }"
        else printf "    SYNTAX %s\n", c % 3 ? "Integer32 (0..65535)" : "Counter32"
        printf "    MAX-ACCESS %s\n    STATUS current\n", c == 1 ? "not-accessible" : "read-write"
        printf "    DESCRIPTION \"Column %d of table %d, a value that the benchmark never reads.\"\n", c, t
        if (c == 2) print "    DEFVAL { on }"
        printf "    ::= { bigEntry%d %d }\n", t, c
      }
    }
    print "END"
  }' > "$1/BENCH-BIG-MIB"
}

# net-snmp ships no SNMPv2-SMI here; this one names just what the generated module imports.
write_smi_stub() { # FOLDER
  cat > "$1/SNMPv2-SMI" << 'EOF'
SNMPv2-SMI DEFINITIONS ::= BEGIN
org OBJECT IDENTIFIER ::= { iso 3 }
dod OBJECT IDENTIFIER ::= { org 6 }
internet OBJECT IDENTIFIER ::= { dod 1 }
private OBJECT IDENTIFIER ::= { internet 4 }
enterprises OBJECT IDENTIFIER ::= { private 1 }
END
EOF
}

# --- Measurements: each prints "SECONDS PEAK_KIB" ---------------------------------------------

timed() { # OUT COMMAND... (pinned, peak RSS from /usr/bin/time)
  local out=$1 start end
  shift
  start=$(now)
  "${pin[@]}" /usr/bin/time -f %M -o "$work/peak" "$@" > "$out"
  end=$(now)
  echo "$(elapsed "$start" "$end") $(tail -n 1 "$work/peak")"
}

list_ours() { # NAME
  ORVU_AGENT_SOCKET="$work/$1.sock" TZ=UTC timed "$work/list.$1" "$bin/oaset" "-t$entry"
}

cat_floor() { # FILE
  local start end
  start=$(now)
  "${pin[@]}" cat "$1" > "$work/copy"
  end=$(now)
  elapsed "$start" "$end"
}

walk_peer() {
  MIBDIRS="$work/nomibs" MIBS= timed "$work/walk.peer" snmpbulkwalk -v2c -c public -Cr50 -On \
    "$peer" "$peer_oid"
}

# 10,000 -s/-m pairs on the first 10,000 instances (or round the FAT rows) in one oaset run.
write_set_args() { # ROWS FILE
  awk -v rows="$1" -v entry="$entry" -v n="$sets" 'BEGIN {
    for (i = 0; i < n; i++) printf "-s%s.3.%d\n-mi%d\n", entry, 1 + i % rows, 100 + i % 900 }' > "$2"
}

set_ours() { # NAME ARGS_FILE
  local -a args
  mapfile -t args < "$2"
  ORVU_AGENT_SOCKET="$work/$1.sock" timed "$work/set.$1" "$bin/oaset" "${args[@]}"
}

set_peer() {
  local start end i k
  start=$(now)
  for ((i = 0; i < sets; i += 128)); do
    local -a vb=()
    for ((k = i; k < i + 128 && k < sets; k++)); do
      vb+=("$peer_int_oid.$((k % 16 + 1)).$((k / 16 + 1))" i "$((100 + k % 900))")
    done
    MIBDIRS="$work/nomibs" MIBS= "${pin[@]}" snmpset -v2c -c private -Oq "$peer" "${vb[@]}" \
      >> "$work/set.peer"
  done
  end=$(now)
  elapsed "$start" "$end"
}

mib_ours() {
  ORVU_MIB_PATH="$work/mib" ORVU_AGENT_SOCKET="$work/none.sock" timed "$work/mib.ours" \
    "$bin/oaset" -wBENCH-BIG-MIB
}

mib_peer() {
  MIBDIRS="$work/mib:$work/smi" MIBS= timed "$work/mib.peer" snmptranslate -m BENCH-BIG-MIB -On \
    BENCH-BIG-MIB::big625Col14
}

# --- The run ------------------------------------------------------------------------------------

load_start=$(cut -d' ' -f1-3 /proc/loadavg)
say "figures_bench: preparing inputs in $work"
declare -A agent_of start_hwm start_rss instances_of
declare -A hand_bytes sealed_bytes
for n in "${sizes[@]}"; do
  write_state "$n" "$work/hand.$n"
  hand_bytes[$n]=$(wc -c < "$work/hand.$n")
  cp "$work/hand.$n" "$work/state.$n"
  start_agent "a$n" "$work/state.$n"
  agent_of[$n]=$agent_pid
  start_hwm[$n]=$(kib_of "$agent_pid" VmHWM)
  start_rss[$n]=$(kib_of "$agent_pid" VmRSS)
done
write_state 0 "$work/state.empty"
start_agent empty "$work/state.empty"
empty_pid=$agent_pid
fat_rows=100
write_state "$fat_rows" "$work/state.fat" 61440
start_agent fat "$work/state.fat"
set_rows=$(most "${sizes[0]}" "$sets")
[ -n "${agent_of[$set_rows]:-}" ] || { write_state "$set_rows" "$work/state.sets"; start_agent sets "$work/state.sets"; }
set_agent=a$set_rows
[ -n "${agent_of[$set_rows]:-}" ] || set_agent=sets
write_set_args "$set_rows" "$work/set.args"
write_set_args "$fat_rows" "$work/set.fat.args"
mkdir -p "$work/mib" "$work/smi"
write_big_mib "$work/mib"
write_smi_stub "$work/smi"
[ "$have_peers" = 1 ] && start_snmpd

declare -A best peak
keep() { # KEY SECONDS PEAK_KIB
  best[$1]=$(least "$2" "${best[$1]:-}")
  peak[$1]=$(most "${3:-0}" "${peak[$1]:-}")
}
for round in $(seq "$runs"); do
  say "figures_bench: round $round of $runs ($(cut -d' ' -f1-3 /proc/loadavg) load)"
  for n in "${sizes[@]}"; do
    read -r t p < <(list_ours "a$n")
    keep "list.$n" "$t" "$p"
    keep "cat.$n" "$(cat_floor "$work/list.a$n")"
    if [ "$have_peers" = 1 ] && [ "$n" = "${sizes[0]}" ]; then
      read -r t p < <(walk_peer)
      keep walk "$t" "$p"
    fi
  done
  read -r t p < <(list_ours empty)
  keep list.0 "$t" "$p"
  for n in "${sizes[@]}"; do
    [ "$n" -ge 10000 ] || continue
    cp "$work/hand.$n" "$work/boot.state"
    keep "boot.hand.$n" "$(startup "$work/boot.state" sealed)"
    sealed_bytes[$n]=$(wc -c < "$work/boot.state")
    keep "boot.sealed.$n" "$(startup "$work/boot.state")"
    rm -f "$work/boot.state" "$work/boot.state.old"
  done
  read -r t p < <(set_ours "$set_agent" "$work/set.args")
  keep set.ours "$t" "$p"
  read -r t p < <(set_ours fat "$work/set.fat.args")
  keep set.fat "$t" "$p"
  if [ "$have_peers" = 1 ]; then
    : > "$work/set.peer"
    keep set.peer "$(set_peer)"
  fi
  read -r t p < <(mib_ours)
  keep mib.ours "$t" "$p"
  [ "$have_peers" = 1 ] && { read -r t p < <(mib_peer); keep mib.peer "$t" "$p"; }
done

# --- Checks: a figure counts only for complete output ------------------------------------------

for n in "${sizes[@]}"; do
  got=$(grep -c "^    $leaves: " "$work/list.a$n" || true)
  [ "$got" -eq "$n" ] || { say "listing of $n instances showed $got complete ones"; exit 1; }
done
for f in set.a$set_rows set.sets set.fat; do
  [ -f "$work/$f" ] || continue
  ok=$(grep -c ' \.\.\. OK$' "$work/$f" || true)
  [ "$ok" -eq "$sets" ] || { say "$f: $ok of $sets sets succeeded"; exit 1; }
done
grep -q 'Loading module' "$work/mib.ours" && ! grep -q 'FAILED' "$work/mib.ours" ||
  { say "oaset did not load the generated module:"; cat "$work/mib.ours" >&2; exit 1; }
if [ "$have_peers" = 1 ]; then
  walked=$(wc -l < "$work/walk.peer")
  [ "$walked" -eq 16000 ] || { say "snmpbulkwalk returned $walked varbinds, not 16000"; exit 1; }
  [ "$(wc -l < "$work/set.peer")" -eq "$sets" ] || { say "snmpset did not set every varbind"; exit 1; }
  grep -q '^\.1\.3\.6\.1\.4\.1\.32473\.88\.625\.1\.14$' "$work/mib.peer" ||
    { say "snmptranslate did not resolve the generated module"; exit 1; }
fi

# --- Report -------------------------------------------------------------------------------------

objects=$(grep -c 'OBJECT-TYPE$\|OBJECT-TYPE *$' "$work/mib/BENCH-BIG-MIB" || true)
objects=$((objects + 1))
empty_rss=$(kib_of "$empty_pid" VmRSS)
rate() { awk -v n="$1" -v t="$2" 'BEGIN { printf "%.0f", n / t }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "-" }'; }

echo "Machine: $(nproc) cores, $(awk '/MemTotal/ { printf "%.0f GiB", $2 / 1048576 }' /proc/meminfo)," \
  "$(uname -sr), load at start $load_start, at end $(cut -d' ' -f1-3 /proc/loadavg); best of $runs interleaved rounds," \
  "every process pinned with taskset -c 0."
echo
echo "Listing (oaset -t$entry, $leaves leaves per instance):"
echo
echo "| instances | leaves | output bytes | oaset s | leaves/s | oaset peak KiB | cat s | agent KiB after | agent B/instance beyond values | agent start peak / held |"
echo "|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|"
for n in "${sizes[@]}"; do
  pid=${agent_of[$n]}
  rss=$(kib_of "$pid" VmRSS)
  per=$(awk -v r="$rss" -v e="$empty_rss" -v n="$n" -v vb="$value_bytes" 'BEGIN { printf "%.0f", ((r - e) * 1024 - vb * n) / n }')
  printf '| %d | %d | %d | %.3f | %s | %d | %.4f | %d | %s | %s |\n' "$n" $((n * leaves)) \
    "$(wc -c < "$work/list.a$n")" "${best[list.$n]}" "$(rate $((n * leaves)) "${best[list.$n]}")" \
    "${peak[list.$n]}" "${best[cat.$n]}" "$rss" "$per" "$(ratio "${start_hwm[$n]}" "${start_rss[$n]}")"
done
printf '| 0 | 0 | - | %.3f | - | %d | - | %d | - | - |\n' "${best[list.0]}" "${peak[list.0]}" "$empty_rss"
if [ -n "${best[list.10000]:-}" ] && [ -n "${best[list.100000]:-}" ]; then
  echo
  echo "Cost growth 10,000 -> 100,000 instances: $(ratio "${best[list.100000]}" "${best[list.10000]}")x"
fi
echo
echo "Start-up (orvu-agentd --detach on the state of N instances, each record one line: the instance"
echo "and its $((leaves - 1)) values; seconds until it serves, and the journal read per second):"
echo
echo "| instances | records | hand-written MB | ready s | MB/s | sealed MB | ready s | MB/s |"
echo "|---:|---:|---:|---:|---:|---:|---:|---:|"
for n in "${sizes[@]}"; do
  [ -n "${best[boot.hand.$n]:-}" ] || continue
  mb() { awk -v b="$1" 'BEGIN { printf "%.1f", b / 1e6 }'; }
  mbs() { awk -v b="$1" -v t="$2" 'BEGIN { printf "%.0f", b / 1e6 / t }'; }
  printf '| %d | %d | %s | %.3f | %s | %s | %.3f | %s |\n' "$n" $((n * leaves)) \
    "$(mb "${hand_bytes[$n]}")" "${best[boot.hand.$n]}" "$(mbs "${hand_bytes[$n]}" "${best[boot.hand.$n]}")" \
    "$(mb "${sealed_bytes[$n]}")" "${best[boot.sealed.$n]}" "$(mbs "${sealed_bytes[$n]}" "${best[boot.sealed.$n]}")"
done
if [ "$have_peers" = 1 ]; then
  walk_rate=$(rate 16000 "${best[walk]}")
  echo
  echo "Peer: snmpbulkwalk -Cr50 of 16,000 objects: ${best[walk]} s, $walk_rate varbinds/s," \
    "peak ${peak[walk]} KiB; snmpd holds $(kib_of "$snmpd_pid" VmRSS) KiB" \
    "($(awk -v r="$(kib_of "$snmpd_pid" VmRSS)" -v n=$((16000 + sets)) 'BEGIN { printf "%.0f", r * 1024 / n }') B per object, $((16000 + sets)) objects)."
  for n in "${sizes[@]}"; do
    echo "oaset at $n instances: $(ratio "$(rate $((n * leaves)) "${best[list.$n]}")" "$walk_rate")x snmpbulkwalk's rate."
  done
fi
echo
echo "Sets ($sets -s/-m pairs in one oaset run; peer: snmpset, 128 varbinds a call):"
echo
echo "| who | rows | seconds | sets/s | peak KiB |"
echo "|---|---|---:|---:|---:|"
printf '| oaset | sample rows | %.3f | %s | %d |\n' "${best[set.ours]}" "$(rate $sets "${best[set.ours]}")" "${peak[set.ours]}"
printf '| oaset | 60 KiB column | %.3f | %s | %d |\n' "${best[set.fat]}" "$(rate $sets "${best[set.fat]}")" "${peak[set.fat]}"
if [ "$have_peers" = 1 ]; then
  printf '| snmpset | INTEGER objects | %.3f | %s | - |\n' "${best[set.peer]}" "$(rate $sets "${best[set.peer]}")"
  echo
  echo "oaset sets: $(ratio "${best[set.peer]}" "${best[set.ours]}")x snmpset (60 KiB rows: $(ratio "${best[set.peer]}" "${best[set.fat]}")x)."
fi
echo
echo "MIB reader ($objects objects in one module):"
echo
echo "| who | seconds | peak KiB | bytes per object |"
echo "|---|---:|---:|---:|"
per_obj() { awk -v k="$1" -v n="$objects" 'BEGIN { printf "%.0f", k * 1024 / n }'; }
printf '| oaset -w | %.3f | %d | %s |\n' "${best[mib.ours]}" "${peak[mib.ours]}" "$(per_obj "${peak[mib.ours]}")"
if [ "$have_peers" = 1 ]; then
  printf '| snmptranslate | %.3f | %d | %s |\n' "${best[mib.peer]}" "${peak[mib.peer]}" "$(per_obj "${peak[mib.peer]}")"
  echo
  echo "oaset loads the module $(ratio "${best[mib.peer]}" "${best[mib.ours]}")x faster than snmptranslate."
fi
