#!/usr/bin/env bash
# oaset.sh against the programs of one build: the agent it starts, the check that finds one
# running, --stop and --reset, and agents at two sockets side by side.
# Usage: oaset_sh_test.sh BUILD_FOLDER
source "$(dirname "$0")/script_test_lib.sh" "$1"
export OASET_BUILD_DIR=$BUILD_DIR
script="$SOURCE_DIR/oaset.sh"
state="$XDG_STATE_HOME/oaset"
other="$WORK/other.sock"
other_state="$state/agent-${other//\//%2F}.state"

# Run NAME [VAR=VALUE...] ARGS...: oaset.sh with ARGS, its output in $WORK/NAME.out and .err and
# its status in $WORK/NAME.status; bounded, so that a hang fails instead of waiting for ever.
Run() {
  local name=$1
  shift
  local status=0
  timeout 60 env "$@" >"$WORK/$name.out" 2>"$WORK/$name.err" || status=$?
  echo "$status" >"$WORK/$name.status"
}
StatusIs() { [ "$(cat "$WORK/$1.status")" = "$2" ] || { echo "  $1: status $(cat "$WORK/$1.status")" && cat "$WORK/$1.err"; return 1; }; }
AgentCount() { pgrep -f -c -- "--state $1 " || true; }

# Fault injection meant for the run does not reach the check for a running agent: with no agent
# one is started, and with one it is not started again.
for round in first second; do
  Run "faults-$round" ORVU_FAULTS="AgentConnect=0/1002" "$script" -o
  Check "fault example, $round run: exit 0" StatusIs "faults-$round" 0
  Check "fault example, $round run: the injected failure" \
    Contains "$WORK/faults-$round.out" "Agent connection failed:  injected fault in AgentConnect (error code 1002)"
  Check "fault example, $round run: the agent is not said to be silent" Lacks "$WORK/faults-$round.err" "does not answer"
  Check "fault example, $round run: no second agent" Lacks "$WORK/faults-$round.err" "in use by another agent"
done
Check "fault example: the first run started the agent" Contains "$WORK/faults-first.err" "starting orvu-agentd"
Check "fault example: the second run did not" Lacks "$WORK/faults-second.err" "starting orvu-agentd"

# Another socket has its own agent and state, beside the default one and in either order.
Run other-socket ORVU_AGENT_SOCKET="$other" "$script" -o
Check "another socket: exit 0" StatusIs other-socket 0
Check "another socket: its agent serves the module" Contains "$WORK/other-socket.out" "Module 1: VORNEL-VNBEEP-MIB"
Check "another socket: its own state file" test -f "$other_state"
Check "another socket: one agent each" test "$(AgentCount "$state/agent.state")$(AgentCount "$other_state")" = 11

Run stop "$script" --stop
Check "--stop: exit 0" StatusIs stop 0
Check "--stop: says what it stopped" Contains "$WORK/stop.err" "stopped orvu-agentd"
Check "--stop: the default agent is gone" test "$(AgentCount "$state/agent.state")" = 0
Check "--stop: the other socket's agent still runs" test "$(AgentCount "$other_state")" = 1
Run stop-again "$script" --stop
Check "--stop with no agent: exit 0" StatusIs stop-again 0
Check "--stop with no agent: says so" Contains "$WORK/stop-again.err" "no agent runs at"
Run reset ORVU_AGENT_SOCKET="$other" "$script" --reset
Check "--reset: exit 0, nothing but its own words" StatusIs reset 0
Check "--reset: no stray errors" Lacks "$WORK/reset.err" "No such file"
Check "--reset: the agent is gone" test "$(AgentCount "$other_state")" = 0
Check "--reset: its state is gone" test ! -e "$other_state"
Run reset-again ORVU_AGENT_SOCKET="$other" "$script" --reset
Check "--reset twice: exit 0" StatusIs reset-again 0

# A few runs started together with no agent: each works, and one agent serves them all.
"$script" --reset 2>/dev/null
for i in 1 2 3; do
  Run "together-$i" "$script" -o &
done
wait
for i in 1 2 3; do
  Check "started together, run $i: exit 0" StatusIs "together-$i" 0
  Check "started together, run $i: lists the module" Contains "$WORK/together-$i.out" "Module 1: VORNEL-VNBEEP-MIB"
done
Check "started together: one agent" test "$(AgentCount "$state/agent.state")" = 1
Check "started together: one start" test "$(cat "$WORK"/together-*.err | grep -c "starting orvu-agentd")" = 1

# Without OASET_BUILD_DIR the script builds the five programs it runs into build/RelWithDebInfo
# when they are missing or older than the sources, installing only what they need; an up-to-date
# build asks neither the package manager nor cmake. A copy of the script in a tree of its own,
# with cmake and dpkg-query standing in and recording their calls, shows which happened.
tree="$WORK/tree"
fakes="$WORK/fakes"
mkdir -p "$tree/scripts" "$tree/src" "$tree/platform" "$tree/cmake" "$fakes"
cp "$script" "$tree/"
cp "$SOURCE_DIR/scripts/install-deps.sh" "$tree/scripts/"
touch "$tree/CMakeLists.txt" "$tree/src/tool.cc"
cat >"$fakes/dpkg-query" <<'END'
#!/usr/bin/env bash
echo "dpkg-query ${*: -1}" >>"$FAKE_CALLS"
echo "install ok installed"
END
cat >"$fakes/cmake" <<'END'
#!/usr/bin/env bash
echo "cmake $*" >>"$FAKE_CALLS"
[ -z "${FAKE_FAIL:-}" ] || { echo "error: the fake build fails"; exit 1; }
if [ "$1" = -S ]; then
  mkdir -p "$4" && touch "$4/build.ninja"
