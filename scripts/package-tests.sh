#!/usr/bin/env bash
# The Debian package on this machine, as a system administrator would meet it (root only): cpack
# -G DEB from BUILD_FOLDER, dpkg -i, the agent started as systemd starts it (the unit's ExecStart
# as user orvu-agent, in the folders the unit's RuntimeDirectory and StateDirectory make: CI has
# no systemd), oaset -v -o -c as a member of group orvu-agent and as a non-member, then dpkg -r
# (the state and the user stay) and dpkg --purge (nothing of the package is left).
# Usage: scripts/package-tests.sh [BUILD_FOLDER]   (default build/RelWithDebInfo)
top=$(cd "$(dirname "$0")/.." && pwd)
source "$top/tests/scripts/script_test_lib.sh" "${1:-$top/build/RelWithDebInfo}"
build=$BUILD_DIR
work=$WORK
chmod 755 "$work"
member=oaset-ci-member
other=oaset-ci-other
agent=""

Quietly() { "$@" >>"$work/commands.log" 2>&1 || { sed 's/^/  | /' "$work/commands.log"; return 1; }; }
# dpkg waits for another package manager run (up to 5 minutes) rather than failing on its lock.
Dpkg() {
  local attempt
  for attempt in $(seq 1 60); do
    dpkg "$@" >"$work/dpkg.log" 2>&1 && return 0
    grep -q "lock" "$work/dpkg.log" || break
    sleep 5
  done
  sed 's/^/  | /' "$work/dpkg.log"
  return 1
}

CleanUp() {
  [ -z "$agent" ] || kill "$agent" 2>/dev/null
  for user in "$member" "$other"; do
    getent passwd "$user" >/dev/null && userdel "$user"
  done
  dpkg-query -W oaset >/dev/null 2>&1 && dpkg --purge oaset >/dev/null 2>&1
  [ -z "${crowd:-}" ] || rm -rf "$crowd"
  rm -rf "$work"
}
trap 'CleanUp; rm -rf /run/orvu-agent' EXIT

if [ "$(id -u)" -ne 0 ]; then
  echo "package tests: they install a package and make users, so they need root"
  exit 1
fi
if dpkg-query -W oaset >/dev/null 2>&1 || getent passwd orvu-agent >/dev/null; then
  echo "package tests: oaset or the user orvu-agent is already on this machine; not touching it"
  exit 1
fi

