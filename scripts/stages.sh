# Stage helper, sourced by run-tests.sh (and any script that runs steps the same way):
#   source scripts/stages.sh
#   stage NAME COMMAND [ARG...]     # runs one step, stamps it with its duration
#   stage_skip NAME REASON          # records a step that did not run, and why
#   stage_summary                   # the per-stage table and one last line "N passed, N failed"
# A stage counts the tests it reports: every CTest line "... tests passed, F tests failed out of T"
# it prints, or else its last line of the form "N passed, N failed". A stage that reports neither
# counts as one test. A stage whose command fails without reporting a failed test counts one
# failure more, so a crash or a broken build never reads as a pass.
# stage returns the command's status (under set -e write "stage ... || true" to go on after a
# failure); stage_summary returns 1 when anything failed. The helper owns the EXIT trap.

STAGE_PASSED=0
STAGE_FAILED=0
STAGE_LINES=()
STAGE_LOG_DIR=$(mktemp -d "${TMPDIR:-/tmp}/oaset-stages.XXXXXX")
trap 'rm -rf "$STAGE_LOG_DIR"' EXIT

StageCounts() {
  local log=$1 counts
  counts=$(sed -n 's/.*tests passed, \([0-9]*\) tests\{0,1\} failed out of \([0-9]*\).*/\1 \2/p' "$log" |
    awk '{ failed += $1; total += $2 } END { if (NR) print total - failed, failed }')
  if [ -z "$counts" ]; then
    counts=$(sed -n 's/^\([A-Za-z]*: \)\{0,1\}\([0-9]*\) passed, \([0-9]*\) failed\(, [0-9]* skipped\)\{0,1\}$/\2 \3/p' "$log" |
      tail -n 1)
  fi
  echo "$counts"
}

stage() {
  local name=$1
  shift
  local log="$STAGE_LOG_DIR/stage.log" start status counts passed failed seconds outcome
  echo "=== $name"
  start=$(date +%s)
  local options=$-
  set +e
  "$@" 2>&1 | tee "$log"
  status=${PIPESTATUS[0]}
  [[ $options != *e* ]] || set -e
  seconds=$(($(date +%s) - start))
  counts=$(StageCounts "$log")
  if [ -n "$counts" ]; then
    read -r passed failed <<<"$counts"
  elif [ "$status" -eq 0 ]; then
    passed=1 failed=0
  else
    passed=0 failed=1
  fi
  if [ "$status" -ne 0 ] && [ "$failed" -eq 0 ]; then
    failed=1
  fi
  STAGE_PASSED=$((STAGE_PASSED + passed))
  STAGE_FAILED=$((STAGE_FAILED + failed))
  outcome=ok
  [ "$status" -eq 0 ] || outcome="FAILED (status $status)"
  STAGE_LINES+=("$(printf '%-36s %-20s %6d s  %d passed, %d failed' "$name" "$outcome" \
    "$seconds" "$passed" "$failed")")
  echo "=== $name: $outcome in $seconds s"
  return "$status"
}

stage_skip() {
  STAGE_LINES+=("$(printf '%-36s %-20s %s' "$1" skipped "$2")")
  echo "=== $1: skipped ($2)"
}

stage_summary() {
  echo "=== summary"
  printf '%s\n' "${STAGE_LINES[@]}"
  echo "$STAGE_PASSED passed, $STAGE_FAILED failed"
  [ "$STAGE_FAILED" -eq 0 ]
}
