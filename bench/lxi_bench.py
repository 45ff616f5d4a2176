#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""ktdac serve as an LXI instrument, as its clients see it, all in one run against one
server: a command and a query (write DAC:CODE, then query it) through pyvisa-py over the
raw socket and over VXI-11 (p50, p99, and VXI-11's over the raw socket's), and the web
page's update latency: from a command on the raw socket to the event the page's stream
sends for it.

usage: lxi_bench.py BIN_DIR [SAMPLES]

Debian's Python (python3-pyvisa, python3-pyvisa-py). VXI-11 needs a portmapper: rpcbind
running, or root, for serve to answer on port 111 itself; without either it is left out."""

import os
import socket
import struct
import subprocess
import sys
import threading
import time

import pyvisa

BIN = sys.argv[1]
SAMPLES = int(sys.argv[2]) if len(sys.argv) > 2 else 2000


def percentiles(timings):
    ordered = sorted(timings)
    return ordered[len(ordered) // 2], ordered[min(len(ordered) - 1, int(len(ordered) * 0.99))]


SERVER_PID = None


def processor_time(pid):
    """A process's user and system time so far, in seconds (Linux's /proc)."""
    with open(f"/proc/{pid}/stat", encoding="ascii") as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def measure(action):
    """p50 and p99 of the action in ms; and the client's and the server's processor time
    per action in µs, so that who spends the time shows."""
    action(0)  # the first one pays for what starts once
    timings = []
    client, server = time.process_time(), processor_time(SERVER_PID)
    for n in range(SAMPLES):
        start = time.perf_counter()
        action(n)
        timings.append((time.perf_counter() - start) * 1000)
    measure.cpu = ((time.process_time() - client) / SAMPLES * 1e6,
                   (processor_time(SERVER_PID) - server) / SAMPLES * 1e6)
    return percentiles(timings)


def cpu():
    client, server = measure.cpu
    return f"  [processor: client {client:.0f} us, server {server:.0f} us]"


def serve():
    server = subprocess.Popen([os.path.join(BIN, "ktdac"), "serve", "--listen", "127.0.0.1:0",
                               "--http", "0"],
                              env=dict(os.environ, KT_SIM_TRACE=""), stderr=subprocess.PIPE,
                              text=True)
    said = {}
    while "page" not in said:
        line = server.stderr.readline()
        if not line:
            sys.exit("ktdac serve ended before it served its page")
        if line.startswith("ktdac: serving SCPI on "):
            said["raw"] = int(line.strip().rsplit(":", 1)[1])
        if line.startswith("ktdac: serving VXI-11"):
            said["vxi11"] = int(line.strip().rsplit(":", 1)[1])
        if "portmapper" in line:
            said["portmapper"] = "cannot be had" not in line
        if line.startswith("ktdac: serving the web page on http://127.0.0.1:"):
            said["page"] = int(line.strip().rstrip("/").rsplit(":", 1)[1])
    threading.Thread(target=server.stderr.read, daemon=True).start()
    return server, said


def pair(resource):
    def action(n):
        resource.write(f"DAC:CODE {n % 65536}")
        resource.query("DAC:CODE?")
    return action


class MinimalRpc:
    """The core channel's calls packed by hand, each one write and its reply read whole: the
    floor under any VXI-11 client, so that what the server costs shows apart from pyvisa-py."""

    def __init__(self, port):
        self.socket = socket.create_connection(("127.0.0.1", port))
        self.socket.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        self.xid = 0
        reply = self.call(10, struct.pack(">iiI", 1, 0, 0) + self.opaque(b"inst0"))
        self.link = struct.unpack(">i", reply[4:8])[0]

    @staticmethod
    def opaque(data):
        return struct.pack(">I", len(data)) + data + b"\0" * (-len(data) % 4)

    def call(self, procedure, arguments):
        self.xid += 1
        body = struct.pack(">IIIIIIIIII", self.xid, 0, 2, 0x0607AF, 1, procedure, 0, 0, 0, 0)
        body += arguments
        self.socket.sendall(struct.pack(">I", 0x80000000 | len(body)) + body)
        header = self.socket.recv(4, socket.MSG_WAITALL)
        size = struct.unpack(">I", header)[0] & 0x7FFFFFFF
        reply = self.socket.recv(size, socket.MSG_WAITALL)
        return reply[24:]  # after xid, REPLY, accepted, verifier and SUCCESS

    def write(self, text):
        self.call(11, struct.pack(">iIII", self.link, 1000, 0, 8) + self.opaque(text.encode()))

    def query(self, text):
        self.write(text)
        return self.call(12, struct.pack(">iIIIIi", self.link, 4096, 1000, 0, 0, 0))


class MinimalRaw:
    """The raw socket with no client library: the floor under the raw socket's pair."""

    def __init__(self, port):
        self.socket = socket.create_connection(("127.0.0.1", port))
        self.socket.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)

    def write(self, text):
        self.socket.sendall(text.encode() + b"\n")

    def query(self, text):
        self.write(text)
        answer = b""
        while not answer.endswith(b"\n"):
            answer += self.socket.recv(4096)
        return answer


