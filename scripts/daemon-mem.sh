#!/bin/sh
# daemon-mem.sh [BUILD [PASSES [SCENARIO]]]: the daemon's private memory.
#
# Starts the simulated access point with the daemon of BUILD (default build),
# plays SCENARIO (default the demo's), then steps PASSES collection passes
# (default 5) and prints the daemon's RssAnon (its private resident memory)
# and VmHWM (peak resident) after each. Needs root, like the simulator.
#
# Under qemu-user (an AArch64 build run through scripts/aarch64-ns.sh) the
# figures are the emulator's process, holding the daemon and the emulator's
# own state (translated code, its heap): an upper bound of the daemon's.
set -eu
cd "$(dirname "$0")/.."
B=$(cd "${1:-build}" && pwd)
PASSES=${2:-5}
SCEN=${3:-sim/scenarios/demo.scn}
ST=$B/mem-run
SIM="sh sim/rrm-sim"
trap '$SIM stop "$ST" >/dev/null 2>&1 || true' EXIT
trap 'exit 130' INT TERM HUP

$SIM --build "$B" start "$SCEN" "$ST" >/dev/null
pid=$(cat "$ST/rrm.pid")
mem() {
    # The daemon's own /proc entry, seen inside the access point.
    $SIM exec "$ST" cat "/proc/$pid/status" |
        awk -v at="$1" '$1 == "RssAnon:" { a = $2 } $1 == "VmHWM:" { h = $2 }
            END { printf "  %-16s RssAnon %6d KiB   VmHWM %6d KiB\n", at, a, h }'
}
exe=$($SIM exec "$ST" readlink "/proc/$pid/exe")
echo "daemon memory ($B/rrm/rrm, process $exe):"
mem "started"
$SIM play "$ST" >/dev/null
mem "scenario played"
i=1
while [ "$i" -le "$PASSES" ]; do
    $SIM pass "$ST" 1 >/dev/null
    mem "pass $i"
    i=$((i + 1))
done
