// Event path benchmark: N station associations handed to the station-library
// callback, each recorded in the status database (two commands, the common
// log line), timed one by one. Printed beside the status database's own
// write rates measured in the same run on a file of their own, with this
// process's resident memory at the end.
//
// usage: event_path_bench [COUNT]   (default 2000; files in a temporary folder)
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "conf_init.h"
#include "write_rates.h"
#include "wlan.h"
#include "association.h"

namespace {

double now_us()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) * 1e6 + static_cast<double>(ts.tv_nsec) / 1e3;
}

void create_tables()
{
    parser_module *db = parser_open("dbcmd");
    void *client = db->init_sock(0);
    char reply[MAX_BUF_LEN];
    for (const char *prefix :
         {TABLE_PREFIX, STA_STATISTIC_TABLE_PREFIX, MESH_STA_STATISTIC_TABLE_PREFIX}) {
        char table[WLAN_NAME_LEN];
        snprintf(table, sizeof table, "%s-%s", prefix, wtp_mac_str);
        db->gen_cmd(client, reply, "dbctl", "-a", table, (char *)0);
    }
    db->close_sock(client, 0);
}

}  // namespace

int main(int argc, char **argv)
{
    const int count = argc > 1 ? atoi(argv[1]) : 2000;
    if (count <= 0) {
        fprintf(stderr, "usage: event_path_bench [COUNT]\n");
        return 2;
    }
    const char *tmp = getenv("TMPDIR");
    std::string dir = std::string(tmp && *tmp ? tmp : "/tmp") + "/event-path-bench-XXXXXX";
    if (mkdtemp(dir.data()) == nullptr) {
        perror("mkdtemp");
        return 1;
    }
    unsetenv("STATUSDB_TRACE");
    setenv("COMMON_LOG_DIR", dir.c_str(), 1);

    // The limits first, on a file of their own: measured after the event
    // path, they would share the machine with the checkpoints of its log.
    setenv("STATUSDB_PATH", (dir + "/limits.db").c_str(), 1);
    const double raw = statusdb_bench::raw_upsert_rate(count);
    const double per_client = statusdb_bench::client_command_rate(count);
    setenv("STATUSDB_PATH", (dir + "/associations.db").c_str(), 1);
    const double raw_associations = statusdb_bench::raw_association_rate(count);

    setenv("STATUSDB_PATH", (dir + "/events.db").c_str(), 1);
    snprintf(wtp_mac_str, sizeof wtp_mac_str, "%s", "00:11:22:33:44:55");
    create_tables();

    std::vector<double> latency;
    latency.reserve(static_cast<size_t>(count));
    const double t0 = now_us();
    for (int i = 0; i < count; ++i) {
        sta_module_msg m = bench_association(i, 0x02);
        const double a = now_us();
        sta_evt_proc(&m, nullptr);
        latency.push_back(now_us() - a);
    }
    const double total_s = (now_us() - t0) / 1e6;
    std::sort(latency.begin(), latency.end());
    auto pct = [&](double p) {
        size_t at = static_cast<size_t>(p * static_cast<double>(latency.size() - 1));
        return latency[at];
    };

    FILE *out = stdout;
    fprintf(out, "event path: %d associations through sta_evt_proc\n", count);
    fprintf(out, "  events/s            %10.0f\n", count / total_s);
    fprintf(out, "  latency p50         %10.1f us\n", pct(0.50));
    fprintf(out, "  latency p99         %10.1f us\n", pct(0.99));
    fprintf(out, "  latency max         %10.1f us\n", latency.back());
    fprintf(out, "status database, same run (%d writes of %d fields):\n", count,
            statusdb_bench::kFields);
    fprintf(out, "  client command/s    %10.0f  (init_sock, gen_cmd, close_sock each)\n",
            per_client);
    fprintf(out, "  raw upsert/s        %10.0f  (the limit)\n", raw);
    fprintf(out, "  raw association/s   %10.0f  (a new station's key and fields, in two transactions)\n",
            raw_associations);
    if (raw > 0) {
        fprintf(out, "  client commands at %.1f%% of the raw limit\n", 100.0 * per_client / raw);
        fprintf(out, "  event path at %.1f%% of the raw limit\n", 100.0 * count / total_s / raw);
        fprintf(out, "  raw associations at %.1f%% of the raw limit\n", 100.0 * raw_associations / raw);
    }
    long rss = 0, anon = 0;
    statusdb_bench::self_memory_kib(&rss, &anon);
    fprintf(out, "this process (the event path in it): RSS %ld KiB, private anonymous (RssAnon) %ld KiB\n", rss,
            anon);
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
    return 0;
}
