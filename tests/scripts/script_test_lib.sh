# Shared by the script tests: a private folder for everything a test writes (its state folder,
# runtime folder and sockets), agents stopped at the end, and a check counter that ends in the line
# "N passed, N failed". Source it with the build folder as $1.
set -uo pipefail
BUILD_DIR=$(cd "$1" && pwd)
SOURCE_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
WORK=$(mktemp -d "${TMPDIR:-/tmp}/oaset-script-test.XXXXXX")
export XDG_STATE_HOME="$WORK/state" XDG_RUNTIME_DIR="$WORK/run" TZ=UTC
mkdir -p "$XDG_RUNTIME_DIR"
unset ORVU_AGENT_SOCKET ORVU_FAULTS ORVU_MIB_PATH
CHECKS_PASSED=0
CHECKS_FAILED=0

# Every agent whose pid file lies in the private folder is stopped, whatever the test did.
StopTestAgents() {
  local file pid
  while IFS= read -r file; do
    pid=$(cat "$file" 2>/dev/null) || continue
    [[ $pid =~ ^[0-9]+$ ]] && kill "$pid" 2>/dev/null
  done < <(find "$WORK" -name '*.pid' 2>/dev/null)
}
trap 'StopTestAgents; rm -rf "$WORK"' EXIT

# FencedBlocks FILE INFO: the blocks of FILE fenced as ```INFO, in order, into the array BLOCKS.
FencedBlocks() {
  local file=$1 info=$2 line block="" fence=""
  BLOCKS=()
  while IFS= read -r line; do
    if [ -z "$fence" ]; then
      case "$line" in
        '```'"$info") fence=take block="" ;;
        '```'*) fence=other ;;
      esac
    elif [ "$line" = '```' ]; then
      [ "$fence" = take ] && BLOCKS+=("$block")
      fence=""
    elif [ "$fence" = take ]; then
      block+="$line"$'\n'
    fi
  done <"$file"
}

# Check NAME COMMAND...: passes when COMMAND succeeds.
Check() {
  local name=$1
  shift
  if "$@"; then
    CHECKS_PASSED=$((CHECKS_PASSED + 1))
    echo "ok      $name"
  else
    CHECKS_FAILED=$((CHECKS_FAILED + 1))
    echo "FAILED  $name"
  fi
}

# Contains FILE TEXT / Lacks FILE TEXT: a fixed text is (not) in FILE; a miss shows the file.
Contains() {
  grep -qF -- "$2" "$1" && return 0
  echo "  expected \"$2\" in $1:" && sed 's/^/  | /' "$1"
  return 1
}
Lacks() {
  grep -qF -- "$2" "$1" || return 0
  echo "  did not expect \"$2\" in $1:" && sed 's/^/  | /' "$1"
  return 1
}

# The closing line; the status is nonzero when a check failed.
Summary() {
  echo "$CHECKS_PASSED passed, $CHECKS_FAILED failed"
  [ "$CHECKS_FAILED" -eq 0 ]
}
