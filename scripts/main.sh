#!/usr/bin/env bash
# The main job: builds the library and its example host, and opens the
# simulated instrument with it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake --preset default >/dev/null
cmake --build --preset default --target ru3_example_init
RU3_SIMULATOR="${RU3_SIMULATOR-}" ./build/default/ru3_example_init
