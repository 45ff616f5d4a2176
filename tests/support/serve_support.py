# SPDX-License-Identifier: MIT
"""What the tests that drive `ktdac serve` over loopback share: the server started on a free
port with the simulated board's trace, stopped as its platform allows, and the frames the
board received."""

import json
import os
import signal
import socket
import struct
import subprocess


def check(condition, what):
    if not condition:
        raise AssertionError(what)


def frames(trace):
    """The (value, index) of every frame the board received."""
    if not os.path.exists(trace):
        return []
    with open(trace, encoding="utf-8") as lines:
        # Whole lines only: the server may be in the middle of writing the last.
        records = [json.loads(line) for line in lines if line.endswith("\n")]
    return [(r["value"], r["index"]) for r in records
            if r["entry"] in ("Control_Transfer", "LinkControl")]


def start(ktdac, trace, under_wine):
    """`ktdac serve` on 127.0.0.1 and a free port: the process and the port."""
    server = subprocess.Popen(ktdac + ["serve", "--listen", "127.0.0.1:0"],
                              env=dict(os.environ, KT_SIM_TRACE=trace), stderr=subprocess.PIPE,
                              text=True)
    line = server.stderr.readline()
    while under_wine and line and not line.startswith("ktdac:"):
        line = server.stderr.readline()  # Wine's own notes
    check(line.startswith("ktdac: serving SCPI on 127.0.0.1:"), "announced: " + line)
    return server, int(line.strip().rsplit(":", 1)[1])


def stop(server, under_wine):
    """SIGTERM, which must end the server cleanly; under Wine, which has none, a kill."""
    if under_wine:
        server.kill()
    else:
        server.send_signal(signal.SIGTERM)
    status = server.wait(timeout=30)
    check(under_wine or status == 0, f"SIGTERM ends the server cleanly (status {status})")


class CoreChannel:
    """VXI-11's core channel with its calls packed by hand, for what a client library never
    does: a call written in parts, calls written before any reply is read."""

    def __init__(self, port, receive_buffer=None):
        self.socket = socket.socket()
        if receive_buffer:
            self.socket.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, receive_buffer)
        self.socket.settimeout(10)
        self.socket.connect(("127.0.0.1", port))
        self.xid = 0
        self.send(self.call(10, struct.pack(">iiI", 1, 0, 0) + self.opaque(b"inst0")))
        self.link = struct.unpack(">i", self.reply()[1][4:8])[0]

    @staticmethod
    def opaque(data):
        return struct.pack(">I", len(data)) + data + b"\0" * (-len(data) % 4)

    def call(self, procedure, arguments):
        """The record of a call, its mark first."""
        self.xid += 1
        body = struct.pack(">10I", self.xid, 0, 2, 0x0607AF, 1, procedure, 0, 0, 0, 0)
        return struct.pack(">I", 0x80000000 | len(body) + len(arguments)) + body + arguments

    def write(self, text):
        """A device_write of the text, END set."""
        return self.call(11, struct.pack(">iIII", self.link, 1000, 0, 8) + self.opaque(text.encode()))

    def send(self, record, in_parts=False):
        if in_parts:
            self.socket.sendall(record[:4])
            record = record[4:]
        self.socket.sendall(record)

    def exactly(self, size):
        data = b""
        while len(data) < size:
            chunk = self.socket.recv(size - len(data))
            check(chunk, f"{size} bytes of a reply, not {len(data)}: the server closed")
            data += chunk
        return data

    def reply(self):
        """The next reply: its xid and its results."""
        size = struct.unpack(">I", self.exactly(4))[0] & 0x7FFFFFFF
        reply = self.exactly(size)
        return struct.unpack(">I", reply[:4])[0], reply[24:]
