#!/usr/bin/env bash
# cmake --install of one build into a temporary prefix: the files land where they belong, the
# manual pages render without warnings, and the installed oaset runs against the installed agent
# with no environment variable but the socket.
# Usage: install_test.sh BUILD_FOLDER
source "$(dirname "$0")/script_test_lib.sh" "$1"
prefix="$WORK/prefix"
socket="$WORK/installed.sock"

status=0
cmake --install "$BUILD_DIR" --prefix "$prefix" >"$WORK/install.log" 2>&1 || status=$?
Check "cmake --install: exit 0" test "$status" = 0
for file in bin/oaset bin/orvuctl bin/orvu-agentd lib/oaset/libvnoagent.so lib/oaset/libvnwsnmp.so \
  lib/oaset/libvnxmib.so lib/oaset/orvu-agent-service share/oaset/mibs/VORNEL-VNBEEP-MIB \
  share/man/man1/oaset.1.gz share/man/man1/orvuctl.1.gz share/man/man8/orvu-agentd.8.gz share/doc/oaset/docs/values.md \
  etc/orvu-agent/agent.conf; do
  Check "installed: $file" test -f "$prefix/$file"
done
Check "oaset's run path is relative" Contains <(readelf -d "$prefix/bin/oaset") '[$ORIGIN/../lib/oaset]'

ManRendersCleanly() {
  local status=0
  LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$1" >"$WORK/man.out" 2>"$WORK/man.err" || status=$?
  [ "$status" -eq 0 ] && [ ! -s "$WORK/man.err" ] && [ -s "$WORK/man.out" ] && return 0
  echo "  status $status:" && cat "$WORK/man.err"
  return 1
}
for page in man1/oaset.1.gz man1/orvuctl.1.gz man8/orvu-agentd.8.gz; do
  Check "man -l $page renders without warnings" ManRendersCleanly "$prefix/share/man/$page"
done

# Both units name the installed agent and pass systemd's own check, which runs without a running
# systemd; their manual page is looked up in the installed ones.
VerifyUnit() {
  local status=0
  MANPATH="$prefix/share/man:" systemd-analyze "$@" >"$WORK/verify.out" 2>&1 || status=$?
  [ "$status" -eq 0 ] && [ ! -s "$WORK/verify.out" ] && return 0
  echo "  status $status:" && sed 's/^/  | /' "$WORK/verify.out"
  return 1
}
for kind in system user; do
  unit="$prefix/lib/systemd/$kind/orvu-agentd.service"
  Check "installed: the $kind unit" test -f "$unit"
done
Check "the user unit starts the installed agent" Contains "$prefix/lib/systemd/user/orvu-agentd.service" \
  "ExecStart=$prefix/bin/orvu-agentd "
Check "the system unit starts the installed agent with its settings" \
  Contains "$prefix/lib/systemd/system/orvu-agentd.service" "ExecStart=$prefix/lib/oaset/orvu-agent-service"
Check "the start script reads the settings under the prefix" \
  Contains "$prefix/lib/oaset/orvu-agent-service" "conf=$prefix/etc/orvu-agent/agent.conf"
Check "systemd-analyze verify: the system unit" VerifyUnit verify "$prefix/lib/systemd/system/orvu-agentd.service"
Check "systemd-analyze verify: the user unit" VerifyUnit --user verify "$prefix/lib/systemd/user/orvu-agentd.service"

# The installed agent finds the sample modules beside itself.
env -i PATH=/usr/bin:/bin "$prefix/bin/orvu-agentd" --help >"$WORK/agent-help.out"
Check "the installed agent's default MIB folder" Contains "$WORK/agent-help.out" "$prefix/bin/../share/oaset/mibs"
Check "the installed agent starts" env -i PATH=/usr/bin:/bin "$prefix/bin/orvu-agentd" \
  --socket "$socket" --state "$WORK/installed.state" --module VORNEL-VNBEEP-MIB --detach \
  --pid-file "$WORK/installed.pid"

status=0
env -i ORVU_AGENT_SOCKET="$socket" "$prefix/bin/oaset" -v -o -c >"$WORK/oaset.out" 2>&1 || status=$?
Check "installed oaset -v -o -c: exit 0" test "$status" = 0
Check "installed oaset -v: the version" Contains "$WORK/oaset.out" "Orvu SNMP Agent version: "
Check "installed oaset -o: the module" Contains "$WORK/oaset.out" "Module 1: VORNEL-VNBEEP-MIB"
Check "installed oaset -c: itself" Contains "$WORK/oaset.out" "File name: $prefix/bin/oaset"
Check "installed oaset: no failure" Lacks "$WORK/oaset.out" "failed"

# The installed MIB library, in lib/oaset, looks for modules in the installed folder too.
env -i ORVU_AGENT_SOCKET="$socket" "$prefix/bin/oaset" -wNO-SUCH-MIB >"$WORK/nomib.out" 2>&1 || true
Check "the installed MIB library's default folder" Contains "$WORK/nomib.out" \
  "module NO-SUCH-MIB not found (tried $prefix/bin/../lib/oaset/../../share/oaset/mibs/NO-SUCH-MIB,"

# With no agent at the socket, the installed copy offers what it has: orvu-agentd, no oaset.sh.
env -i ORVU_AGENT_SOCKET="$WORK/none.sock" "$prefix/bin/oaset" -o >"$WORK/absent.out" 2>&1 || true
Check "installed oaset, no agent: start orvu-agentd" Contains "$WORK/absent.out" \
  "no such socket; start one with orvu-agentd --detach --module VORNEL-VNBEEP-MIB, or the system service"
Check "installed oaset, no agent: no oaset.sh" Lacks "$WORK/absent.out" "oaset.sh"
Summary
