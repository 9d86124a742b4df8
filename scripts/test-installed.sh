#!/bin/sh
# The daemon against an installed platform: builds our stand-ins of the
# platform's libraries and programs (shared, as the platform ships them),
# installs them into a prefix, builds the daemon from a copy of the tree
# without platform/ against that prefix (-DRRM_PLATFORM=system), and runs
# the daemon's unit, integration and end-to-end tests there, with the bus
# daemon, bus tool, dbctl and station-event tools taken from the prefix.
# This checks that the daemon needs nothing of the platform beyond its
# public interface.
#
#   scripts/test-installed.sh [FOLDER]    (default build-installed/)
#
# Everything lies in FOLDER: stand-ins/ (the stand-in build), prefix/ (the
# installed platform), src/ (the copy of the tree), and the daemon's build
# itself. The prefix lies inside the daemon's build, whose programs find its
# libraries relative to themselves ($ORIGIN), so the simulated access point,
# which mounts the build elsewhere and hides the host's /tmp, reaches them
# wherever the build is.
set -eu
ROOT=$(cd "$(dirname "$0")/.." && pwd)
OUT=${1:-$ROOT/build-installed}
JOBS=${JOBS:-$(nproc 2>/dev/null || echo 2)}
mkdir -p "$OUT"
OUT=$(cd "$OUT" && pwd)
case "$OUT/" in
    "$ROOT"/platform/*) echo "test-installed: $OUT lies inside platform/" >&2; exit 2 ;;
esac

# A plain build with the compiler cache when there is one.
LAUNCH=""
if command -v ccache > /dev/null 2>&1; then
    LAUNCH="-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache"
fi
PREFIX=$OUT/prefix

echo "test-installed: stand-ins, installed into $PREFIX"
# shellcheck disable=SC2086  # LAUNCH is a list of options
cmake -S "$ROOT" -B "$OUT/stand-ins" -DCMAKE_BUILD_TYPE= $LAUNCH \
    -DRRM_PLATFORM=ours -DRRM_PLATFORM_SHARED=ON -DRRM_TESTS=OFF -DRRM_BENCH=OFF \
    -DCMAKE_INSTALL_PREFIX="$PREFIX" > "$OUT/stand-ins.log"
cmake --build "$OUT/stand-ins" -j "$JOBS" --target \
    parser sta common_log hvkit wpa3info rrm_common ubus ubox \
    ubusd ubus_cli dbctl sta_pub sta_mon >> "$OUT/stand-ins.log"
rm -rf "$PREFIX"
cmake --install "$OUT/stand-ins" --component platform >> "$OUT/stand-ins.log"

echo "test-installed: the daemon from a copy of the tree without platform/"
rm -rf "$OUT/src"
mkdir -p "$OUT/src"
(cd "$ROOT" && tar --exclude=./.git --exclude='./build*' --exclude=./platform -cf - .) |
    tar -xf - -C "$OUT/src"
[ ! -e "$OUT/src/platform" ]
# shellcheck disable=SC2086
cmake -S "$OUT/src" -B "$OUT" -DCMAKE_BUILD_TYPE= $LAUNCH \
    -DRRM_PLATFORM=system -DCMAKE_PREFIX_PATH="$PREFIX" -DRRM_BENCH=OFF \
    -DCMAKE_BUILD_RPATH_USE_ORIGIN=ON > "$OUT/daemon.log"
cmake --build "$OUT" -j "$JOBS" >> "$OUT/daemon.log"

# Nothing of the stand-ins was compiled into the daemon's build.
if grep -q '/platform/' "$OUT/compile_commands.json"; then
    echo "test-installed: the daemon's build compiled stand-in sources:" >&2
    grep '/platform/' "$OUT/compile_commands.json" >&2
    exit 1
fi
# What goes onto the access point installs: the daemon and its tools.
rm -rf "$OUT/ap"
cmake --install "$OUT" --component ap --prefix "$OUT/ap" > /dev/null
for f in sbin/rrm bin/wlan_evt; do
    [ -x "$OUT/ap/$f" ] || { echo "test-installed: the install has no $f" >&2; exit 1; }
done
cd "$OUT"
ctest --output-on-failure -j "$JOBS"
