#!/usr/bin/env bash
# The main job: builds the library and the ru3 tool, and captures one record
# from the simulated instrument into capture.csv and capture.png in the
# repository root. RU3_SIMULATOR, when set, configures the simulator.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh main
cmake --preset default -DRU3_BUILD_TESTS=OFF >/dev/null
cmake --build --preset default --target ru3_cli
./build/default/ru3 --simulate="${RU3_SIMULATOR-}" capture \
  --rate 100000 --length 1000 --pre 0.1 -o capture.csv --plot capture.png
