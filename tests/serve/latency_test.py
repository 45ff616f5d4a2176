#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""A command followed by a query, as lab scripts send them, from clients that keep Nagle's
algorithm on (pyvisa-py's sockets do): the client holds the query until the command is
acknowledged, so a server that delays its acknowledgement (about 40 ms on Linux) stalls every
pair. 50 pairs must finish far below 50 stalls: against `ktdac serve` through pyvisa-py and
through the PyMeasure driver, and against `kt-sim-meter`, which stands in for a real meter;
and VXI-11 calls each written in two parts, whose second waits for the first's acknowledgement.
Also VXI-11 calls written faster than their client reads the replies: each answered in turn.
Under Wine the pairs are timed and reported, not judged: Wine's sockets keep Linux's delayed
acknowledgements whatever SIO_TCP_SET_ACK_FREQUENCY asks (it refuses the control on ktdac
serve's overlapped sockets, which the server then says, and takes it without effect on the
meter's blocking one), so the stall shows there and the cure cannot. The PyMeasure driver's
settings, one message each, must be quick everywhere.

Usage: latency_test.py [RUNNER...] KT_SIM_METER KTDAC   (the runner, such as Wine's, runs both)"""

import os
import re
import select
import struct
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "drivers",
                                "pymeasure"))
import pyvisa  # noqa: E402
from kt31x import KT31xEvaluationBoard  # noqa: E402
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from serve_support import CoreChannel, check, start, stop  # noqa: E402

RUNNER = sys.argv[1:-2]
METER = RUNNER + [sys.argv[-2]]
KTDAC = RUNNER + [sys.argv[-1]]
UNDER_WINE = bool(RUNNER)
PAIRS = 50
BOUND = 1.0  # seconds: 50 delayed acknowledgements take about 2.2 s, 50 pairs without 0.05 s


def pairs(resource, command, query):
    """Seconds for PAIRS of a command and a query, the client's Nagle left on."""
    rm = pyvisa.ResourceManager("@py")
    instrument = rm.open_resource(resource, read_termination="\n", write_termination="\n",
                                  timeout=10000)
    instrument.query("*IDN?")
    begin = time.monotonic()
    for n in range(PAIRS):
        instrument.write(command(n))
        instrument.query(query)
    seconds = time.monotonic() - begin
    instrument.close()
    return seconds


NO_QUICK_ACKS = "this system does not acknowledge each message at once"


def said(stream, words, seconds=2.0):
    """Whether a line with these words comes on the stream within the time."""
    deadline = time.monotonic() + seconds
    while (left := deadline - time.monotonic()) > 0:
        if not select.select([stream], [], [], left)[0]:
            return False
        line = stream.readline()
        if not line:
            return False
        if words in line:
            return True
    return False


def judge(what, seconds, server_stream):
    print(f"latency_test: {what}: {seconds:.3f} s")
    if UNDER_WINE:
        says = said(server_stream, NO_QUICK_ACKS)
        print(f"latency_test: under Wine, not judged; the server {'says' if says else 'does not say'}"
              " that it cannot acknowledge at once")
        return
    check(seconds < BOUND, f"{what} took {seconds:.3f} s: a delayed acknowledgement stalls each")


def calls_in_parts(port):
    """Seconds for PAIRS VXI-11 device_write calls, each written as its record mark, then its
    body, Nagle's algorithm left on: the body goes only once the mark is acknowledged."""
    core = CoreChannel(port)
    begin = time.monotonic()
    for n in range(PAIRS):
        core.send(core.write(f"DAC:CODE {n}"), in_parts=True)
        check(core.reply()[1][:4] == b"\0\0\0\0", "device_write answered")
    return time.monotonic() - begin


def calls_before_replies(port, queries):
    """Calls written while their client reads nothing, more replies than its socket and the
    server's take: the server writes the rest as room comes, every reply in turn. Where the
    server's buffer fills, a reply is cut or the next one is not taken at all: which depends
    on the replies' sizes, so the caller runs several."""
    core = CoreChannel(port, receive_buffer=4096)
    calls = 3000  # each read's reply about 50 bytes a query: megabytes in all
    first = core.xid + 1
    records = b"".join(core.write(";".join(["*IDN?"] * queries)) + core.call(12, struct.pack(
        ">iIIIIi", core.link, 4096, 1000, 0, 0, 0)) for _ in range(calls))
    sender = threading.Thread(target=core.socket.sendall, args=(records,))
    sender.start()
    time.sleep(0.5)  # the server fills what it can and waits for room
    for xid in range(first, first + 2 * calls):
        got, results = core.reply()
        check(got == xid, f"reply {got} in turn, not {xid}")
        check(xid % 2 == first % 2 or b"Corvane," in results, f"the identity read: {results!r}")
    sender.join()


def against_serve(folder):
    server, port = start(KTDAC, os.path.join(folder, "trace.jsonl"), UNDER_WINE)
    try:
        line = server.stderr.readline()  # the next line, before any client's
        while line and not line.startswith("ktdac: serving VXI-11"):
            line = server.stderr.readline()
        check(line, "serve told where its VXI-11 channel is")
        vxi11 = int(line.strip().rsplit(":", 1)[1])
        resource = f"TCPIP::127.0.0.1::{port}::SOCKET"
        seconds = pairs(resource, lambda n: f"DAC:CODE {n}", "*OPC?")
        judge(f"ktdac serve, {PAIRS} pairs through pyvisa-py", seconds, server.stderr)
        seconds = calls_in_parts(vxi11)
        judge(f"ktdac serve, {PAIRS} VXI-11 calls in two writes each", seconds, server.stderr)
        for queries in (37, 38, 39, 40):
            calls_before_replies(vxi11, queries)
        board = KT31xEvaluationBoard(resource)
        begin = time.monotonic()
        for n in range(PAIRS):
            board.code = n
        seconds = time.monotonic() - begin
        board.adapter.connection.close()
        # One message a setting: no stall even where the system delays acknowledgements.
        print(f"latency_test: ktdac serve, {PAIRS} settings through PyMeasure: {seconds:.3f} s")
        check(seconds < BOUND, f"{PAIRS} settings took {seconds:.3f} s")
    finally:
        stop(server, UNDER_WINE)


def against_meter(folder):
    output = os.path.join(folder, "dac.json")
    meter = subprocess.Popen(METER + ["--listen", "127.0.0.1:0", "--dac-output", output],
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    try:
        line = meter.stdout.readline()
        while UNDER_WINE and line and "listening on" not in line:
            line = meter.stdout.readline()  # Wine's own notes
        where = re.search(r"listening on (\S+):(\d+)", line)
        check(where, "the meter listens: " + line)
        resource = f"TCPIP::{where.group(1)}::{where.group(2)}::SOCKET"
        seconds = pairs(resource, lambda n: "VOLT:DC:NPLC 1", "READ?")
        judge(f"kt-sim-meter, {PAIRS} pairs through pyvisa-py", seconds, meter.stderr)
    finally:
        meter.kill()
        meter.wait()


def main():
    with tempfile.TemporaryDirectory(prefix="kt_latency_") as folder:
        against_serve(folder)
        against_meter(folder)
    print("latency_test: all checks passed")


if __name__ == "__main__":
    main()
