#!/bin/sh
# End to end: the simulated access point plays metrics.scn; wlan_metrics
# inside it writes the textfile every second; node_exporter (textfile
# collector only) and a Prometheus server, both on loopback with their own
# temporary storage, scrape it; Prometheus's query API must give a station's
# signal and a radio's utilisation as the database holds them. Needs root.
set -u
[ "$(id -u)" = 0 ] || { echo "skipped: needs root for the simulated access point"; exit 77; }
for p in prometheus prometheus-node-exporter curl; do
    command -v $p >/dev/null || { echo "skipped: $p is not installed (scripts/setup-deps.sh)"; exit 77; }
done
S=${RRM_SOURCE_DIR:?}; B=${RRM_BINARY_DIR:?}; SIM="sh $S/sim/rrm-sim --build $B"
T=$(mktemp -d); ST=$T/ap; pids=""
trap 'kill $pids 2>/dev/null; wait; $SIM stop "$ST" >/dev/null 2>&1; rm -rf "$T"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
free_port() {  # a loopback port nobody listens on
    while :; do
        p=$(shuf -i 20000-39999 -n 1)
        ss -ltnH "sport = :$p" | grep -q . || { echo "$p"; return; }
    done
}
$SIM start "$S/tests/wlan_tools/metrics.scn" "$ST" >"$T/sim.out" 2>&1 || fail "start: $(cat "$T/sim.out")"
$SIM play "$ST" >>"$T/sim.out" 2>&1 || fail "play: $(cat "$T/sim.out")"
mkdir -p "$ST/tmp/prom"
inb=$(dirname "$(cat "$ST/inside-path")")/build
$SIM exec "$ST" "$inb/tools/wlan_metrics/wlan_metrics" --textfile /tmp/prom --every 1 >"$T/metrics.out" 2>&1 &
pids="$pids $!"

ne=$(free_port)
prometheus-node-exporter --web.listen-address="127.0.0.1:$ne" --collector.disable-defaults \
    --collector.textfile --collector.textfile.directory="$ST/tmp/prom" >"$T/ne.out" 2>&1 &
pids="$pids $!"
pp=$(free_port)
cat >"$T/prometheus.yml" <<YML
global: { scrape_interval: 1s, evaluation_interval: 1s }
scrape_configs:
  - job_name: ap
    static_configs: [ { targets: ['127.0.0.1:$ne'] } ]
YML
prometheus --config.file="$T/prometheus.yml" --storage.tsdb.path="$T/tsdb" \
    --web.listen-address="127.0.0.1:$pp" --storage.tsdb.retention.time=1h >"$T/prom.out" 2>&1 &
pids="$pids $!"

# The value of QUERY's first sample, once Prometheus has one (at most 40 s).
query() {
    i=0
    while [ $i -lt 80 ]; do
        v=$(curl -sfG "http://127.0.0.1:$pp/api/v1/query" --data-urlencode "query=$1" |
            sed -n 's/.*"value":\[[0-9.]*,"\([^"]*\)"\].*/\1/p')
        [ -n "$v" ] && { echo "$v"; return 0; }
        i=$((i + 1)); sleep 0.5
    done
    echo "no sample"; return 1
}
db() { $SIM db "$ST" -t "$1-02:00:00:00:dd:01" -k "$2" -g "$3"; }

sig=$(query 'wifi_station_signal_dbm{job="ap",ifname="wlan-1-1",mac="3c:00:00:00:00:01"}')
[ "$sig" = "$(db STA_STATISTIC 3c:00:00:00:00:01 SIG_RSSI)" ] || fail "signal $sig, the database holds $(db STA_STATISTIC 3c:00:00:00:00:01 SIG_RSSI)"
mesh=$(query 'wifi_mesh_station_signal_dbm{mac="3c:00:00:00:00:03"}')
[ "$mesh" = "$(db MESH_STA_STATISTIC 3c:00:00:00:00:03 SIG_RSSI)" ] || fail "mesh signal $mesh"
util=$(query 'wifi_radio_channel_utilization_ratio{radio="wifi0"} * 100')
[ "$util" = "$(db WLAN SLOT-0 CH_UTIL)" ] || fail "utilisation $util %, the database holds $(db WLAN SLOT-0 CH_UTIL)"
count=$(query 'sum(wifi_stations)')
[ "$count" = 3 ] || fail "$count stations in wifi_stations"
up=$(query 'wlan_daemon_up')
written=$(query 'wlan_daemon_station_writes_total')
[ "$up/$written" = 1/3 ] || fail "daemon up $up, $written station records written (1 and 3 expected)"
# A daemon that does not answer (stopped): its object is there, the call
# runs out of time; one line, status 1, the exposition says so.
in=$(cat "$ST/inside-path")
$SIM exec "$ST" sh -c "kill -STOP \$(cat $in/rrm.pid)"
$SIM exec "$ST" "$inb/tools/wlan_metrics/wlan_metrics" >"$T/stopped.prom" 2>"$T/stopped.err"
rc=$?
$SIM exec "$ST" sh -c "kill -CONT \$(cat $in/rrm.pid)"
if ! { [ $rc = 1 ] && grep -qx 'wlan_daemon_up 0' "$T/stopped.prom" &&
    grep -q '^wlan_metrics: daemon not answering: wlan_module status' "$T/stopped.err"; }; then
    fail "stopped daemon: exit $rc, $(cat "$T/stopped.err")"
fi
echo "Prometheus: signal $sig dBm, mesh signal $mesh, utilisation $util %, $count stations: as in the database;" \
    "the daemon answers, 3 station records written; a stopped daemon: $(cat "$T/stopped.err")"
