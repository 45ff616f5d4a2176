#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""ktdac serve's function generator, played beside the serving of clients: over the raw
socket and VXI-11's core channel, what reaches the board from the simulated board's trace;
*OPC? after a play of a set length answered only once it has played; a frame from another
client refused (-221) while a waveform plays, the clients answered meanwhile; *RST and
OUTPut OFF stop it.

Usage: waveform_test.py KTDAC...   (the program, after a runner such as Wine's when given)"""

import json
import os
import re
import socket
import struct
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from serve_support import CoreChannel, check, start, stop  # noqa: E402

KTDAC = sys.argv[1:]
UNDER_WINE = len(KTDAC) > 1


def codes(trace):
    with open(trace, encoding="utf-8") as lines:
        records = [json.loads(line) for line in lines if line.endswith("\n")]
    return [r["code"] for r in records if r["entry"] in ("Control_Transfer", "LinkControl")]


class Client:
    def __init__(self, port):
        self.socket = socket.create_connection(("127.0.0.1", port), timeout=10)
        self.lines = self.socket.makefile("r", encoding="ascii", newline="\n")

    def send(self, message):
        self.socket.sendall((message + "\n").encode())

    def query(self, message):
        self.send(message)
        return self.lines.readline().strip()


def main():
    with tempfile.TemporaryDirectory(prefix="kt_waveform_") as folder:
        trace = os.path.join(folder, "trace.jsonl")
        server, port = start(KTDAC, trace, UNDER_WINE)
        try:
            line = server.stderr.readline()
            while line and not line.startswith("ktdac: serving VXI-11"):
                line = server.stderr.readline()
            vxi11 = int(re.search(r":(\d+)$", line.strip()).group(1))
            a, b = Client(port), Client(port)
            before = len(codes(trace))

            # A user waveform twice at 500 samples a second: *OPC? comes once the 100 samples
            # went out, which cannot be before the last one's deadline, 198 ms on.
            samples = [(n * 1301) % 65536 for n in range(50)]
            a.send("FUNC USER;:FUNC:SRAT 500;:BURS:NCYC 2;:DATA:DAC " + ",".join(map(str, samples)))
            begin = time.monotonic()
            check(a.query("OUTP ON;*OPC?") == "1", "*OPC? answers")
            took = time.monotonic() - begin
            check(took >= 0.198, f"*OPC? waited for the play: {took:.3f} s")
            check(codes(trace)[before:] == samples * 2, "every sample, in order, twice")
            check(a.query("OUTP?;:SYST:ERR?") == '0;0,"No error"', "the play ended by itself")

            # Until stopped: another client's frame is refused, its queries answered.
            a.query("FUNC TRI;:FREQ 10;:FUNC:SRAT 1000;:BURS:NCYC INF;:OUTP ON;*OPC?")
            check(b.query("OUTP?") == "1", "a waveform plays")
            check(b.query("DAC:CODE 5;:SYST:ERR?").startswith("-221,"), "a frame is refused")
            for _ in range(20):
                check(b.query("*IDN?").startswith("Corvane,"), "answered while it plays")
            check(b.query("*OPC?") == "1", "nothing of a set length plays: answered at once")
            check(b.query("*RST;*OPC?") == "1", "*RST done")
            check(a.query("OUTP?;:FUNC?") == "0;SIN", "*RST stops it and forgets its setup")
            time.sleep(0.05)
            played = codes(trace)
            check(played[-1] == 0 and 5 not in played[-50:], "*RST's 0 last, no refused code")

            # VXI-11: the read of *OPC? waits for a set length's end, or its io_timeout.
            core = CoreChannel(vxi11)

            def read(timeout_ms):
                core.send(core.call(12, struct.pack(">iIIIIi", core.link, 4096, timeout_ms, 0, 0, 0)))
                results = core.reply()[1]
                error, _, size = struct.unpack(">iiI", results[:12])
                return error, results[12:12 + size]

            # A second's play: a read of 10 ms times out, one of 5 s answers once it has played.
            core.send(core.write("FUNC SQU;:FREQ 1;:FUNC:SRAT 100;:BURS:NCYC 1;:OUTP ON;*OPC?"))
            core.reply()
            begin = time.monotonic()
            check(read(10) == (15, b""), "a read shorter than the play times out")
            check(read(5000) == (0, b"1\n"), "the read answers once it has played")
            check(time.monotonic() - begin >= 0.5, "not before the play's 100 samples")

            # Samples as a definite-length block of 16-bit codes, LF and ; bytes among them,
            # through both: the message ends after the block; then a malformed block.
            codes_in = [0x0A3B, 0x2C0A] + [(n * 7919) % 65536 for n in range(9998)]
            data = b"".join(struct.pack(">H", c) for c in codes_in)
            block = b"#5%05d" % len(data) + data
            a.socket.sendall(b"DATA:DAC " + block + b"\n")
            check(a.query("DATA:DAC:POIN?;:SYST:ERR?") == '10000;0,"No error"', "a block's 10000 codes")
            core.send(core.write("FORM:BORD SWAP;:DATA:DAC #14\n\0;\0"))
            core.reply()
            core.send(core.write("DATA:DAC:POIN?;:FORM:BORD?"))
            core.reply()
            check(read(1000) == (0, b"2;SWAP\n"), "a block through VXI-11")
            a.socket.sendall(b"DATA:DAC #1x12\n")
            check(a.query("SYST:ERR?").startswith("-161,"), "a block whose length is not digits")
            core.send(core.write("DATA:DAC #15abc"))  # END: the block is cut short
            core.reply()
            core.send(core.write("SYST:ERR?"))
            core.reply()
            check(read(1000)[1].startswith(b"-161,"), "a block cut short by the write's END")
        finally:
            stop(server, UNDER_WINE)

        # A board that refuses frames ends the play, and serve says so.
        os.environ["KT_SIM_SEND_STATUS"] = "-5"
        try:
            server, port = start(KTDAC, trace, UNDER_WINE)
        finally:
            del os.environ["KT_SIM_SEND_STATUS"]
        try:
            client = Client(port)
            check(client.query("OUTP ON;*OPC?") == "1", "played")
            line = server.stderr.readline()
            while line and "the waveform stopped" not in line:
                line = server.stderr.readline()
            check("the board refused a frame (status -5)" in line, f"said: {line!r}")
            check(client.query("OUTP?") == "0", "and it plays no more")
        finally:
            stop(server, UNDER_WINE)
    print("waveform_test: all checks passed")


if __name__ == "__main__":
    main()
