#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""A kernel IIO DAC on another machine, reached through iiod (libiio's own server, TCP port
30431): ktdac sweep, ktdac serve driven by pyvisa, and ktdac characterize against the
simulated meter, which reads the DAC from its attribute files. The DAC is umockdev's: a test
bed whose sysfs holds the driver's attribute files, which iiod serves as it would a real
driver's. Port 30431 is fixed, so the whole test runs in a network namespace of its own that
starts with loopback alone; iiod is reached over it as over any network. Then the faults: no
iiod, and iiod gone in the middle of a sweep (the rows measured kept, the status a refused
frame's, no row claiming a frame that did not go out).

Usage: iio_network_test.py KTDAC KT_SIM_METER
Needs root (or a user namespace) for the network namespace; skipped (77) without it."""

import csv
import json
import os
import re
import signal
import socket
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from namespace_support import enter_namespace, loopback_alone  # noqa: E402

KTDAC, METER = sys.argv[1], sys.argv[2]
STAGE = "KT_IIO_NETWORK_STAGE"
DEVICE = "/sys/bus/iio/devices/iio:device0"
BOARD = "iio:ip:127.0.0.1"
BED = r"""P: /devices/platform/kt-spi/spi0.0/iio:device0
E: SUBSYSTEM=iio
E: DEVTYPE=iio_device
A: name=kt310\n
A: out_voltage0_raw=0\n
A: out_voltage0_powerdown=0\n
A: out_voltage0_powerdown_mode=three_state\n
A: out_voltage_powerdown_mode_available=1kohm_to_gnd 100kohm_to_gnd three_state\n
A: out_voltage0_scale=0.038146972\n
A: out_voltage0_raw_available=[0 1 65535]\n
"""


def check(condition, what):
    if not condition:
        raise AssertionError(what)


def wait_for(condition, what, seconds=20):
    deadline = time.monotonic() + seconds
    while not condition():
        check(time.monotonic() < deadline, "waited in vain for " + what)
        time.sleep(0.05)


def attribute(name):
    """The DAC's attribute as the kernel would show it (the bed's file, through umockdev)."""
    with open(os.path.join(DEVICE, name), encoding="ascii") as value:
        return value.read().rstrip("\n\0")


def ktdac(*args):
    return subprocess.run([KTDAC, "--board", BOARD] + list(args), capture_output=True, text=True,
                          timeout=120)


def answering(port):
    try:
        socket.create_connection(("127.0.0.1", port), timeout=1).close()
        return True
    except OSError:
        return False


def enter_bed(folder):
    loopback_alone()
    bed = os.path.join(folder, "kt310.umockdev")
    with open(bed, "w", encoding="ascii") as description:
        description.write(BED)
    result = subprocess.run(["umockdev-run", "--device", bed, "--", sys.executable,
                             os.path.abspath(__file__), KTDAC, METER],
                            env=dict(os.environ, **{STAGE: "bed"}))
    sys.exit(result.returncode)


class Iiod:
    def __init__(self, folder):
        self.log = open(os.path.join(folder, "iiod.log"), "w", encoding="utf-8")
        self.process = subprocess.Popen(["iiod"], stdout=self.log, stderr=subprocess.STDOUT)
        wait_for(lambda: answering(30431) or self.process.poll() is not None, "iiod to listen")
        check(self.process.poll() is None, "iiod runs")

    def stop(self, sig=signal.SIGTERM):
        """iiod may wait on a client long after SIGTERM: killed then."""
        if self.process.poll() is None:
            self.process.send_signal(sig)
        try:
            self.process.wait(timeout=5)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()


def without_iiod():
    result = ktdac("set", "1")
    check(result.returncode == 1, f"no iiod: a connection failure ({result.returncode})")
    check("no iiod answers at 127.0.0.1 on TCP port 30431" in result.stderr, result.stderr)
    # A port of its own: libiio writes into the URI it is handed, which must stay as given.
    result = subprocess.run([KTDAC, "--board", "iio:ip:127.0.0.1:1", "set", "1"],
                            capture_output=True, text=True, timeout=120)
    check("no iiod answers at 127.0.0.1 on TCP port 1 " in result.stderr, result.stderr)


def sweep(folder):
    rows = os.path.join(folder, "sweep.csv")
    result = ktdac("sweep", "--device", "KT310", "--from", "0", "--to", "0xFF00", "--step",
                   "0x1100", "--csv", rows)
    check(result.returncode == 0, "sweep through iiod: " + result.stderr)
    with open(rows, encoding="ascii") as table:
        records = list(csv.DictReader(table))
    check([int(r["code"]) for r in records] == list(range(0, 0xFF01, 0x1100)), "every code a row")
    check(all(r["board_status"] == "0" and r["request_value"] == "" for r in records),
          "each went out, and no library request carried it")
    check(attribute("out_voltage0_raw") == str(0xFF00), "the last code is on the DAC")


def serve():
    import pyvisa

    server = subprocess.Popen([KTDAC, "--board", BOARD, "serve", "--listen", "127.0.0.1:0",
                               "--no-announce"], stderr=subprocess.PIPE, text=True)
    try:
        line = server.stderr.readline()
        check(line.startswith("ktdac: serving SCPI on 127.0.0.1:"), "serving: " + line)
        port = int(line.strip().rsplit(":", 1)[1])
        dac = pyvisa.ResourceManager("@py").open_resource(
            f"TCPIP::127.0.0.1::{port}::SOCKET", read_termination="\n", write_termination="\n",
            timeout=10000)
        check(dac.query("*IDN?").startswith("Corvane,KT31X-KT300 over IIO,ip:127.0.0.1/iio:device0,"),
              "identity")
        check(abs(float(dac.query("VOLT:REF?")) - 2.5) < 1e-6, "the reference from the scale")
        steps = [("DAC:CODE 4660", "4660", "0", "three_state"),
                 ("DAC:PDOW R100K", "4660", "1", "100kohm_to_gnd"),
                 ("DAC:PDOW NORM", "4660", "0", "100kohm_to_gnd"),
                 ("VOLT 1.25", "32768", "0", "100kohm_to_gnd")]
        for command, raw, down, mode in steps:
            dac.write(command)
            check(dac.query("*OPC?") == "1", command + " done")
            check((attribute("out_voltage0_raw"), attribute("out_voltage0_powerdown"),
                   attribute("out_voltage0_powerdown_mode")) == (raw, down, mode),
                  command + " on the attributes")
        dac.write("DAC:DEV KT300;CODE 1")
        error = dac.query("SYST:ERR?")
        check(error.startswith('-300,"Device-specific error;the board refused the frame, status -22: '
                               'the frame is for a 14-bit DAC'), "another model's frame: " + error)
        dac.write("DAC:DEV KT310")
        dac.write("DAC:RAW 24,1")
        error = dac.query("SYST:ERR?")
        check(error.startswith('-221,"Settings conflict;') and "not raw frames" in error,
              "a raw frame refused: " + error)
        check(dac.query("SYST:ERR?").startswith("0,"), "one error only")
        dac.close()
    finally:
        server.send_signal(signal.SIGTERM)
        check(server.wait(timeout=30) == 0, "SIGTERM ends the server cleanly")


def characterize(folder):
    meter = subprocess.Popen([METER, "--iio-device", DEVICE, "--listen", "127.0.0.1:0",
                              "--gain-error", "-0.1", "--offset", "0.001"],
                             stdout=subprocess.PIPE, text=True)
    try:
        where = re.search(r"listening on (\S+)", meter.stdout.readline()).group(1)
        output = os.path.join(folder, "characterization")
        result = ktdac("characterize", "--device", "KT310", "--meter", where, "--codes",
                       "every:4096", "--settle", "0ms", "--output", output)
        check(result.returncode == 0, "characterized through iiod: " + result.stderr)
        with open(os.path.join(output, "characterization.csv"), encoding="ascii") as table:
            check("# vref_v: 2.49999" in table.read(), "the reference from the scale")
        with open(os.path.join(output, "summary.json"), encoding="utf-8") as summary:
            figures = json.load(summary)
        check(abs(figures["gain_error"]["percent_fs"] + 0.1) < 0.001,
              "the meter's gain error: " + json.dumps(figures["gain_error"]))
        check(abs(figures["offset_error"]["v"] - 0.001) < 1e-6,
              "its offset: " + json.dumps(figures["offset_error"]))
    finally:
        meter.kill()
        meter.wait()


def iiod_gone_mid_sweep(folder, iiod):
    rows = os.path.join(folder, "cut.csv")
    process = subprocess.Popen([KTDAC, "--board", BOARD, "sweep", "--from", "0", "--to", "199",
                                "--dwell", "20ms", "--csv", rows], stderr=subprocess.PIPE,
                               text=True)
    wait_for(lambda: os.path.exists(rows) and open(rows, encoding="ascii").read().count("\n") > 5,
             "rows before iiod goes")
    iiod.stop(signal.SIGKILL)
    status = process.wait(timeout=60)
    error = process.stderr.read()
    check(status == 5, f"status as for a board that refuses: {status} {error}")
    check("the board refused the frame of" in error and "failed" in error, error)
    with open(rows, encoding="ascii") as table:
        records = list(csv.DictReader(table))
    check(5 <= len(records) < 200, f"the rows measured kept: {len(records)}")
    check(all(r["board_status"] == "0" for r in records[:-1]), "every row before went out")
    check(records[-1]["board_status"] != "0", "the last row says its frame did not go out")


def main():
    stage = os.environ.get(STAGE)
    if not stage:
        enter_namespace("iio_network_test", __file__, [KTDAC, METER], STAGE)
    with tempfile.TemporaryDirectory(prefix="kt_iio_network_") as folder:
        if stage == "namespace":
            enter_bed(folder)
        without_iiod()
        iiod = Iiod(folder)
        try:
            sweep(folder)
            serve()
            characterize(folder)
            iiod_gone_mid_sweep(folder, iiod)
        finally:
            iiod.stop()
    print("iio_network_test: all checks passed")


if __name__ == "__main__":
    main()
