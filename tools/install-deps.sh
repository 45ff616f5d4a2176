#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs what building and testing need on Debian 12: directly as root, through sudo
# otherwise. Does nothing when everything is already there.
set -euo pipefail

packages=(
  cmake ninja-build g++ binutils        # compiler, build, and the gold linker (in binutils)
  libgtest-dev libgmock-dev             # tests
  nlohmann-json3-dev                    # the simulated board's trace
  locales                               # localedef and the locale sources for the tests
  qt6-base-dev                          # the windows (Qt 6 Widgets) and their tests (Qt Test)
  fonts-liberation                      # Liberation Sans, standing in for "MS Sans Serif"
  libcli11-dev libfmt-dev               # ktdac's arguments and output
  libasio-dev                           # ktdac serve: SCPI over TCP
  libboost-dev                          # ktdac serve's web page: Beast's HTTP parser
  python3-pyvisa python3-pyvisa-py      # ktdac serve's test client
  libavahi-client-dev                   # ktdac serve's DNS-SD announcement
  libtirpc-dev rpcbind                  # ktdac serve's VXI-11 channel, registered with the
                                        # portmapper (and the portmapper for its test)
  python3-pymeasure python3-numpy       # the PyMeasure driver in python/, and its test
  avahi-daemon dbus-daemon iproute2     # the announcement's test, in a network of its own,
  python3-zeroconf                      # and the browser that finds it
  chromium firefox-esr                  # the web page's test: headless Chromium and Firefox,
  python3-websocket                     # driven by DevTools and by WebDriver BiDi
  xvfb xauth xdotool                    # the recorded board traces drive the real windows
  libiio-dev                            # kernel IIO DACs, here or through iiod (--board iio:)
  libftdi1-dev                          # a USB-SPI bridge's MPSSE engine (--board ftdi:)
  umockdev libumockdev-dev iiod         # the IIO and spidev boards' tests: a faked sysfs and
                                        # /dev, and iiod serving it across a network
)

# --sanitizers: also clang and its runtimes, for the sanitizer suite and the fuzz targets.
# --benchmarks: also Google Benchmark.
# --wine: also the 32-bit and 64-bit Windows cross compilers, 64-bit Wine, which every
#         x86-64 machine can run, and Xvfb, the display the Win32 window tests draw on.
# --packages: also NSIS, lintian and what lists the packages' contents.
# --wine32: also 32-bit Wine (with the i386 architecture), for machines that can execute
#         32-bit x86 code; installed after everything else, so that a registry that cannot
#         serve it fails nothing else.
# -o APT_OPTION: handed to apt-get (see tools/apt-install.sh).
# Exits 0 when everything asked is installed, 1 when a package could not be installed (each
# named), 3 when everything but the 32-bit packages is.
packages32=()
apt_options=()
while [ $# -gt 0 ]; do
  case "$1" in
    --sanitizers) packages+=(clang libclang-rt-14-dev llvm) ;;
    --benchmarks) packages+=(libbenchmark-dev bc) ;;
    --wine) packages+=(g++-mingw-w64-i686 binutils-mingw-w64-i686 g++-mingw-w64-x86-64
                       binutils-mingw-w64-x86-64 wine wine64 xvfb xauth) ;;
    --packages) packages+=(nsis lintian dpkg-dev p7zip-full unzip) ;;
    --wine32) packages32+=(wine32:i386) ;;
    -o) [ $# -ge 2 ] || { echo "install-deps: -o needs an option" >&2; exit 2; }
        apt_options+=(-o "$2"); shift ;;
    *) echo "install-deps: unknown option $1" >&2; exit 2 ;;
  esac
  shift
done

# Prints the packages of "$@" that are not installed.
missing() {
  local package
  for package in "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
      echo "$package"
  done
}
install() {
  [ $# -gt 0 ] || return 0
  echo "install-deps: installing $*"
  "$(dirname "$0")/apt-install.sh" "${apt_options[@]}" "$@"
}

mapfile -t missing_native < <(missing "${packages[@]}")
install "${missing_native[@]}" || exit 1
mapfile -t missing32 < <(missing "${packages32[@]}")
if ! install "${missing32[@]}"; then
  echo "install-deps: everything else is installed; 32-bit Wine is not" >&2
  exit 3
fi
