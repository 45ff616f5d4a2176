#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs the Windows installer silently in a fresh 32-bit Wine prefix, checks the files
# and Start-menu entries, uninstalls it and checks that nothing of it is left:
#   tools/check-installer.sh win32|win64 INSTALLER.exe
# The shipping installer is a 32-bit program (win32: a machine that executes 32-bit x86
# code); tools/build-packages.sh makes a 64-bit build of the same script for the others.
set -euo pipefail
arch=$1
installer=$(realpath "$2")
case "$arch" in
  win32) wine=/usr/lib/wine/wine server=/usr/lib/wine/wineserver ;;
  win64) wine=/usr/lib/wine/wine64 server=/usr/lib/wine/wineserver ;;
  *) echo "check-installer: win32 or win64, not '$arch'" >&2; exit 2 ;;
esac
export WINEPREFIX WINEARCH=$arch WINEDEBUG=-all WINELOADER=$wine
WINEPREFIX=$(mktemp -d)
trap '"$server" -k 2>/dev/null || true; rm -rf "$WINEPREFIX"' EXIT
wineserver() { "$server" "$@"; }
fail() { echo "check-installer: $*" >&2; exit 1; }

env LANG=C.UTF-8 LC_ALL=C.UTF-8 "$wine" wineboot -i >/dev/null 2>&1
folder="$WINEPREFIX/drive_c/KT310 Evaluation"
# NSIS: /S for silent, /D= last and unquoted (two words here, joined by Wine with a blank).
env LANG=C.UTF-8 LC_ALL=C.UTF-8 "$wine" "$installer" /S '/D=C:\KT310' Evaluation
wineserver -w
for file in kt310v2.exe kt310.exe ktdac.exe ktdac-gen1.exe Uninstall.exe; do
  [ -f "$folder/$file" ] || fail "$file was not installed"
done
# The simulated board is the user's choice, and not chosen by default.
for file in BoardIO.dll SPI.hex "Simulated board/CVR_BOARDLINK.dll" kt-sim-meter.exe; do
  [ ! -e "$folder/$file" ] || fail "$file was installed without the simulated board chosen"
done
[ ! -e "$WINEPREFIX/drive_c/Program Files/Corvane" ] || fail "the board maker's folder was touched"
for entry in "KT310(version2).lnk" "KT310.lnk"; do
  [ -n "$(find "$WINEPREFIX/drive_c" -name "$entry" -print -quit)" ] ||
    fail "no Start-menu entry $entry"
done
echo "check-installer: installed, files and Start-menu entries in place"

env LANG=C.UTF-8 LC_ALL=C.UTF-8 "$wine" "C:\\KT310 Evaluation\\Uninstall.exe" /S
wineserver -w
[ ! -e "$folder" ] || fail "left behind: $(cd "$folder" && find . -mindepth 1 | head)"
[ -z "$(find "$WINEPREFIX/drive_c" -name 'KT310*.lnk' -print -quit)" ] ||
  fail "a Start-menu entry was left behind"
echo "check-installer: uninstalled, nothing left"
