#!/usr/bin/env bash
# orvuctl against net-snmp on equal work, both sides pinned to one core (`taskset -c 0`):
# - apply of one file of 100,000 value changes (ten writable columns of 10,000 full rows) against
#   snmpset of as many varbinds in calls of 128 (goal: at least 20 times snmpset's rate);
# - get of 10,000 named values against snmpget in calls of 128 (goal: at least 10 times);
# - the same file applied again, nothing to change (goal: within 1 s);
# - orvuctl's peak memory in the apply (goal: at most 3 times the file's size).
# Wall times are the best of BENCH_RUNS rounds (default 3), CPU times and peak memory from
# /usr/bin/time. Each round applies a YAML file and a JSON file of other values in turn, so that
# every first apply changes every value, and each file a second time.
#   bench/orvuctl/orvuctl_bench.sh [BIN_DIR]     (default: build/RelWithDebInfo/bin)
# Installs nothing: without Debian's snmp and snmpd the peer's columns stay empty.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
bin=$(cd "${1:-$top/build/RelWithDebInfo/bin}" && pwd)
runs=${BENCH_RUNS:-3}
rows=10000
entry=1.3.6.1.4.1.32473.99.1.9.1
pin=(taskset -c 0)
for tool in taskset /usr/bin/time python3; do
  command -v "$tool" > /dev/null || { echo "orvuctl_bench: $tool is needed" >&2; exit 1; }
done

source "$top/bench/bench_lib.sh" orvuctl-bench
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", b - a }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.1f", (b > 0) ? a / b : 0 }'; }

have_peers=1
for peer in snmpd snmpset snmpget; do
  command -v "$peer" > /dev/null || { say "orvuctl_bench: no $peer (Debian's snmp, snmpd)"; have_peers=0; }
done

# --- Inputs -------------------------------------------------------------------------------------

# The agent's state: 10,000 rows of the sample table, every column at its default.
awk -v n="$rows" -v entry="$entry" 'BEGIN {
  print "module VORNEL-VNBEEP-MIB"
  for (i = 1; i <= n; i++)
    printf "instance entry=%s index=%d handle=%d creator=1 time=86400 enabled=8\n", entry, i, i
}' > "$work/state"

# A desired state of every row with ten writable columns, none at its default: VARIANT 0 and 1
# differ in every value.
write_desired() { # VARIANT FILE
  awk -v n="$rows" -v v="$1" 'BEGIN {
    print "tables:\n  speakerFreqEntry:\n    rows:"
    for (i = 1; i <= n; i++) {
      printf "      - index: %d\n", i
      printf "        speakerFreqDescr: \"row %d variant %d\"\n", i, v
      printf "        speakerFreqHertz: %d\n", 1000 + 2 * (i % 4000) + v
      printf "        speakerFreqMode: %s\n", v ? "repeat" : "disabled"
      printf "        speakerFreqPattern: %s\n", v ? "long,rising" : "long,pause"
      printf "        speakerFreqWaveform: 1.3.6.1.%d.%d\n", v, i
      printf "        speakerFreqSourceAddress: 10.%d.%d.%d\n", v, int(i / 256), i % 256
      printf "        speakerFreqPlayCount: %d\n", 2 * i + v
      printf "        speakerFreqLevel: %d\n", 2 * (i % 40) + v
      printf "        speakerFreqDuration: %d\n", 1000 + 2 * i + v
      printf "        speakerFreqRawOctets: \"0x%02x%04x\"\n", v, i
    }
  }' > "$2"
}
# The same state as JSON, which a program hands over more often than YAML.
write_desired_json() { # VARIANT FILE
  awk -v n="$rows" -v v="$1" 'BEGIN {
    printf "{\"tables\": {\"speakerFreqEntry\": {\"rows\": [\n"
    for (i = 1; i <= n; i++) {
      printf "{\"index\": %d, \"speakerFreqDescr\": \"row %d variant %d\", ", i, i, v
      printf "\"speakerFreqHertz\": %d, \"speakerFreqMode\": \"%s\", ", 1000 + 2 * (i % 4000) + v, v ? "repeat" : "disabled"
      printf "\"speakerFreqPattern\": \"%s\", ", v ? "long,rising" : "long,pause"
      printf "\"speakerFreqWaveform\": \"1.3.6.1.%d.%d\", ", v, i
      printf "\"speakerFreqSourceAddress\": \"10.%d.%d.%d\", ", v, int(i / 256), i % 256
      printf "\"speakerFreqPlayCount\": %d, \"speakerFreqLevel\": %d, ", 2 * i + v, 2 * (i % 40) + v
      printf "\"speakerFreqDuration\": %d, \"speakerFreqRawOctets\": \"0x%02x%04x\"}%s\n", 1000 + 2 * i + v, v, i, i < n ? "," : ""
    }
    print "]}}}"
  }' > "$2"
}
write_desired 0 "$work/desired0.yaml"
write_desired_json 1 "$work/desired1.json"
file_bytes=$(stat -c %s "$work/desired0.yaml")
json_bytes=$(stat -c %s "$work/desired1.json")

