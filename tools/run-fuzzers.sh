#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the fuzz targets and runs each for the given number of seconds (default 30) on a
# scratch copy of its seed corpus. Fails on the first finding; the input is left in build/fuzz.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
for target in fuzz_readings fuzz_entry fuzz_path_buffer fuzz_intel_hex fuzz_request fuzz_registry \
              fuzz_cli_values; do
  echo "== $target: ${seconds}s"
  mkdir -p "$scratch/$target"
  (cd build/fuzz && "bin/$target" -max_total_time="$seconds" -max_len=1100 -timeout=10 \
      -print_final_stats=1 "$scratch/$target" "../../fuzz/corpus/$target" 2>&1 | tail -n 12)
done
echo "fuzzing: no findings"