elif [ -n "${FAKE_NO_WORK:-}" ]; then
  echo "ninja: no work to do."
else
  mkdir -p "$2/bin"
  printf '#!/bin/sh\n[ "$1" = probe ] || echo "fake oaset $*"\n' >"$2/bin/oaset"
  for name in orvu-agentd libvnoagent.so libvnwsnmp.so libvnxmib.so; do
    cp "$2/bin/oaset" "$2/bin/$name"
  done
  chmod +x "$2"/bin/*
  echo "[5/5] Linking the fake programs"
fi
END
chmod +x "$fakes/dpkg-query" "$fakes/cmake"
BuildRun() {
  local name=$1
  shift
  : >"$WORK/calls"
  Run "$name" -u OASET_BUILD_DIR PATH="$fakes:$PATH" FAKE_CALLS="$WORK/calls" "$@" "$tree/oaset.sh" -o
}
build_log="$state/build.log"
BuildRun first-build
Check "first build: exit 0, then the tool runs" Contains "$WORK/first-build.out" "fake oaset -o"
Check "first build: configured without the tests" Contains "$WORK/calls" "-DOASET_UNIT_TESTS=OFF"
Check "first build: only the tool, the agent and the libraries" \
  Contains "$WORK/calls" "--target oaset orvu-agentd vnoagent vnwsnmp vnxmib"
for package in wine mingw clang valgrind libgtest; do
  Check "first build: $package is not installed" Lacks "$WORK/calls" "dpkg-query $package"
done
Check "first build: its log" Contains "$build_log" "Linking the fake programs"
BuildRun up-to-date
Check "up to date: exit 0, the tool runs" Contains "$WORK/up-to-date.out" "fake oaset -o"
Check "up to date: no package check, no cmake" test ! -s "$WORK/calls"
Check "up to date: not a word of its own" test ! -s "$WORK/up-to-date.err"
touch "$tree/src/tool.cc"
BuildRun touched FAKE_NO_WORK=1
Check "a source touched: the build is asked again" Contains "$WORK/calls" "cmake --build"
Check "a source touched: not configured again" Lacks "$WORK/calls" "cmake -S"
Check "a source touched: says so" Contains "$WORK/touched.err" "the sources changed since the last build"
Check "a build with nothing to do keeps the last build's log" \
  Contains "$build_log" "Linking the fake programs"
BuildRun after-touch
Check "after a build with nothing to do: up to date again" test ! -s "$WORK/calls"
touch "$tree/platform/agent.cc"
BuildRun failed FAKE_FAIL=1
Check "a failed build: exit 1" StatusIs failed 1
Check "a failed build: says where its log is" Contains "$WORK/failed.err" "the build failed"
Check "a failed build: its log" Contains "$build_log" "the fake build fails"
BuildRun after-failure
Check "after a failed build: built again" Contains "$WORK/calls" "cmake --build"

# orvu-agentd by hand tells the same story: its default state is the one oaset.sh uses for the
# socket, it says when it is ready, and its help says how to stop it.
agent="$BUILD_DIR/bin/orvu-agentd"
Run agent-help "$agent" -h
Check "orvu-agentd -h: exit 0" StatusIs agent-help 0
Check "orvu-agentd -h: how to stop it" Contains "$WORK/agent-help.out" "Ctrl-C"
Check "orvu-agentd -h: what --module does" Contains "$WORK/agent-help.out" "--module NAME     serve the objects"
Run agent-version "$agent" --version
Check "orvu-agentd --version" Contains "$WORK/agent-version.out" "orvu-agentd "
"$agent" --socket "$other" --module VORNEL-VNBEEP-MIB 2>"$WORK/foreground.err" &
foreground=$!
for _ in $(seq 1 100); do
  grep -q "ready at" "$WORK/foreground.err" && break
  sleep 0.1
done
Check "orvu-agentd in the foreground: a ready line" Contains "$WORK/foreground.err" "orvu-agentd: ready at $other (pid $foreground, state in $other_state)"
Run by-hand ORVU_AGENT_SOCKET="$other" "$script" -o
Check "oaset.sh uses the agent started by hand" Lacks "$WORK/by-hand.err" "starting orvu-agentd"
kill "$foreground"
wait "$foreground"
Check "orvu-agentd stops cleanly on SIGTERM" test $? = 0

# --detach without --pid-file leaves a pid file beside the socket, named after it, that stops the
# agent; the agent removes it as it ends.
StopsWithPidFile() {
  local file=$1 pid
  pid=$(cat "$file") && [ "$(cat "/proc/$pid/comm")" = orvu-agentd ] && kill "$pid" || return 1
  for _ in $(seq 1 100); do
    [ -e "$file" ] || return 0
    sleep 0.1
  done
  echo "  $file is still there"
  return 1
}
for pair in "detached.sock detached.pid" "plain plain.pid" "two.sock.sock two.sock.pid"; do
  read -r socket_name pid_name <<<"$pair"
  Run "detach-$socket_name" "$agent" --socket "$WORK/$socket_name" --state "$WORK/$socket_name.state" \
    --module VORNEL-VNBEEP-MIB --detach
  Check "--detach at $socket_name: exit 0" StatusIs "detach-$socket_name" 0
  Check "--detach at $socket_name: $pid_name stops it" StopsWithPidFile "$WORK/$pid_name"
done

Summary
