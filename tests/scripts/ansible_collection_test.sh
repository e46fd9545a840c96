#!/usr/bin/env bash
# The Ansible collection orvu.agent (ansible/) against three inventory hosts, each with an agent of
# its own, run over SSH to this machine (a private sshd on a free loopback port, with a host key and
# a client key made here) and with the local connection. A first run changes every agent, a second
# none; check mode changes nothing; diff mode shows the change; a host whose agent refuses, or whose
# agent is stopped, fails alone while the others are done. As another user than root, sshd cannot
# run, and the whole story runs with the local connection alone. Everything lies in the test's private
# folder; sshd and the agents are stopped at the end.
# Usage: ansible_collection_test.sh BUILD_FOLDER
source "$(dirname "$0")/script_test_lib.sh" "$1"
ORVUCTL="$BUILD_DIR/bin/orvuctl"
AGENTD="$BUILD_DIR/bin/orvu-agentd"

for tool in ansible-playbook ssh ssh-keygen /usr/sbin/sshd; do
  if ! command -v "$tool" >/dev/null; then
    echo "FAILED  $tool is not installed (scripts/install-deps.sh installs it)"
    exit 1
  fi
done

# Ansible keeps everything it writes, on the controller and on the hosts, in the private folder,
# and reads no configuration but this test's.
: >"$WORK/ansible.cfg"
export ANSIBLE_CONFIG="$WORK/ansible.cfg" ANSIBLE_HOME="$WORK/ansible-home"
export ANSIBLE_LOCAL_TEMP="$WORK/ansible-local" ANSIBLE_REMOTE_TEMP="$WORK/ansible-remote"
export ANSIBLE_COLLECTIONS_PATH="$SOURCE_DIR/ansible" ANSIBLE_SSH_CONTROL_PATH_DIR="$WORK/cp"
export ANSIBLE_RETRY_FILES_ENABLED=0 ANSIBLE_NOCOLOR=1 ANSIBLE_PIPELINING=1 ANSIBLE_FORKS=3
export ANSIBLE_PYTHON_INTERPRETER=/usr/bin/python3 PYTHONDONTWRITEBYTECODE=1
export ANSIBLE_SSH_ARGS="-o ControlMaster=no -o BatchMode=yes -o IdentitiesOnly=yes \
-o StrictHostKeyChecking=yes -o UserKnownHostsFile=$WORK/ssh/known_hosts"

cat >"$WORK/playbook.yml" <<'EOF'
- hosts: agents
  gather_facts: false
  tasks:
    - name: the desired state
      orvu.agent.settings:
        orvuctl_path: "{{ orvuctl }}"
        socket: "{{ agent_socket }}"
        values:
          speakerVolume: "{{ volume }}"
        tables:
          speakerFreqEntry:
            rows:
              - index: 21
                speakerFreqDescr: low beep
                speakerFreqHertz: "{{ 15 if inventory_hostname == (refusing | default('')) else 220 }}"
      register: applied
    - name: the same state, from a file on the host
      orvu.agent.settings:
        orvuctl_path: "{{ orvuctl }}"
        socket: "{{ agent_socket }}"
        file: "{{ desired_file }}"
      register: from_file
      when: desired_file is defined
    - name: what the agent holds
      orvu.agent.info:
        orvuctl_path: "{{ orvuctl }}"
        socket: "{{ agent_socket }}"
        tables: [speakerFreqEntry]
        values: [speakerVolume, speakerFreqHertz.21]
- hosts: localhost
  gather_facts: false
  tasks:
    - name: every host's results, for the test to read
      check_mode: false
      ansible.builtin.copy:
        dest: "{{ results }}"
        content: >-
          {% set out = {} %}{% for host in groups['agents'] %}{% set _ = out.update({host:
          {'applied': hostvars[host].applied | default(None),
           'from_file': hostvars[host].from_file | default(None),
           'facts': hostvars[host].orvu_agent | default(None)}}) %}{% endfor %}{{ out | to_json }}