# --- Our side -----------------------------------------------------------------------------------

ORVU_MIB_PATH="$top/mibs" "${pin[@]}" "$bin/orvu-agentd" --socket "$work/agent.sock" \
  --state "$work/state" --clock 86400 > "$work/agent.log" 2>&1 &
pids+=("$!")
for _ in $(seq 600); do [ -S "$work/agent.sock" ] && break; sleep 0.1; done
[ -S "$work/agent.sock" ] || { say "orvu-agentd did not start"; cat "$work/agent.log" >&2; exit 1; }
export ORVU_AGENT_SOCKET="$work/agent.sock" ORVU_MIB_PATH="$top/mibs"

# Runs orvuctl pinned; prints "WALL CPU PEAK_KIB" and leaves its output in OUT.
orvuctl_timed() { # OUT ARGS...
  local out=$1 start end
  shift
  start=$(now)
  "${pin[@]}" /usr/bin/time -f "%U %S %M" -o "$work/time" "$bin/orvuctl" "$@" > "$out"
  end=$(now)
  echo "$(elapsed "$start" "$end") $(awk '{ printf "%.3f %d", $1 + $2, $3 }' "$work/time")"
}
changed_of() { python3 -c 'import json, sys; print(json.load(open(sys.argv[1]))["changed"])' "$1"; }

apply_wall= apply_cpu= apply_peak= again_wall= again_cpu= again_peak= get_wall= get_cpu=
japply_wall= japply_cpu= japply_peak= jagain_wall= jagain_cpu=
seq 1 "$rows" | sed 's/^/speakerFreqHertz./' > "$work/names"
# Each round applies the YAML file (every value changes), again (nothing), then the JSON file of
# the other values (every value changes back) and again.
applied() { # FILE CHANGES -> "WALL CPU PEAK"
  local result
  result=$(orvuctl_timed "$work/apply.json" apply "$1" --json)
  [ "$(changed_of "$work/apply.json")" = "$2" ] ||
    { say "apply $1 changed $(changed_of "$work/apply.json") values, not $2"; exit 1; }
  echo "$result"
}
for ((round = 0; round < runs; round++)); do
  read -r wall cpu peak <<< "$(applied "$work/desired0.yaml" 100000)"
  apply_wall=$(least "$wall" "$apply_wall") apply_cpu=$(least "$cpu" "$apply_cpu")
  apply_peak=$(least "$peak" "$apply_peak")
  read -r wall cpu peak <<< "$(applied "$work/desired0.yaml" 0)"
  again_wall=$(least "$wall" "$again_wall") again_cpu=$(least "$cpu" "$again_cpu")
  again_peak=$(least "$peak" "$again_peak")
  read -r wall cpu peak <<< "$(applied "$work/desired1.json" 100000)"
  japply_wall=$(least "$wall" "$japply_wall") japply_cpu=$(least "$cpu" "$japply_cpu")
  japply_peak=$(least "$peak" "$japply_peak")
  read -r wall cpu peak <<< "$(applied "$work/desired1.json" 0)"
  jagain_wall=$(least "$wall" "$jagain_wall") jagain_cpu=$(least "$cpu" "$jagain_cpu")
  # shellcheck disable=SC2046 # one argument a name
  read -r wall cpu peak <<< "$(orvuctl_timed "$work/get.out" get $(cat "$work/names"))"
  [ "$(wc -l < "$work/get.out")" -eq "$rows" ] || { say "get did not print every value"; exit 1; }
  get_wall=$(least "$wall" "$get_wall") get_cpu=$(least "$cpu" "$get_cpu")
done

# --- The peer: snmpd with writable objects of the same table shape ------------------------------

# snmpd takes minutes to start on 100,000 override lines: it serves 10,000 objects (ten columns
# of 1,000 rows), and its 100,000 varbinds write each of them ten times, 128 distinct ones a call.

