#!/usr/bin/env bash
# Builds the library and runs the whole test suite: the Linux build, then the
# Windows DLL.dll (export table, and a Win32 host under Wine).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake --preset default >/dev/null
cmake --build --preset default
ctest --preset default
cmake --preset win32 >/dev/null
cmake --build --preset win32
ctest --preset win32
