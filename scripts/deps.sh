#!/usr/bin/env bash
# Installs the Debian packages the build, tests and demo need, when missing,
# on a bare Debian 12 (every program the scripts call comes from here).
#   scripts/deps.sh [extra-package ...]
set -euo pipefail
need=(cmake ninja-build g++ googletest libgtest-dev libbenchmark-dev python3
      g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix
      binutils-mingw-w64-x86-64 binutils-mingw-w64-i686 wine64 wine32:i386
      util-linux "$@")
SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO=sudo
# wine32 is an i386 package: the architecture comes first. Installing it
# works whether or not this kernel can execute 32-bit code; scripts/x86-probe
# finds out at test time.
fresh_arch=0
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  echo "==> Adding the i386 architecture (for 32-bit Wine)"
  $SUDO dpkg --add-architecture i386
  fresh_arch=1
fi
missing=()
for p in "${need[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "==> Installing Debian packages: ${missing[*]}"
  $SUDO apt-get update -q
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
else
  [ $fresh_arch -eq 0 ] || $SUDO apt-get update -q
  echo "==> Debian packages already present"
fi
