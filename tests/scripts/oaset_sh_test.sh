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

Summary
