#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs a cross-built Windows test program under Wine, the way CTest's emulator does:
#   tools/wine-run.sh BUILD/bin/PROGRAM.exe [arguments]
# The first run makes a fresh 32-bit prefix beside the build's bin/ folder and lays out what
# the tests expect there: the second-generation library at its fixed path, the registry
# values of tests/data/wine-registry.reg (32-bit view), and a program in a folder with blanks.
set -euo pipefail
program=$1
bin=$(cd "$(dirname "$program")" && pwd)
source_dir=$(cd "$(dirname "$0")/.." && pwd)
export WINEPREFIX=${KT_WINEPREFIX:-$(dirname "$bin")/wineprefix}
export WINEARCH=win32 WINEDEBUG=-all
# Wine picks its ANSI code page from the locale's language: English gives 1252.
export LANG=en_US.UTF-8 LC_ALL=en_US.UTF-8

(
  flock 9
  if [ ! -f "$WINEPREFIX/.kt-ready" ]; then
    rm -rf "$WINEPREFIX"
    wineboot -i >/dev/null 2>&1
    wine reg import "$source_dir/tests/data/wine-registry.reg" /reg:32 >/dev/null 2>&1
    touch "$WINEPREFIX/.kt-ready"
  fi
  drivers="$WINEPREFIX/drive_c/Program Files/Corvane/USB Drivers"
  mkdir -p "$drivers"
  cp -u "$bin/CVR_BOARDLINK.dll" "$drivers/"
  if [ -f "$bin/kt_started_program.exe" ]; then
    mkdir -p "$WINEPREFIX/drive_c/Program Files/KT310 Test"
    cp -u "$bin/kt_started_program.exe" "$WINEPREFIX/drive_c/Program Files/KT310 Test/kt started.exe"
  fi
) 9>"$(dirname "$bin")/wineprefix.lock"

exec wine "$@"
