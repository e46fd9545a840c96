#!/usr/bin/env bash
# The Debian package on this machine, as a system administrator would meet it (root only): cpack
# -G DEB from BUILD_FOLDER twice (this version, and a later one without its dbgsym, which takes
# most of the time), lintian on the first, dpkg -i of the first (the unit enabled without a
# running systemd), the agent started as systemd starts it (the unit's ExecStart as user
# orvu-agent, in the folders the unit's RuntimeDirectory and StateDirectory make: CI has no
# systemd), oaset as a member of group orvu-agent and as a non-member, rows and values made, the
# settings changed, the later version installed over it and the agent restarted, with every row,
# value and setting kept; the agent joined to the system's snmpd and walked by name (only where no
# system snmpd runs; its configuration is put back); then dpkg -r with the agent running (stopped,
# the state and the user stay), a purge that cannot stop what holds the state (it fails and
# deletes nothing), dpkg --purge (nothing of the package is left), and a login account named
# orvu-agent refused.
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
  [ -z "${holder:-}" ] || kill -KILL "$holder" 2>/dev/null
  ! declare -F RestoreSnmpd >/dev/null || RestoreSnmpd
  for user in "$member" "$other" orvu-agent; do
    [ "$user" != orvu-agent ] || [ "${login_account:-}" = made ] || continue
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

