#!/usr/bin/env bash
# Runs the examples of README.md, taken from the page itself, in order on a fresh agent of its own:
# first every ./oaset.sh example in its tables, then every block fenced as ```sh (one script a
# block). Blocks fenced as ```sh manual are not run; those fenced as ```sh snmpd are counted and
# left to the AgentX tests. build/RelWithDebInfo in an example stands for the build under test.
# Usage: readme_examples_test.sh BUILD_FOLDER
source "$(dirname "$0")/script_test_lib.sh" "$1"
export OASET_BUILD_DIR=$BUILD_DIR HOME="$WORK/home"
unset XDG_STATE_HOME
mkdir -p "$HOME"
readme="$SOURCE_DIR/README.md"

examples=()
while IFS= read -r example; do
  examples+=("$example")
done < <(grep '^|' "$readme" | grep -o '`[^`]*\./oaset\.sh [^`]*`' | tr -d '`')

FencedBlocks "$readme" sh
blocks=("${BLOCKS[@]}")
FencedBlocks "$readme" "sh snmpd"
snmpd_blocks=${#BLOCKS[@]}

# An example works when it exits 0 and says nothing of a failure, except the fault example, which
# must show the failure it injects.
Works() {
  local script=${1//build\/RelWithDebInfo/$BUILD_DIR} log="$WORK/example.log" status=0
  (cd "$SOURCE_DIR" && timeout 120 bash -e -c "$script") >"$log" 2>&1 || status=$?
  if [ "$status" -ne 0 ]; then
    echo "  exit status $status:" && sed 's/^/  | /' "$log"
    return 1
  fi
  if [[ $script == *ORVU_FAULTS=* ]]; then
    Contains "$log" "Agent connection failed" || return 1
    grep -v "Agent connection failed" "$log" >"$log.rest"
    log="$log.rest"
  fi
  local text
  for text in failed "no such" "does not answer" "in use by another" "cannot" "kill:" "Usage"; do
    if grep -qi -- "$text" "$log"; then
      echo "  says \"$text\":" && sed 's/^/  | /' "$WORK/example.log"
      return 1
    fi
  done
}

Check "README.md holds table examples" test "${#examples[@]}" -gt 5
Check "README.md holds example blocks" test "${#blocks[@]}" -gt 0
for example in "${examples[@]}"; do
  Check "$example" Works "$example"
done
for block in "${blocks[@]}"; do
  Check "block: $(head -n 1 <<<"$block")" Works "$block"
done
echo "left to the AgentX tests: $snmpd_blocks block(s) fenced as \`\`\`sh snmpd"
Summary