status=0
(cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work") >"$work/cpack.log" 2>&1 ||
  status=$?
deb=$(ls "$work"/oaset_*_"$(dpkg --print-architecture)".deb 2>/dev/null | head -n 1)
Check "cpack -G DEB makes oaset_VERSION_ARCH.deb" test "$status" = 0 -a -n "$deb"
[ -n "$deb" ] || { sed 's/^/  | /' "$work/cpack.log"; Summary; exit 1; }
dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./|/|; s|/$||' | grep -v '^/\?$' >"$work/files"
for file in /usr/bin/oaset /usr/bin/orvu-agentd /usr/lib/libvnoagent.so /usr/lib/libvnwsnmp.so \
  /usr/lib/libvnxmib.so /usr/share/oaset/mibs/VORNEL-VNBEEP-MIB /usr/share/man/man1/oaset.1 \
  /usr/share/man/man8/orvu-agentd.8 /usr/share/doc/oaset/README.md \
  /usr/lib/systemd/system/orvu-agentd.service /usr/lib/systemd/user/orvu-agentd.service; do
  Check "the package holds $file" grep -qx -- "$file" "$work/files"
done

Check "dpkg -i" Dpkg -i "$deb"
Check "the user orvu-agent" Quietly getent passwd orvu-agent
Check "the group orvu-agent" Quietly getent group orvu-agent
Check "the state folder" test "$(stat -c %U:%G:%a /var/lib/orvu-agent 2>/dev/null)" = orvu-agent:orvu-agent:750
unit=/usr/lib/systemd/system/orvu-agentd.service
Check "the unit passes systemd-analyze verify" Quietly systemd-analyze verify "$unit"

# What systemd would do: the runtime folder for the group, then ExecStart as the service user.
install -d -o orvu-agent -g orvu-agent -m 0750 /run/orvu-agent
exec_start=$(sed -n 's/^ExecStart=//p' "$unit")
read -r -a command <<<"$exec_start"
setpriv --reuid=orvu-agent --regid=orvu-agent --init-groups --no-new-privs -- \
  env -i PATH=/usr/bin:/bin "${command[@]}" 2>"$work/agent.err" &
agent=$!
for _ in $(seq 1 100); do
  [ -S /run/orvu-agent/orvu-agent.sock ] && break
  sleep 0.1
done
Check "the agent listens at /run/orvu-agent/orvu-agent.sock" test -S /run/orvu-agent/orvu-agent.sock
Check "the socket is the group's, 0660" \
  test "$(stat -c %U:%G:%a /run/orvu-agent/orvu-agent.sock)" = orvu-agent:orvu-agent:660

useradd --no-create-home --groups orvu-agent "$member"
useradd --no-create-home "$other"
# No variable but PATH: the client finds the system agent by itself.
AsUser() { (cd / && setpriv --reuid="$1" --regid="$1" --init-groups -- env -i PATH=/usr/bin:/bin oaset -v -o -c); }
AsUser "$member" >"$work/member.out" 2>&1
Check "a member: the framework's version" Contains "$work/member.out" "Orvu SNMP Agent version: "
Check "a member: the module" Contains "$work/member.out" "Module 1: VORNEL-VNBEEP-MIB"
Check "a member: to the end" Contains "$work/member.out" "Finished."
Check "a member: no failure" Lacks "$work/member.out" "failed"
# Crowding out: another user takes the member's default folder in /tmp first and listens there;
# the member still finds the system agent, and is not sent to the impostor.
crowd="/tmp/orvu-agent-$(id -u "$member")"
AsOther() { setpriv --reuid="$other" --regid="$other" --init-groups -- "$@"; }
AsOther mkdir -m 755 "$crowd"
AsOther /usr/bin/orvu-agentd --socket "$crowd/orvu-agent.sock" --state "$crowd/agent.state" \
  --detach 2>"$work/crowd.err"
Check "an impostor listens at the member's default socket" test -S "$crowd/orvu-agent.sock"
AsUser "$member" >"$work/crowded.out" 2>&1
Check "crowded out: the member still reaches the system agent" \
  Contains "$work/crowded.out" "Module 1: VORNEL-VNBEEP-MIB"
kill "$(cat "$crowd/orvu-agent.pid")" 2>/dev/null
rm -rf "$crowd"

AsUser "$other" >"$work/other.out" 2>&1
Check "a non-member: refused" Contains "$work/other.out" "Agent connection failed"
Check "a non-member: told which group admits" Contains "$work/other.out" "as a member of group orvu-agent"

kill "$agent"
wait "$agent"
Check "the agent stops cleanly" test $? = 0
agent=""
Check "the agent kept its state" test -s /var/lib/orvu-agent/agent.state

Check "dpkg -r" Dpkg -r oaset
Check "dpkg -r: the programs are gone" test ! -e /usr/bin/oaset -a ! -e /usr/bin/orvu-agentd
Check "dpkg -r: the state stays" test -s /var/lib/orvu-agent/agent.state
Check "dpkg -r: the user stays" Quietly getent passwd orvu-agent
Check "dpkg --purge" Dpkg --purge oaset
# Folders the package shares with the system (/usr/lib, /usr/share/man/man1 ...) stay.
NothingLeft() {
  local file left=0
  while IFS= read -r file; do
    if [ -e "$file" ] && { [ ! -d "$file" ] || [[ $file == */oaset* || $file == */orvu-agent* ]]; }; then
      echo "  left: $file"
      left=1
    fi
  done <"$work/files"
  return "$left"
}
Check "dpkg --purge: no file of the package is left" NothingLeft
Check "dpkg --purge: no state" test ! -e /var/lib/orvu-agent
Check "dpkg --purge: no runtime folder" test ! -e /run/orvu-agent
Check "dpkg --purge: no user orvu-agent" bash -c '! getent passwd orvu-agent'
Check "dpkg --purge: no group orvu-agent" bash -c '! getent group orvu-agent'

Summary
