#!/bin/sh
# Line and branch coverage of the daemon, its settings and the platform
# stand-ins from the whole test suite (end-to-end tests need root).
# Builds in build-cov/ with gcov instrumentation, runs CTest, prints one
# row per folder.
#   scripts/coverage.sh            build, run every test, report
#   scripts/coverage.sh report     report only (after a run)
set -eu
cd "$(dirname "$0")/.."
JOBS=$(nproc 2>/dev/null || echo 2)
B=build-cov
command -v gcovr >/dev/null 2>&1 || ./scripts/setup-deps.sh gcovr
if [ "${1:-}" != report ]; then
    cmake -S . -B "$B" -DCMAKE_BUILD_TYPE=Debug -DRRM_COVERAGE=ON -DRRM_BENCH=OFF
    cmake --build "$B" -j "$JOBS"
    find "$B" -name '*.gcda' -delete
    # One test at a time: processes ending together can tear the counts.
    (cd "$B" && ctest --output-on-failure) || echo "coverage: some tests failed"
fi
# Each folder's figures come from its own objects' data.
printf '%-12s %8s %8s\n' folder lines branches
for d in rrm capwap_cli platform; do
    gcovr -r . -f "$d/" --exclude-unreachable-branches --exclude-throw-branches --gcov-ignore-parse-errors \
        --print-summary -o "$B/coverage-$d.txt" "$B/$d" 2>/dev/null |
        awk -v d="$d" '/^lines:/{l=$2} /^branches:/{b=$2} END{printf "%-12s %8s %8s\n", d, l, b}'
done
