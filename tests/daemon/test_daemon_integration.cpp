// The daemon binary end to end, with the bus daemon (which also carries the
// station-event service), the bus tool and the station-event tools: events
// go in through the tools, and the status database, the common log, the
// daemon's standard output, the station-IP message published on the bus and
// the daemon's status reply are checked.
//
// The daemon connects to the bus at its fixed default socket, so the test
// runs in a private mount namespace with its own /run (needs root; skipped
// otherwise).
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <errno.h>
#include <sched.h>
#include <string.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <algorithm>
#include <tuple>

#include "../common/proc.h"
#include "../common/dbcmd.h"
#include "wlan_event.h"

namespace {

const char *kApMac = "00:11:22:33:44:55";
const char *kBusSocket = "/var/run/ubus/ubus.sock";

using proc::slurp;
using proc::wait_for;

std::string env_or_empty(const char *name) { return getenv(name) ? getenv(name) : ""; }

// ASAN_OPTIONS with more options for the processes started until the
// returned text is put back.
std::string more_asan_options(const std::string &more)
{
    const std::string asan = env_or_empty("ASAN_OPTIONS");
    setenv("ASAN_OPTIONS", (asan + (asan.empty() ? "" : ":") + more).c_str(), 1);
    return asan;
}

class DaemonRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (getuid() != 0)
            GTEST_SKIP() << "needs root for a private mount namespace";
        if (unshare(CLONE_NEWNS) != 0)
            GTEST_SKIP() << "no private mount namespace: " << strerror(errno);
        ASSERT_EQ(0, mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr));
        ASSERT_EQ(0, mount("rrmtest", "/run", "tmpfs", 0, "mode=0755")) << strerror(errno);
        ASSERT_EQ(0, mkdir("/run/ubus", 0755));

        ASSERT_NE(nullptr, getenv("RRM_BINARY_DIR"));
        bin_ = getenv("RRM_BINARY_DIR");
        ASSERT_FALSE(dir_.empty());
        ASSERT_EQ(0, mkdir((dir_ + "/log").c_str(), 0755));
        ASSERT_EQ(0, mkdir((dir_ + "/wlan").c_str(), 0755));
        setenv("STATUSDB_PATH", (dir_ + "/status.db").c_str(), 1);
        unsetenv("STATUSDB_TRACE");
        setenv("COMMON_LOG_DIR", (dir_ + "/log").c_str(), 1);
        setenv("WPA3_WLAN_CONF_DIR", (dir_ + "/wlan").c_str(), 1);
        setenv("CAPWAP_MODEL_SLOT_NUM", "2", 1);
        setenv("HVKIT_SLOT_NUM", "2", 1);
        unsetenv("STA_UBUS_SOCKET");
    }

    void TearDown() override
    {
        // Only the processes this test started, newest first.
        for (auto it = pids_.rbegin(); it != pids_.rend(); ++it) {
            kill(*it, SIGKILL);
            waitpid(*it, nullptr, 0);
        }
    }

    // Starts a program with its standard output in out_file and its error
    // output beside it (".err"); returns its pid.
    pid_t start(const std::vector<std::string> &argv, const std::string &out_file)
    {
        return pids_.emplace_back(proc::spawn(argv, out_file, out_file + ".err"));
    }

    // Runs a program to its end; returns its exit status (-1 if signalled).
    int run(const std::vector<std::string> &argv, const std::string &out_file)
    {
        const int rc = proc::wait_exit(start(argv, out_file));
        pids_.pop_back();
        return rc;
    }

    void start_bus()
    {
        start({env_or_empty("SIM_UBUSD"), "-s", kBusSocket}, dir_ + "/ubusd.out");
        ASSERT_TRUE(wait_for([] { return access(kBusSocket, F_OK) == 0; }));
    }

    // Sends one wifi-manager event whose record is rec.
    void send_record(const char *event, const hvUMAC_event_msg_t &rec)
    {
        const std::string file = dir_ + "/" + event + ".bin";
        std::ofstream(file, std::ios::binary)
            .write(reinterpret_cast<const char *>(&rec), sizeof rec);
        ASSERT_EQ(0, run({env_or_empty("SIM_UBUS"), "-s", kBusSocket, "send-raw", event, file},
                         dir_ + "/send.out"))
            << slurp(dir_ + "/send.out");
    }

    // The daemon's status reply as the bus tool prints it, and one number
    // of it by its key (the first key of that name).
    std::string status()
    {
        EXPECT_EQ(0, run({env_or_empty("SIM_UBUS"), "-s", kBusSocket, "-t", "10", "call", "wlan_module", "status"},
                         dir_ + "/status.out"))
            << slurp(dir_ + "/status.out.err");
        return slurp(dir_ + "/status.out");
    }
    static long long number(const std::string &reply, const std::string &key)
    {
        const size_t at = reply.find("\"" + key + "\": ");
        return at == std::string::npos ? -1 : std::stoll(reply.substr(at + key.size() + 4));
    }

    std::string out() { return slurp(dir_ + "/rrm.out"); }
    std::string common_log() { return slurp(dir_ + "/log/WLAN_MODULE_DB_LOG"); }

    std::string bin_;
    proc::TempDir tmp_;
    std::string dir_ = tmp_.path;
    std::vector<pid_t> pids_;
};

