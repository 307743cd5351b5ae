#!/usr/bin/env bash
# Builds the library and runs the whole test suite: the Linux build, then the
# Windows DLL.dll for x86 and x86-64 (export and import tables, and Win32
# hosts under Wine: simulator, InpOut stand-in, driver notice), then the whole
# suite again under AddressSanitizer + UndefinedBehaviorSanitizer (leaks
# included), the exports fuzzer for a bounded time from its committed corpus,
# and the threading and load tests under ThreadSanitizer.
# RU3_FUZZ_SECONDS sets the fuzzing time (default 60; 0 replays the corpus only).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh test
cmake --preset default >/dev/null
cmake --build --preset default
ctest --preset default
# ru3 serve: the page from npm, a VISA client, headless Chromium, a 60 s load test.
bash tests/serve/run.sh
cmake --preset win32 >/dev/null
cmake --build --preset win32
ctest --preset win32
cmake --preset win64 >/dev/null
cmake --build --preset win64
ctest --preset win64

cmake --preset asan >/dev/null
cmake --build --preset asan
ctest --preset asan

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
ctest --test-dir build/fuzz/fuzz --output-on-failure  # replays the committed corpus
fuzz_seconds="${RU3_FUZZ_SECONDS:-60}"
if [ "$fuzz_seconds" -gt 0 ]; then
  # New inputs land in the build tree; a crash leaves its input there too
  # (commit it under fuzz/corpus/ with the fix: the replay above keeps it).
  mkdir -p build/fuzz/found
  build/fuzz/fuzz/ru3_exports_fuzzer -max_total_time="$fuzz_seconds" -timeout=30 -rss_limit_mb=4096 \
    -print_final_stats=1 -artifact_prefix=build/fuzz/ build/fuzz/found fuzz/corpus
fi

cmake --preset tsan >/dev/null
cmake --build --preset tsan
ctest --preset tsan
