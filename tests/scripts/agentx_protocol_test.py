#!/usr/bin/env python3
"""orvu-agentd --agentx against a master played by this script, packet by packet: what net-snmp's
snmpd never sends (GetBulk, packets in network byte order, a broken packet) and what it sends
(little-endian Get, GetNext, the set phases), checked field by field, over a Unix socket and then
over TCP.
Usage: agentx_protocol_test.py BUILD_DIR"""
import os
import signal
import socket
import struct
import subprocess
import sys
import tempfile

TOP = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BIN = os.path.join(sys.argv[1], "bin")
ENTRY = [1, 3, 6, 1, 4, 1, 32473, 99, 1, 9, 1]
HERTZ = ENTRY + [3]
SCHEDULE_STATUS = [1, 3, 6, 1, 4, 1, 32473, 99, 1, 12, 1, 4]
OPEN, CLOSE, REGISTER, GET, GETNEXT, GETBULK, TESTSET, COMMITSET, UNDOSET, CLEANUPSET = 1, 2, 3, 5, 6, 7, 8, 9, 10, 11
RESPONSE = 18
COMMIT_FAILED, PROCESSING_ERROR = 14, 268
failures = []


def check(what, got, expected):
    if got != expected:
        failures.append(f"{what}: got {got!r}, expected {expected!r}")


class Packets:
    """Writes in the byte order asked for; reads in the one each packet's flag names."""

    def __init__(self, conn):
        self.conn, self.buffer = conn, b""

    def send(self, type_, payload_parts, network=False, transaction=1, packet=1, session=42, version=1):
        e = ">" if network else "<"
        payload = b"".join(p(e) if callable(p) else p for p in payload_parts)
        flags = 0x10 if network else 0
        self.conn.sendall(struct.pack("BBBB", version, type_, flags, 0)
                          + struct.pack(e + "IIII", session, transaction, packet, len(payload)) + payload)

    def read(self):
        while True:
            if len(self.buffer) >= 20:
                e = ">" if self.buffer[2] & 0x10 else "<"
                session, transaction, packet, length = struct.unpack(e + "IIII", self.buffer[4:20])
                if len(self.buffer) >= 20 + length:
                    header = dict(type=self.buffer[1], session=session, transaction=transaction,
                                  packet=packet, order=e)
                    payload, self.buffer = self.buffer[20:20 + length], self.buffer[20 + length:]
                    return header, payload
            more = self.conn.recv(65536)
            if not more:
                return None, b""
            self.buffer += more


def oid(ids, include=0):
    def put(e):
        prefix, rest = 0, ids
        if len(ids) >= 5 and ids[:4] == [1, 3, 6, 1] and 0 < ids[4] < 256:
            prefix, rest = ids[4], ids[5:]
        return struct.pack("BBBB", len(rest), prefix, include, 0) + b"".join(struct.pack(e + "I", i) for i in rest)
    return put


def integer_vb(name, value):
    return lambda e: struct.pack(e + "HH", 2, 0) + oid(name)(e) + struct.pack(e + "I", value)


def octets_vb(name, text):
    pad = b"\0" * ((4 - len(text) % 4) % 4)
    return lambda e: struct.pack(e + "HH", 4, 0) + oid(name)(e) + struct.pack(e + "I", len(text)) + text + pad


def read_oid(payload, at, e):
    count, prefix, include, _ = struct.unpack_from("BBBB", payload, at)
    ids = list(struct.unpack_from(e + f"{count}I", payload, at + 4))
    return ([1, 3, 6, 1, prefix] if prefix else []) + ids, at + 4 + 4 * count


def response(packets):
    """(error, index, [(type, name, value)]) of the next Response."""
    header, payload = packets.read()
    if header is None or header["type"] != RESPONSE:
        failures.append(f"expected a Response, got {header}")
        return None, None, []
    e = header["order"]
    _, error, index = struct.unpack_from(e + "IHH", payload, 0)
    at, varbinds = 8, []
    while at < len(payload):
        type_, _ = struct.unpack_from(e + "HH", payload, at)
        name, at = read_oid(payload, at + 4, e)
        value = None
        if type_ in (2, 65, 66, 67):
            value, at = struct.unpack_from(e + "I", payload, at)[0], at + 4
        elif type_ in (4, 64, 68):
            size = struct.unpack_from(e + "I", payload, at)[0]
            value, at = payload[at + 4:at + 4 + size], at + 4 + ((size + 3) & ~3)
        elif type_ == 6:
            value, at = read_oid(payload, at, e)
        varbinds.append((type_, name, value))
    return error, index, varbinds


