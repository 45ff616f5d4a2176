#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the benchmarks optimised and runs them; the JSON results land in build/bench/results.
# Arguments go to every benchmark program (say --benchmark_repetitions=5).
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh --benchmarks
cmake --preset bench >/dev/null
cmake --build --preset bench
mkdir -p build/bench/results
for program in kt_bench_update_g2 kt_bench_update_g1 kt_bench_startup kt_bench_serve; do
  echo "== $program"
  QT_QPA_PLATFORM=offscreen "build/bench/bin/$program" \
    --benchmark_out="build/bench/results/$program.json" --benchmark_out_format=json "$@" \
    2> >(grep -v "does not support propagateSizeHints" >&2)
done
echo "== with a 1 ms library (KT_SIM_LATENCY_US=1000)"
KT_SIM_LATENCY_US=1000 build/bench/bin/kt_bench_update_g2 --benchmark_filter='BM_Update/hex' "$@"

# Frames per second through the IIO and spidev boards beside the bare libiio and ioctl loops,
# against umockdev's test bed; iiod on its fixed port in a network namespace of its own.
echo "== the IIO and spidev boards"
boards=(umockdev-wrapper build/bench/bin/kt_bench_boards
        --benchmark_out=build/bench/results/kt_bench_boards.json --benchmark_out_format=json "$@")
if unshare --net true 2>/dev/null; then
  unshare --net sh -c 'ip link set lo up && exec "$@"' boards "${boards[@]}"
else
  echo "(no network namespace of our own without root: the rows through iiod are left out)"
  "${boards[@]}" --benchmark_filter=-iiod
fi

# The highest rate ktdac play holds on the IIO sysfs and spidev roads, beside the bare write
# loop on the same road (about a minute).
echo "== ktdac play on the IIO and spidev roads"
umockdev-wrapper build/bench/bin/kt_play_roads

# A full 16-bit sweep with ktdac, as a bench engineer runs it, without and with a 1 ms library.
# The simulated library reports the time spent inside its calls (KT_SIM_STATS), so the run
# gives its own split: the whole run's time over the library's, and the program's share.
sweep() {
  local start end stats=build/bench/results/sweep-stats.json
  rm -f "$stats"
  start=$(date +%s.%N)
  KT_SIM_STATS=$stats build/bench/bin/ktdac sweep --from 0 --to 0xFFFF --csv /dev/null
  end=$(date +%s.%N)
  local inside calls
  inside=$(sed -n 's/.*"inside_s":\([0-9.]*\).*/\1/p' "$stats")
  calls=$(sed -n 's/.*"calls":\([0-9]*\).*/\1/p' "$stats")
  echo "ktdac sweep of 65,536 codes ($1): $(echo "$end - $start" | bc) s in all," \
       "$inside s inside $calls library calls;" \
       "ratio $(echo "scale=6; ($end - $start) / $inside" | bc)," \
       "program's share $(echo "scale=4; 100 * (($end - $start) - $inside) / ($end - $start)" | bc) %"
}
echo "== ktdac"
sweep "simulated board"
KT_SIM_LATENCY_US=1000 sweep "KT_SIM_LATENCY_US=1000"

# ktdac characterize against the simulated meter at 1 ms a reading: the program's own
# processor time per code against the settle-plus-reading time, and its peak memory from
# 4,096 to 65,536 codes (bench/characterize_bench.py says how each is taken).
echo "== ktdac characterize"
python3 bench/characterize_bench.py build/bench/bin

# ktdac play's timing at 1 kS/s and 10 kS/s, beside a bare clock_nanosleep loop (about two
# minutes: 100,000 samples at each rate).
echo "== ktdac play"
python3 bench/play_bench.py build/bench/bin

# Remote control as lab clients see it: pyvisa-py and the PyMeasure driver against ktdac serve
# and kt-sim-meter, beside the same client's query alone and a bare loopback round trip.
echo "== remote control latency"
/usr/bin/python3 bench/latency_bench.py build/bench/bin

# ktdac serve as an LXI instrument: a command and a query through pyvisa-py over the raw
# socket and over VXI-11 in one run, and the web page's update latency.
echo "== LXI: VXI-11 and the web page"
/usr/bin/python3 bench/lxi_bench.py build/bench/bin
