#!/usr/bin/env bash
# Installs every Debian package the build and the test suites need.
# Idempotent: apt-get runs only when something is missing, and then
# updates its lists once. Never adds the i386 architecture: this kernel
# cannot run 32-bit Linux programs, so 32-bit Wine is of no use here.
set -euo pipefail

packages=(
  cmake g++ make zlib1g-dev
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 libz-mingw-w64-dev
  googletest
  wine wine64 xvfb xauth
  python3-pytest python3-pytest-xdist imagemagick locales osslsigncode openssl
  nginx
  binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"

if [ ${#missing[@]} -gt 0 ]; then
  echo "deps: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -q
  $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# French and Arabic users are Wine prefixes started under these locales; Wine
# takes its user locale from the C library, which must know them.
for loc in fr_FR ar_SA; do
  if ! locale -a 2>/dev/null | grep -qi "^$loc.utf-\?8$"; then
    $SUDO localedef -i "$loc" -f UTF-8 "$loc.UTF-8"
  fi
done
