#!/bin/sh
# ThreadSanitizer stage of the test command. Builds the tree with
# -fsanitize=thread in build-tsan/ and runs the tests where threads meet:
# the bus and station-event library tests, the daemon's integration tests
# (departures, bus events, publications and status requests at once, the
# status counters bumped on both threads) and the end-to-end tests (those
# need root; they skip otherwise). Every process writes its race reports to
# build-tsan/tsan/; any report, from a test or from a daemon, tool or bus
# daemon it started, fails the stage.
set -eu
cd "$(dirname "$0")/.."
JOBS=${JOBS:-$(nproc 2>/dev/null || echo 2)}
launcher=""
if command -v ccache >/dev/null 2>&1; then
    launcher="-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache"
fi
# shellcheck disable=SC2086
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=Debug -DRRM_TSAN=ON -DRRM_BENCH=OFF $launcher
cmake --build build-tsan -j "$JOBS"

reports=$(pwd)/build-tsan/tsan
rm -rf "$reports"
mkdir -p "$reports"
TSAN_OPTIONS="log_path=$reports/race second_deadlock_stack=1 ${TSAN_OPTIONS:-}"
export TSAN_OPTIONS
# ThreadSanitizer needs the memory layout it was built for; kernels with many
# random mmap bits break it, so the tests run without address randomisation.
norand=""
if setarch "$(uname -m)" -R true 2>/dev/null; then
    norand="setarch $(uname -m) -R"
fi
status=0
# shellcheck disable=SC2086
(cd build-tsan &&
    $norand ctest --output-on-failure -j "$JOBS" \
        -R "${RRM_TSAN_TESTS:-^(ubus_client_test|sta_bus_test|daemon_integration_test|e2e_cases_test|e2e_refusal_test)\$}") ||
    status=1
if [ -n "$(ls -A "$reports")" ]; then
    for f in "$reports"/*; do
        echo "=== $f"
        cat "$f"
    done
    echo "tsan: races reported"
    status=1
fi
exit $status
