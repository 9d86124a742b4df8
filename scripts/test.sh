#!/bin/sh
# Builds everything under AddressSanitizer + UndefinedBehaviorSanitizer and
# runs every test, then builds the fuzz targets with clang and runs each one
# for a bounded time. Installs what it needs first.
set -eu
cd "$(dirname "$0")/.."
./scripts/setup-deps.sh
JOBS=$(nproc 2>/dev/null || echo 2)
cmake -S . -B build-test -DCMAKE_BUILD_TYPE=Debug -DRRM_SANITIZE=ON
cmake --build build-test -j "$JOBS"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
(cd build-test && ctest --output-on-failure -j "$JOBS")
if [ "${RRM_SKIP_FUZZ:-0}" != 1 ]; then
  ./scripts/fuzz.sh "${RRM_FUZZ_SECONDS:-30}"
fi
