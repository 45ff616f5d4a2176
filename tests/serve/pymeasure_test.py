#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""The PyMeasure driver (drivers/pymeasure/kt31x.py) against the real `ktdac serve` over
loopback, through PyMeasure's VISA adapter and pyvisa-py: each property read back and what
reached the board read from the simulated board's trace; values the driver refuses send
nothing, and what the server refuses is raised with its SCPI error.

Usage: pymeasure_test.py KTDAC...   (the program, after a runner such as Wine's when given)"""

import os
import sys
import tempfile

import numpy

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "drivers",
                                "pymeasure"))
from kt31x import KT31xError, KT31xEvaluationBoard  # noqa: E402
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from serve_support import check, frames, start, stop  # noqa: E402

KTDAC = sys.argv[1:]
UNDER_WINE = len(KTDAC) > 1


def raises(kind, action, text=""):
    try:
        action()
    except kind as error:
        check(text in str(error), f"{kind.__name__} says {text!r}: {error}")
        return
    raise AssertionError(f"no {kind.__name__} ({text})")


def main():
    trace = os.path.join(tempfile.mkdtemp(prefix="kt_pymeasure_"), "trace.jsonl")
    server, port = start(KTDAC, trace, UNDER_WINE)
    try:
        board = KT31xEvaluationBoard(f"TCPIP::127.0.0.1::{port}::SOCKET")
        check(board.id.startswith("Corvane,KT31X-KT300 evaluation board,"), board.id)
        check(board.self_test(), "the self-test passes")

        # Each property sent and read back, in the frames the windows' update makes.
        board.reset()
        board.device = "KT310"
        board.code = 0x1234
        board.power_down = "tri-state"
        check((board.device, board.code, board.power_down) == ("KT310", 0x1234, "tri-state"),
              "read back")
        board.power_down = "normal"
        board.reference = 2.5
        board.voltage = 1.25
        check(board.code == 0x8000 and abs(board.voltage - 1.25) < 1e-9, "the nearest code")
        check(board.reference == 2.5, "the reference")
        board.device = "KT300"
        board.code = 0x3FFF
        board.power_down = "1k"
        board.send_raw(24, 0xABCDEF)
        check(board.board_status == 0, "the board took the last frame")
        expected = [
            (0x0000, 0x1800),  # *RST
            (0x1234, 0x1800), (0x1234, 0x1801), (0x1234, 0x1800),
            (0x8000, 0x1800),  # 1.25 V of 2.5 V
            (0x3FFF, 0x1000), (0xFFFF, 0x1000),  # KT300, then 1 kOhm: (3 << 14) | 0x3FFF
            (0xCDEF, 0x18AB),
        ]
        check(frames(trace) == expected, f"frames {frames(trace)}")

        # The driver's own checks: nothing sent.
        for name, value in [("code", -1), ("code", 65536), ("code", 1.5), ("code", "12"),
                            ("code", True), ("code", float("inf")), ("code", float("nan")),
                            ("code", numpy.float64(1.5)), ("device", "KT999"),
                            ("power_down", "sleep"), ("reference", 0), ("reference", 1001),
                            ("reference", float("inf")), ("reference", 0.0005),
                            ("voltage", -0.1), ("voltage", float("nan")), ("voltage", True),
                            ("voltage", "1.25")]:
            raises(ValueError, lambda: setattr(board, name, value))
        raises(ValueError, lambda: board.send_raw(8, -1))
        raises(ValueError, lambda: board.send_raw(24, 1.5))
        check(frames(trace) == expected, "refused values send nothing")

        # numpy's numbers are numbers: every np.arange sweep hands them over.
        board.device = "KT310"
        board.code = numpy.int64(7)
        board.code = numpy.float64(8.0)
        board.reference = numpy.float32(2.5)
        board.send_raw(numpy.int16(24), 1.0)
        check(board.code == 8 and board.reference == 2.5, "numpy's values taken")
        expected += [(7, 0x1803), (8, 0x1803), (1, 0x1800)]
        check(frames(trace) == expected, f"frames {frames(trace)}")
        board.device = "KT300"

        # The server's checks, raised with its SCPI error; nothing sent either.
        raises(KT31xError, lambda: setattr(board, "code", 0x4000), "-222")  # 14 bits
        board.reference = 2.5
        raises(KT31xError, lambda: setattr(board, "voltage", 2.5), "-222")
        check(frames(trace) == expected, "what the server refuses sends nothing")

        # A waveform: user samples as a block, twice at 1000 S/s, waited for; then a shape.
        board.device = "KT310"
        samples = [0, 0x0A0A, 0xFFFF, numpy.uint16(0x1234)]
        board.load_samples(samples)
        board.shape, board.sample_rate, board.cycles = "user", 1000, 2
        check((board.sample_count, board.shape, board.sample_rate, board.cycles) == (4, "user", 1000, 2),
              "the waveform read back")
        board.output = True
        board.wait_until_played()
        check(not board.output, "the play ended")
        expected += [(int(code), 0x1800) for code in samples * 2]
        check(frames(trace) == expected, f"frames {frames(trace)[-8:]}")
        board.shape, board.frequency, board.cycles = "triangle", 50, None
        board.amplitude, board.offset = 1, 1.25
        check((board.frequency, board.amplitude, board.offset, board.cycles) == (50, 1, 1.25, None),
              "the shape read back")
        board.output = True
        check(board.output, "it plays until stopped")
        raises(KT31xError, lambda: setattr(board, "code", 5), "-221")
        board.abort()
        check(not board.output, "aborted")
        for name, value in [("shape", "saw"), ("frequency", 0), ("sample_rate", -1),
                            ("amplitude", 0), ("cycles", 0), ("cycles", 1.5), ("output", 1)]:
            raises(ValueError, lambda: setattr(board, name, value))
        raises(ValueError, lambda: board.load_samples([]))
        raises(ValueError, lambda: board.load_samples([70000]))
        board.frequency = 600
        raises(KT31xError, lambda: setattr(board, "output", True), "-221")  # over half the rate
        board.reset()
        expected.append((0, 0x1800))
        check(frames(trace)[-1] == expected[-1], "*RST's frame last")

        # A query that fails is raised at once, not waited for (a fresh connection has no
        # reference of its own).
        fresh = KT31xEvaluationBoard(f"TCPIP::127.0.0.1::{port}::SOCKET", timeout=60000)
        raises(KT31xError, lambda: fresh.reference, "-221")
        raises(KT31xError, lambda: fresh.voltage, "-221")
        check(fresh.event_status & 16, "an execution error in the event register")
        check(fresh.status_byte == 0, "the errors were read")
        fresh.adapter.connection.close()
        board.adapter.connection.close()
    finally:
        stop(server, UNDER_WINE)
    print("pymeasure_test: all checks passed")


if __name__ == "__main__":
    main()
