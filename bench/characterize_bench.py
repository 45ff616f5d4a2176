#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""ktdac characterize against the simulated meter, as a bench engineer runs it: the program's
own time per code against the meter's settle-plus-reading time, and its peak memory as the
plan grows.

usage: characterize_bench.py BIN_DIR

The program's own time is ktdac's processor time (user and system) less the processor
time spent inside the simulated board library, which stands for the USB round trip and
reports its own through KT_SIM_STATS: building the frame, the SCPI exchange on the
program's side, the CSV row, the progress and, at the end, the figures, plots and report.
Part of that is the floor any such program pays on the machine: waking from the settle
time and from the wait for the answer, and the loopback network stack, which on loopback
also carries the meter's side of each exchange. kt_exchange_floor measures it with a loop
that does only that, and the program's share is given above it. Also given: what the run
took beyond the settle and reading time and the library's time, which adds the meter's own
work and the sleeps' overshoot.

The channel from the simulated board to the meter is put in /dev/shm where there is one:
on ext4, replacing a file by a rename writes it out (auto_da_alloc), about 0.7 ms a frame.
"""
import json
import os
import resource
import subprocess
import sys
import tempfile
import time


def floor(bin_dir, settle_ms):
    """Processor time a round of the waits and the exchange alone, in seconds."""
    meter = subprocess.Popen(
        [os.path.join(bin_dir, "kt-sim-meter"), "--listen", "127.0.0.1:0", "--reading-time",
         "0.001", "--dac-output", os.devnull], stdout=subprocess.PIPE, text=True)
    try:
        port = meter.stdout.readline().strip().rsplit(":", 1)[1]
        out = subprocess.run([os.path.join(bin_dir, "kt_exchange_floor"), port, str(settle_ms),
                              "1000"], check=True, capture_output=True, text=True).stdout
        return float(out) * 1e-6
    finally:
        meter.kill()
        meter.wait()


def run(bin_dir, work, name, meter_args, ktdac_args):
    shm = "/dev/shm" if os.path.isdir("/dev/shm") else work
    channel = os.path.join(shm, f"kt-bench-{os.getpid()}-{name}.dac.json")
    stats = os.path.join(work, name + ".stats.json")
    env = dict(os.environ, KT_SIM_DAC_OUTPUT=channel, KT_SIM_STATS=stats, KT_SIM_TRACE="")
    meter = subprocess.Popen(
        [os.path.join(bin_dir, "kt-sim-meter"), "--listen", "127.0.0.1:0", *meter_args],
        env=env, stdout=subprocess.PIPE, text=True)
    try:
        port = meter.stdout.readline().strip().rsplit(":", 1)[1]
        before = resource.getrusage(resource.RUSAGE_CHILDREN)
        start = time.monotonic()
        subprocess.run(
            [os.path.join(bin_dir, "ktdac"), "characterize", "--meter", "127.0.0.1:" + port,
             "--output", os.path.join(work, name), *ktdac_args],
            env=env, check=True, stdout=subprocess.DEVNULL)
        wall = time.monotonic() - start
        after = resource.getrusage(resource.RUSAGE_CHILDREN)
    finally:
        meter.kill()
        meter.wait()
        for leftover in (channel, channel + ".new"):
            if os.path.exists(leftover):
                os.remove(leftover)
    with open(stats) as f:
        library = json.load(f)
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    return wall, cpu, library, after.ru_maxrss


def main():
    bin_dir = sys.argv[1]
    with tempfile.TemporaryDirectory() as work:
        codes = 4096
        for settle_ms in (10, 1):  # ktdac's default settle time, and a tenth of it
            point = (settle_ms + 1) * 1e-3  # settle + a 1 ms reading
            wall, cpu, library, _ = run(
                bin_dir, work, f"timing{settle_ms}", ["--reading-time", "0.001"],
                ["--device", "KT310", "--vref", "2.5", "--codes", "every:16",
                 "--settle", f"{settle_ms}ms"])
            own = (cpu - library["inside_cpu_s"]) / codes
            least = floor(bin_dir, settle_ms)
            rest = (wall - codes * point - library["inside_s"]) / codes
            print(f"4,096 codes, {settle_ms} ms settle + 1 ms reading: {wall:.3f} s in all, "
                  f"{codes * point:.3f} s of it settling and reading, "
                  f"{library['inside_s']:.3f} s inside the board library")
            print(f"  processor time outside the board library: {own * 1e6:.1f} us a code = "
                  f"{100 * own / point:.2f} % of the settle-plus-reading")
            print(f"  of which the floor (the waits and the exchange alone): {least * 1e6:.1f} us;"
                  f" the program's own share: {(own - least) * 1e6:.1f} us = "
                  f"{100 * (own - least) / point:.2f} %")
            print(f"  wall time beyond those (the program, the meter's own work, the network "
                  f"stack, sleeps' overshoot): {rest * 1e6:.1f} us a code = "
                  f"{100 * rest / point:.2f} %")
        for name, plan in (("4,096", "every:16"), ("65,536", "all")):
            # Peak memory is a child's own: each run is measured in a fresh process.
            peak = subprocess.run(
                [sys.executable, __file__, "--peak", bin_dir, work, plan],
                check=True, capture_output=True, text=True).stdout.strip()
            print(f"{name} codes: peak resident memory {int(peak) / 1024:.1f} MB")


if __name__ == "__main__":
    if sys.argv[1] == "--peak":
        _, _, bin_dir, work, plan = sys.argv
        _, _, _, peak = run(bin_dir, work, "peak-" + plan.replace(":", ""), [],
                            ["--device", "KT310", "--vref", "2.5", "--codes", plan,
                             "--settle", "0"])
        print(peak)
    else:
        main()
