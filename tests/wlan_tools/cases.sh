#!/bin/sh
# Plays cases.txt (see its head). Needs the build tree's dbctl, wlan_metrics,
# wlan_top and ubusd in $B (the build folder), promtool and sqlite3.
set -u
for p in promtool sqlite3; do
    command -v $p >/dev/null || { echo "skipped: $p is not installed (scripts/setup-deps.sh)"; exit 77; }
done
B=${RRM_BINARY_DIR:?}; HERE=$(dirname "$0")
T=$(mktemp -d); trap 'kill $pids 2>/dev/null; rm -rf "$T"' EXIT
pids=""; fails=0; n=0
make_db() {  # $1: setup, in a new folder $T/c
    rm -rf "$T/c"; mkdir "$T/c"; db=$T/c/s.db; sock=$T/c/nobus
    case $1 in
    stations|badnum|bus|empty)
        export STATUSDB_PATH="$db"
        [ "$1" = empty ] && { "$B/platform/statusdb/dbctl" --show >/dev/null; return; }
        grep -v '^#' "$HERE/stations.txt" | while read -r words; do
            eval "\"$B/platform/statusdb/dbctl\" $words" >/dev/null || echo "setup failed: $words"
        done
        [ "$1" = badnum ] && "$B/platform/statusdb/dbctl" -t STA_STATISTIC-00:11:22:33:44:55 \
            -k 3c:00:00:00:00:01 -f SIG_RSSI -s abc >/dev/null
        if [ "$1" = bus ]; then
            sock=$T/c/bus.sock; "$B/platform/ubus/ubusd" -s "$sock" & pids="$pids $!"
            i=0; while [ ! -S "$sock" ] && [ $i -lt 100 ]; do sleep 0.05; i=$((i + 1)); done
        fi ;;
    damaged) head -c 8192 /dev/urandom > "$db" ;;
    locked)
        make_db stations; sqlite3 "$db" "PRAGMA wal_checkpoint(TRUNCATE)" >/dev/null
        # A second writer in exclusive mode keeps its lock until it ends.
        mkfifo "$T/c/hold"
        { echo "PRAGMA locking_mode=EXCLUSIVE; BEGIN EXCLUSIVE; UPDATE db_key SET name = name;"
          cat "$T/c/hold"; } | sqlite3 "$db" >/dev/null & pids="$pids $!"
        exec 9>"$T/c/hold"; sleep 0.3 ;;
    esac
}
while IFS='|' read -r setup cmd status err out; do
    case $setup in '#'*|'') continue ;; esac
    n=$((n + 1))
    # The columns' blanks trimmed: each is one word, or (cmd) words split below.
    # shellcheck disable=SC2086
    { set -- $setup; setup=$*; set -- $cmd; cmd=$*; set -- $status; status=$*; }
    err=$(printf "%s" "$err" | sed 's/^ *//; s/ *$//'); out=$(printf "%s" "$out" | sed 's/^ *//; s/ *$//')
    make_db "$setup"
    before=$(md5sum < "$db" 2>/dev/null)
    # shellcheck disable=SC2086 # the command line is the case's words
    set -- $cmd; prog=$1; shift
    STATUSDB_PATH=$db "$B/tools/$prog/$prog" --db "$db" -s "$sock" "$@" >"$T/out" 2>"$T/err"
    rc=$?; exec 9>&-
    why=""
    [ "$rc" = "$status" ] || why="exit $rc, not $status"
    if [ "$err" = - ]; then [ -s "$T/err" ] && why="$why; standard error not empty"
    elif ! grep -Eq -- "$err" "$T/err" || grep -vq "^$prog: " "$T/err"; then why="$why; standard error"; fi
    if [ "$out" = promtool ]; then promtool check metrics < "$T/out" >"$T/lint" 2>&1 || why="$why; promtool: $(cat "$T/lint")"
    elif [ "$out" != - ] && ! grep -Eq -- "$out" "$T/out"; then why="$why; no line of standard output matches"; fi
    [ "$before" = "$(md5sum < "$db" 2>/dev/null)" ] || why="$why; the database file changed"
    if [ -n "$why" ]; then
        fails=$((fails + 1))
        printf 'FAIL case %s (%s | %s): %s\n--- stderr\n%s\n--- stdout\n%s\n' "$n" "$setup" "$cmd" "$why" \
            "$(cat "$T/err")" "$(head -20 "$T/out")"
    fi
    # shellcheck disable=SC2086 # one word per process id
    kill $pids 2>/dev/null; wait 2>/dev/null; pids=""
done < "$HERE/cases.txt"
echo "$n cases, $fails failed"
[ "$fails" = 0 ]
