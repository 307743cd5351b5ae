#!/usr/bin/env bash
# Installs what the project needs to build and test, with apt (as root, or
# through sudo when run by a user). Does nothing for packages already there.
# The Windows build needs the MinGW-w64 cross compiler and, to run its host
# test, 32-bit Wine (packages of the i386 architecture).
set -euo pipefail
packages=(cmake ninja-build g++ gcc clang libclang-rt-dev pkg-config libgtest-dev libgmock-dev
          libbenchmark-dev libieee1284-3-dev libcli11-dev libcairo2-dev
          g++-mingw-w64-i686 binutils-mingw-w64-i686 wine wine32:i386)
sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  "${sudo_cmd[@]}" dpkg --add-architecture i386
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}" >/dev/null
fi
