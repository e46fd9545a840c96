# Sourced by the benchmarks, after their own checks:
#   source "$top/bench/bench_lib.sh" NAME
# makes WORK, a fresh folder named after NAME, removed at exit together with every program whose
# pid the bench put in PIDS; say writes to standard error, now and least are the timing helpers.
work=$(mktemp -d "${TMPDIR:-/tmp}/$1-XXXXXX")
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2> /dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2> /dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
say() { echo "$*" >&2; }
now() { date +%s.%N; }
least() { awk -v a="$1" -v b="${2:-}" 'BEGIN { print (b == "" || a + 0 < b + 0) ? a : b }'; }