EOF

# FreeTcpPort: a TCP port of 127.0.0.1 that nobody uses now.
FreeTcpPort() {
  python3 -c 'import socket
s = socket.socket()
s.bind(("127.0.0.1", 0))
print(s.getsockname()[1])'
}

# StartAgents: a fresh agent for each of h1, h2 and h3, with its own socket and state.
StartAgents() {
  local host
  for host in h1 h2 h3; do
    [ -f "$WORK/$host/agent.pid" ] && kill "$(cat "$WORK/$host/agent.pid")" 2>/dev/null
    rm -rf "${WORK:?}/$host"
    mkdir -m 700 "$WORK/$host"
    "$AGENTD" --socket "$WORK/$host/agent.sock" --state "$WORK/$host/agent.state" \
      --module VORNEL-VNBEEP-MIB --detach --pid-file "$WORK/$host/agent.pid" >/dev/null ||
      return 1
  done
}

StopAgent() {
  local pid tries
  pid=$(cat "$WORK/$1/agent.pid")
  kill "$pid"
  for ((tries = 0; tries < 100; tries++)); do
    kill -0 "$pid" 2>/dev/null || return 0
    sleep 0.05
  done
  return 1
}

# StartSshd: sshd on a free loopback port that admits this user with the test's own key only.
StartSshd() {
  local dir="$WORK/ssh" tries
  mkdir -m 700 "$dir"
  ssh-keygen -q -t ed25519 -N '' -f "$dir/host_key" || return 1
  ssh-keygen -q -t ed25519 -N '' -f "$dir/client_key" || return 1
  cp "$dir/client_key.pub" "$dir/authorized_keys"
  SSH_PORT=$(FreeTcpPort)
  echo "[127.0.0.1]:$SSH_PORT $(cut -d' ' -f1,2 "$dir/host_key.pub")" >"$dir/known_hosts"
  cat >"$dir/sshd_config" <<EOF
Port $SSH_PORT
ListenAddress 127.0.0.1
HostKey $dir/host_key
PidFile $dir/sshd.pid
AuthorizedKeysFile $dir/authorized_keys
AllowUsers $(id -un)
PubkeyAuthentication yes
PasswordAuthentication no
KbdInteractiveAuthentication no
PermitRootLogin prohibit-password
UsePAM no
StrictModes no
PrintMotd no
Subsystem sftp internal-sftp
EOF
  # sshd keeps its privilege separation in a folder of the system's, made by its service.
  [ -d /run/sshd ] || mkdir -m 755 /run/sshd
  /usr/sbin/sshd -f "$dir/sshd_config" -E "$dir/sshd.log" || return 1
  for ((tries = 0; tries < 100; tries++)); do
    ssh -p "$SSH_PORT" -i "$dir/client_key" $ANSIBLE_SSH_ARGS "$(id -un)@127.0.0.1" true \
      2>/dev/null && return 0
    sleep 0.1
  done
  echo "  sshd did not admit the test's key:" && sed 's/^/  | /' "$dir/sshd.log"
  return 1
}

# Inventory CONNECTION: the three hosts, over ssh or local.
Inventory() {
  local file="$WORK/inventory-$1.yml" host
  {
    echo "all:"
    echo "  vars:"
    echo "    orvuctl: $ORVUCTL"
    if [ "$1" = ssh ]; then
      echo "    ansible_connection: ssh"
      echo "    ansible_host: 127.0.0.1"
      echo "    ansible_port: $SSH_PORT"
      echo "    ansible_user: $(id -un)"
      echo "    ansible_ssh_private_key_file: $WORK/ssh/client_key"
    else
      echo "    ansible_connection: local"
    fi
    echo "  children:"
    echo "    agents:"
    echo "      hosts:"
    for host in h1 h2 h3; do
      echo "        $host: {agent_socket: $WORK/$host/agent.sock}"
    done
  } >"$file"
  echo "$file"
}