def page_updates(raw_port, page_port):
    """From a command on the raw socket to the page's event for it."""
    stream = socket.create_connection(("127.0.0.1", page_port))
    stream.sendall(b"GET /events HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n")
    received = b""

    def next_event():
        nonlocal received
        while b"\n\n" not in received:
            received += stream.recv(65536)
        event, received = received.split(b"\n\n", 1)
        return event

    while b"\r\n\r\n" not in received:
        received += stream.recv(65536)
    received = received.split(b"\r\n\r\n", 1)[1]
    next_event()  # the state when the stream opens
    command = socket.create_connection(("127.0.0.1", raw_port))
    command.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)

    def action(n):
        command.sendall(f"DAC:CODE {n % 65536 + 1}\n".encode())
        next_event()

    result = measure(action)
    stream.close()
    command.close()
    return result


def main():
    global SERVER_PID
    server, said = serve()
    SERVER_PID = server.pid
    manager = pyvisa.ResourceManager("@py")
    try:
        raw = manager.open_resource(f"TCPIP::127.0.0.1::{said['raw']}::SOCKET",
                                    read_termination="\n", write_termination="\n")
        raw_p50, raw_p99 = measure(pair(raw))
        print(f"raw socket, write+query (pyvisa-py):   p50 {raw_p50:.3f} ms  p99 {raw_p99:.3f} ms"
              + cpu())
        raw.close()
        if said.get("vxi11") and said.get("portmapper", True):
            instr = manager.open_resource("TCPIP::127.0.0.1::inst0::INSTR")
            p50, p99 = measure(pair(instr))
            print(f"VXI-11, write+query (pyvisa-py):       p50 {p50:.3f} ms  p99 {p99:.3f} ms"
                  f"  ({p50 / raw_p50:.2f}x the raw socket's p50, {p99 / raw_p99:.2f}x its p99)"
                  + cpu())
            instr.close()
        else:
            print("VXI-11: left out: no portmapper here (run rpcbind, or as root)")
        floor = MinimalRaw(said["raw"])
        raw_p50, raw_p99 = measure(pair(floor))
        print(f"raw socket, write+query (no library):  p50 {raw_p50:.3f} ms  p99 {raw_p99:.3f} ms"
              + cpu())
        if said.get("vxi11"):
            p50, p99 = measure(pair(MinimalRpc(said["vxi11"])))
            print(f"VXI-11, write+query (no library):      p50 {p50:.3f} ms  p99 {p99:.3f} ms"
                  f"  ({p50 / raw_p50:.2f}x, {p99 / raw_p99:.2f}x: three calls against one)" + cpu())
        p50, p99 = page_updates(said["raw"], said["page"])
        print(f"web page update (command to event):   p50 {p50:.3f} ms  p99 {p99:.3f} ms" + cpu())
    finally:
        manager.close()
        server.terminate()
        server.wait(timeout=30)


if __name__ == "__main__":
    main()
