#!/bin/sh
# The main job: builds the daemon and the platform stand-ins, sets up the
# simulated access point, plays a scenario (default: sim/scenarios/demo.scn)
# printing the status tables after each step, and tears everything down.
#
#   ./scripts/demo.sh [scenario-name-or-path]
#
# Needs root (the access point lives in private namespaces).
set -eu
if [ "$(id -u)" -ne 0 ]; then
    exec sudo "$0" "$@"
fi
SCENARIO=${1:-demo}
# a scenario file given relative to where we were called from
if [ -f "$SCENARIO" ]; then
    SCENARIO=$(cd "$(dirname "$SCENARIO")" && pwd)/$(basename "$SCENARIO")
fi
cd "$(dirname "$0")/.."
./scripts/setup-deps.sh
JOBS=$(nproc 2>/dev/null || echo 2)
echo "demo: configuring and building the daemon and the platform stand-ins in build/ (log: build/demo-build.log)"
mkdir -p build
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRRM_TESTS=OFF -DRRM_BENCH=OFF >build/demo-build.log 2>&1 ||
    { tail -n 30 build/demo-build.log; echo "demo: configuration failed"; exit 1; }

# The programs the simulated access point runs. A component that is not in
# the tree yet (or does not build) is left out, and the demo says so.
TARGETS="simscen sim_pause rrm ubusd ubus_cli dbctl sta_pub"
if ! cmake --build build -j "$JOBS" --target $TARGETS >>build/demo-build.log 2>&1; then
    for t in $TARGETS; do
        cmake --build build -j "$JOBS" --target "$t" >>build/demo-build.log 2>&1 ||
            echo "demo: could not build $t (see build/demo-build.log)"
    done
fi
exec sh sim/rrm-sim --build build run "$SCENARIO" "$(pwd)/build/demo-run"
