#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds what a user installs: the Debian package of the Linux build (checked with lintian),
# the Windows installer and the ZIPs of the 32-bit Windows build, and ktdac.exe for 32-bit
# and 64-bit Windows. They land in build/packages. The installer is then run silently under
# Wine, its files and Start-menu entries checked, and uninstalled with nothing left behind:
# itself under 32-bit Wine where this machine can execute 32-bit x86 code, elsewhere a
# 64-bit build of the same installer script under 64-bit Wine (and its contents listed).
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh --wine --packages

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

probe=0
tools/can-execute-32bit.sh || probe=$?
[ "$probe" -le 1 ] || exit 1
if [ "$probe" -eq 0 ]; then
  echo "== Installing and uninstalling under 32-bit Wine"
  tools/install-deps.sh --wine32
  tools/check-installer.sh win32 "$installer"
else
  # The same installer script, built for 64-bit Windows, proves the install and uninstall
  # here; the shipping installer is listed.
  echo "== Installer contents; its script installed and uninstalled as a 64-bit build under 64-bit Wine"
  echo "   (this machine cannot execute 32-bit x86 code)"
  7z l "$installer"
  test_installer=$(realpath build/windows-package)/kt310-installer-x64-test.exe
  (cd build/windows-package/packages/_CPack_Packages/win32/NSIS &&
     makensis -V2 "-XTarget amd64-unicode" project.nsi "-XOutFile $test_installer")
  tools/check-installer.sh win64 "$test_installer"
fi
for zip in "$out"/*.zip; do unzip -l "$zip"; done
ls -l "$out" "$out/win64"
