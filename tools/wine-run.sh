#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs a cross-built Windows test program under Wine, the way CTest's emulator does:
#   tools/wine-run.sh win32|win64 BUILD/bin/PROGRAM.exe [arguments]
# The first run makes a fresh prefix of that width beside the build's bin/ folder and lays
# out what the tests expect there: the second-generation library at its fixed path, the
# registry values of tests/data/wine-registry.reg (in the program's own registry view), and
# a program in a folder with blanks. Each width has its own loader, called directly: Debian's
# /usr/bin/wine prefers the 32-bit one whenever it is installed.
set -euo pipefail
arch=$1
shift
program=$1
case "$arch" in
  win32) loader=/usr/lib/wine/wine view=32 ;;
  win64) loader=/usr/lib/wine/wine64 view=64 ;;
  *) echo "wine-run: unknown architecture '$arch' (win32 or win64)" >&2; exit 2 ;;
esac
if [ ! -x "$loader" ]; then
  echo "wine-run: $loader is missing; tools/install-deps.sh $([ "$view" = 32 ] && echo "--wine32" || echo "--wine") installs it" >&2
  exit 2
fi
bin=$(cd "$(dirname "$program")" && pwd)
source_dir=$(cd "$(dirname "$0")/.." && pwd)
export WINEPREFIX=${KT_WINEPREFIX:-$(dirname "$bin")/wineprefix}
export WINEARCH=$arch WINEDEBUG=-all WINELOADER=$loader
# The C locale gives Windows' English and code page 1252, and UTF-8 lets Wine hold any file
# name; C.UTF-8 is on every Debian machine. Set for Wine alone.
wine() { env LANG=C.UTF-8 LC_ALL=C.UTF-8 "$loader" "$@"; }

(
  flock 9
  if [ ! -f "$WINEPREFIX/.kt-ready" ]; then
    rm -rf "$WINEPREFIX"
    wine wineboot -i >/dev/null 2>&1
    wine reg import "$source_dir/tests/data/wine-registry.reg" "/reg:$view" >/dev/null 2>&1
    touch "$WINEPREFIX/.kt-ready"
  fi
  drivers="$WINEPREFIX/drive_c/Program Files/Corvane/USB Drivers"
  mkdir -p "$drivers"
  cp -u "$bin/CVR_BOARDLINK.dll" "$drivers/"
  if [ -f "$bin/kt_started_program.exe" ]; then
    mkdir -p "$WINEPREFIX/drive_c/Program Files/KT310 Test"
    cp -u "$bin/kt_started_program.exe" "$WINEPREFIX/drive_c/Program Files/KT310 Test/kt started.exe"
    cp -u "$bin/kt_started_program.exe" "$WINEPREFIX/drive_c/Program Files/KT310 Test/MSINFO32.EXE"
  fi
) 9>"$(dirname "$bin")/wineprefix.lock"

exec env LANG=C.UTF-8 LC_ALL=C.UTF-8 "$loader" "$@"
