#!/usr/bin/env python3
"""net-snmp's snmpd as master and orvu-agentd as its subagent, with a relay between them that counts
the AgentX packets the master sends: what a GetBulk through snmpd costs the agent, in round trips.
Usage: agentx_relay_test.py BUILD_DIR"""
import os
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time

TOP = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BIN = os.path.join(sys.argv[1], "bin")
ENTRY = "1.3.6.1.4.1.32473.99.1.9.1"
GETNEXT, GETBULK = 6, 7
ROWS, REPETITIONS = 20, 10
failures = []


def check(what, got, expected):
    if got != expected:
        failures.append(f"{what}: got {got!r}, expected {expected!r}")


def ranges_of(payload, order):
    """The number of search ranges in a GetNext's payload (default context)."""
    count, at = 0, 0
    while at < len(payload):
        for _ in (0, 1):  # start, end
            n = payload[at]
            at += 4 + 4 * n
        count += 1
    return count


class Relay:
    """Passes bytes both ways; counts the master's packets by type, and the ranges of each GetNext."""

    def __init__(self, listen_path, master_path):
        self.counts, self.ranges, self.lock = {}, [], threading.Lock()
        self.listener = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.listener.bind(listen_path)
        self.listener.listen(1)
        self.master_path = master_path
        threading.Thread(target=self.accept, daemon=True).start()

    def accept(self):
        agent, _ = self.listener.accept()
        master = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        master.connect(self.master_path)
        threading.Thread(target=self.pump, args=(agent, master, False), daemon=True).start()
        threading.Thread(target=self.pump, args=(master, agent, True), daemon=True).start()

    def pump(self, source, sink, count):
        buffer = b""
        while True:
            try:
                data = source.recv(65536)
                if data:
                    sink.sendall(data)
            except OSError:  # the other side went away as the test ends
                data = b""
            if not data:
                sink.close()
                return
            if not count:
                continue
            buffer += data
            while len(buffer) >= 20:
                order = ">" if buffer[2] & 0x10 else "<"
                length = struct.unpack(order + "I", buffer[16:20])[0]
                if len(buffer) < 20 + length:
                    break
                kind, payload, buffer = buffer[1], buffer[20:20 + length], buffer[20 + length:]
                with self.lock:
                    self.counts[kind] = self.counts.get(kind, 0) + 1
                    if kind == GETNEXT:
                        self.ranges.append(ranges_of(payload, order))

    def reset(self):
        with self.lock:
            self.counts, self.ranges = {}, []


def free_port():
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


def main():
    work = tempfile.mkdtemp()
    master_path, relay_path = os.path.join(work, "master.sock"), os.path.join(work, "relay.sock")
    address = f"udp:127.0.0.1:{free_port()}"
    with open(os.path.join(work, "snmpd.conf"), "w") as conf:
        conf.write(f"master agentx\nagentXSocket {master_path}\nagentXPerms 0600 0700\n"
                   "rwcommunity private 127.0.0.1\n")
    with open(os.path.join(work, "state"), "w") as state:
        state.write("module VORNEL-VNBEEP-MIB\n")
        for row in range(1, ROWS + 1):
            state.write(f"instance entry={ENTRY} index={row} handle={row} creator=1 time=0\n")
    net_snmp = dict(os.environ, MIBS="", SNMPCONFPATH=work, SNMP_PERSISTENT_DIR=os.path.join(work, "persist"))
    snmpd = subprocess.Popen(["/usr/sbin/snmpd", "-f", "-Lf", os.path.join(work, "snmpd.log"), "-C", "-c",
                              os.path.join(work, "snmpd.conf"), "-I", "-smux", address], env=net_snmp)
    agent = None
    try:
        for _ in range(200):
            if os.path.exists(master_path):
                break
            time.sleep(0.05)
        relay = Relay(relay_path, master_path)
        agent = subprocess.Popen([os.path.join(BIN, "orvu-agentd"), "--socket", os.path.join(work, "agent.sock"),
                                  "--state", os.path.join(work, "state"), "--agentx", relay_path],
                                 env=dict(os.environ, ORVU_MIB_PATH=os.path.join(TOP, "mibs")),
                                 stderr=subprocess.DEVNULL)
        tool = ["-v2c", "-c", "private", "-On", "-t", "1", "-r", "0", address]
        for _ in range(200):
            got = subprocess.run(["snmpget"] + tool + [f".{ENTRY}.3.1"], env=net_snmp, capture_output=True,
                                 text=True)
            if "INTEGER" in got.stdout:
                break
            time.sleep(0.05)
        relay.reset()
        columns = [f".{ENTRY}.{c}" for c in (2, 3, 4)]
        got = subprocess.run(["snmpbulkget", "-Cn0", f"-Cr{REPETITIONS}"] + tool + columns, env=net_snmp,
                             capture_output=True, text=True)
        check("the varbinds snmpbulkget shows", got.stdout.count("\n"), 3 * REPETITIONS)
        # The master asks the agent one GetNext per repetition, each with a range per column:
        # a round trip per repetition, never a GetBulk.
        check("GetBulk packets", relay.counts.get(GETBULK, 0), 0)
        check("GetNext packets", relay.counts.get(GETNEXT, 0), REPETITIONS)
        check("ranges per GetNext", set(relay.ranges), {3})
    finally:
        if agent:
            agent.send_signal(signal.SIGTERM)
            agent.wait(10)
        snmpd.send_signal(signal.SIGTERM)
        snmpd.wait(10)
        subprocess.run(["rm", "-rf", work])
    for failure in failures:
        print(failure, file=sys.stderr)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