hvUMAC_event_msg_t station_record(const unsigned char (&mac)[6])
{
    hvUMAC_event_msg_t rec = {};
    snprintf(rec.ifname, sizeof rec.ifname, "wlan-1-1");
    memcpy(rec.u.sta_info.macaddr, mac, 6);
    return rec;
}

// Start-up, then the bus daemon going away and coming back: the status
// object is there again and events sent after its return are recorded.
// (Each event road is played end to end by the simulated access point's
// cases.)
TEST_F(DaemonRun, StartsAndSurvivesBusLoss)
{
    start_bus();
    setenv("STATUSDB_TRACE", (dir_ + "/trace").c_str(), 1);
    start({bin_ + "/rrm/rrm", kApMac}, dir_ + "/rrm.out");
    unsetenv("STATUSDB_TRACE");
    ASSERT_TRUE(wait_for([&] { return out().find("[Connect DB]") != std::string::npos; }));
    EXPECT_EQ(0u, out().find("WLAN SLOT = 2\n")) << out();
    EXPECT_NE(std::string::npos, out().find("[Connect DB]state: connected, status: 0\n"));
    EXPECT_NE(std::string::npos, common_log().find("WLAN MODULE START !")) << common_log();
    // The three tables, then the slot keys, in this order (the collection
    // thread's own commands may come in between).
    std::string startup;
    for (const std::string &line : proc::lines(dir_ + "/trace"))
        if (line.rfind("dbctl -a ", 0) == 0 || line.find(" -i SLOT-") != std::string::npos)
            startup += line + "\n";
    const std::string mac = kApMac;
    EXPECT_EQ("dbctl -a WLAN-" + mac + "\ndbctl -a STA_STATISTIC-" + mac + "\ndbctl -a MESH_STA_STATISTIC-" + mac +
                  "\ndbctl -t WLAN-" + mac + " -i SLOT-0\ndbctl -t WLAN-" + mac + " -i SLOT-1\n",
              startup);
    std::string reply = status();
    EXPECT_NE(std::string::npos, reply.find("\t\"ap_mac\": \"00:11:22:33:44:55\",\n\t\"slots\": 2,\n")) << reply;
    EXPECT_EQ(0, number(reply, "bus_reconnects")) << reply;
    kill(pids_.front(), SIGKILL);
    waitpid(pids_.front(), nullptr, 0);
    pids_.erase(pids_.begin());
    unlink(kBusSocket);
    ASSERT_TRUE(wait_for([&] {
        return common_log().find("ubus connection lost, reconnecting") != std::string::npos;
    })) << common_log();

    start_bus();
    ASSERT_TRUE(wait_for(
        [&] { return common_log().find("ubus connection restored") != std::string::npos; },
        40000))
        << common_log();
    const unsigned char sta_mac[6] = {0x02, 0, 0, 0, 0, 0x2b};
    hvUMAC_event_msg_t rec = station_record(sta_mac);
    rec.u.sta_info.vid = 9;
    send_record("sta_authorized", rec);
    EXPECT_TRUE(wait_for([&] {
        return dbcmd({"-t", std::string("STA_STATISTIC-") + kApMac, "-k", "02:00:00:00:00:2b", "-g", "VID"}) == "9";
    }))
        << out();
    reply = status();
    EXPECT_EQ((std::tuple{1LL, 1LL}), (std::tuple{number(reply, "bus_reconnects"), number(reply, "sta_authorized")}))
        << reply;
}

// The bus library takes SIGTERM over on connect; the daemon and the
// station-event monitor still end by it, killed, not exiting.
TEST_F(DaemonRun, SigtermEndsTheDaemonAndTheMonitor)
{
    start_bus();
    const pid_t mon = start({bin_ + "/platform/sta/sta_mon"}, dir_ + "/mon.out");
    const pid_t rrm = start({bin_ + "/rrm/rrm", kApMac}, dir_ + "/rrm.out");
    ASSERT_TRUE(wait_for([&] { return out().find("[Connect DB]") != std::string::npos; })) << out();
    for (pid_t pid : {rrm, mon}) {
        kill(pid, SIGTERM);
        int status = 0;
        ASSERT_TRUE(wait_for([&] { return waitpid(pid, &status, WNOHANG) == pid; }));
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
        pids_.erase(std::find(pids_.begin(), pids_.end(), pid));
    }
}

