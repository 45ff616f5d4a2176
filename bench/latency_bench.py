#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Remote control at wire speed, as lab clients see it: per exchange latency (p50, p99) of
`ktdac serve` and `kt-sim-meter` through pyvisa-py and the PyMeasure driver, beside the same
client's query alone (its own floor) and a bare loopback round trip, all in one run. Then a
script that sets each code through `ktdac serve` and reads `kt-sim-meter` with pyvisa, what a
user writes without `ktdac characterize`, against `ktdac characterize` on the same plan.

usage: latency_bench.py BIN_DIR [SAMPLES]

Debian's Python (python3-pyvisa, python3-pyvisa-py, python3-pymeasure). The clients keep
Nagle's algorithm on, as pyvisa-py's sockets do."""

import os
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "drivers", "pymeasure"))
import pyvisa  # noqa: E402
from kt31x import KT31xEvaluationBoard  # noqa: E402

BIN = sys.argv[1]
SAMPLES = int(sys.argv[2]) if len(sys.argv) > 2 else 2000


def percentiles(timings):
    ordered = sorted(timings)
    return ordered[len(ordered) // 2], ordered[min(len(ordered) - 1, int(len(ordered) * 0.99))]


def measure(name, action, floor=None):
    action(0)  # the first one pays for what starts once
    timings = []
    for n in range(SAMPLES):
        begin = time.perf_counter()
        action(n)
        timings.append(time.perf_counter() - begin)
    p50, p99 = percentiles(timings)
    ratio = f"   {p50 / floor:5.2f}x the query alone" if floor else ""
    print(f"{name:<58} p50 {p50 * 1e3:7.3f} ms  p99 {p99 * 1e3:7.3f} ms{ratio}")
    return p50


def bare_round_trip():
    """A byte to an echo thread and back over loopback, Nagle off on both ends: the floor."""
    listener = socket.create_server(("127.0.0.1", 0))

    def echo():
        peer, _ = listener.accept()
        peer.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        while data := peer.recv(64):
            peer.sendall(data)

    threading.Thread(target=echo, daemon=True).start()
    client = socket.create_connection(listener.getsockname())
    client.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    measure("bare loopback round trip (Python socket, echo thread)",
            lambda n: (client.sendall(b"x\n"), client.recv(64)))
    client.close()


def serve(channel=None):
    """ktdac serve on the simulated board; with a channel, the board shows its output to the
    meter there (a file replaced at every frame, which the frame then pays for)."""
    env = dict(os.environ, KT_SIM_TRACE="")
    if channel:
        env["KT_SIM_DAC_OUTPUT"] = channel
    server = subprocess.Popen([os.path.join(BIN, "ktdac"), "serve", "--listen", "127.0.0.1:0",
                               "--no-announce"], stderr=subprocess.PIPE, text=True, env=env)
    port = int(server.stderr.readline().strip().rsplit(":", 1)[1])
    return server, port


def meter(channel):
    process = subprocess.Popen([os.path.join(BIN, "kt-sim-meter"), "--listen", "127.0.0.1:0",
                                "--dac-output", channel], stdout=subprocess.PIPE, text=True)
    port = int(process.stdout.readline().strip().rsplit(":", 1)[1])
    return process, port


def open_visa(port):
    return pyvisa.ResourceManager("@py").open_resource(
        f"TCPIP::127.0.0.1::{port}::SOCKET", read_termination="\n", write_termination="\n",
        timeout=10000)


def main():
    work = tempfile.mkdtemp(prefix="kt_latency_")
    shm = "/dev/shm" if os.path.isdir("/dev/shm") else work
    channel = os.path.join(shm, f"kt-latency-{os.getpid()}.dac.json")
    server, serve_port = serve()
    sim, meter_port = meter(channel)
    try:
        print(f"{SAMPLES} exchanges each, Nagle's algorithm left on by every client but the bare one")
        bare_round_trip()
        dac = open_visa(serve_port)
        floor = measure("ktdac serve, pyvisa-py: query alone (*OPC?)", lambda n: dac.query("*OPC?"))
        measure("ktdac serve, pyvisa-py: DAC:CODE n, then *OPC?",
                lambda n: (dac.write(f"DAC:CODE {n % 65536}"), dac.query("*OPC?")), floor)
        board = KT31xEvaluationBoard(f"TCPIP::127.0.0.1::{serve_port}::SOCKET")
        measure("ktdac serve, PyMeasure: setting code", lambda n: setattr(board, "code", n % 65536),
                floor)
        board.reference = 2.5
        measure("ktdac serve, PyMeasure: setting voltage",
                lambda n: setattr(board, "voltage", (n % 1000) / 1000), floor)
        measure("ktdac serve, PyMeasure: reading code", lambda n: board.code, floor)
        # Every client keeps its answers while a waveform plays: another client starts a sine
        # until stopped; the first one's queries reach the board under the player's lock.
        player = open_visa(serve_port)
        for rate in (1000, 10_000):
            player.write(f"*RST;:FUNC SIN;:FREQ 10;:FUNC:SRAT {rate};:BURS:NCYC INF;:OUTP ON")
            measure(f"ktdac serve, pyvisa-py: *OPC? while a sine plays at {rate} S/s",
                    lambda n: dac.query("*OPC?"), floor)
            measure(f"ktdac serve, pyvisa-py: DAC:CODE? while a sine plays at {rate} S/s",
                    lambda n: dac.query("DAC:CODE?"), floor)
        player.write("OUTP OFF")
        player.close()
        dmm = open_visa(meter_port)
        floor = measure("kt-sim-meter, pyvisa-py: query alone (READ?)", lambda n: dmm.query("READ?"))
        measure("kt-sim-meter, pyvisa-py: VOLT:DC:NPLC 1, then READ?",
                lambda n: (dmm.write("VOLT:DC:NPLC 1"), dmm.query("READ?")), floor)

        # The loop a user writes: set each code, read the meter; against characterize. The
        # board now shows its output to the meter.
        dac.close()
        board.adapter.connection.close()
        server.terminate()
        server.wait()
        server, serve_port = serve(channel)
        dac = open_visa(serve_port)
        codes = list(range(0, 65536, 16)) + [65535]
        begin = time.monotonic()
        for code in codes:
            dac.write(f"DAC:CODE {code}")
            dac.query("*OPC?")
            dmm.query("READ?")
        loop = time.monotonic() - begin
        dac.close()
        dmm.close()
        begin = time.monotonic()
        subprocess.run([os.path.join(BIN, "ktdac"), "characterize", "--meter",
                        f"127.0.0.1:{meter_port}", "--vref", "2.5", "--codes", "every:16",
                        "--settle", "0ms", "--output", os.path.join(work, "run")],
                       env=dict(os.environ, KT_SIM_TRACE="", KT_SIM_DAC_OUTPUT=channel),
                       check=True, capture_output=True)
        characterize = time.monotonic() - begin
        print(f"{len(codes)} codes set through ktdac serve and read from kt-sim-meter by pyvisa-py: "
              f"{loop:.2f} s; ktdac characterize on the same plan: {characterize:.2f} s")
    finally:
        server.terminate()
        sim.kill()
        server.wait()
        sim.wait()
        if os.path.exists(channel):
            os.remove(channel)


if __name__ == "__main__":
    main()
