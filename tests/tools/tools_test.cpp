// The event record tool, run as a person runs it.
// wlan_evt's round trip needs the daemon on the bus's fixed default socket,
// so it runs in a private mount namespace with its own /run (root only).
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cstring>

#include "../common/proc.h"

namespace {

const std::string kBin = getenv("RRM_BINARY_DIR") != nullptr ? getenv("RRM_BINARY_DIR") : ".";
const std::string kEvt = kBin + "/tools/wlan_evt/wlan_evt ";
const std::string kDbctl = std::string(DBCTL_PATH) + " ";
const std::string kMac = "02:00:00:00:00:2a";

// Exit status and output (errors after output) of a command line.
std::pair<int, std::string> run(const std::string &cmd)
{
    std::string out;
    return {proc::run(cmd, &out), out};
}

using proc::slurp;

bool wait_for(const std::function<bool()> &done) { return proc::wait_for(done, 15000); }

TEST(WlanEvt, RefusesBadValues)
{
    const proc::TempDir tmp;  // the record file, never written on a refusal
    for (const auto &[args, message] : std::vector<std::pair<std::string, std::string>>{
             {"sta_ip --ifname wlan-1-1 --mac " + kMac, "sta_ip needs --ip"},
             {"sta_authorized --ifname wlan-1-1 --mac 02:00:00:00:00:1", "--mac: '02:00:00:00:00:1' is not"},
             {"channel_changed --ifname wlan-1-1 --channel 1 --band-id=-129", "--band_id: '-129' is not"},
             {"sta_leave --mac " + kMac + " --ifname 12345678901234567", "--ifname: at most 16 bytes"},
             {"ssid --ifname wlan-1-1 --vid 1", "ssid has no field --vid"},
             {"sta_join", "unknown event 'sta_join'"}}) {
        const auto [status, out] = run(kEvt + args + " --out " + tmp.file("rec"));
        EXPECT_EQ(2, status) << args;
        EXPECT_EQ(0u, out.find("wlan_evt: " + message)) << out;
    }
}

TEST(WlanEvt, RecordsReachTheDaemonAndDecodeBack)
{
    if (getuid() != 0 || unshare(CLONE_NEWNS) != 0)
        GTEST_SKIP() << "needs root for a private mount namespace";
    ASSERT_EQ(0, mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr));
    ASSERT_EQ(0, mount("rrmtest", "/run", "tmpfs", 0, "mode=0755"));
    ASSERT_EQ(0, mkdir("/run/ubus", 0755));
    const proc::TempDir tmp;  // removed after the processes below have ended
    const std::string dir = tmp.path;
    setenv("STATUSDB_PATH", (dir + "/status.db").c_str(), 1);
    setenv("COMMON_LOG_DIR", dir.c_str(), 1);
    setenv("CAPWAP_MODEL_SLOT_NUM", "2", 1);
    setenv("HVKIT_SLOT_NUM", "2", 1);
    struct Procs : std::vector<pid_t> { // ended however the test ends, newest first
        ~Procs() { for (auto it = rbegin(); it != rend(); ++it) kill(*it, SIGKILL), waitpid(*it, nullptr, 0); }
    } pids;
    for (const std::string &cmd : {kBin + "/platform/ubus/ubusd -s /var/run/ubus/ubus.sock",
                                   kBin + "/rrm/rrm 00:11:22:33:44:55 >" + dir + "/rrm.out 2>&1",
                                   kEvt + "listen -c 1 sta_leave >" + dir + "/listen.out 2>&1"}) {
        pids.push_back(proc::spawn({"/bin/sh", "-c", "exec " + cmd}));
        ASSERT_TRUE(wait_for([] { return access("/var/run/ubus/ubus.sock", F_OK) == 0; })); // the bus first
    }
    ASSERT_TRUE(wait_for([&] { return slurp(dir + "/rrm.out").find("[Connect DB]") != std::string::npos; }));
    ASSERT_TRUE(wait_for([&] { return slurp(dir + "/listen.out") == "wlan_evt: listening\n"; }));

    for (const std::string &args : std::vector<std::string>{
             "sta_authorized --ifname wlan-1-2 --mac " + kMac + " --vid 3 --security WPA2-PSK --authorized 1",
             "sta_ip --ifname wlan-1-2 --mac " + kMac + " --ip 192.168.1.20",
             "channel_changed --ifname wlan-2-1 --channel 149", "ssid --ifname wlan-1-1",
             "sta_leave --ifname wlan-1-2 --mac " + kMac + " --rssi 40 --reason-code 8 --event_type=by-rrm"})
        EXPECT_EQ(0, run(kEvt + args).first) << args;
    const unsigned char ip[4] = {192, 168, 1, 20};
    uint32_t word;
    memcpy(&word, ip, sizeof word);
    const std::string sta = "-t STA_STATISTIC-00:11:22:33:44:55 -k " + kMac;
    for (const auto &[where, value] : std::vector<std::pair<std::string, std::string>>{
             {sta + " -g VID", "3"},
             {sta + " -g SECURITY", "WPA2-PSK"},
             {sta + " -g AUTHENTICATION", "1"},
             {sta + " -g STA_IP_ADDR", std::to_string(word)},
             {"-t WLAN-00:11:22:33:44:55 -k SLOT-1 -g VAP_7_MAC", "00:00:00:00:00:00"}})
        EXPECT_TRUE(wait_for([&] { return run(kDbctl + where).second == value + "\n"; })) << where;
    EXPECT_NE(std::string::npos, slurp(dir + "/rrm.out").find("method=channel_changed"));
    ASSERT_TRUE(wait_for([&] { return slurp(dir + "/listen.out").size() > 20; }));
    EXPECT_EQ("wlan_evt: listening\n{ \"sta_leave\": { \"ifname\": \"wlan-1-2\", \"subtype\": 7, \"len\": 240, "
              "\"mac\": \"" + kMac + "\", \"rssi\": 40, \"reason_code\": 8, \"event_type\": \"by-rrm\" } }\n",
              slurp(dir + "/listen.out"));
}

}  // namespace
