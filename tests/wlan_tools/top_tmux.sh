#!/bin/sh
# wlan_top in a real terminal (tmux): the screen of a database with known
# stations, sorting, filtering, the key help, a resize to 80x24, and the
# terminal given back after q and after SIGTERM.
set -u
command -v tmux >/dev/null || { echo "skipped: tmux is not installed (scripts/setup-deps.sh)"; exit 77; }
B=${RRM_BINARY_DIR:?}; HERE=$(dirname "$0")
T=$(mktemp -d); TM="tmux -S $T/tmux.sock"
trap '$TM kill-server 2>/dev/null; rm -rf "$T"' EXIT
export STATUSDB_PATH="$T/s.db" COMMON_LOG_DIR="$T"
grep -v '^#' "$HERE/stations.txt" | while read -r words; do eval "\"$B/platform/statusdb/dbctl\" $words" >/dev/null; done
echo "2026-01-01 10:00:00 WLAN MODULE STA ASSO event, iface:wlan-1-1, mac:3c:00:00:00:00:01" > "$T/WLAN_MODULE_DB_LOG"
fails=0
screen() { $TM capture-pane -p -t w; }
# Waits up to 10 s for a screen line matching $1.
see() {
    i=0
    while ! screen | grep -Eq -- "$1"; do
        i=$((i + 1)); [ $i -gt 100 ] && { echo "FAIL: no line matches '$1':"; screen; fails=$((fails + 1)); return 1; }
        sleep 0.1
    done
}
run_top() {
    $TM send-keys -t w "sh -c 'echo \$\$ > $T/pid; exec $B/tools/wlan_top/wlan_top -s $T/nobus -d 1'; echo EXIT=\$?; stty -a | tr ' ' '\\n' | grep -cx -e icanon -e echo | sed 's/^/TERMINAL /'" Enter
}
$TM new-session -d -s w -x 120 -y 30 "env PS1='$ ' sh"
run_top
see '^STATIONS 3 of 3, sorted by MAC$'
see '^3c:00:00:00:00:01 192.168.10.21 +wlan-1-1 Office +WPA2-PSK +2.4/6 +47 +144M'
see '^LAST EVENTS'
see 'STA ASSO event, iface:wlan-1-1'
see 'daemon not answering'
# six steps right: the signal, largest first
$TM send-keys -t w '>' '>' '>' '>' '>' '>'
see 'sorted by SIG \(descending\)'
screen | grep -E '^3c:' | awk '{print $1}' | tr '\n' ' ' | grep -q '01 3c:00:00:00:00:03 3c:00:00:00:00:02' ||
    { echo "FAIL: rows not sorted by signal"; screen; fails=$((fails + 1)); }
$TM send-keys -t w '<'
see 'sorted by BAND/CH$'
$TM send-keys -t w / 'Lab' Enter
see '^STATIONS 1 matching "Lab" of 3'
[ "$(screen | grep -c '^3c:')" = 1 ] || { echo "FAIL: the filter left $(screen | grep -c '^3c:') rows"; fails=$((fails + 1)); }
$TM send-keys -t w '?'
see 'this help; any key closes it'
$TM send-keys -t w x
$TM resize-window -t w -x 80 -y 24
see '^MAC +IP +IFACE +SSID +BAND/CH +SIG +AUTH M$'
[ "$(screen | awk 'length > 80' | wc -l)" = 0 ] || { echo "FAIL: lines wider than 80"; fails=$((fails + 1)); }
$TM send-keys -t w q
see '^EXIT=0$' && see '^TERMINAL 2$'
# SIGTERM: the same way out
$TM send-keys -t w clear Enter
run_top
see '^STATIONS 3 of 3'
kill -TERM "$(cat "$T/pid")"
see '^EXIT=0$' && see '^TERMINAL 2$'
[ $fails = 0 ] && echo "wlan_top in tmux: all checks passed"
[ $fails = 0 ]
