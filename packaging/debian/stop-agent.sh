# The package's agent is whatever holds the lock of its state file or of its pid file, started by
# systemd or by hand; it is found through the pid file, else by the state file it has open. When
# the package made the user orvu-agent, any other process of that user is stopped too, so that the
# purge can delete the user; a system account that was there before is nobody else's business.
AgentPids() {
  if [ -e /run/orvu-agent/orvu-agent.pid ] && ! flock -n /run/orvu-agent/orvu-agent.pid true; then
    cat /run/orvu-agent/orvu-agent.pid
  fi
  agent_uid=
  if [ -f "$accounts" ] && grep -qx user "$accounts"; then
    agent_uid=$(getent passwd orvu-agent | cut -d: -f3)
  fi
  for process in /proc/[0-9]*; do
    if [ -n "$agent_uid" ] && [ "$(stat -c %u "$process" 2>/dev/null)" = "$agent_uid" ]; then
      echo "${process#/proc/}"
      continue
    fi
    for fd in "$process"/fd/*; do
      if [ "$(readlink "$fd" 2>/dev/null)" = /var/lib/orvu-agent/agent.state ]; then
        echo "${process#/proc/}"
        break
      fi
    done
  done
}
AgentRunning() {
  { [ -e /var/lib/orvu-agent/agent.state ] && ! flock -n /var/lib/orvu-agent/agent.state true; } ||
    [ -n "$(AgentPids)" ]
}
StopAgent() {
  # Installing into another root (DPKG_ROOT), the agents of this machine are not the package's.
  [ -z "${DPKG_ROOT:-}" ] || return 0
  AgentRunning || return 0
  agent_pids=$(AgentPids | sort -un | paste -sd ' ')
  [ -z "$agent_pids" ] || kill $agent_pids 2>/dev/null || true
  waited=0
  while AgentRunning; do
    if [ "$waited" -ge 100 ]; then
      echo "oaset: the agent of /var/lib/orvu-agent (pid ${agent_pids:-unknown}) does not stop; nothing was deleted. Stop it, then run dpkg again" >&2
      exit 1
    fi
    sleep 0.1
    waited=$((waited + 1))
  done
}
