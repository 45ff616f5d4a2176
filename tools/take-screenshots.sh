#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Takes the screenshots in docs/screenshots as a user sees the windows: each program runs on
# a virtual display of its own, driven by keyboard, and each window is captured alone.
#   tools/take-screenshots.sh qt      the Qt windows (build/dev) at 100 % and 200 % scale,
#                                     and under a dark desktop theme (GTK's Adwaita dark)
#   tools/take-screenshots.sh win32   the Win32 windows (build/mingw-x86_64) under 64-bit
#                                     Wine with its Light theme at 96 and 192 dpi, and with
#                                     visual styles off
#   tools/take-screenshots.sh web     ktdac serve's web page (build/dev) in headless Chromium
# Needs xvfb, xdotool and imagemagick; the dark theme needs qt6-gtk-platformtheme.
set -euo pipefail
cd "$(dirname "$0")/.."
out=docs/screenshots
mkdir -p "$out"

source tools/x11-helpers.sh
xvfb=
program=
cleanup() {
  [ -n "$program" ] && kill "$program" 2>/dev/null || true
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null || true
  rm -f "${xvfb_log:-}"
}
trap cleanup EXIT
start_display
sleep 1

shot() {
  sleep 0.5
  import -window "$1" "$out/$2.png"
  echo "  $out/$2.png"
}

run() {
  "$@" >/dev/null 2>&1 &
  program=$!
}

stop() {
  kill "$program" 2>/dev/null || true
  wait "$program" 2>/dev/null || true
  program=
}

# One session: the device window, KT310 and OK, the main window after typing 1234 and Enter
# with the focus then on "Update DAC", About; then the SPI test window on its own.
#   session SUFFIX PROGRAM COMMAND...   (COMMAND runs PROGRAM: env, or a Wine runner)
session() {
  local suffix=$1 app=$2 id device
  shift 2
  run "$@" "$app"
  device=$(window "KT31X / KT300")
  focus "$device"
  shot "$device" "${prefix}device-window$suffix"
  xdotool key Down Tab space
  id=$(window "KT31X / KT300" "$device")
  focus "$id"
  xdotool key Tab Tab ctrl+a type 1234
  xdotool key Return shift+Tab
  shot "$id" "${prefix}main-window$suffix"
  xdotool key alt+f
  sleep 0.5
  xdotool key Return
  id=$(window "About KT31X / KT300")
  shot "$id" "${prefix}about-window$suffix"
  stop
  run "$@" "$app" --spi-test
  id=$(window "SPI Form")
  focus "$id"
  shot "$id" "${prefix}spi-test-window$suffix"
  stop
}

case "${1:-}" in
  qt)
    prefix=
    cmake --build --preset dev --target kt310v2 >/dev/null
    export KT_SIM_LATENCY_US=0
    session "" build/dev/bin/kt310v2 env
    session "@2x" build/dev/bin/kt310v2 env QT_SCALE_FACTOR=2
    session "-dark" build/dev/bin/kt310v2 env QT_QPA_PLATFORMTHEME=gtk3 GTK_THEME=Adwaita:dark
    ;;
  win32)
    prefix=win32-
    cmake --build --preset mingw-x86_64 --target kt310v2 >/dev/null
    bin=build/mingw-x86_64/bin
    export KT_WINEPREFIX=$PWD/build/mingw-x86_64/screenshot-prefix
    reg() { env WINEPREFIX="$KT_WINEPREFIX" WINEDEBUG=-all /usr/lib/wine/wine64 reg add "$@" /f \
              >/dev/null 2>&1; }
    tools/wine-run.sh win64 "$bin/kt310v2.exe" --version >/dev/null 2>&1 || true
    # Wine's Light theme (visual styles, as on Windows 10 and 11) at 96 and 192 dpi, and with
    # visual styles off (the classic look) at 96 dpi: the prefix's own settings, as a user
    # sets them.
    themes='HKCU\Software\Microsoft\Windows\CurrentVersion\ThemeManager'
    for look in light@96 light@192 classic@96; do
      dpi=${look#*@}
      reg 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi"
      reg "$themes" /v ThemeActive /t REG_SZ /d "$([ "${look%@*}" = light ] && echo 1 || echo 0)"
      suffix=""
      [ "${look%@*}" = classic ] && suffix="-classic"
      [ "$dpi" = 192 ] && suffix="$suffix@2x"
      session "$suffix" "$bin/kt310v2.exe" tools/wine-run.sh win64
    done
    ;;
  web)
    # The page in headless Chromium, as its test leaves it after driving it by keyboard.
    cmake --build --preset dev >/dev/null
    KT_SIM_TRACE= KT_WEB_SCREENSHOT="$out/web-page.png" /usr/bin/python3 tests/web/web_page_test.py \
      build/dev/bin/ktdac >/dev/null
    echo "  $out/web-page.png"
    ;;
  *)
    echo "usage: tools/take-screenshots.sh qt|win32|web" >&2
    exit 2
    ;;
esac
