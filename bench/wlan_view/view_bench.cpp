// What wlan_metrics and wlan_top cost: one exposition and one plain-text
// snapshot of a database with 0, 256 and 1024 stations (wall time, the
// median of five, and the private anonymous memory of a process that did
// nothing else), and what a reader running the exposition every 100 ms does
// to the event path's latency: associations through the station-library
// callback with and without such a reader, in alternating rounds of one run
// (up to 1024 stations, then associations of the same stations again).
//
// usage: view_bench [--sizes 0,256,1024] [--events 4000]
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "conf_init.h"
#include "exposition.h"
#include "statusdb.h"
#include "top_view.h"
#include "../event_path/association.h"
#include "wlan.h"
#include "wlan_view.h"
#include "write_rates.h"

namespace {

double now_ms()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

void run(parser_module *, void *client, std::vector<std::string> words)
{
    std::vector<const char *> w{"dbctl"};
    for (const std::string &s : words)
        w.push_back(s.c_str());
    char reply[MAX_BUF_LEN];
    statusdb::gen_cmd_words(client, reply, w.size(), w.data());
}

// A database with two radio slots and N stations after a collection pass,
// a quarter of them on the mesh table.
void make_db(int n)
{
    parser_module *db = parser_open("dbcmd");
    void *c = db->init_sock(0);
    const std::string ap = wtp_mac_str;
    for (int slot = 0; slot < 2; ++slot) {
        std::vector<std::string> w = {"-a", "WLAN-" + ap, "-i", "SLOT-" + std::to_string(slot)};
        for (const char *f : {"ACTIVATE", "TX_FRAME_CNT", "RX_FRAME_CNT", "TX_BYTE_PER_SEC", "RX_BYTE_PER_SEC",
                              "RX_ERR_RATE", "TX_ERR_RATE", "TX_FRAME_BYTES", "RX_FRAME_BYTES", "TX_POWER",
                              "FCS_ERR_CNT", "RETRY_CNT", "DCS_CHANNEL", "EXT_OFFSET", "VHT_CH_FREQ", "VHT_CH_FREQ2",
                              "CH_UTIL", "CH_WIDTH"})
            w.insert(w.end(), {"-f", f, "-s", "12"});
        run(db, c, w);
    }
    run(db, c, {"-a", "STA_STATISTIC-" + ap});
    run(db, c, {"-a", "MESH_STA_STATISTIC-" + ap});
    for (int i = 0; i < n; ++i) {
        char mac[32];
        snprintf(mac, sizeof mac, "02:00:00:00:%02x:%02x", (i >> 8) & 0xff, i & 0xff);
        const bool mesh = i % 4 == 3;
        const std::string iface = mesh ? "wds-1-9" : "wlan-" + std::to_string(1 + i % 2) + "-1";
        std::vector<std::string> w = {"-t", (mesh ? "MESH_STA_STATISTIC-" : "STA_STATISTIC-") + ap, "-i", mac};
        const std::pair<const char *, std::string> fields[] = {
            {"STA_ASSO_FLAG", "0"}, {"IFACE", iface}, {"VID", "1"}, {"MAC", mac}, {"AUTHENTICATION", "1"},
            {"ASSO_TIME", "1700000000"}, {"SSID", "BenchNet"}, {"RADIO_ID", "1"}, {"WLAN_INDEX", "1"},
            {"STA_CHANNEL", "36"}, {"TX_RATE", "866M"}, {"RX_RATE", "780M"}, {"SIG_RSSI", "-51"},
            {"TX", "123456789"}, {"RX", "98765432"}, {"SECURITY", "WPA2-PSK"}, {"DISPLAY_SSID", ""},
            {"BAND", "5GHz"}, {"STA_IP_ADDR", "335653056"}, {"CHMODE", "VHT80"}, {"DOT11_FEATURES", "11ac"},
            {"SSID_PROFILE_NAME", "bench"}, {"SEC_PROFILE_NAME", "bench-psk"}};
        for (const auto &[f, v] : fields)
            w.insert(w.end(), {"-f", f, "-s", v});
        run(db, c, w);
    }
    db->close_sock(c, 0);
}

wlan_view::Options reader_options()
{
    wlan_view::Options opt;
    opt.bus_socket = "/nonexistent/ubus.sock";  // no daemon: the call fails at once
    return opt;
}

// One exposition (EXPOSITION) or one plain-text snapshot, in a child process
// that does nothing else: its time in ms and its RssAnon in KiB.
void measure_once(bool exposition, double *ms, double *cpu_ms, long *anon_kib)
{
    int fds[2];
    if (pipe(fds) != 0)
        return;
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        const double t0 = now_ms();
        const wlan_view::Snapshot snap = wlan_view::take(reader_options());
        std::string out;
        if (exposition) {
            out = wlan_metrics::exposition(snap, true, nullptr);
        } else {
            wlan_top::Rates none;
            for (const std::string &l : wlan_top::layout(snap, none, {}, 120, 0).lines)
                out += l + "\n";
        }
        const double t = now_ms() - t0;
        rusage ru;
        getrusage(RUSAGE_SELF, &ru);
        const double cpu = static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) * 1e3 +
                           static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e3;
        long rss = 0, anon = 0;
        statusdb_bench::self_memory_kib(&rss, &anon);
        char msg[64];
        const int len = snprintf(msg, sizeof msg, "%f %f %ld %zu", t, cpu, anon, out.size());
        if (write(fds[1], msg, static_cast<size_t>(len)) < 0)
            _exit(1);
        _exit(0);
    }
    close(fds[1]);
    char msg[64] = {};
    if (read(fds[0], msg, sizeof msg - 1) < 0)
        msg[0] = '\0';
    close(fds[0]);
    waitpid(pid, nullptr, 0);
    sscanf(msg, "%lf %lf %ld", ms, cpu_ms, anon_kib);
}

