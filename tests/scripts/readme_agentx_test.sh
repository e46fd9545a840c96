#!/usr/bin/env bash
# Runs README.md's blocks fenced as ```sh snmpd (net-snmp's snmpd as master, the agent as its
# subagent, then a restart of snmpd), taken from the page itself, each as one script whose
# temporary folders lie in the test's private folder, on a free UDP port in place of 1161. What
# each snmpget prints must be the comment line below it, on a line of its own, before the restart
# and after it.
# Usage: readme_agentx_test.sh BUILD_FOLDER
source "$(dirname "$0")/script_test_lib.sh" "$1"
readme="$SOURCE_DIR/README.md"

FencedBlocks "$readme" "sh snmpd"
blocks=("${BLOCKS[@]}")

# A UDP port of 127.0.0.1 that nobody uses now.
FreePort() {
  python3 -c 'import socket
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind(("127.0.0.1", 0))
print(s.getsockname()[1])'
}

# The block stops snmpd and the agent; they are gone before the test goes on (snmpd writes its
# persistent data as it exits).
WaitForTheBlocksPrograms() {
  local file pid tries
  while IFS= read -r file; do
    pid=$(cat "$file" 2>/dev/null) || continue
    [[ $pid =~ ^[0-9]+$ ]] || continue
    for ((tries = 0; tries < 100; tries++)); do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.05
    done
  done < <(find "$WORK" -name '*.pid' 2>/dev/null)
}

# snmpd writes into its folders as it exits: the private folder goes once it has.
trap 'StopTestAgents; WaitForTheBlocksPrograms; rm -rf "$WORK"' EXIT

# The block runs to its end, and each snmpget prints the comment line that follows it.
Runs() {
  local port script log="$WORK/block.log" expected="$WORK/expected" got="$WORK/got" status=0
  port=$(FreePort)
  script=${1//build\/RelWithDebInfo/$BUILD_DIR}
  script=${script//:1161/:$port}
  grep -A1 '^MIBS= snmpget' <<<"$1" | grep '^# ' | sed 's/^# //' >"$expected"
  (cd "$SOURCE_DIR" && TMPDIR="$WORK" timeout 120 bash -e -c "$script") >"$log" 2>&1 || status=$?
  WaitForTheBlocksPrograms
  # At the start of a line: what ran before it ended its own last line.
  grep '^\.1\.3\.6\.1\.4\.1\.32473\..* = .*' "$log" >"$got"
  if [ "$status" -ne 0 ] || ! cmp -s "$expected" "$got"; then
    echo "  exit status $status; expected the lines:" && sed 's/^/  | /' "$expected"
    echo "  the block printed:" && sed 's/^/  | /' "$log"
    return 1
  fi
  if [ "$(wc -l <"$expected")" -lt 2 ]; then
    echo "  the block reads nothing after a restart of snmpd"
    return 1
  fi
}

# snmpd's configuration is still the block's own after the restart.
ConfigurationKept() {
  local conf
  conf=$(find "$WORK" -maxdepth 2 -name snmpd.conf | head -n 1)
  [ -n "$conf" ] && Contains "$conf" "master agentx"
}

if [ ! -x /usr/sbin/snmpd ] || ! command -v snmpget >/dev/null; then
  echo "skipped: net-snmp's snmpd and snmpget are not installed"
  exit 0
fi
Check "README.md holds AgentX blocks" test "${#blocks[@]}" -gt 0
for block in "${blocks[@]}"; do
  Check "block: $(head -n 1 <<<"$block")" Runs "$block"
  Check "snmpd's configuration survives its restart" ConfigurationKept
done
Summary