def join(listener):
    """Takes the agent's connection, answers its Open and its Registers; the registered subtrees."""
    conn, _ = listener.accept()
    conn.settimeout(10)
    packets = Packets(conn)
    header, payload = packets.read()
    check("the first packet", header and header["type"], OPEN)
    e = header["order"]
    _, at = read_oid(payload, 4, e)
    size = struct.unpack_from(e + "I", payload, at)[0]
    check("the Open's description", payload[at + 4:at + 4 + size], b"orvu-agentd")
    packets.send(RESPONSE, [struct.pack("<IHH", 0, 0, 0)], packet=header["packet"])
    subtrees = []
    conn.settimeout(0.5)
    try:
        while True:
            header, payload = packets.read()
            if header is None or header["type"] != REGISTER:
                break
            check("a Register's session", header["session"], 42)
            subtrees.append(read_oid(payload, 4, header["order"])[0])
            packets.send(RESPONSE, [struct.pack("<IHH", 0, 0, 0)], packet=header["packet"])
    except socket.timeout:
        pass
    conn.settimeout(10)
    return conn, packets, subtrees


def run(transport):
    work = tempfile.mkdtemp()
    master_path = os.path.join(work, "master.sock")
    with open(os.path.join(work, "state"), "w") as state:
        state.write("module VORNEL-VNBEEP-MIB\n")
        for row in (1, 2):
            state.write(f"instance entry={'.'.join(map(str, ENTRY))} index={row} handle={row} creator=1 "
                        f"time=0 enabled=8\nvalue handle={row} column=3 syntax=2 number={100 * row}\n")
        # The NULL column holds another value in one row (a state file may say so).
        state.write("value handle=2 column=13 syntax=2 number=7\n")
        state.write("instance entry=1.3.6.1.4.1.32473.99.1.12.1 index=3 handle=3 creator=1 time=0\n"
                    "value handle=3 column=2 syntax=2 number=7\nvalue handle=3 column=4 syntax=2 number=1\n")
    if transport == "unix":
        listener = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        listener.bind(master_path)
        address = master_path
    else:
        listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        listener.bind(("127.0.0.1", 0))
        # A port of 1024 and above is taken only when the agent is told so (the tests have no 705).
        address = f"tcp:localhost:{listener.getsockname()[1]}"
    listener.listen(4)
    listener.settimeout(10)
    # The second change the agent appends (the first destroy below) finds the disk full.
    env = dict(os.environ, ORVU_MIB_PATH=os.path.join(TOP, "mibs"), ORVU_FAULTS="StateWrite=0/28@2")
    agent = subprocess.Popen([os.path.join(BIN, "orvu-agentd"), "--socket", os.path.join(work, "agent.sock"),
                              "--state", os.path.join(work, "state"), "--agentx", address]
                             + (["--agentx-trust-unprivileged-port"] if transport == "tcp" else []),
                             env=env, stderr=subprocess.PIPE, text=True)
    try:
        conn, packets, subtrees = join(listener)
        check("the sample module's subtree is registered", [1, 3, 6, 1, 4, 1, 32473, 99, 1] in subtrees, True)

        # GetBulk in network byte order: one non-repeater, then Hertz three times within its column.
        packets.send(GETBULK, [struct.pack(">HH", 1, 3), oid(ENTRY + [2]), oid([]), oid(HERTZ), oid(ENTRY + [4])],
                     network=True, packet=7)
        error, _, varbinds = response(packets)
        check("GetBulk's error", error, 0)
        check("GetBulk's varbinds", [(t, n[-2:], v) for t, n, v in varbinds],
              [(4, [2, 1], b""), (2, [3, 1], 100), (2, [3, 2], 200), (130, [3, 2], None)])

        # Get and GetNext as net-snmp's master sends them (host byte order).
        packets.send(GET, [oid(HERTZ + [2]), oid([]), oid(HERTZ + [9]), oid([]), oid(ENTRY + [99, 1]), oid([])])
        check("Get", [(t, v) for t, _, v in response(packets)[2]], [(2, 200), (129, None), (128, None)])
        packets.send(GETNEXT, [oid(HERTZ + [2], include=1), oid(ENTRY + [4]), oid(HERTZ + [2]), oid(ENTRY + [4])])
        check("GetNext, inclusive and not", [(t, n[-2:], v) for t, n, v in response(packets)[2]],
              [(2, [3, 2], 200), (130, [3, 2], None)])
        # GetNext steps over the NULLs of a column, but not over the one value that is not NULL.
        packets.send(GETNEXT, [oid(ENTRY + [13]), oid([]), oid(ENTRY + [13, 2]), oid([])])
        check("GetNext over the NULL column", [(t, n[-2:], v) for t, n, v in response(packets)[2]],
              [(2, [13, 2], 7), (4, [14, 1], b"\xbe\xef")])

        # A set through its phases; then one with the wrong type, refused at TestSet with its index.
        packets.send(TESTSET, [integer_vb(HERTZ + [1], 555)], transaction=5)
        check("TestSet", response(packets)[:2], (0, 0))
        packets.send(COMMITSET, [], transaction=5)
        check("CommitSet", response(packets)[:2], (0, 0))
        packets.send(CLEANUPSET, [], transaction=5)
        packets.send(GET, [oid(HERTZ + [1]), oid([])])
        check("the value after the set", response(packets)[2][0][2], 555)

        # A destroy is stored before CommitSet answers: with the journal's append refused, the
        # commit fails and the row stays, in the agent and in the file the next start reads.
        def destroy(transaction):
            packets.send(TESTSET, [integer_vb(SCHEDULE_STATUS + [3], 6)], transaction=transaction)
            check("TestSet of a destroy", response(packets)[:2], (0, 0))
            packets.send(COMMITSET, [], transaction=transaction)
            return response(packets)[:2]
        check("a destroy the journal refuses", destroy(10), (COMMIT_FAILED, 1))
        packets.send(UNDOSET, [], transaction=10)
        check("UndoSet after the refused destroy", response(packets)[:2], (0, 0))
        packets.send(CLEANUPSET, [], transaction=10)
        packets.send(GET, [oid(SCHEDULE_STATUS + [3]), oid([])])
        check("the row the refused destroy leaves", response(packets)[2][0][2], 1)
        with open(os.path.join(work, "state")) as state:
            check("the refused destroy in the state file", "remove handle=3" in state.read(), False)
        check("a destroy the journal takes", destroy(11), (0, 0))
        packets.send(CLEANUPSET, [], transaction=11)
        with open(os.path.join(work, "state")) as state:
            check("the destroy in the state file", "remove handle=3" in state.read(), True)

        # A second CommitSet of one set is the master's error, not a second commit; the UndoSet
        # after it takes back the first.
        packets.send(TESTSET, [integer_vb(HERTZ + [1], 777)], transaction=12)
        check("TestSet", response(packets)[:2], (0, 0))
        packets.send(COMMITSET, [], transaction=12)
        check("CommitSet", response(packets)[:2], (0, 0))
        packets.send(COMMITSET, [], transaction=12)
        check("a second CommitSet", response(packets)[:2], (PROCESSING_ERROR, 0))
        packets.send(UNDOSET, [], transaction=12)
        check("UndoSet after it", response(packets)[:2], (0, 0))
        packets.send(CLEANUPSET, [], transaction=12)
        packets.send(GET, [oid(HERTZ + [1]), oid([])])
        check("the value after the undo", response(packets)[2][0][2], 555)

        packets.send(TESTSET, [integer_vb(HERTZ + [2], 300), octets_vb(HERTZ + [1], b"loud")], network=True,
                     transaction=6)
        check("a TestSet with a wrong type", response(packets)[:2], (7, 2))
        packets.send(CLEANUPSET, [], transaction=6)
        packets.send(GET, [oid(HERTZ + [2]), oid([])])
        check("the refused set changed nothing", response(packets)[2][0][2], 200)

        # A packet of another protocol version: the agent says why it closes, then joins again.
        packets.send(GET, [oid(HERTZ + [1]), oid([])], version=9)
        header, payload = packets.read()
        check("the answer to a broken packet", (header and header["type"], payload[:1]), (CLOSE, b"\x02"))
        conn.close()
        conn, packets, _ = join(listener)
        packets.send(GET, [oid(HERTZ + [1]), oid([])], network=True)
        check("the value in the new session", response(packets)[2][0][2], 555)

        agent.send_signal(signal.SIGTERM)
        header, payload = packets.read()
        check("the goodbye at exit", (header and header["type"], payload[:1]), (CLOSE, b"\x05"))
        check("the agent's exit status", agent.wait(timeout=10), 0)
    finally:
        if agent.poll() is None:
            agent.kill()
            agent.wait()
        listener.close()
        subprocess.run(["rm", "-rf", work])
    err = agent.stderr.read()
    for failure in failures:
        print(f"agentx_protocol_test ({transport}): " + failure, file=sys.stderr)
    if failures:
        print(err, file=sys.stderr)
    return not failures


def main():
    return 0 if run("unix") and run("tcp") else 1


if __name__ == "__main__":
    sys.exit(main())
