#!/bin/sh
# The main job: builds the daemon and the platform stand-ins, sets up the
# simulated access point, plays a scenario (default: sim/scenarios/demo.scn)
# showing after each step what changed in the status tables, and tears
# everything down.
#
#   ./scripts/demo.sh [scenario-name-or-path]
#
# Needs root (the access point lives in private namespaces). One demo at a
# time per tree: a second one is refused while the first runs.
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
mkdir -p build
# Held until the demo ends (the simulator inherits it).
exec 8>>build/.demo.lock
if command -v flock >/dev/null && ! flock -n 8; then
    echo "demo: another demo is running in this tree ($(pwd)/build); wait for it to end or stop it (Ctrl-C)" >&2
    exit 1
fi
trap 'echo; echo "demo: interrupted"; exit 130' INT TERM HUP
./scripts/setup-deps.sh
JOBS=$(nproc 2>/dev/null || echo 2)
LOG=build/demo-build.log
TTY=0
[ -t 1 ] && TTY=1

# build <targets...>: builds them in one go with the whole output in the log
# and the progress on the terminal: the target being built, its number, and
# its percentage (Makefiles) or the build's step count (Ninja); the status of
# the build.
build() {
    { cmake --build build -j "$JOBS" --target "$@" 2>&1; echo $? > build/.demo-build-rc; } |
        tee -a "$LOG" | awk -v tty="$TTY" -v goals="$*" '
            function show(text) {
                if (text == last) return
                if (tty) printf "\rdemo: building %-50s", text
                last = text
                fflush()
            }
            function goal() { return g[i] " (" i " of " n ")" }
            BEGIN { n = split(goals, g, " "); i = 1; show(goal()) }
            match($0, /^\[ *[0-9]+%\]/) { show(goal() " " (substr($0, RSTART + 1, RLENGTH - 3) + 0) "%") }
            match($0, /^\[[0-9]+\/[0-9]+\]/) { show("step " substr($0, 2, RLENGTH - 2)) }
            $0 ~ "Built target " g[i] "$" && i <= n {
                if (!tty) print "demo: built " goal()
                i++
                if (i <= n) show(goal())
            }
            END { if (tty) printf "\r%-70s\r", "" }'
    rc=$(cat build/.demo-build-rc 2>/dev/null || echo 1)
    rm -f build/.demo-build-rc
    return "$rc"
}

echo "demo: configuring and building the daemon and the platform stand-ins in build/ (log: $LOG)"
: > "$LOG"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRRM_TESTS=OFF -DRRM_BENCH=OFF >>"$LOG" 2>&1 ||
    { tail -n 30 "$LOG"; echo "demo: configuration failed (log: $LOG)"; exit 1; }

# The programs the simulated access point runs, and the tools the README's
# by-hand section uses. A component that is not in the tree yet (or does not
# build) is left out, and the demo says so.
TARGETS="simscen sim_pause rrm ubusd ubus_cli dbctl sta_pub sta_mon"
for t in wlan_evt wlan_top; do
    if cmake --build build --target help 2>/dev/null | grep -q -w "$t"; then
        TARGETS="$TARGETS $t"
    fi
done
FAILED=""
# shellcheck disable=SC2086
if ! build $TARGETS; then
    # which ones: each on its own
    for t in $TARGETS; do
        build "$t" >/dev/null || FAILED="$FAILED $t"
    done
    echo "demo: could not build:$FAILED (see $LOG)"
fi
echo "demo: build finished (log: $LOG)"
# The simulator tears the access point down however the run ends (Ctrl-C
# too); this script waits for it to finish doing so. What the run shows after
# the last step, while the access point still runs, is run_end in sim/rrm-sim.
INTERRUPTED=0
trap 'INTERRUPTED=1' INT TERM HUP
rc=0
sh sim/rrm-sim --build build run "$SCENARIO" "$(pwd)/build/demo-run" || rc=$?
[ $INTERRUPTED -eq 0 ] || exit 130
if [ -n "$FAILED" ]; then
    echo "demo: failed: not built:$FAILED (see $LOG)"
    exit 1
fi
exit $rc