// A reader process: the exposition every 100 ms until killed.
pid_t start_reader()
{
    const pid_t pid = fork();
    if (pid == 0) {
        for (;;) {
            const wlan_view::Snapshot snap = wlan_view::take(reader_options());
            const std::string out = wlan_metrics::exposition(snap, true, nullptr);
            timespec pause = {0, 100 * 1000 * 1000};
            nanosleep(&pause, nullptr);
        }
    }
    return pid;
}

constexpr int kEventStations = 1024;

double p99(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[static_cast<size_t>(0.99 * static_cast<double>(v.size() - 1))];
}

}  // namespace

int main(int argc, char **argv)
{
    std::vector<int> sizes = {0, 256, 1024};
    int events = 4000;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (strcmp(argv[i], "--sizes") == 0) {
            sizes.clear();
            std::stringstream in(argv[i + 1]);
            for (std::string s; std::getline(in, s, ',');)
                sizes.push_back(atoi(s.c_str()));
        } else if (strcmp(argv[i], "--events") == 0) {
            events = atoi(argv[i + 1]);
        }
    }
    const char *tmp = getenv("TMPDIR");
    std::string dir = std::string(tmp && *tmp ? tmp : "/tmp") + "/view-bench-XXXXXX";
    if (mkdtemp(dir.data()) == nullptr) {
        perror("mkdtemp");
        return 1;
    }
    unsetenv("STATUSDB_TRACE");
    setenv("COMMON_LOG_DIR", dir.c_str(), 1);
    snprintf(wtp_mac_str, sizeof wtp_mac_str, "%s", "00:11:22:33:44:55");

    printf("one read of the status database and its output (no daemon on the bus), median of 5 runs;\n"
           "wall and CPU time in ms, private anonymous memory (RssAnon) of a process doing only that:\n");
    printf("  stations   exposition wall    cpu  RssAnon KiB   --once wall    cpu  RssAnon KiB\n");
    for (int n : sizes) {
        const std::string path = dir + "/stations-" + std::to_string(n) + ".db";
        setenv("STATUSDB_PATH", path.c_str(), 1);
        make_db(n);
        double ms[2] = {}, cpu[2] = {};
        long anon[2] = {};
        for (int kind = 0; kind < 2; ++kind) {
            std::vector<double> times, cpus;
            for (int r = 0; r < 5; ++r) {
                double t = 0, c = 0;
                measure_once(kind == 0, &t, &c, &anon[kind]);
                times.push_back(t);
                cpus.push_back(c);
            }
            std::sort(times.begin(), times.end());
            std::sort(cpus.begin(), cpus.end());
            ms[kind] = times[2];
            cpu[kind] = cpus[2];
        }
        printf("  %8d   %15.2f %6.2f  %11ld   %11.2f %6.2f  %11ld\n", n, ms[0], cpu[0], anon[0], ms[1], cpu[1],
               anon[1]);
    }

    // The event path, rounds without and with a reader alternating.
    setenv("STATUSDB_PATH", (dir + "/events.db").c_str(), 1);
    make_db(0);
    std::vector<double> alone, read;
    const int rounds = 8, per_round = std::max(1, events / rounds);
    int next = 0;
    for (int r = 0; r < rounds; ++r) {
        const bool with_reader = r % 2 == 1;
        const pid_t reader = with_reader ? start_reader() : 0;
        if (with_reader) {
            timespec settle = {0, 150 * 1000 * 1000};
            nanosleep(&settle, nullptr);
        }
        for (int i = 0; i < per_round; ++i) {
            // 1024 stations at most: the size the exposition's goal is set for.
            sta_module_msg m = bench_association(next++ % kEventStations, 0x06);
            const double a = now_ms();
            sta_evt_proc(&m, nullptr);
            (with_reader ? read : alone).push_back((now_ms() - a) * 1000);
        }
        if (reader > 0) {
            kill(reader, SIGKILL);
            waitpid(reader, nullptr, 0);
        }
    }
    const double a = p99(alone), b = p99(read);
    printf("event path: %d associations through sta_evt_proc, %d rounds alternating\n", next, rounds);
    printf("  p99 without a reader   %8.1f us\n", a);
    printf("  p99 with a reader      %8.1f us  (the exposition every 100 ms, up to %d stations)\n", b,
           std::min(next, kEventStations));
    if (a > 0)
        printf("  with the reader at %.0f%% of the p99 without\n", 100.0 * b / a);
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
    return 0;
}
