#!/usr/bin/env bash
# Installs what the project needs with apt (as root, or through sudo when run
# by a user). Does nothing for packages already there.
#   deps.sh main   what the main job needs: the library and the ru3 tool
#   deps.sh test   everything the test suite uses (the default)
# The lists are one package a line, sorted, so that additions stay apart.
set -euo pipefail
group="${1:-test}"
main_packages=(
  cmake
  g++
  gcc
  libcairo2-dev
  libcli11-dev
  libcpp-httplib-dev
  libieee1284-3-dev
  libsndfile1-dev
  libzip-dev
  ninja-build
  nlohmann-json3-dev
  pkg-config
)
# The Windows builds need the MinGW-w64 cross compilers of the win32 thread
# model (no winpthreads) for x86 and x86-64 and, to run their host tests,
# Wine: wine32 of the i386 architecture beside wine64. The packaging tests
# need Doxygen, the Debian package tools, man, and Debian's Python with numpy,
# matplotlib, pytest and what pip builds a package with. The ru3 serve tests
# need Node.js for the page, Chromium, and pyvisa with its socket back end.
# The real-kernel stage boots Debian's kernel in QEMU with a busybox initramfs.
test_packages=(
  binutils-mingw-w64-i686
  binutils-mingw-w64-x86-64
  busybox-static
  chromium
  clang
  doxygen
  dpkg-dev
  file
  g++-mingw-w64-i686-win32
  g++-mingw-w64-x86-64-win32
  libbenchmark-dev
  libclang-rt-dev
  libgmock-dev
  libgtest-dev
  man-db
  nodejs
  python3-matplotlib
  python3-numpy
  python3-pil
  python3-pip
  python3-pytest
  python3-pyvisa
  python3-pyvisa-py
  python3-setuptools
  python3-venv
  python3-websocket
  python3-wheel
  qemu-system-x86
  sigrok-cli
  tmux
  wine
  wine32:i386
  wine64
)
case "$group" in
  main) packages=("${main_packages[@]}") ;;
  test) packages=("${main_packages[@]}" "${test_packages[@]}") ;;
  *) echo "deps.sh: unknown group '$group' (main or test)" >&2; exit 2 ;;
esac
sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
if printf '%s\n' "${packages[@]}" | grep -q ':i386$' &&
   ! dpkg --print-foreign-architectures | grep -qx i386; then
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
