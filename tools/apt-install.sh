#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs Debian packages so that only a package that cannot be installed fails:
#   tools/apt-install.sh [-o APT_OPTION]... PACKAGE[:ARCH]...
# - The package index is updated first. An update that could not fetch every index (a
#   registry serving an index that does not match its Release file, a mirror mid-sync) is
#   tried again a few times, then reported, index by index, and the install goes on with
#   what apt has: the verdict is the install's.
# - A package that cannot be installed is named, with apt's reason; the others are
#   installed all the same. Exits 1 then, 0 when everything is installed.
# - A foreign architecture named in a package (wine32:i386) is added first; when the
#   install fails and nothing of that architecture got installed, it is taken back, so the
#   machine is left as it was found (a foreign architecture whose index cannot be fetched
#   would otherwise fail every later update).
# Every -o is handed to apt-get (a sources list of a test's own, say). KT_APT_TRIES (3)
# and KT_APT_PAUSE (seconds, 20) set the update's tries and the pause between them.
# Runs apt and dpkg directly as root, through sudo otherwise.
set -euo pipefail

apt_options=()
packages=()
while [ $# -gt 0 ]; do
  case "$1" in
    -o) [ $# -ge 2 ] || { echo "apt-install: -o needs an option" >&2; exit 2; }
        apt_options+=(-o "$2"); shift 2 ;;
    -*) echo "apt-install: unknown option $1" >&2; exit 2 ;;
    *) packages+=("$1"); shift ;;
  esac
done
[ ${#packages[@]} -gt 0 ] || { echo "apt-install: no package named" >&2; exit 2; }
tries=${KT_APT_TRIES:-3}
pause=${KT_APT_PAUSE:-20}

if [ "$(id -u)" -eq 0 ]; then
  as_root=()
elif command -v sudo >/dev/null 2>&1; then
  as_root=(sudo)
else
  echo "apt-install: need root or sudo to install: ${packages[*]}" >&2
  exit 1
fi
apt_get() { "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get "${apt_options[@]}" "$@"; }
log=$(mktemp)
trap 'rm -f "$log"' EXIT
# Quotes apt's lines of $log that match $1, $2 of them at most, indented.
quote() { grep -E "$1" "$log" | head -n "$2" | sed 's/^/  /' || true; }

# The foreign architectures the packages name, and which of them this run adds.
native=$(dpkg --print-architecture)
added=()
for package in "${packages[@]}"; do
  case "$package" in
    *:*) architecture=${package##*:} ;;
    *) continue ;;
  esac
  case "$architecture" in "$native" | all) continue ;; esac
  dpkg --print-foreign-architectures | grep -qx "$architecture" && continue
  "${as_root[@]}" dpkg --add-architecture "$architecture"
  added+=("$architecture")
done

# The index: an incomplete update is retried, then reported and gone past.
for ((try = 1; ; try++)); do
  if apt_get update -qq >"$log" 2>&1; then
    break
  fi
  if [ "$try" -ge "$tries" ]; then
    {
      echo "apt-install: the package index is incomplete after $tries tries; installing from what apt has."
      echo "apt-install: what apt could not fetch:"
      quote '^(E|W|Err):' 20
    } >&2
    break
  fi
  echo "apt-install: the package index update failed (try $try of $tries); again in $pause s:" >&2
  quote '^E:' 3 >&2
  sleep "$pause"
done

# Takes back the architectures this run added, where nothing of them got installed.
take_back() {
  local architecture
  for architecture in "${added[@]}"; do
    if "${as_root[@]}" dpkg --remove-architecture "$architecture" 2>/dev/null; then
      echo "apt-install: took back the $architecture architecture: nothing of it is installed" >&2
    else
      echo "apt-install: kept the $architecture architecture: some of its packages got installed" >&2
    fi
  done
}

install() { apt_get install -y -qq --no-install-recommends "$@"; }
if install "${packages[@]}"; then
  exit 0
fi

# Which packages cannot be installed: each is asked alone, and the rest installed.
installable=()
failed=()
for package in "${packages[@]}"; do
  if apt_get install -s -qq --no-install-recommends "$package" >"$log" 2>&1; then
    installable+=("$package")
  else
    failed+=("$package")
    {
      echo "apt-install: cannot install $package:"
      quote '^(E:| )' 8
    } >&2
  fi
done
# Packages that each could be had alone but not together are named all the same.
if [ ${#installable[@]} -gt 0 ] && ! install "${installable[@]}"; then
  failed+=("${installable[@]}")
fi
[ ${#failed[@]} -gt 0 ] || exit 0
take_back
echo "apt-install: not installed: ${failed[*]}" >&2
exit 1
