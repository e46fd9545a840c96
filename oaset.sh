#!/usr/bin/env bash
# Installs what is missing, builds, starts the default agent when none answers, then runs oaset
# with the arguments given here: ./oaset.sh -v -o -c
set -euo pipefail
top=$(cd "$(dirname "$0")" && pwd)
state_dir="${XDG_STATE_HOME:-$HOME/.local/state}/oaset"
mkdir -p "$state_dir"
chmod 700 "$state_dir"

"$top/scripts/install-deps.sh" >&2
build_log="$state_dir/build.log"
if ! dir=$("$top/scripts/build.sh" 2>"$build_log"); then
  tail -n 40 "$build_log" >&2
  echo "oaset.sh: the build failed; the whole log is in $build_log" >&2
  exit 1
fi
bin="$dir/bin"

# The default agent serves the sample module at the platform's default socket, which oaset finds
# without being told; a socket chosen with ORVU_AGENT_SOCKET is honoured by both. Its state lives
# in the per-user folder.
socket_args=()
if [ -n "${ORVU_AGENT_SOCKET:-}" ]; then
  socket_args=(--socket "$ORVU_AGENT_SOCKET")
fi

# A run with nothing to do connects and disconnects; it is the one probe that needs nothing else.
agent_answers() {
  ! "$bin/oaset" probe 2>/dev/null | grep -q "Agent connection failed"
}

if ! agent_answers; then
  echo "oaset.sh: starting orvu-agentd (state in $state_dir)" >&2
  "$bin/orvu-agentd" "${socket_args[@]}" --state "$state_dir/agent.state" \
    --module VORNEL-VNBEEP-MIB --detach --pid-file "$state_dir/agent.pid"
  for _ in $(seq 1 100); do
    agent_answers && break
    sleep 0.1
  done
  if ! agent_answers; then
    echo "oaset.sh: orvu-agentd was started but does not answer" >&2
    exit 1
  fi
fi

exec "$bin/oaset" "$@"
