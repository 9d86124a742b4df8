#!/bin/sh
# Builds the libFuzzer targets with clang and runs each for SECONDS (default 30)
# from its seed corpus. Any crash fails the run.
set -eu
cd "$(dirname "$0")/.."
SECONDS_EACH=${1:-30}
JOBS=$(nproc 2>/dev/null || echo 2)
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DRRM_FUZZ=ON -DRRM_TESTS=OFF -DRRM_BENCH=OFF
cmake --build build-fuzz -j "$JOBS"
[ -d build-fuzz/fuzzers ] || { echo "fuzz: no fuzz targets"; exit 0; }
for f in build-fuzz/fuzzers/*; do
  [ -x "$f" ] || continue
  name=$(basename "$f")
  work=build-fuzz/corpus/$name
  mkdir -p "$work"
  seeds=$(find tests -type d -path "*/corpus/$name" | head -n 1)
  echo "fuzz: $name for ${SECONDS_EACH}s"
  # shellcheck disable=SC2086
  "$f" -max_total_time="$SECONDS_EACH" -print_final_stats=1 -artifact_prefix="build-fuzz/$name-" \
       "$work" ${seeds:+"$seeds"} >"build-fuzz/$name.log" 2>&1 || {
    tail -n 60 "build-fuzz/$name.log"; echo "fuzz: $name FAILED"; exit 1; }
  grep -E 'stat::number_of_executed_units' "build-fuzz/$name.log" || true
done
echo "fuzz: all targets clean"
