#!/usr/bin/env bash
# Loading a whole corpus of real MIB modules in one process: the MIB library (corpus_load, as
# oaset -w loads) next to net-snmp's `snmptranslate -Tp -m ALL` on the same folders. Both run
# pinned to one core (`taskset -c 0`); CPU time (user + system) and peak memory come from
# /usr/bin/time, the best of BENCH_RUNS (default 5) rounds, the two sides interleaved.
#   bench/corpus/corpus_bench.sh CORPUS_LOAD CORPUS
# CORPUS holds ietf/ and iana/, searched in that order by both sides.
set -euo pipefail
load=${1:?usage: corpus_bench.sh CORPUS_LOAD CORPUS}
corpus=${2:?usage: corpus_bench.sh CORPUS_LOAD CORPUS}
runs=${BENCH_RUNS:-5}
repeat=${BENCH_REPEAT:-10}
for tool in taskset /usr/bin/time snmptranslate; do
  command -v "$tool" > /dev/null || { echo "corpus_bench: $tool is needed" >&2; exit 1; }
done
folders="$corpus/ietf:$corpus/iana"
modules=()
for file in "$corpus"/ietf/* "$corpus"/iana/*; do
  name=$(basename "$file")
  [[ " ${modules[*]} " == *" $name "* ]] || modules+=("$name")
done

work=$(mktemp -d "${TMPDIR:-/tmp}/oaset-corpus-XXXXXX")
trap 'rm -rf "$work"' EXIT

# Prints "CPU_SECONDS PEAK_KIB" of one pinned run of the command: the CPU time per run of
# BENCH_REPEAT (default 10) runs in a row, since /usr/bin/time counts in hundredths of a second,
# and the peak of the largest.
measure() {
  /usr/bin/time -o "$work/time" -f '%U %S %M' taskset -c 0 bash -c \
    'for ((i = 0; i < $0; ++i)); do "$@" > /dev/null || exit 1; done' "$repeat" "$@" \
    2> "$work/err" || {
    echo "corpus_bench: $1 failed:" >&2
    cat "$work/err" >&2
    exit 1
  }
  awk -v n="$repeat" '{ printf "%.4f %d\n", ($1 + $2) / n, $3 }' "$work/time"
}

least() { awk -v a="$1" -v b="${2:-}" 'BEGIN { print (b == "" || a + 0 < b + 0) ? a : b }'; }

declare -A cpu peak
for ((round = 1; round <= runs; ++round)); do
  read -r c m < <(ORVU_MIB_PATH="$folders" measure "$load" "${modules[@]}")
  cpu[ours]=$(least "$c" "${cpu[ours]:-}")
  peak[ours]=$(least "$m" "${peak[ours]:-}")
  read -r c m < <(HOME="$work" MIBS= MIBDIRS= SNMPCONFPATH="$work" SNMP_PERSISTENT_DIR="$work" \
    measure snmptranslate -Tp -m ALL -M "$folders")
  cpu[peer]=$(least "$c" "${cpu[peer]:-}")
  peak[peer]=$(least "$m" "${peak[peer]:-}")
done

echo "| loader | modules | CPU seconds | peak KiB |"
echo "|---|---|---|---|"
printf '| MIB library (corpus_load) | %d | %s | %d |\n' "${#modules[@]}" "${cpu[ours]}" "${peak[ours]}"
printf '| snmptranslate -Tp -m ALL | %d | %s | %d |\n' "${#modules[@]}" "${cpu[peer]}" "${peak[peer]}"
awk -v a="${cpu[ours]}" -v b="${cpu[peer]}" -v m="${peak[ours]}" -v n="${peak[peer]}" 'BEGIN {
  printf "\nThe MIB library takes %.2f of snmptranslate'"'"'s CPU time and %.2f of its peak memory.\n",
    (b > 0 ? a / b : 0), (n > 0 ? m / n : 0) }'
