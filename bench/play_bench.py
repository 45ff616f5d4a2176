#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""ktdac play's timing against the simulated board with no latency: lateness p50/p99/max
and late samples at 1 kS/s and 10 kS/s over 100,000 samples, each beside a bare
clock_nanosleep loop run just before it (kt_sleep_floor), and the rate error over the run
from the log's send times.

usage: play_bench.py BIN_DIR [SAMPLES]"""
import csv
import os
import subprocess
import sys
import tempfile


def main():
    bin_dir = sys.argv[1]
    samples = int(sys.argv[2]) if len(sys.argv) > 2 else 100_000
    env = dict(os.environ, KT_SIM_TRACE="", KT_SIM_LATENCY_US="0")
    for rate in (1000, 10_000):
        floor = subprocess.run([os.path.join(bin_dir, "kt_sleep_floor"), str(rate), str(samples)],
                               check=True, capture_output=True, text=True).stdout.strip()
        with tempfile.TemporaryDirectory() as folder:
            log = os.path.join(folder, "play.csv")
            run = subprocess.run([os.path.join(bin_dir, "ktdac"), "play", "--rate", str(rate),
                                  "--shape", "sine", "--frequency", "10", "--duration",
                                  f"{samples / rate}s", "--log", log],
                                 check=True, capture_output=True, text=True, env=env)
            with open(log, newline="") as rows:
                sent = [float(row["sent_s"]) for row in csv.DictReader(rows)]
        achieved = (len(sent) - 1) / (sent[-1] - sent[0])
        print(f"{rate} S/s: ktdac {run.stdout.strip()}")
        print(f"{rate} S/s: {floor}")
        print(f"{rate} S/s: rate error over the run {1e6 * (achieved / rate - 1):+.2f} ppm")


if __name__ == "__main__":
    main()