// Departures from back-to-back collection passes (every pause ends at once,
// and the driver lists no station), bus events, the station-library
// publications they cause and status requests, all at the same time:
// everything arrives and is counted. A race-detector build reports any race
// between the threads doing it.
TEST_F(DaemonRun, DeparturesEventsAndPublicationsTogether)
{
    // The pause shim is preloaded into the daemon: a statically linked build
    // has neither; the host and glibc stages run this case.
    if (access((bin_ + "/sim/libsim_pause.so").c_str(), R_OK) != 0)
        GTEST_SKIP() << "no pause shim to preload (a static build): collection passes cannot be stepped";
    start_bus();
    start({env_or_empty("SIM_UBUS"), "-s", kBusSocket, "listen", "sta_leave"}, dir_ + "/leave.out");
    start({bin_ + "/platform/sta/sta_mon", "-t", "ip"}, dir_ + "/mon.out");
    const std::string pause = dir_ + "/pause";
    ASSERT_EQ(0, mkdir(pause.c_str(), 0755));
    std::ofstream(pause + "/release") << 2000000000;
    setenv("SIM_PAUSE_DIR", pause.c_str(), 1);
    setenv("LD_PRELOAD", (bin_ + "/sim/libsim_pause.so").c_str(), 1);
    const std::string asan = more_asan_options("verify_asan_link_order=0");
    const pid_t rrm = start({bin_ + "/rrm/rrm", kApMac}, dir_ + "/rrm.out");
    unsetenv("LD_PRELOAD");
    unsetenv("SIM_PAUSE_DIR");
    setenv("ASAN_OPTIONS", asan.c_str(), 1);
    ASSERT_TRUE(wait_for([&] { return out().find("[Connect DB]") != std::string::npos; })) << out();

    constexpr int kStations = 12;
    for (int i = 1; i <= kStations; ++i) {
        const unsigned char mac[6] = {0x02, 0, 0, 0, 0x01, static_cast<unsigned char>(i)};
        char text[18];
        snprintf(text, sizeof text, "02:00:00:00:01:%02x", i);
        ASSERT_EQ(0, run({bin_ + "/platform/sta/sta_pub", "assoc", "--mac", text, "--iface",
                          "wlan-1-1", "--ssid", "Office", "--security", "NONE"},
                         dir_ + "/pub.out"));
        hvUMAC_event_msg_t rec = station_record(mac);
        rec.u.sta_info.ipaddr = htonl(0x0a000000u + static_cast<uint32_t>(i));
        send_record("sta_ip", rec);
        send_record("channel_changed", rec);
        status();
    }
    auto count = [](const std::string &text, const std::string &what) {
        int n = 0;
        for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1), ++n) {}
        return n;
    };
    EXPECT_TRUE(wait_for([&] { return count(slurp(dir_ + "/mon.out"), "ipAddr: 10.0.0.") == kStations; }))
        << slurp(dir_ + "/mon.out");
    // Every station announced (logged once sent) and heard on the bus.
    EXPECT_TRUE(wait_for([&] {
        const std::string log = common_log();
        for (int i = 1; i <= kStations; ++i) {
            char line[48];
            snprintf(line, sizeof line, "rrm.***** mac:02:00:00:00:01:%02x", i);
            if (log.find(line) == std::string::npos)
                return false;
        }
        return count(slurp(dir_ + "/leave.out"), "\"sta_leave\"") >= kStations;
    })) << slurp(dir_ + "/leave.out");
    const std::string reply = status();
    EXPECT_EQ((std::tuple{kStations, kStations, kStations}),
              (std::tuple{number(reply, "assoc"), number(reply, "sta_ip"), number(reply, "channel_changed")}))
        << reply;
    EXPECT_TRUE(number(reply, "departures") >= kStations && number(reply, "done") >= 1 &&
                number(reply, "last_start") > 0)
        << reply;
    EXPECT_EQ(0, waitpid(rrm, nullptr, WNOHANG)) << out();
}

TEST_F(DaemonRun, StartUpRefusals)
{
    // A failed start-up ends the process at once, leaving what it had made
    // to the system; that is no leak to report.
    const std::string asan = more_asan_options("detect_leaks=0");

    // No argument, or not a MAC address: usage and a non-zero status.
    for (const std::vector<std::string> &argv : {std::vector<std::string>{bin_ + "/rrm/rrm"}, {bin_ + "/rrm/rrm", "not-a-mac"}}) {
        EXPECT_NE(0, run(argv, dir_ + "/rrm.out"));
        EXPECT_NE(std::string::npos, slurp(dir_ + "/rrm.out.err").find("usage:"));
    }

    // No bus: the start-up step fails with status 0.
    EXPECT_EQ(0, run({bin_ + "/rrm/rrm", kApMac}, dir_ + "/rrm.out"));
    EXPECT_EQ("WLAN SLOT = 2\nrun:1034--init ubus socket Failed-\n", out());
    EXPECT_NE(std::string::npos, common_log().find("Unable to connect to ubus."));

    // A slot count the records cannot be made for.
    for (const char *slots : {"-1", "100"}) {
        setenv("CAPWAP_MODEL_SLOT_NUM", slots, 1);
        EXPECT_EQ(0, run({bin_ + "/rrm/rrm", kApMac}, dir_ + "/rrm.out"));
        EXPECT_EQ(std::string("WLAN SLOT = ") + slots + "\n[run:1026]--init ch_stat Failed-\n",
                  out());
    }
    setenv("ASAN_OPTIONS", asan.c_str(), 1);
}

}  // namespace
