#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Records what the simulated board receives in a fixed set of runs: each window flow of both
# programs (driven by keyboard on a virtual display), every ktdac command of both
# generations, and one SCPI session of `ktdac serve`. One trace file a run; absolute paths
# of the build and of the run's temporary folder are replaced by <bin> and <tmp>, so that two
# builds of the same program give byte-identical files.
#   tools/record-traces.sh BIN_DIR OUT_DIR          record into OUT_DIR
#   tools/record-traces.sh --check BIN_DIR          record and compare with tests/data/traces
# Needs Xvfb and xdotool for the windows (tools/install-deps.sh installs both).
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/.." && pwd)
check=false
if [ "${1:-}" = --check ]; then
  check=true
  shift
fi
[ $# -ge 1 ] || { echo "usage: tools/record-traces.sh [--check] BIN_DIR [OUT_DIR]" >&2; exit 2; }
bin=$(cd "$1" && pwd)
tmp=$(mktemp -d)
if $check; then
  out=$tmp/out
else
  out=${2:?OUT_DIR is needed without --check}
fi
mkdir -p "$out"
out=$(cd "$out" && pwd)

xvfb=
running=
source "$source_dir/tools/x11-helpers.sh"
program=
cleanup() {
  [ -n "$program" ] && kill "$program" 2>/dev/null || true
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null || true
  rm -f "${xvfb_log:-}"
  rm -rf "$tmp"
}
trap cleanup EXIT

# Every run starts from the same simulated board: no latency, no forced status.
unset KT_SIM_BOARDS KT_SIM_LOAD_STATUS KT_SIM_SEND_STATUS KT_SIM_STATS
export KT_SIM_LATENCY_US=0

# The trace of one run, written to $out/NAME.jsonl with its paths made neutral.
trace_file() { echo "$tmp/$1.raw"; }
keep() {
  local raw
  raw=$(trace_file "$1")
  touch "$raw"
  sed -e "s|$bin|<bin>|g" -e "s|$tmp|<tmp>|g" "$raw" >"$out/$1.jsonl"
}

# ktdac NAME [VAR=VALUE...] PROGRAM ARGUMENTS: one ktdac run; its status is part of what is
# kept.
ktdac() {
  local name=$1
  shift
  local status=0
  env KT_SIM_TRACE="$(trace_file "$name")" "$@" >/dev/null 2>&1 </dev/null || status=$?
  keep "$name"
  echo "{\"exit_status\":$status}" >>"$out/$name.jsonl"
}

cat >"$tmp/bench.txt" <<'EOF'
# three settling points, a short ramp and a raw frame
set --device KT310 0000 8000 FFFF
wait 1ms
sweep --device KT300 --from 0x3FF0 --to 0x3FFF --step 5 --power-down 1k
raw --bits 8 --data A5
EOF
cp "$bin/SPI.hex" "$tmp/firmware.hex"
printf 'not intel hex\n' >"$tmp/broken.hex"

for g in 2 1; do
  ktdac_program=$bin/ktdac
  [ $g = 1 ] && ktdac_program=$bin/ktdac-gen1
  ktdac "ktdac-g$g-list" "$ktdac_program" list
  ktdac "ktdac-g$g-set" "$ktdac_program" set --device KT310 --power-down tri-state 1234
  ktdac "ktdac-g$g-set-vref" "$ktdac_program" set --device KT300 --vref 2.5 0 1FFF 3FFF
  ktdac "ktdac-g$g-set-dec" "$ktdac_program" set --format dec --power-down 1kohm_to_gnd 4660 0x10
  ktdac "ktdac-g$g-set-clamp" "$ktdac_program" set --device KT300 --clamp 4000 FFFFFFFF
  ktdac "ktdac-g$g-set-json" "$ktdac_program" set --output json --device KT313 --power-down 100k FFFF 0
  ktdac "ktdac-g$g-set-csv" "$ktdac_program" set --output csv --vref 2.5 0 8000 FFFF
  ktdac "ktdac-g$g-set-refused" "$ktdac_program" set --device KT300 4000
  ktdac "ktdac-g$g-sweep" "$ktdac_program" sweep --device KT311 --from 0xFFF0 --to 0xFFFF --step 3 \
    --repeat 2 --power-down tri-state --vref 5
  ktdac "ktdac-g$g-sweep-dec" "$ktdac_program" sweep --device KT300 --format dec --from 10 --to 0 --step 4
  ktdac "ktdac-g$g-raw" "$ktdac_program" raw --bits 24 --data FFFFFF
  ktdac "ktdac-g$g-raw-odd" "$ktdac_program" raw --bits 300 --data 50000
  ktdac "ktdac-g$g-run" "$ktdac_program" run "$tmp/bench.txt"
  ktdac "ktdac-g$g-firmware" "$ktdac_program" --firmware "$tmp/firmware.hex" set 1
  ktdac "ktdac-g$g-firmware-broken" "$ktdac_program" --firmware "$tmp/broken.hex" set 1
  ktdac "ktdac-g$g-no-board" KT_SIM_BOARDS=0 "$ktdac_program" set 1
  ktdac "ktdac-g$g-send-status" KT_SIM_SEND_STATUS=-4 "$ktdac_program" set 1 2
  ktdac "ktdac-g$g-load-status" KT_SIM_LOAD_STATUS=7 "$ktdac_program" set 1
done
ktdac "ktdac-g2-library" "$bin/ktdac" --library "$(ls "$bin"/*CVR_BOARDLINK*)" set 5
ktdac "ktdac-g1-to-g2" "$bin/ktdac-gen1" --generation 2 set 6

# One SCPI session over loopback, on a port the system picks.
port=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
KT_SIM_TRACE=$(trace_file scpi-session) "$bin/ktdac" serve --listen "127.0.0.1:$port" \
  >/dev/null 2>&1 &
program=$!
/usr/bin/python3 - "$port" >"$tmp/scpi-replies.txt" <<'EOF'
import socket, sys, time
port = int(sys.argv[1])
for _ in range(100):
    try:
        s = socket.create_connection(("127.0.0.1", port), timeout=10)
        break
    except OSError:
        time.sleep(0.1)
f = s.makefile("rwb", buffering=0)
messages = [
    "*IDN?", "*RST", "SOUR:DAC:DEV KT310;CODE #H1234;PDOW TST", "DAC:CODE?;STAT?",
    "VOLT:REF 2.5;:VOLT 1.25", "dac:code max", "DAC:CODE MIN", "DAC:CODE 70000",
    "DAC:PDOW R100K", "DAC:PDOW R1K", "DAC:DEV KT300", "DAC:CODE #B11111111111111",
    "DAC:RAW 24,#HABCDEF", "DAC:RAW 16,4660", "DAC:CODE 1.5", "SYST:ERR?", "SYST:ERR?",
    "SYST:ERR?", "*OPC?",
]
for message in messages:
    f.write((message + "\n").encode())
    if message.endswith("?"):
        print(message, f.readline().decode().strip())
s.close()
EOF
kill -TERM "$program"
wait "$program" || true
program=
keep scpi-session
cp "$tmp/scpi-replies.txt" "$out/scpi-session-replies.txt"

# The windows: each program on a virtual display of its own, driven by keyboard.
start_display
export QT_QPA_PLATFORM=xcb

missing_window() { cat "$tmp/$running.log" >&2; }
answer() {  # presses OK in a message box and waits for it to close
  focus "$1"
  keys Return
  gone Error
}
keys() {
  xdotool key --delay 40 "$@"
  sleep 0.3
}
typed() {
  xdotool type --delay 40 "$1"
}
start() {  # start NAME [VAR=VALUE...] PROGRAM ARGUMENTS
  local name=$1
  shift
  # Under AddressSanitizer's strict string checks, the system's libxkbcommon-x11 is taken for
  # reading past a reply it copies with strndup as Qt connects to the X server; the
  # program's own strings stay checked everywhere else in the suite.
  start_program "$tmp/$name.log" env KT_SIM_TRACE="$(trace_file "$name")" \
    ${ASAN_OPTIONS+ASAN_OPTIONS="$ASAN_OPTIONS:strict_string_checks=0"} "$@"
  program=$!
  running=$name
}
finish() {  # waits for the program to end by itself, or ends it
  local name=$1
  for _ in $(seq 50); do kill -0 "$program" 2>/dev/null || break; sleep 0.1; done
  kill "$program" 2>/dev/null || true
  wait "$program" 2>/dev/null || true
  program=
  keep "$name"
}

for app in kt310v2 kt310; do
  # The evaluation flow: KT310, OK, then every way the main window sends, and Exit.
  start "$app-flow" "$bin/$app"
  device=$(window "KT31X / KT300")
  focus "$device"
  keys Down Tab space
  main=$(window "KT31X / KT300" "$device")
  focus "$main"
  keys Tab Tab ctrl+a
  typed 1234
  keys Return ctrl+a
  typed zz
  keys Return Return ctrl+a
  typed 1FFFF
  keys Return Tab space shift+Tab ctrl+a
  typed 70000
  keys Return ctrl+a
  typed 12.5
  keys Return shift+Tab shift+Tab Down Down Down Up Tab space Tab ctrl+a
  typed 00001234
  keys Return Tab space shift+Tab ctrl+a
  typed abc
  keys Return alt+f
  keys x
  finish "$app-flow"

  # KT300 straight away, a power-down choice, then the window's close by Exit.
  start "$app-kt300" "$bin/$app"
  device=$(window "KT31X / KT300")
  focus "$device"
  keys Up Down Up Tab space
  main=$(window "KT31X / KT300" "$device")
  focus "$main"
  keys Down Tab Tab ctrl+a
  typed 4000
  keys Return alt+f
  keys x
  finish "$app-kt300"

  # A failed load: the warning, OK, a second try, then the window closed.
  start "$app-load-fails" KT_SIM_LOAD_STATUS=-3 "$bin/$app"
  device=$(window "KT31X / KT300")
  focus "$device"
  keys Tab space
  answer "$(window Error)"
  focus "$device"
  keys space
  answer "$(window Error)"
  finish "$app-load-fails"

  # The SPI test window: its own connection, then raw frames as typed.
  start "$app-spi-test" "$bin/$app" --spi-test
  spi=$(window "SPI Form")
  focus "$spi"
  keys Tab space shift+Tab ctrl+a
  typed 1234
  keys Tab Tab ctrl+a
  typed 16
  keys shift+Tab space
  finish "$app-spi-test"
done

if $check; then
  expected=$source_dir/tests/data/traces
  if diff -r "$expected" "$out" >"$tmp/diff.txt"; then
    echo "record-traces: $(ls "$out" | wc -l) traces identical to tests/data/traces"
  else
    cat "$tmp/diff.txt"
    echo "record-traces: the traces differ from tests/data/traces" >&2
    exit 1
  fi
fi
