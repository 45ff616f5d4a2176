#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the Windows programs and tests with MinGW-w64 and runs the tests under Wine:
#   - the 64-bit build (mingw-x86_64), run under 64-bit Wine on every machine;
#   - the 32-bit build (mingw-i686, the shipping one), always built and its export tables
#     checked; its tests run under 32-bit Wine where this machine can execute 32-bit x86
#     code (decided by running a tiny 32-bit program, not by guessing) and 32-bit Wine could
#     be installed. Where it could not, that is said in a block that cannot be missed, and
#     the table checks run as on a machine that cannot execute 32-bit code.
# Ends with one line saying which suites ran, and why not. A suite that should have run and
# did not is a failure.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/wine32.sh

wine32_decide --wine

# The Win32 window tests draw real windows: without a display of the caller's, they get a
# virtual one of their own.
with_display=()
if [ -z "${DISPLAY:-}" ]; then
  with_display=(xvfb-run -a -s "-screen 0 1024x768x24")
fi

# Runs one preset's tests and leaves the number that passed in $passed; fails the script
# when any test fails.
run_suite() {
  local preset=$1 log
  log=$(mktemp)
  if ! "${with_display[@]}" ctest --preset "$preset" 2>&1 | tee "$log"; then
    rm -f "$log"
    echo "windows-tests: the $preset tests failed" >&2
    exit 1
  fi
  passed=$(sed -n 's/^100% tests passed, 0 tests failed out of \([0-9]*\)$/\1/p' "$log")
  rm -f "$log"
  if [ -z "$passed" ]; then
    echo "windows-tests: the $preset run ended without its summary" >&2
    exit 1
  fi
}

echo "== 64-bit Windows build, tests under 64-bit Wine"
cmake --preset mingw-x86_64
cmake --build --preset mingw-x86_64
run_suite mingw-x86_64
summary="64-bit Windows tests ran: $passed passed"

if [ "$KT_WINE32" = yes ]; then
  echo "== 32-bit Windows build, tests under 32-bit Wine"
  cmake --preset mingw-i686 -DKT_EMULATOR_TESTS=ON
  cmake --build --preset mingw-i686
  run_suite mingw-i686
  summary+="; 32-bit Windows tests ran under 32-bit Wine: $passed passed"
else
  [ "$KT_WINE32" = cannot-execute ] ||
    wine32_banner "the 32-bit build's export and import tables are checked, its tests not run"
  echo "== 32-bit Windows build, export tables only ($KT_WINE32_WHY)"
  cmake --preset mingw-i686 -DKT_EMULATOR_TESTS=OFF
  cmake --build --preset mingw-i686
  run_suite mingw-i686
  summary+="; 32-bit Windows tests not run: $KT_WINE32_WHY"
  summary+=" (built; $passed export and import table checks passed)"
fi
wine32_summary "$summary"
