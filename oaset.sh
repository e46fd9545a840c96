#!/usr/bin/env bash
# Installs what is missing, builds, starts the agent when none answers, then runs oaset with the
# arguments given here:
#   ./oaset.sh -v -o -c     run oaset (starting the agent first when none answers)
#   ./oaset.sh --stop       stop the agent that this script started at the current socket
#   ./oaset.sh --reset      stop it and forget its state: the next run starts afresh
# The socket is ORVU_AGENT_SOCKET, else the platform's default one; each socket has its own agent,
# state file and pid file in the per-user state folder, so agents at two sockets never share one.
# OASET_BUILD_DIR=FOLDER takes the programs already built in FOLDER/bin and builds nothing.
# Otherwise the programs come from build/RelWithDebInfo, built (with only what they need installed)
# when missing or older than the sources; an up-to-date build costs a few file checks, not a call
# of the package manager, cmake or ninja.
set -euo pipefail
top=$(cd "$(dirname "$0")" && pwd)
state_dir="${XDG_STATE_HOME:-$HOME/.local/state}/oaset"
[ -d "$state_dir" ] || mkdir -p "$state_dir"
chmod 700 "$state_dir"

Say() { echo "oaset.sh: $*" >&2; }

# What oaset.sh runs: the tool, the agent and the three libraries; the tests, benchmarks and the
# Windows build belong to run-tests.sh.
targets=(oaset orvu-agentd vnoagent vnwsnmp vnxmib)
outputs=(bin/oaset bin/orvu-agentd bin/libvnoagent.so bin/libvnwsnmp.so bin/libvnxmib.so)

# The stamp is touched after every build that succeeded: a source newer than it (or a missing
# program) is the one reason to ask cmake again.
UpToDate() {
  local output
  [ -f "$stamp" ] || return 1
  for output in "${outputs[@]}"; do
    [ -x "$dir/$output" ] || return 1
  done
  [ -z "$(find "$top/CMakeLists.txt" "$top/cmake" "$top/src" "$top/platform" -newer "$stamp" \
    -print -quit 2>/dev/null)" ]
}

# The log of a build that did something replaces build.log; a run with nothing to do keeps the
# last real build's log.
Build() {
  local log="$build_log.new" started
  # A source changed while the build runs must still count as newer than the build.
  started=$(date +%s.%N)
  "$top/scripts/install-deps.sh" --tool >&2
  if [ ! -x "$dir/bin/oaset" ]; then
    Say "building oaset and orvu-agentd into $dir; the first build takes a few minutes" \
      "(log in $build_log)"
  elif [ -f "$stamp" ]; then
    Say "the sources changed since the last build: bringing it up to date (log in $build_log)"
  fi
  {
    # A folder configured by run-tests.sh keeps its tests; a fresh one needs no test framework.
    [ -f "$dir/build.ninja" ] ||
      cmake -S "$top" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOASET_WERROR=ON \
        -DOASET_UNIT_TESTS=OFF &&
      cmake --build "$dir" -j "$(nproc)" --target "${targets[@]}"
  } >"$log" 2>&1 || {
    tail -n 40 "$log" >&2
    mv "$log" "$build_log"
    Say "the build failed; the whole log is in $build_log"
    exit 1
  }
  if grep -q "no work to do" "$log"; then
    rm -f "$log"
  else
    mv "$log" "$build_log"
  fi
  touch -d "@$started" "$stamp"
}

if [ -n "${OASET_BUILD_DIR:-}" ]; then
  dir=$OASET_BUILD_DIR
else
  dir="$top/build/RelWithDebInfo"
  stamp="$dir/oaset-sh.stamp"
  build_log="$state_dir/build.log"
  UpToDate || Build
fi
bin="$dir/bin"

# The agent's files are named after its socket: the default socket keeps the plain names (the same
# state file orvu-agentd takes by default); another socket's path is spelled into the name with
# '%' and '/' escaped, so that two sockets never share a file.
if [ -n "${XDG_RUNTIME_DIR:-}" ]; then
  default_socket="$XDG_RUNTIME_DIR/orvu-agent.sock"
else
  default_socket="/tmp/orvu-agent-$(id -u)/orvu-agent.sock"
fi
socket=${ORVU_AGENT_SOCKET:-$default_socket}
socket_args=()
name=agent
if [ "$socket" != "$default_socket" ]; then
  socket_args=(--socket "$socket")
  case "$socket" in
    /*) absolute=$socket ;;
    *) absolute="$PWD/$socket" ;;
  esac
  escaped=${absolute//%/%25}
  name="agent-${escaped//\//%2F}"
fi
state_file="$state_dir/$name.state"
pid_file="$state_dir/$name.pid"
lock_file="$state_dir/$name.lock"

# A run with nothing to do connects and disconnects; it is the one probe that needs nothing else.
# It must not inherit fault injection meant for the real run.
AgentAnswers() {
  ! env -u ORVU_FAULTS "$bin/oaset" probe 2>/dev/null | grep -q "Agent connection failed"
}

# The pid of the agent this script started at the socket, when it still runs.
RunningAgent() {
  local pid
  pid=$(cat "$pid_file" 2>/dev/null) || return 1
  [[ $pid =~ ^[0-9]+$ ]] && kill -0 "$pid" 2>/dev/null &&
    [ "$(cat "/proc/$pid/comm" 2>/dev/null)" = orvu-agentd ] && echo "$pid"
}

StopAgent() {
  local pid
  if ! pid=$(RunningAgent); then
    rm -f "$pid_file"
    if AgentAnswers; then
      Say "an agent answers at $socket, but not one that oaset.sh started; stop it with kill"
      return 1
    fi
    Say "no agent runs at $socket"
    return 0
  fi
  kill "$pid"
  for _ in $(seq 1 100); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  if kill -0 "$pid" 2>/dev/null; then
    Say "orvu-agentd (pid $pid) did not stop within 10 s"
    return 1
  fi
  rm -f "$pid_file"
  Say "stopped orvu-agentd (pid $pid) at $socket"
}

# Checking and starting happen under one lock, so runs started together start one agent.
StartAgentIfNeeded() {
  exec 9>"$lock_file"
  flock 9
  if ! AgentAnswers; then
    Say "starting orvu-agentd at $socket (state in $state_file)"
    local output
    # The agent must not inherit the lock, or it would hold it for as long as it runs.
    if ! output=$("$bin/orvu-agentd" "${socket_args[@]}" --state "$state_file" \
      --module VORNEL-VNBEEP-MIB --detach --pid-file "$pid_file" 2>&1 9>&-); then
      echo "$output" >&2
      local pid
      if pid=$(RunningAgent); then
        Say "orvu-agentd (pid $pid) runs with $state_file but does not answer at $socket;" \
          "./oaset.sh --stop stops it"
      fi
      exit 1
    fi
    for _ in $(seq 1 100); do
      AgentAnswers && break
      sleep 0.1
    done
    if ! AgentAnswers; then
      Say "orvu-agentd was started but does not answer at $socket"
      exit 1
    fi
  fi
  exec 9>&-
}

case "${1:-}" in
  --stop)
    exec 9>"$lock_file"
    flock 9
    StopAgent
    exit
    ;;
  --reset)
    exec 9>"$lock_file"
    flock 9
    StopAgent
    if [ -e "$state_file" ]; then
      rm -f "$state_file"
      Say "removed $state_file; the next run starts the agent afresh"
    fi
    exit
    ;;
esac

StartAgentIfNeeded
exec "$bin/oaset" "$@"
