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
  python3-pytest imagemagick
  binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "deps: installing ${missing[*]}"
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
