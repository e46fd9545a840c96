#!/usr/bin/env bash
# The agent's load, kill and flood tests with far larger figures than the suite uses.
# Usage: scripts/hardening-long.sh [BUILD FOLDER, default build/RelWithDebInfo (built here)]
# The figures can be set: OASET_LOAD_CLIENTS (16), OASET_LOAD_ROUNDS (1000), OASET_KILL_COUNT (100),
# OASET_KILL_SEED, OASET_FLOOD_INPUTS (200000), OASET_FLOOD_SEED, OASET_TEAR_KILLS (400),
# OASET_TEAR_SEED, OASET_BUDGET_HOLDERS (1000), OASET_BUDGET_ASKERS (990), OASET_CHANGESET_KILLS
# (200), OASET_CHANGESET_ROWS (500: each set writes 5 columns of as many rows), OASET_CHANGESET_SEED,
# OASET_POWERCUT_IMAGES (200 per mode), OASET_POWERCUT_SEED, OASET_MEMBER_CLIENTS (984),
# OASET_MEMBER_ROWS (50000), OASET_MEMBER_VALUES (200), OASET_MEMBER_STATE_MIB (64),
# OASET_CHURNING_STRANGERS (6), OASET_CHURNED_RUNS (300).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
source "$top/scripts/build_folder.sh"
dir=$(build_folder "$@")
export OASET_LOAD_ROUNDS=${OASET_LOAD_ROUNDS:-1000}
export OASET_KILL_COUNT=${OASET_KILL_COUNT:-100}
export OASET_FLOOD_INPUTS=${OASET_FLOOD_INPUTS:-200000}
export OASET_TEAR_KILLS=${OASET_TEAR_KILLS:-400}
export OASET_CHANGESET_KILLS=${OASET_CHANGESET_KILLS:-200}
export OASET_POWERCUT_IMAGES=${OASET_POWERCUT_IMAGES:-200}
export OASET_CHURNED_RUNS=${OASET_CHURNED_RUNS:-300}
log="$dir/hardening-long.log"
status=0
"$dir/bin/hardening_tests" >"$log" 2>&1 || status=$?
OASET_BUDGET_HOLDERS=${OASET_BUDGET_HOLDERS:-1000} OASET_BUDGET_ASKERS=${OASET_BUDGET_ASKERS:-990} \
  "$dir/bin/agent_tests" --gtest_filter='TrustTest.UnfinishedInputAndUnsentOutputShareOneBudget' \
  >>"$log" 2>&1 || status=$?
OASET_MEMBER_CLIENTS=${OASET_MEMBER_CLIENTS:-984} OASET_MEMBER_ROWS=${OASET_MEMBER_ROWS:-50000} \
  OASET_MEMBER_VALUES=${OASET_MEMBER_VALUES:-200} OASET_MEMBER_STATE_MIB=${OASET_MEMBER_STATE_MIB:-64} \
  "$dir/bin/agent_tests" --gtest_filter='TrustTest.AMemberOfTheGroupCannotCrowdOutTheOwner' \
  >>"$log" 2>&1 || status=$?
grep -E '^(load|kill|flood|tear|changesets|budget|powercut|churning strangers|group shares):|^\[  (PASSED|FAILED) ' "$log" || true
[ "$status" -eq 0 ] || { echo "hardening-long.sh: failed, see $log" >&2; tail -40 "$log" >&2; }
exit "$status"
