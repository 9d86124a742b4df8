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
./scripts/setup-deps.sh
JOBS=$(nproc 2>/dev/null || echo 2)
LOG=build/demo-build.log
TTY=0
[ -t 1 ] && TTY=1

# build <target> <label>: builds one target with the whole output in the log
# and its progress (percentage, or step count) on the terminal; the build's
# status.
build() {
    { cmake --build build -j "$JOBS" --target "$1" 2>&1; echo $? > build/.demo-build-rc; } |
        tee -a "$LOG" | awk -v tty="$TTY" -v label="$2" '
            function show(p) {
                if (p == last || !tty) return
                printf "\rdemo: building %-28s %3d%%", label, p
                last = p
                fflush()
            }
            BEGIN { last = -1; show(0) }
            match($0, /^\[ *[0-9]+%\]/) { show(substr($0, RSTART + 1, RLENGTH - 3) + 0) }
            match($0, /^\[[0-9]+\/[0-9]+\]/) {
                split(substr($0, 2, RLENGTH - 2), n, "/")
                if (n[2] > 0) show(int(100 * n[1] / n[2]))
            }'
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
if cmake --build build --target help 2>/dev/null | grep -q -w wlan_evt; then
    TARGETS="$TARGETS wlan_evt"
fi
# shellcheck disable=SC2086
set -- $TARGETS
i=0
FAILED=""
for t in $TARGETS; do
    i=$((i + 1))
    if build "$t" "$t ($i of $#)"; then
        [ $TTY -eq 1 ] || echo "demo: built $t ($i of $#)"
    else
        [ $TTY -eq 0 ] || echo
        echo "demo: could not build $t (see $LOG)"
        FAILED="$FAILED $t"
    fi
done
[ $TTY -eq 0 ] || printf '\r%-60s\r' ""
echo "demo: built (log: $LOG)"
# The simulator tears the access point down however the run ends (Ctrl-C too).
rc=0
sh sim/rrm-sim --build build run "$SCENARIO" "$(pwd)/build/demo-run" || rc=$?
if [ -n "$FAILED" ]; then
    echo "demo: failed: not built:$FAILED (see $LOG)"
    exit 1
fi
exit $rc