set_peer= get_peer=
if [ "$have_peers" = 1 ]; then
  peer_oid=.1.3.6.1.4.1.32473.77.3.1
  peer_rows=1000
  port=$(python3 -c 'import socket; s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  peer="127.0.0.1:$port"
  mkdir -p "$work/snmp" "$work/nomibs"
  {
    echo "agentaddress udp:$peer"
    echo "rwcommunity private 127.0.0.1"
    echo "rocommunity public 127.0.0.1"
    echo "dontLogTCPWrappersConnects yes"
    awk -v base="$peer_oid" -v n="$peer_rows" 'BEGIN {
      for (r = 1; r <= n; r++) for (c = 1; c <= 10; c++)
        printf "override -rw %s.%d.%d integer 0\n", base, c, r }'
  } > "$work/snmpd.conf"
  SNMP_PERSISTENT_DIR="$work/snmp" MIBDIRS="$work/nomibs" MIBS= "${pin[@]}" \
    snmpd -f -Lf "$work/snmpd.log" -C -c "$work/snmpd.conf" > "$work/snmpd.out" 2>&1 &
  pids+=("$!")
  snmp=(env MIBDIRS="$work/nomibs" MIBS= "${pin[@]}")
  for _ in $(seq 1200); do
    "${snmp[@]}" snmpget -v2c -c public -r0 -t1 "$peer" "$peer_oid.10.$peer_rows" > /dev/null 2>&1 &&
      break
    sleep 0.1
  done
  peer_set() { # VALUE_BASE
    local start end i k
    start=$(now)
    for ((i = 0; i < rows * 10; i += 128)); do
      local -a vb=()
      for ((k = i; k < i + 128 && k < rows * 10; k++)); do
        vb+=("$peer_oid.$((k % 10 + 1)).$((k / 10 % peer_rows + 1))" i "$(($1 + k))")
      done
      "${snmp[@]}" snmpset -v2c -c private -Oq "$peer" "${vb[@]}" >> "$work/set.peer"
    done
    end=$(now)
    elapsed "$start" "$end"
  }
  peer_get() {
    local start end i k
    start=$(now)
    for ((i = 1; i <= rows; i += 128)); do
      local -a oids=()
      for ((k = i; k < i + 128 && k <= rows; k++)); do
        oids+=("$peer_oid.$((k % 10 + 1)).$(((k - 1) / 10 % peer_rows + 1))")
      done
      "${snmp[@]}" snmpget -v2c -c public -Oq "$peer" "${oids[@]}" >> "$work/get.peer"
    done
    end=$(now)
    elapsed "$start" "$end"
  }
  for ((round = 0; round < runs; round++)); do
    : > "$work/set.peer"
    : > "$work/get.peer"
    set_peer=$(least "$(peer_set $((round + 1)))" "$set_peer")
    [ "$(wc -l < "$work/set.peer")" -eq $((rows * 10)) ] || { say "snmpset did not set every varbind"; exit 1; }
    get_peer=$(least "$(peer_get)" "$get_peer")
    [ "$(wc -l < "$work/get.peer")" -eq "$rows" ] || { say "snmpget did not get every value"; exit 1; }
  done
fi

# --- Figures ------------------------------------------------------------------------------------

cat << REPORT
| measure | orvuctl | net-snmp | ratio | goal |
|---|---|---|---|---|
| 100,000 value changes, one YAML file ($file_bytes bytes) | apply ${apply_wall} s (CPU ${apply_cpu} s) | snmpset, 782 calls of 128: ${set_peer:-n/a} s | $(ratio "${set_peer:-0}" "$apply_wall")x | >= 20x |
| the same as JSON ($json_bytes bytes) | apply ${japply_wall} s (CPU ${japply_cpu} s) | | $(ratio "${set_peer:-0}" "$japply_wall")x | >= 20x |
| 10,000 named values | get ${get_wall} s (CPU ${get_cpu} s) | snmpget, 79 calls of 128: ${get_peer:-n/a} s | $(ratio "${get_peer:-0}" "$get_wall")x | >= 10x |
| the same YAML file again, nothing to change | apply ${again_wall} s (CPU ${again_cpu} s) | | | <= 1 s |
| the same JSON file again | apply ${jagain_wall} s (CPU ${jagain_cpu} s) | | | <= 1 s |
| orvuctl's peak memory, 100,000 changes, YAML | ${apply_peak} KiB, $(ratio "$((apply_peak * 1024))" "$file_bytes")x the file | | | <= 3x |
| the same, JSON | ${japply_peak} KiB, $(ratio "$((japply_peak * 1024))" "$json_bytes")x the file | | | <= 3x |
| orvuctl's peak memory, nothing to change, YAML | ${again_peak} KiB, $(ratio "$((again_peak * 1024))" "$file_bytes")x the file | | | <= 3x |
REPORT
