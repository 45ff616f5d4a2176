#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds what a user installs: the Debian package of the Linux build (checked with lintian),
# the Windows installer and the ZIPs of the 32-bit Windows build, and ktdac.exe for 32-bit
# and 64-bit Windows. They land in build/packages. The installer is then run silently under
# Wine, its files and Start-menu entries checked, and uninstalled with nothing left behind:
# itself under 32-bit Wine where this machine can execute 32-bit x86 code and 32-bit Wine
# could be installed, elsewhere a 64-bit build of the same installer script under 64-bit Wine
# (and its contents listed); a machine that could run it but has no 32-bit Wine says so in a
# block that cannot be missed.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/wine32.sh
wine32_decide --wine --packages

out=build/packages
rm -rf "$out"
mkdir -p "$out"

echo "== Debian package"
cmake --workflow --preset deb
deb=$(ls build/deb/packages/*.deb)
dpkg-deb --contents "$deb"
# lintian exits non-zero on errors; warnings (no manual pages) are shown and allowed.
lintian --fail-on error "$deb"
cp "$deb" "$out/"

echo "== Windows installer and ZIPs (32-bit)"
cmake --workflow --preset windows-package
cp build/windows-package/packages/*.exe build/windows-package/packages/*.zip "$out/"
installer=$(ls "$out"/*.exe)

echo "== ktdac for 64-bit Windows"
cmake --preset windows-x64-release
cmake --build --preset windows-x64-release
mkdir -p "$out/win64"
for program in ktdac ktdac-gen1; do
  x86_64-w64-mingw32-strip -o "$out/win64/$program.exe" "build/windows-x64-release/bin/$program.exe"
done

if [ "$KT_WINE32" = yes ]; then
  echo "== Installing and uninstalling under 32-bit Wine"
  tools/check-installer.sh win32 "$installer"
  round_trip="the installer installed and uninstalled under 32-bit Wine"
else
  # The same installer script, built for 64-bit Windows, proves the install and uninstall
  # here; the shipping installer is listed.
  [ "$KT_WINE32" = cannot-execute ] ||
    wine32_banner "the installer's round trip runs as a 64-bit build of its script under 64-bit Wine"
  echo "== Installer contents; its script installed and uninstalled as a 64-bit build under 64-bit Wine"
  echo "   ($KT_WINE32_WHY)"
  7z l "$installer"
  test_installer=$(realpath build/windows-package)/kt310-installer-x64-test.exe
  (cd build/windows-package/packages/_CPack_Packages/win32/NSIS &&
     makensis -V2 "-XTarget amd64-unicode" project.nsi "-XOutFile $test_installer")
  tools/check-installer.sh win64 "$test_installer"
  round_trip="the installer not run under 32-bit Wine: $KT_WINE32_WHY (its script's 64-bit build"
  round_trip+=" installed and uninstalled under 64-bit Wine)"
fi
for zip in "$out"/*.zip; do unzip -l "$zip"; done
ls -l "$out" "$out/win64"
wine32_summary "Packages built; $round_trip"
