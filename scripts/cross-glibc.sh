#!/bin/sh
# The AArch64 (glibc) cross-build, tested under emulation.
#
# Installs Debian's cross compiler, the arm64 libraries (multiarch) and
# qemu-user, builds everything for AArch64 in build-aarch64/ and runs the
# whole test suite, end-to-end included, with every AArch64 program emulated
# (scripts/aarch64-ns.sh). Then prints the stripped sizes and the daemon's
# private memory over a few collection passes. Prints the time of each stage.
#
#   RRM_CROSS_BUILD_TYPE   build type (default RelWithDebInfo)
#   RRM_CROSS_TESTS=0      build only
set -eu
cd "$(dirname "$0")/.."
B=build-aarch64
JOBS=$(nproc 2>/dev/null || echo 2)
TIMES=""
step() {
    _n=$1
    shift
    _t0=$(date +%s)
    echo "--- cross-glibc: $_n"
    "$@"
    _dt=$(($(date +%s) - _t0))
    TIMES="$TIMES $_n ${_dt}s"
}

deps() {
    ./scripts/setup-deps.sh g++-aarch64-linux-gnu binutils-aarch64-linux-gnu qemu-user-static \
        libc6:arm64 libstdc++6:arm64 libev-dev:arm64 libsqlite3-dev:arm64 libncurses-dev:arm64 \
        libgtest-dev:arm64 libgmock-dev:arm64 busybox-static
}

configure() {
    launcher=""
    if command -v ccache >/dev/null; then
        # The compiler cache lives in the build folder unless one is given.
        CCACHE_DIR=${CCACHE_DIR:-$PWD/$B/ccache}
        export CCACHE_DIR
        launcher="-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache"
    fi
    # shellcheck disable=SC2086
    cmake -S . -B "$B" -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake \
        -DCMAKE_BUILD_TYPE="${RRM_CROSS_BUILD_TYPE:-RelWithDebInfo}" \
        -DCMAKE_CROSSCOMPILING_EMULATOR="$(command -v qemu-aarch64-static)" $launcher
}

build() {
    cmake --build "$B" -j "$JOBS"
}

# Every test, each AArch64 program the tests start emulated too.
tests() {
    (cd "$B" && ../scripts/aarch64-ns.sh ctest --output-on-failure -j "$JOBS")
    # Cases the emulator cannot serve skip themselves; each, with why.
    awk '/: Skipped$/ { getline why; next } /^\[  SKIPPED \] .* \(/ { print "skipped:", $4, "-", why }' \
        "$B/Testing/Temporary/LastTest.log"
}

sizes() {
    mkdir -p "$B/stripped"
    echo "stripped sizes (bytes), in $B/stripped/:"
    for f in rrm/rrm platform/ubus/ubusd platform/ubus/ubus platform/statusdb/dbctl \
        platform/sta/sta_pub platform/sta/sta_mon tools/wlan_top/wlan_top tools/wlan_metrics/wlan_metrics; do
        [ -f "$B/$f" ] || continue
        aarch64-linux-gnu-strip -o "$B/stripped/${f##*/}" "$B/$f"
        printf '  %-12s %8d\n' "${f##*/}" "$(wc -c < "$B/stripped/${f##*/}")"
    done
}

memory() {
    ./scripts/aarch64-ns.sh ./scripts/daemon-mem.sh "$B" 5
}

step setup deps
step configure configure
step build build
if [ "${RRM_CROSS_TESTS:-1}" != 0 ]; then
    step test tests
    step memory memory
fi
step sizes sizes
echo "cross-glibc: done;$TIMES"