# Play INVENTORY NAME [ansible-playbook options...]: runs the playbook; its results are in
# $WORK/NAME.json, its output in $WORK/NAME.log and its exit status in $WORK/NAME.status.
Play() {
  local inventory=$1 name=$2 status=0
  shift 2
  timeout 120 ansible-playbook -i "$inventory" "$WORK/playbook.yml" \
    -e "results=$WORK/$name.json" "$@" >"$WORK/$name.log" 2>&1 || status=$?
  echo "$status" >"$WORK/$name.status"
}

# Expect NAME STATUS CHECKS: the run NAME ended with STATUS, and every check of CHECKS holds: for
# each host, `changed` or `unchanged` or `failed:TEXT` (TEXT in its message), and `volume=N`,
# the volume that the info task read back.
Expect() {
  local name=$1 status=$2 checks=$3
  if [ "$(cat "$WORK/$name.status")" != "$status" ] || [ ! -f "$WORK/$name.json" ]; then
    echo "  exit status $(cat "$WORK/$name.status"), not $status; the run printed:"
    sed 's/^/  | /' "$WORK/$name.log"
    return 1
  fi
  python3 - "$WORK/$name.json" "$checks" <<'EOF' || { sed 's/^/  | /' "$WORK/$name.log"; return 1; }
import json, sys
results = json.load(open(sys.argv[1]))
wrong = []
for check in sys.argv[2].split():
    host, what = check.split(":", 1)
    applied = results[host]["applied"] or {}
    facts = results[host]["facts"] or {}
    if what == "changed":
        ok = applied.get("changed") is True and applied.get("changed_count", 0) > 0
    elif what == "unchanged":
        ok = applied.get("changed") is False and applied.get("changed_count") == 0 \
            and not applied.get("failed")
    elif what.startswith("failed:"):
        ok = applied.get("failed") is True and what[7:].replace("_", " ") in applied.get("msg", "")
    elif what == "file-unchanged":
        from_file = results[host]["from_file"] or {}
        ok = from_file.get("changed") is False and from_file.get("changed_count") == 0 \
            and not from_file.get("skipped")
    elif what.startswith("volume="):
        ok = facts.get("values", {}).get("speakerVolume", {}).get("value") == int(what[7:])
    elif what == "served":
        ok = {"name": "VORNEL-VNBEEP-MIB"} in facts.get("modules", []) and \
            [row["index"] for row in facts["tables"]["speakerFreqEntry"]["rows"]] == ["21"] and \
            facts["values"]["speakerFreqHertz.21"]["value"] == 220
    elif what.startswith("diff="):
        before, after = what[5:].split("->")
        diff = applied.get("diff") or {}
        ok = "speakerVolume.0 = " + before in diff.get("before", "") and \
            "speakerVolume.0 = " + after in diff.get("after", "")
    else:
        ok = False
    if not ok:
        wrong.append("%s (%s)" % (check, json.dumps(applied if what != "served" else facts)))
for line in wrong:
    print("  not so: " + line)
sys.exit(1 if wrong else 0)
EOF
}

# Volume HOST: the agent's volume, read without Ansible.
Volume() {
  ORVU_AGENT_SOCKET="$WORK/$1/agent.sock" "$ORVUCTL" get speakerVolume --json |
    python3 -c 'import json, sys; print(json.load(sys.stdin)["values"][0]["value"])'
}

