#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""ktdac serve, driven over loopback by a client nobody here wrote: pyvisa with its pure
Python backend (pyvisa-py), as lab scripts drive instruments. What reached the board is read
from the simulated board's trace. Then the faults, over plain sockets: garbage, an over-long
line, a client that vanishes mid-command, more clients than the bound; the server goes on
serving, and the trace holds no frame that was not asked for.

Usage: scpi_pyvisa_test.py KTDAC...   (the program, after a runner such as Wine's when given)
Under Wine the server is ended without a signal check: Windows programs have no SIGTERM."""

import os
import socket
import sys
import tempfile
import time

import pyvisa
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from serve_support import check, frames, start, stop  # noqa: E402

KTDAC = sys.argv[1:]
UNDER_WINE = len(KTDAC) > 1


def connect(port):
    client = socket.create_connection(("127.0.0.1", port), timeout=5)
    return client, client.makefile("r", encoding="ascii", newline="\n")


def status_model(dac):
    """Every IEEE 488.2 common command, through pyvisa, and the register bits they show."""
    esr = lambda: int(dac.query("*ESR?"))
    stb = lambda: int(dac.query("*STB?"))
    check(esr() == 128, "the first client is told of the power on")
    check(esr() == 0, "*ESR? clears the register")
    check(stb() == 0, "nothing to report")
    dac.write("DAC:FROB")
    check(stb() == 4, "an error waits in the queue")
    check(esr() == 32, "a command error")
    dac.write("DAC:CODE 70000")
    check(esr() == 16, "an execution error")
    dac.write("*OPC")
    check(esr() == 1, "*OPC: operation complete")
    check(dac.query("*OPC?") == "1", "*OPC? answers 1")
    dac.write("*WAI")
    check(dac.query("SYST:ERR:COUN?") == "2", "two errors queued")
    all_errors = dac.query("SYST:ERR:ALL?")
    check(all_errors.startswith('-113,"Undefined header;DAC:FROB",-222,"Data out of range;'),
          "SYST:ERR:ALL? " + all_errors)
    check(dac.query("SYST:ERR:COUN?;ALL?") == '0;0,"No error"', "the queue was emptied")
    # The masks: the summary bit only for an enabled event, the service request only for an
    # enabled status bit.
    dac.write("*ESE 16")
    dac.write("DAC:FROB")
    check(stb() == 4, "a command error is not enabled by *ESE 16")
    dac.write("*CLS")
    check((stb(), esr()) == (0, 0), "*CLS clears the queue and the event register")
    check(dac.query("*ESE?") == "16", "*CLS leaves the masks")
    dac.write("DAC:CODE -5")
    check(stb() == 4 | 32, "an enabled execution error sets the summary bit")
    dac.write("*SRE 32")
    check(stb() == 4 | 32 | 64, "*SRE 32: the summary requests service")
    dac.write("*SRE 4;*ESE 0")
    check(stb() == 4 | 64, "*SRE 4: the waiting error requests service")
    check(dac.query("*IDN?;*STB?").rsplit(";", 1)[1] == str(4 | 16 | 64),
          "a response waiting sets the message bit")
    dac.write("*SRE 255;*ESE 255")
    check(dac.query("*SRE?;*ESE?") == "191;255", "bit 6 of *SRE cannot be enabled")
    dac.write("*SRE 0;*ESE 0;*CLS")
    check(dac.query("*TST?") == "0", "the self-test finds the board")
    check(dac.query("*ESR?;*STB?") == "0;16", "after *TST?, nothing but the response to *ESR?")


def main():
    trace = os.path.join(tempfile.mkdtemp(prefix="kt_scpi_"), "trace.jsonl")
    server, port = start(KTDAC, trace, UNDER_WINE)
    try:
        rm = pyvisa.ResourceManager("@py")
        dac = rm.open_resource(f"TCPIP::127.0.0.1::{port}::SOCKET", read_termination="\n",
                               write_termination="\n", timeout=5000)

        # Identity, reset, and codes in each number form through the update.
        check(dac.query("*IDN?").split(",")[0] == "Corvane", "*IDN? names the maker")
        check(frames(trace) == [], "connecting sends nothing")
        status_model(dac)
        check(frames(trace) == [], "the status commands and *TST? before any frame send nothing")
        # The power on is told once, to the first client after the start, not to every one.
        later = rm.open_resource(f"TCPIP::127.0.0.1::{port}::SOCKET", read_termination="\n",
                                 write_termination="\n", timeout=5000)
        check(later.query("*ESR?") == "0", "a later client is not told of the power on")
        later.close()
        dac.write("*RST")
        dac.write("SOURce:DAC:DEVice KT310")
        dac.write("DAC:CODE #H1234;PDOWn TSTate")
        dac.write("dac:code 4660")
        dac.write(":DAC:PDOW R1K;:SOUR:DAC:CODE #B1")
        check(dac.query("DAC:CODE?;PDOW?") == "1;R1K", "the code and the mode read back")
        dac.write("DAC:DEV KT300;:DAC:CODE #Q17777")  # 14 bits: 0x1FFF
        dac.write("VOLT:REF 2.5;:VOLT 1.25")  # half the reference: code 0x2000
        dac.write("DAC:RAW 24,#HABCDEF")
        check(dac.query("DAC:STAT?") == "0", "the board took the last frame")
        check(dac.query("*TST?") == "0", "the self-test finds the board")
        expected = [
            (0x0000, 0x1800),  # *RST: code 0, Normal, KT310 (the serve's starting model)
            (0x1234, 0x1800), (0x1234, 0x1801), (0x1234, 0x1801),
            (0x1234, 0x1803), (0x0001, 0x1803),
            (0xDFFF, 0x1000),  # KT300, 1 kOhm (3 << 14) | 0x1FFF
            (0xE000, 0x1000),
            (0xCDEF, 0x18AB),
            (0xCDEF, 0x18AB),  # *TST?: the last frame again, so the DAC stays where it is
        ]
        check(frames(trace) == expected, f"frames {frames(trace)}")

        # Refused values: an error each, nothing sent.
        dac.write("DAC:CODE 70000")
        dac.write("DAC:CODE 1.5")
        dac.write("DAC:CODE abc")
        dac.write("DAC:FROB")
        errors = [dac.query("SYST:ERR?") for _ in range(5)]
        check([e.split(",")[0] for e in errors] == ["-222", "-224", "-104", "-113", "0"],
              f"errors {errors}")
        check(frames(trace) == expected, "refused values send nothing")

        # Garbage: binary bytes, a lone terminator; the connection and the others go on.
        garbage, garbage_in = connect(port)
        garbage.sendall(b"\xff\xfe\x00\x01garbage\n\n\r\n")
        garbage.sendall(b"SYST:ERR?\n")
        check(garbage_in.readline().startswith("-101,"), "garbage is an invalid character")
        garbage.close()
        check(dac.query("*OPC?") == "1", "others are served")

        # An over-long line: the error, then the connection ends.
        long_line, long_in = connect(port)
        long_line.sendall(b"DAC:CODE " + b"1" * 5000)
        check(long_in.readline().startswith("-363,"), "the over-long line is reported")
        check(long_in.readline() == "", "and the connection closed")
        long_line.close()
        check(dac.query("*OPC?") == "1", "others are served")

        # The limit, 4096 bytes, counts the message alone, with either terminator.
        for ending in (b"\n", b"\r\n"):
            for size, served in ((4096, True), (4097, False)):
                edge, edge_in = connect(port)
                edge.sendall(b"*OPC?" + b" " * (size - 5) + ending)
                answer = edge_in.readline()
                check(answer == "1\n" if served else answer.startswith("-363,"),
                      f"a message of {size} bytes ending {ending!r}: {answer!r}")
                edge.close()

        # A client that vanishes mid-command: what it did not finish is not sent.
        vanishing, _ = connect(port)
        vanishing.sendall(b"DAC:CODE 12")
        vanishing.close()
        check(dac.query("DAC:CODE?") == "8192", "the unfinished command did nothing")

        # The bound: eight at once (pyvisa's is one of them); the ninth is told and let go.
        time.sleep(0.3)  # for the server to see the clients above go
        extra = [connect(port) for _ in range(7)]
        ninth, ninth_in = connect(port)
        refusal = ninth_in.readline()
        check(refusal.startswith("-300,") and "try again later" in refusal, "refusal: " + refusal)
        check(ninth_in.readline() == "", "the ninth is let go")
        # One leaves: the next one is served again, while seven others still are.
        extra[0][0].close()
        eighth = None
        for _ in range(50):
            candidate, candidate_in = connect(port)
            candidate.sendall(b"*OPC?\n")
            answer = candidate_in.readline()
            if answer == "1\n":
                eighth = candidate
                break
            candidate.close()  # the server had not seen the other leave yet
            time.sleep(0.1)
        check(eighth is not None, "a client is served again once one leaves")
        again, again_in = connect(port)
        check(again_in.readline().startswith("-300,"), "and the ninth is told again")
        again.close()
        eighth.close()
        for client, _ in extra[1:]:
            client.close()
        dac.write("DAC:CODE #H7")
        check(dac.query("DAC:CODE?") == "7", "served after the others left")
        check(frames(trace) == expected + [(0xC007, 0x1000)], "no frame that was not asked for")
        dac.close()
        rm.close()
    finally:
        stop(server, UNDER_WINE)
    print("scpi_pyvisa_test: all checks passed")


if __name__ == "__main__":
    main()
