#!/usr/bin/env bash
# The ru3 serve suites: installs the page's plotting library from npm (the
# versions in tools/ru3/web/package-lock.json), then runs pytest with
# Debian's python3 (pyvisa, websocket, PIL) against build/default/ru3.
# RU3_LOAD_SECONDS sets the load test's length (default 60).
set -euo pipefail
cd "$(dirname "$0")/../.."
npm ci --prefix tools/ru3/web --no-audit --no-fund --loglevel=error
/usr/bin/python3 -m pytest -q -p no:cacheprovider tests/serve
