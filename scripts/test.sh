#!/bin/sh
# The test command. Installs what it needs, then runs each stage in turn and
# prints the time each took:
#   lint   every shell script of the tree through shellcheck
#          (scripts/shellcheck.sh)
#   host   everything under AddressSanitizer + UndefinedBehaviorSanitizer,
#          every unit, integration and end-to-end test (build-test/)
#   installed  the daemon built against our stand-ins installed as the
#          platform (-DRRM_PLATFORM=system), from a copy of the tree without
#          platform/, with its integration and end-to-end tests
#          (build-installed/, scripts/test-installed.sh)
#   tsan   ThreadSanitizer build; the bus, daemon and end-to-end tests
#          (build-tsan/, scripts/test-tsan.sh)
#   fuzz   the libFuzzer targets with clang, each for a bounded time
#          (build-fuzz/; RRM_FUZZ_SECONDS, default 30; RRM_SKIP_FUZZ=1 skips)
#   cross-glibc  the AArch64 (glibc) cross-build, every test under qemu-user
#          (build-aarch64/)
#   cross-musl  the static musl AArch64 build, its tests under qemu-user and
#          the stripped sizes (build-musl/)
set -eu
cd "$(dirname "$0")/.."
JOBS=$(nproc 2>/dev/null || echo 2)
export JOBS
TIMES=""
stage() {
    _name=$1
    shift
    _t0=$(date +%s)
    echo "=== test: $_name"
    "$@"
    _dt=$(($(date +%s) - _t0))
    TIMES="$TIMES
  $_name: ${_dt} s"
    echo "=== test: $_name passed in ${_dt} s"
}

host_suite() {
    cmake -S . -B build-test -DCMAKE_BUILD_TYPE=Debug -DRRM_SANITIZE=ON
    cmake --build build-test -j "$JOBS"
    (cd build-test &&
        ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0} \
        UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1} \
        ctest --output-on-failure -j "$JOBS")
}

stage setup ./scripts/setup-deps.sh
stage lint ./scripts/shellcheck.sh
stage host host_suite
stage installed ./scripts/test-installed.sh
stage tsan ./scripts/test-tsan.sh
if [ "${RRM_SKIP_FUZZ:-0}" != 1 ]; then
    stage fuzz ./scripts/fuzz.sh "${RRM_FUZZ_SECONDS:-30}"
fi
stage cross-glibc ./scripts/cross-glibc.sh
stage cross-musl ./scripts/cross-musl.sh
echo "=== test: every stage passed$TIMES"
echo "=== test: stripped static musl AArch64 programs (build-musl/stripped/)"
cat build-musl/sizes.txt
