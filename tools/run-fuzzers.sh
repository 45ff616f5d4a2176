#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the fuzz targets and runs each on a scratch copy of its seed corpus (and with its
# dictionary, when it has one) for the time it needs: the targets whose inputs are
# sequences or texts get longer. A number of seconds as the argument runs every target
# that long instead. Fails on the first finding; the input is left in build/fuzz. Ends
# with the runs each target made.
set -euo pipefail
cd "$(dirname "$0")/.."

# target:seconds:longest input. The entry target's inputs are operation sequences: 256
# bytes hold dozens of operations, and shorter inputs keep it above 10,000 a second.
plan=(fuzz_entry:90:256 fuzz_readings:45:1100 fuzz_cli_values:45:1100 fuzz_intel_hex:45:1100
      fuzz_registry:30:1100 fuzz_path_buffer:20:1100 fuzz_request:20:1100 fuzz_scpi:45:256
      fuzz_code_plan:20:256 fuzz_onc_rpc:20:1100 fuzz_web:20:512)

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
summary=()
for entry in "${plan[@]}"; do
  IFS=: read -r target seconds longest <<<"$entry"
  seconds=${1:-$seconds}
  echo "== $target: ${seconds}s"
  mkdir -p "$scratch/$target"
  options=()
  [ -f "fuzz/$target.dict" ] && options+=("-dict=$PWD/fuzz/$target.dict")
  (cd build/fuzz && "bin/$target" "${options[@]}" -max_total_time="$seconds" -max_len="$longest" \
      -timeout=10 -print_final_stats=1 "$scratch/$target" "../../fuzz/corpus/$target" \
      >"$scratch/$target.log" 2>&1) || { tail -n 40 "$scratch/$target.log"; exit 1; }
  tail -n 12 "$scratch/$target.log"
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$scratch/$target.log")
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$scratch/$target.log")
  summary+=("$(printf '%-18s %4ss %10s runs %8s/s' "$target" "$seconds" "$runs" "$rate")")
done
printf '%s\n' "fuzzing: no findings" "${summary[@]}"
