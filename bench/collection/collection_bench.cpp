// Collection benchmark.
//
// 1. Per-pass cost in the simulated access point (needs root): 3 radio slots,
//    0, 64, 256 and 1024 stations spread over the slots' VAPs. For each size
//    the daemon runs a warm-up pass (profiles and addresses looked up), then
//    measured passes: wall time of the pass, the daemon's own CPU, the CPU of
//    the commands it started, processes started per pass (counted in the
//    access point's PID namespace), and the daemon's resident memory: all of
//    it (RSS), its private anonymous part (RssAnon: heap, stacks, caches;
//    what the daemon itself costs beyond its shared program files) and the
//    peak. One size (the largest by default) is measured again with every
//    station's listing run anew (RRM_PASS_CACHE=off), the baseline that the
//    pass's reuse of its outputs is compared with.
// 2. Soak in the simulated access point: many passes (the pause is stepped,
//    not waited out) with the daemon's resident memory sampled along the way
//    (100 passes of 16 stations by default: each pass starts real processes).
// 3. Soak in-process under the leak checker: the collection pass run 1000
//    times against the real status database with the driver and shell
//    output canned through the command seam, then the real command runner
//    started and closed 2000 times; resident memory sampled, and a leak check
//    at the end when the build has one.
//
// usage: collection_bench [--sizes 0,64,256,1024] [--passes 3] [--baseline N|0]
//                         [--soak 100] [--soak-stations 16] [--local-soak 1000]
//                         [--no-sim]
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "conf_init.h"
#include "seam.h"
#include "wlan.h"
#include "wlan_periodic.h"

extern "C" int __lsan_do_recoverable_leak_check(void) __attribute__((weak));

// In a sanitizer build, freed memory is held back for a while to catch late
// uses; that would show as growth in the resident-memory samples, so this
// program (and the daemon it starts, through ASAN_OPTIONS) holds none back.
extern "C" const char *__asan_default_options(void) { return "quarantine_size_mb=0"; }

namespace fs = std::filesystem;