# Scenario CONNECTION [short]: the story against fresh agents; the short one leaves out the modes
# and the stopped agent, which the connection does not change.
Scenario() {
  local c=$1 inventory
  inventory=$(Inventory "$c")
  Check "$c: agents start" StartAgents
  Play "$inventory" "$c-first" -e volume=40
  Check "$c: the first run changes every host, and info reads it back" Expect "$c-first" 0 \
    "h1:changed h2:changed h3:changed h1:volume=40 h2:volume=40 h3:volume=40 h1:served h3:served"
  cat >"$WORK/desired.yaml" <<EOF
values:
  speakerVolume: 40
tables:
  speakerFreqEntry:
    rows:
      - index: 21
        speakerFreqDescr: low beep
        speakerFreqHertz: 220
EOF
  Play "$inventory" "$c-second" -e volume=40 -e "desired_file=$WORK/desired.yaml"
  Check "$c: the second run changes nothing, nor does the same state from a file" \
    Expect "$c-second" 0 "h1:unchanged h2:unchanged h3:unchanged h2:volume=40 \
    h1:file-unchanged h2:file-unchanged h3:file-unchanged"
  if [ "${2:-}" != short ]; then
    Play "$inventory" "$c-check" -e volume=55 --check --diff
    Check "$c: check mode says what would change, with the diff" Expect "$c-check" 0 \
      "h1:changed h2:changed h3:changed h1:diff=40->55 h3:diff=40->55 h1:volume=40 h3:volume=40"
    Check "$c: check mode changed nothing" test "$(Volume h1)$(Volume h2)$(Volume h3)" = 404040
    Check "$c: diff mode's output shows the change" Contains "$WORK/$c-check.log" \
      "+speakerVolume.0 = 55"
  fi
  Play "$inventory" "$c-refused" -e volume=60 -e refusing=h2 --diff
  Check "$c: a host whose agent refuses fails alone" Expect "$c-refused" 2 \
    "h1:changed h2:failed:speakerFreqHertz h3:changed h1:diff=40->60 h1:volume=60 h3:volume=60"
  Check "$c: the refused host is left as it was" test "$(Volume h2)" = 40
  [ "${2:-}" = short ] && return
  StopAgent h3
  Play "$inventory" "$c-stopped" -e volume=70
  Check "$c: a host whose agent is stopped fails alone" Expect "$c-stopped" 2 \
    "h1:changed h2:changed h3:failed:orvuctl h1:volume=70 h2:volume=70"
}

# The sanity tests that ansible-test runs offline, on a copy (it writes its results into the
# collection). The others install pinned tools from PyPI into a virtual environment first; the
# collection's README names them.
SANITY_ONLINE_ONLY=(ansible-doc import pep8 pylint runtime-metadata validate-modules yamllint)
Sanity() {
  local copy="$WORK/sanity/ansible_collections/orvu/agent" python skips=()
  mkdir -p "$(dirname "$copy")"
  cp -r "$SOURCE_DIR/ansible/ansible_collections/orvu/agent" "$copy"
  python=$(python3 -c 'import sys; print("%d.%d" % sys.version_info[:2])')
  for test in "${SANITY_ONLINE_ONLY[@]}"; do skips+=(--skip-test "$test"); done
  (cd "$copy" && HOME="$WORK/sanity" timeout 120 ansible-test sanity --local --python "$python" \
    "${skips[@]}") >"$WORK/sanity.log" 2>&1 && return 0
  sed 's/^/  | /' "$WORK/sanity.log"
  return 1
}

# ansible-doc reads the modules' documentation with the collection's fragment.
Documented() {
  ansible-doc orvu.agent.settings orvu.agent.info >"$WORK/doc.log" 2>&1 &&
    Contains "$WORK/doc.log" "orvuctl_path" && Lacks "$WORK/doc.log" "ERROR"
}

Check "ansible-test sanity, the tests that run offline" Sanity
Check "ansible-doc reads both modules" Documented
if [ ! -x "$ORVUCTL" ]; then
  echo "FAILED  $ORVUCTL is not built"
  exit 1
fi
if [ "$(id -u)" -ne 0 ]; then
  echo "skipped: the runs over SSH, whose sshd needs root (its privilege separation)"
  Scenario local
else
  Check "sshd starts on a loopback port with the test's keys" StartSshd && Scenario ssh
  Scenario local short
fi
Summary