version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")
arch=$(dpkg --print-architecture)
status=0
(cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work" &&
  cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work" -D CPACK_PACKAGE_VERSION="$version+next" \
    -D CPACK_DEBIAN_DEBUGINFO_PACKAGE=OFF -D CPACK_STRIP_FILES=ON) \
  >"$work/cpack.log" 2>&1 || status=$?
deb="$work/oaset_${version}_$arch.deb"
next="$work/oaset_${version}+next_$arch.deb"
Check "cpack -G DEB makes oaset_VERSION_ARCH.deb, its dbgsym and a later version" \
  test "$status" = 0 -a -f "$deb" -a -f "$next" -a -f "$work/oaset-dbgsym_${version}_$arch.ddeb"
[ -f "$deb" ] && [ -f "$next" ] || { sed 's/^/  | /' "$work/cpack.log"; Summary; exit 1; }

Lintian() {
  local status=0
  # lintian leaves caches of its own in TMPDIR: in a folder of the test's, removed with it.
  mkdir -p "$work/lintian-tmp"
  TMPDIR="$work/lintian-tmp" lintian --fail-on error,warning "$@" >"$work/lintian.out" 2>&1 ||
    status=$?
  grep -v "running with root privileges" "$work/lintian.out" >"$work/lintian.tags" || true
  [ "$status" = 0 ] && [ ! -s "$work/lintian.tags" ] && return 0
  sed 's/^/  | /' "$work/lintian.tags"
  return 1
}
Check "lintian: no error, no warning" Lintian "$deb" "$work/oaset-dbgsym_${version}_$arch.ddeb"

dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./|/|; s|/$||' | grep -v '^/\?$' >"$work/files"
for file in /usr/bin/oaset /usr/bin/orvu-agentd /usr/lib/oaset/libvnoagent.so \
  /usr/lib/oaset/libvnwsnmp.so /usr/lib/oaset/libvnxmib.so /usr/share/oaset/mibs/VORNEL-VNBEEP-MIB \
  /usr/share/doc/oaset/README.md /usr/share/doc/oaset/copyright /etc/orvu-agent/agent.conf \
  /usr/lib/systemd/system/orvu-agentd.service /usr/lib/systemd/user/orvu-agentd.service; do
  Check "the package holds $file" grep -qx -- "$file" "$work/files"
done
# Every program has its manual page and is stripped (its symbols are in the dbgsym package).
dpkg-deb -x "$deb" "$work/unpacked"
for program in $(grep '^/usr/bin/' "$work/files"); do
  name=${program#/usr/bin/}
  Check "$name has a compressed manual page" bash -c "grep -qE '^/usr/share/man/man[0-9]/$name\.[0-9]\.gz$' '$work/files'"
  Check "$name is stripped" bash -c "! readelf -S '$work/unpacked$program' | grep -q '\.debug_info'"
done
Check "oaset finds the libraries through its run path" \
  Contains <(readelf -d "$work/unpacked/usr/bin/oaset") '[$ORIGIN/../lib/oaset]'

Check "dpkg -i" Dpkg -i "$deb"
Check "the user orvu-agent" Quietly getent passwd orvu-agent
Check "the group orvu-agent" Quietly getent group orvu-agent
Check "the state folder" test "$(stat -c %U:%G:%a /var/lib/orvu-agent 2>/dev/null)" = orvu-agent:orvu-agent:750
unit=/usr/lib/systemd/system/orvu-agentd.service
Check "the unit passes systemd-analyze verify" Quietly systemd-analyze verify "$unit"
# systemctl reads the enable symlink that deb-systemd-helper made, also with no systemd running.
Check "the unit is enabled without a running systemd" \
  test "$(systemctl is-enabled orvu-agentd.service 2>&1)" = enabled \
  -a -L /etc/systemd/system/multi-user.target.wants/orvu-agentd.service

# What systemd would do: the runtime folder for the group, then ExecStart as the service user.
exec_start=$(sed -n 's/^ExecStart=//p' "$unit")
StartAgent() {
  install -d -o orvu-agent -g orvu-agent -m 0750 /run/orvu-agent
  setpriv --reuid=orvu-agent --regid=orvu-agent --init-groups --no-new-privs -- \
    env -i PATH=/usr/bin:/bin $exec_start 2>"$work/agent.err" &
  agent=$!
  for _ in $(seq 1 100); do
    [ -S /run/orvu-agent/orvu-agent.sock ] && break
    sleep 0.1
  done
}
# The agent is a child of this script, or, started with --detach, named by its pid file.
StopTheAgent() {
  kill "$agent"
  wait "$agent" 2>/dev/null
  for _ in $(seq 1 100); do
    kill -0 "$agent" 2>/dev/null || break
    sleep 0.1
  done
}
StartAgent
Check "the agent listens at /run/orvu-agent/orvu-agent.sock" test -S /run/orvu-agent/orvu-agent.sock
Check "the socket is the group's, 0660" \
  test "$(stat -c %U:%G:%a /run/orvu-agent/orvu-agent.sock)" = orvu-agent:orvu-agent:660
Check "the agent runs with the settings' --fsync" grep -qz -- --fsync "/proc/$agent/cmdline"

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

AsMember() { (cd / && setpriv --reuid="$member" --regid="$member" --init-groups -- env -i PATH=/usr/bin:/bin "$@"); }
entry=1.3.6.1.4.1.32473.99.1.9.1
AsMember oaset -a$entry -i7 >/dev/null 2>&1
AsMember oaset -a$entry -i9 >/dev/null 2>&1
AsMember oaset -s$entry.8.7 -mc42 -s$entry.3.9 -mi880 >/dev/null 2>&1
# speakerFreqLastChange (column 16) is a TimeStamp: the agent's uptime at the row's last change,
# zero once the agent has started again (RFC 2579); every other leaf must come through as it was.
Rows() { AsMember oaset -t$entry 2>&1 | grep -v "^ *16: "; }
Rows >"$work/rows.before"
Check "rows and values made through oaset" Contains "$work/rows.before" "(int,int32) 880"
sed -i 's/^fsync = yes$/fsync = no/' /etc/orvu-agent/agent.conf

# The later version over it; without systemd the test restarts the agent as the postinst's
# deb-systemd-invoke restart would, this time the way root does where no systemd runs.
old_inode=$(stat -L -c %i "/proc/$agent/exe")
Check "dpkg -i of the later version" Dpkg -i "$next"
Check "the later version is installed" \
  test "$(dpkg-query -W -f='${Version}' oaset)" = "$version+next"
StopTheAgent
Check "root starts the agent without systemd" Quietly /usr/lib/oaset/orvu-agent-service --detach
agent=$(cat /run/orvu-agent/orvu-agent.pid)
Check "started without systemd, the agent runs as orvu-agent" \
  test "$(stat -c %U "/proc/$agent")" = orvu-agent
Check "the agent runs the new program" \
  test "$(stat -L -c %i "/proc/$agent/exe")" = "$(stat -c %i /usr/bin/orvu-agentd)" -a "$old_inode" != "$(stat -c %i /usr/bin/orvu-agentd)"
Rows >"$work/rows.after"
Check "every row and value kept" cmp "$work/rows.before" "$work/rows.after"
Check "the changed settings kept" grep -qx "fsync = no" /etc/orvu-agent/agent.conf
Check "the agent runs with the changed settings" bash -c "! grep -qz -- --fsync /proc/$agent/cmdline"
Check "the unit is still enabled" test -L /etc/systemd/system/multi-user.target.wants/orvu-agentd.service

# Joined to the system's snmpd as the README says: Debian's snmpd with its own configuration and
# the package's drop-in, the AgentX master in the settings; the agent's objects walked by name
# through snmpd's UDP port. Only when no system snmpd runs here; what it changes is put back.
snmp_names=(-M +/usr/share/oaset/snmp-mibs -m VORNEL-VNBEEP-MIB)
SnmpAnswers() { snmpget -v2c -c public -t 0.5 -r 0 127.0.0.1 .1.3.6.1.2.1.1.3.0 >/dev/null 2>&1; }
RestoreSnmpd() {
  [ -n "${snmpd:-}" ] || return 0
  kill "$snmpd" 2>/dev/null
  wait "$snmpd" 2>/dev/null
  rm -f /etc/snmp/snmpd.conf.d/orvu-agent.conf
  if [ -f "$work/snmpd-persistent.conf" ]; then
    cp -p "$work/snmpd-persistent.conf" /var/lib/snmp/snmpd.conf
  else
    rm -f /var/lib/snmp/snmpd.conf
  fi
  [ "$agentx_folder" = there ] || rm -rf /var/agentx
  snmpd=""
}
if [ ! -x /usr/sbin/snmpd ] || SnmpAnswers || [ -e /var/agentx ] || [ -e /etc/snmp/snmpd.conf.d/orvu-agent.conf ]; then
  echo "skip    the system's snmpd: it is missing, or runs already, or has an AgentX socket here"
else
  agentx_folder=absent
  [ ! -f /var/lib/snmp/snmpd.conf ] || cp -p /var/lib/snmp/snmpd.conf "$work/snmpd-persistent.conf"
  cp /usr/share/doc/oaset/examples/snmpd-orvu-agent.conf /etc/snmp/snmpd.conf.d/orvu-agent.conf
  sed -i 's|^#agentx = /var/agentx/master$|agentx = /var/agentx/master|' /etc/orvu-agent/agent.conf
  # As snmpd.service runs it.
  /usr/sbin/snmpd -LOw -u Debian-snmp -g Debian-snmp -I -smux,mteTrigger,mteTriggerConf -f \
    >"$work/snmpd.log" 2>&1 &
  snmpd=$!
  for _ in $(seq 1 50); do SnmpAnswers && break; sleep 0.1; done
  Check "the system's snmpd: its AgentX socket is the group orvu-agent's" \
    test "$(stat -c %G:%a /var/agentx/master 2>/dev/null)" = orvu-agent:660
  StopTheAgent
  StartAgent
  for _ in $(seq 1 50); do
    snmpwalk -v2c -c public "${snmp_names[@]}" 127.0.0.1 VORNEL-VNBEEP-MIB::speakerFreqTable \
      >"$work/walk.out" 2>&1
    grep -q "speakerFreqHertz.9" "$work/walk.out" && break
    sleep 0.1
  done
  Check "snmpwalk through the system's snmpd: the agent's objects by name" \
    Contains "$work/walk.out" "VORNEL-VNBEEP-MIB::speakerFreqHertz.9 = INTEGER: 880"
  Check "snmpwalk through the system's snmpd: the value set through oaset" \
    Contains "$work/walk.out" "VORNEL-VNBEEP-MIB::speakerFreqPlayCount.7 = Counter32: 42"
  Check "snmpwalk through the system's snmpd: net-snmp loads every module it needs" \
    Lacks "$work/walk.out" "Cannot find module"
  snmptable -v2c -c public -Cf , "${snmp_names[@]}" 127.0.0.1 VORNEL-VNBEEP-MIB::speakerFreqTable \
    >"$work/table.out" 2>&1
  Check "snmptable through the system's snmpd: the columns by name" \
    Contains "$work/table.out" "speakerFreqDescr,speakerFreqHertz,"
  RestoreSnmpd
  Check "the system's snmpd: its configuration put back" test ! -e /etc/snmp/snmpd.conf.d/orvu-agent.conf
fi

# A setting the start script does not take stops the start, naming the line.
echo "fsync = sometimes" >>/etc/orvu-agent/agent.conf
status=0
setpriv --reuid=orvu-agent --regid=orvu-agent --init-groups --no-new-privs -- \
  env -i PATH=/usr/bin:/bin $exec_start >"$work/bad-setting.out" 2>&1 || status=$?
Check "a bad setting: the start fails with status 2" test "$status" = 2
Check "a bad setting: named with its line" Contains "$work/bad-setting.out" \
  "orvu-agent-service: /etc/orvu-agent/agent.conf:$(wc -l </etc/orvu-agent/agent.conf): fsync takes yes or no, not 'sometimes'"
sed -i '$d' /etc/orvu-agent/agent.conf

# Removal stops the agent that systemd did not start.
Check "dpkg -r with the agent running" Dpkg -r oaset
Check "dpkg -r: the agent stopped" bash -c "! kill -0 $agent 2>/dev/null"
wait "$agent" 2>/dev/null
agent=""
Check "the agent kept its state" test -s /var/lib/orvu-agent/agent.state
Check "dpkg -r: the programs are gone" test ! -e /usr/bin/oaset -a ! -e /usr/bin/orvu-agentd
Check "dpkg -r: the state stays" test -s /var/lib/orvu-agent/agent.state
Check "dpkg -r: the user stays" Quietly getent passwd orvu-agent
# Something that holds the state and will not stop: the purge fails and deletes nothing.
(trap "" TERM; exec flock -o /var/lib/orvu-agent/agent.state sleep 60) &
holder=$!
sleep 0.2
status=0
dpkg --purge oaset >"$work/purge.out" 2>&1 || status=$?
Check "dpkg --purge with a holder that does not stop: fails" test "$status" != 0
Check "dpkg --purge with a holder that does not stop: says so" Contains "$work/purge.out" "does not stop; nothing was deleted"
Check "dpkg --purge with a holder that does not stop: the state stays" test -s /var/lib/orvu-agent/agent.state
Check "dpkg --purge with a holder that does not stop: the user stays" Quietly getent passwd orvu-agent
{
  kill -KILL "$holder"
  wait "$holder"
} 2>/dev/null
holder=""
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
Check "dpkg --purge: the unit is no longer enabled" test ! -e /etc/systemd/system/multi-user.target.wants/orvu-agentd.service

# A login account of that name is refused, left as it was, and not deleted by the purge.
useradd --no-create-home --shell /bin/bash orvu-agent
login_account=made
account=$(getent passwd orvu-agent; getent group orvu-agent)
status=0
dpkg -i "$deb" >"$work/login.out" 2>&1 || status=$?
Check "a login account orvu-agent: dpkg -i fails" test "$status" != 0
Check "a login account orvu-agent: refused with a message" Contains "$work/login.out" "is no system account"
Check "a login account orvu-agent: left as it was, with its group" \
  test "$(getent passwd orvu-agent; getent group orvu-agent)" = "$account"
Check "a login account orvu-agent: the purge" Dpkg --purge oaset
Check "a login account orvu-agent: still there after the purge" \
  test "$(getent passwd orvu-agent; getent group orvu-agent)" = "$account"
userdel orvu-agent
login_account=""

Summary