namespace {

double now_s()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

std::string slurp(const std::string &path)
{
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::string q(const std::string &w)
{
    std::string r = "'";
    for (char c : w)
        r += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return r + "'";
}

int sh(const std::string &cmd, std::string *out = nullptr)
{
    FILE *p = popen((cmd + " 2>&1").c_str(), "r");
    if (p == nullptr)
        return -1;
    std::string text;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        text.append(buf, n);
    int st = pclose(p);
    if (out != nullptr)
        *out = text;
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

long field_kb(const std::string &status, const char *name)
{
    size_t at = status.find(name);
    return at == std::string::npos ? -1 : atol(status.c_str() + at + strlen(name));
}

// CPU seconds from /proc/<pid>/stat: own (utime+stime) and of waited-for
// children (cutime+cstime).
bool cpu_of(int pid, double *self, double *children)
{
    std::string st = slurp("/proc/" + std::to_string(pid) + "/stat");
    size_t close = st.rfind(')');
    if (close == std::string::npos)
        return false;
    std::istringstream in(st.substr(close + 2));
    std::vector<std::string> f;
    std::string w;
    while (in >> w)
        f.push_back(w);
    if (f.size() < 15)
        return false;
    // Fields after the name: state is field 3, utime 14 ... cstime 17.
    const double hz = static_cast<double>(sysconf(_SC_CLK_TCK));
    *self = (atof(f[11].c_str()) + atof(f[12].c_str())) / hz;
    *children = (atof(f[13].c_str()) + atof(f[14].c_str())) / hz;
    return true;
}

// ---------------------------------------------------------------------------
// The simulated access point
// ---------------------------------------------------------------------------

struct Sim {
    std::string launcher, build, state, ap;
    std::string env;   // extra environment of the daemon, "NAME=value "
    int daemon = -1;  // host pid of the daemon
    int ns_init = -1; // host pid of the namespace's first process

    int start(const std::string &scenario_text)
    {
        fs::create_directories(state);
        std::string scen = state + ".scn";
        std::ofstream(scen) << scenario_text;
        std::string out;
        int rc = sh(env + "ASAN_OPTIONS=quarantine_size_mb=0 " + q(launcher) + " --build " + q(build) + " start " + q(scen) +
                        " " + q(state),
                    &out);
        if (rc != 0) {
            fprintf(stderr, "%s", out.c_str());
            return rc;
        }
        ns_init = atoi(slurp(state + "/ns.pid").c_str());
        daemon = find_daemon();
        return daemon > 0 ? 0 : -1;
    }
    void stop() { sh(q(launcher) + " stop " + q(state)); }
    int play() { return sh(q(launcher) + " play " + q(state)); }

    // The daemon is the process in the access point's PID namespace whose
    // namespace PID is the one the launcher recorded.
    int find_daemon()
    {
        const std::string want_ns = fs::read_symlink("/proc/" + std::to_string(ns_init) + "/ns/pid").string();
        const std::string ns_pid = std::to_string(atoi(slurp(state + "/rrm.pid").c_str()));
        for (const auto &e : fs::directory_iterator("/proc")) {
            const std::string name = e.path().filename().string();
            if (name.find_first_not_of("0123456789") != std::string::npos)
                continue;
            std::error_code ec;
            if (fs::read_symlink(e.path() / "ns/pid", ec).string() != want_ns || ec)
                continue;
            std::string status = slurp(e.path().string() + "/status");
            size_t at = status.find("NSpid:");
            if (at == std::string::npos)
                continue;
            std::istringstream in(status.substr(at + 6, status.find('\n', at) - at - 6));
            std::string host, inner;
            in >> host >> inner;
            if (inner == ns_pid)
                return atoi(name.c_str());
        }
        return -1;
    }

    // Processes created in the access point so far (its last PID).
    long last_pid()
    {
        std::string out;
        sh("nsenter -t " + std::to_string(ns_init) + " -p -m cat /proc/sys/kernel/ns_last_pid", &out);
        return atol(out.c_str());
    }

    // One collection pass, stepped by the pause protocol, timed closely.
    double pass()
    {
        const std::string paused = state + "/pause/paused";
        long p = atol(slurp(paused).c_str());
        const double t0 = now_s();
        std::ofstream(state + "/pause/release.new") << p << "\n";
        fs::rename(state + "/pause/release.new", state + "/pause/release");
        while (atol(slurp(paused).c_str()) <= p) {
            if (now_s() - t0 > 300)
                return -1;
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
        return now_s() - t0;
    }

    std::string status() { return slurp("/proc/" + std::to_string(daemon) + "/status"); }
};

std::string mac_of(int i)
{
    char b[32];
    snprintf(b, sizeof b, "3c:00:00:00:%02x:%02x", (i >> 8) & 0xff, i & 0xff);
    return b;
}

std::string scenario(const std::string &ap, int stations)
{
    std::ostringstream s;
    s << "title collection benchmark\nap " << ap << "\nslots 3\n";
    for (int r = 1; r <= 3; ++r) {
        for (int w = 1; w <= 2; ++w)
            s << "vap wlan-" << r << "-" << w << " 02:00:00:00:b" << r << ":" << w << "0 up ssid=Bench" << w
              << " ssid-profile=bench" << w << " security=WPA2-PSK sec-profile=bench-psk\n";
        s << "radio " << r << " channel=" << (r == 1 ? 6 : 36) << " txpower=20 chutil=30\n";
        s << "counters wlan-" << r << "-1 tx-frames=1000 rx-frames=2000 tx-bps=100 rx-bps=200 tx-bytes=300000 "
          << "rx-bytes=400000 tx-errs=5 rx-errs=6\n";
    }
    // Associations first, then the addresses: the simulator waits for the
    // daemon each time the events switch channel.
    auto iface = [](int i) { return "wlan-" + std::to_string(1 + i % 3) + "-" + std::to_string(1 + (i / 3) % 2); };
    s << "step 0 stations join\n";
    for (int i = 0; i < stations; ++i)
        s << "assoc " << mac_of(i) << " " << iface(i) << " ssid=Bench" << 1 + (i / 3) % 2 << " security=WPA2-PSK\n";
    for (int i = 0; i < stations; ++i)
        s << "ip " << mac_of(i) << " " << iface(i) << " 10.0." << (i >> 8) << "." << (1 + (i & 0xff) % 250) << "\n";
    // The driver's listings are laid out for the pass that ends the step.
    s << "pass\n";
    return s.str();
}

bool sim_available(const std::string &launcher, std::string *why)
{
    if (geteuid() != 0) {
        *why = "needs root";
        return false;
    }
    if (access(launcher.c_str(), X_OK) != 0) {
        *why = "no launcher at " + launcher;
        return false;
    }
    return true;
}

struct PassCost {
    bool ok = false;
    double wall = 0, self = 0, children = 0, procs = 0;
    long rss = 0, anon = 0, peak = 0;
};

// Warm-up pass, then PASSES measured ones, averaged.
PassCost measure(Sim sim, int n, int passes)
{
    PassCost c;
    if (sim.start(scenario(sim.ap, n)) != 0 || sim.play() != 0) {
        sim.stop();
        return c;
    }
    sim.pass();  // warm-up: profiles looked up once per association
    // Cost of reading the PID counter itself, to take it off.
    long a = sim.last_pid(), b = sim.last_pid();
    const long probe = b - a;
    double self0, child0, self1, child1;
    cpu_of(sim.daemon, &self0, &child0);
    long pid0 = sim.last_pid();
    for (int i = 0; i < passes; ++i)
        c.wall += sim.pass();
    long pid1 = sim.last_pid();
    cpu_of(sim.daemon, &self1, &child1);
    const double k = passes;
    c.wall /= k;
    c.self = (self1 - self0) / k;
    c.children = (child1 - child0) / k;
    c.procs = static_cast<double>(pid1 - pid0 - probe) / k;
    const std::string st = sim.status();
    c.rss = field_kb(st, "VmRSS:");
    c.anon = field_kb(st, "RssAnon:");
    c.peak = field_kb(st, "VmHWM:");
    c.ok = true;
    sim.stop();
    return c;
}

void print_cost(const std::string &label, const PassCost &c)
{
    if (!c.ok) {
        printf("%10s  (the simulation did not start)\n", label.c_str());
        return;
    }
    printf("%10s %9.3f %9.3f %9.3f %9.3f %10.1f %9ld %9ld %9ld\n", label.c_str(), c.wall, c.self + c.children,
           c.self, c.children, c.procs, c.rss, c.anon, c.peak);
    fflush(stdout);
}

void sim_sizes(Sim base, const std::vector<int> &sizes, int passes, int baseline)
{
    printf("\n== per pass in the simulated access point (3 slots), %d measured passes each ==\n", passes);
    printf("%10s %9s %9s %9s %9s %10s %9s %9s %9s\n", "stations", "wall s", "cpu s", "daemon s", "cmds s",
           "processes", "RSS KiB", "anon KiB", "peak KiB");
    PassCost kept;
    for (int n : sizes) {
        Sim sim = base;
        sim.state = base.state + "-" + std::to_string(n);
        PassCost c = measure(sim, n, passes);
        print_cost(std::to_string(n), c);
        if (n == baseline)
            kept = c;
    }
    if (baseline <= 0)
        return;
    Sim sim = base;
    sim.state = base.state + "-baseline";
    sim.env = "RRM_PASS_CACHE=off ";
    PassCost each = measure(sim, baseline, passes);
    print_cost(std::to_string(baseline) + "*", each);
    printf("* baseline: every station's listing run anew (RRM_PASS_CACHE=off)\n");
    if (kept.ok && each.ok && each.wall > 0 && each.self + each.children > 0)
        printf("at %d stations the pass takes %.1f%% of the baseline's wall time and %.1f%% of its CPU\n", baseline,
               100.0 * kept.wall / each.wall, 100.0 * (kept.self + kept.children) / (each.self + each.children));
}

void sim_soak(Sim sim, int passes, int stations)
{
    printf("\n== soak in the simulated access point: %d passes, %d stations ==\n", passes, stations);
    sim.state += "-soak";
    if (sim.start(scenario(sim.ap, stations)) != 0 || sim.play() != 0) {
        printf("(the simulation did not start)\n");
        sim.stop();
        return;
    }
    printf("%8s %10s %10s %10s %12s\n", "pass", "RSS KiB", "anon KiB", "peak KiB", "wall s");
    const double t0 = now_s();
    for (int i = 1; i <= passes; ++i) {
        if (sim.pass() < 0) {
            printf("pass %d did not end\n", i);
            break;
        }
        if (i == 1 || i == 10 || i % (passes / 10 > 0 ? passes / 10 : 1) == 0) {
            std::string st = sim.status();
            printf("%8d %10ld %10ld %10ld %12.1f\n", i, field_kb(st, "VmRSS:"), field_kb(st, "RssAnon:"),
                   field_kb(st, "VmHWM:"), now_s() - t0);
            fflush(stdout);
        }
    }
    sim.stop();
}

// ---------------------------------------------------------------------------
// In-process soak
// ---------------------------------------------------------------------------

// One field as the database answers it.
std::string read_back(const char *table, const std::string &key, const char *field)
{
    void *client = module->init_sock(0);
    char reply[MAX_BUF_LEN] = "";
    module->gen_cmd(client, reply, "dbctl", "-t", table, "-k", key.c_str(), "-g", field, (char *)nullptr);
    module->close_sock(client, 0);
    return reply;
}

long self_rss_kb() { return field_kb(slurp("/proc/self/status"), "VmRSS:"); }
long self_anon_kb() { return field_kb(slurp("/proc/self/status"), "RssAnon:"); }

unsigned int no_pause(unsigned int) { return 0; }

// Canned answers of the driver tools and the device shell for the
// in-process soak: a station listing of 8 stations on wlan-1-1 and the radio
// sources of three slots.
std::string canned(const std::string &cmd)
{
    if (cmd.find(" list sta limited") != std::string::npos) {
        std::string out = "ADDR AID CHAN TXRATE RXRATE RSSI MINRSSI MAXRSSI TX RX CAPS FLAGS MODE\n";
        for (int i = 0; i < 8; ++i)
            out += mac_of(i) + " 1 36 866M 780M 40 40 40 1000 2000 HE80 WME 11ax\n";
        return out;
    }
    if (cmd.rfind("cat /proc/net/wireless", 0) == 0)
        return " wlan-1-1: 0000   70.  -40.  -95.  0 0 0 0 0 0\n";
    if (cmd.find("txpower") != std::string::npos)
        return "20 dBm\n";
    if (cmd.find("get_chutil") != std::string::npos)
        return "30";
    if (cmd.find("show interface wlan status") != std::string::npos)
        return "Index Interface Status\n----\n1 wlan-1-1 Up 1000 2000 0 100 200\n2 wlan-2-1 Up 10 20 0 1 2\n";
    if (cmd == "/bin/cat /proc/net/dev")
        return "h1\nh2\n  wlan-1-1: 400000 2000 6 0 0 0 0 0 300000 1000 5 0 0 0 0 0\n";
    return "";
}

long g_commands;

FILE *canned_open(const char *cmd, const char *)
{
    ++g_commands;
    const std::string out = canned(cmd);
    if (out.empty())
        return fopen("/dev/null", "r");
    FILE *f = tmpfile();
    if (f != nullptr) {
        fwrite(out.data(), 1, out.size(), f);
        rewind(f);
    }
    return f;
}

int canned_close(FILE *f) { return fclose(f); }

int local_soak(int passes)
{
    printf("\n== soak in-process: %d passes against the status database, driver output canned ==\n", passes);
    char tmpl[] = "/tmp/rrm-collection-bench-XXXXXX";
    if (mkdtemp(tmpl) == nullptr)
        return 1;
    const std::string dir = tmpl;
    setenv("STATUSDB_PATH", (dir + "/status.db").c_str(), 1);
    setenv("COMMON_LOG_DIR", dir.c_str(), 1);

    strcpy(wtp_mac_str, "02:00:00:00:bb:01");
    snprintf(table_name, sizeof table_name, "%s-%s", TABLE_PREFIX, wtp_mac_str);
    snprintf(table_name_sta, sizeof table_name_sta, "%s-%s", STA_STATISTIC_TABLE_PREFIX, wtp_mac_str);
    snprintf(mesh_table_name, sizeof mesh_table_name, "%s-%s", MESH_STA_STATISTIC_TABLE_PREFIX, wtp_mac_str);
    slot_num = 3;
    ch_stat = init_ch_stat(slot_num);
    module = parser_open("dbcmd");
    void *client = module->init_sock(0);
    char reply[MAX_BUF_LEN];
    for (const char *t : {table_name, table_name_sta, mesh_table_name})
        module->gen_cmd(client, reply, "dbctl", "-a", t, (char *)nullptr);
    for (int i = 0; i < 8; ++i) {
        const std::string mac = mac_of(i);
        module->gen_cmd(client, reply, "dbctl", "-t", table_name_sta, "-i", mac.c_str(), "-f", "IFACE", "-s",
                        "wlan-1-1", "-f", "STA_IP_ADDR", "-s", "16777226", "-f", "STA_ASSO_FLAG", "-s", "0",
                        (char *)nullptr);
    }
    for (int s = 0; s < slot_num; ++s) {
        char key[WLAN_NAME_LEN];
        snprintf(key, sizeof key, "%s-%d", KEY_PREFIX, s);
        module->gen_cmd(client, reply, "dbctl", "-t", table_name, "-i", key, (char *)nullptr);
    }
    module->close_sock(client, 0);
    rrm_seam.sleep_s = no_pause;
    rrm_seam.cmd_open = canned_open;
    rrm_seam.cmd_close = canned_close;

    printf("%8s %10s %10s %12s %12s %12s\n", "pass", "RSS KiB", "anon KiB", "wall s", "ms/pass", "commands");
    const double t0 = now_s();
    double last = t0;
    int last_i = 0;
    for (int i = 1; i <= passes; ++i) {
        wlan_collect_pass();
        if (i == 1 || i == 10 || i % (passes / 10 > 0 ? passes / 10 : 1) == 0) {
            const double t = now_s();
            printf("%8d %10ld %10ld %12.2f %12.2f %12ld\n", i, self_rss_kb(), self_anon_kb(), t - t0,
                   1000.0 * (t - last) / (i - last_i),
                   g_commands / i);
            fflush(stdout);
            last = t;
            last_i = i;
        }
    }
    if (read_back(table_name_sta, mac_of(7), "TX") != "1000")
        printf("warning: the station fields were not written\n");

    // The command runner itself: real processes, started and closed.
    rrm_seam_reset();
    const int runs = passes * 2;
    printf("\n== command runner: %d commands started and closed ==\n", runs);
    const double r0 = now_s();
    long rss_early = 0;
    for (int i = 0; i < runs; ++i) {
        if (i == runs / 10)
            rss_early = self_rss_kb();
        FILE *f = rrm_cmd_open("echo wlan-1-1: 0000 70.", "r");
        char line[128];
        while (f != nullptr && fgets(line, sizeof line, f) != nullptr) {
        }
        if (f != nullptr)
            rrm_cmd_close(f);
    }
    printf("RSS KiB after %d commands %ld, after %d %ld; %.2f ms per command\n", runs / 10, rss_early, runs,
           self_rss_kb(), 1000.0 * (now_s() - r0) / runs);

    int rc = 0;
    if (__lsan_do_recoverable_leak_check != nullptr) {
        rc = __lsan_do_recoverable_leak_check();
        printf("leak check: %s\n", rc == 0 ? "no leaks" : "LEAKS (see the report above)");
    } else {
        printf("leak check: not in this build (configure with -DRRM_SANITIZE=ON)\n");
    }
    std::error_code ec;
    fs::remove_all(dir, ec);
    return rc;
}

}  // namespace

int main(int argc, char **argv)
{
    std::vector<int> sizes = {0, 64, 256, 1024};
    int passes = 3, soak = 100, soak_stations = 16, local = 1000, baseline = -1;
    bool use_sim = true;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--sizes" && i + 1 < argc) {
            sizes.clear();
            std::istringstream in(argv[++i]);
            std::string w;
            while (std::getline(in, w, ','))
                sizes.push_back(atoi(w.c_str()));
        } else if (a == "--passes" && i + 1 < argc) {
            passes = atoi(argv[++i]);
        } else if (a == "--soak" && i + 1 < argc) {
            soak = atoi(argv[++i]);
        } else if (a == "--soak-stations" && i + 1 < argc) {
            soak_stations = atoi(argv[++i]);
        } else if (a == "--baseline" && i + 1 < argc) {
            baseline = atoi(argv[++i]);
        } else if (a == "--local-soak" && i + 1 < argc) {
            local = atoi(argv[++i]);
        } else if (a == "--no-sim") {
            use_sim = false;
        } else {
            fprintf(stderr,
                    "usage: %s [--sizes 0,64,256,1024] [--passes 3] [--baseline N|0] [--soak 100] "
                    "[--soak-stations 16] [--local-soak 1000] [--no-sim]\n",
                    argv[0]);
            return 2;
        }
    }
    printf("collection benchmark; this program's build: %s%s\n", RRM_BENCH_BUILD_TYPE,
           __lsan_do_recoverable_leak_check != nullptr ? " with sanitizers (CPU and memory figures inflated)" : "");

    // SIM_RRM names another daemon program for the simulated access point
    // (for instance an optimised build), as the launcher allows.
    if (const char *other = getenv("SIM_RRM"))
        printf("daemon in the simulated access point: %s\n", other);
    const char *src = getenv("RRM_SOURCE_DIR");
    const char *bin = getenv("RRM_BINARY_DIR");
    Sim base;
    base.launcher = std::string(src != nullptr ? src : RRM_BENCH_SOURCE_DIR) + "/sim/rrm-sim";
    base.build = bin != nullptr ? bin : RRM_BENCH_BINARY_DIR;
    base.state = base.build + "/bench/collection/state";
    base.ap = "02:00:00:00:bb:01";
    std::string why;
    if (use_sim && sim_available(base.launcher, &why)) {
        if (baseline < 0)
            baseline = sizes.empty() ? 0 : *std::max_element(sizes.begin(), sizes.end());
        sim_sizes(base, sizes, passes, baseline);
        if (soak > 0)
            sim_soak(base, soak, soak_stations);
    } else if (use_sim) {
        printf("simulated access point not available (%s): its figures are left out\n", why.c_str());
    }
    return local > 0 ? local_soak(local) : 0;
}
