// The event record tool and dbctl's views, run as a person runs them.
// wlan_evt's round trip needs the daemon on the bus's fixed default socket,
// so it runs in a private mount namespace with its own /run (root only).
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <functional>

#include "statusdb_fixture.h"

namespace {

const std::string kBin = getenv("RRM_BINARY_DIR") != nullptr ? getenv("RRM_BINARY_DIR") : ".";
const std::string kEvt = kBin + "/tools/wlan_evt/wlan_evt ";
const std::string kDbctl = std::string(DBCTL_PATH) + " ";
const std::string kMac = "02:00:00:00:00:2a";

// Exit status and output (standard error after standard output) of a
// command line; test texts only.
std::pair<int, std::string> run(const std::string &cmd)
{
    std::string out;
    FILE *p = popen((cmd + " 2>&1").c_str(), "r");
    char buf[4096];
    for (size_t n; p != nullptr && (n = fread(buf, 1, sizeof buf, p)) > 0;)
        out.append(buf, n);
    const int st = p != nullptr ? pclose(p) : -1;
    return {WIFEXITED(st) ? WEXITSTATUS(st) : -1, out};
}

std::string slurp(const std::string &path)
{
    std::stringstream ss;
    ss << std::ifstream(path).rdbuf();
    return ss.str();
}

bool wait_for(const std::function<bool()> &done)
{
    for (int waited = 0; waited < 15000 && !done(); waited += 20)
        usleep(20 * 1000);
    return done();
}

TEST(WlanEvt, RefusesBadValues)
{
    for (const auto &[args, message] : std::vector<std::pair<std::string, std::string>>{
             {"sta_ip --ifname wlan-1-1 --mac " + kMac, "sta_ip needs --ip"},
             {"sta_authorized --ifname wlan-1-1 --mac 02:00:00:00:00:1", "--mac: '02:00:00:00:00:1' is not"},
             {"channel_changed --ifname wlan-1-1 --channel 1 --band-id=-129", "--band_id: '-129' is not"},
             {"sta_leave --mac " + kMac + " --ifname 12345678901234567", "--ifname: at most 16 bytes"},
             {"ssid --ifname wlan-1-1 --vid 1", "ssid has no field --vid"},
             {"sta_join", "unknown event 'sta_join'"}}) {
        const auto [status, out] = run(kEvt + args + " --out /dev/null");
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
    char tmpl[] = "/tmp/wlanevtXXXXXX";
    const std::string dir = mkdtemp(tmpl) != nullptr ? tmpl : "/nonexistent";
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
        if ((pids.emplace_back(fork())) == 0) {
            execl("/bin/sh", "sh", "-c", ("exec " + cmd).c_str(), (char *)nullptr);
            _exit(127);
        }
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
    if (!HasFailure())
        (void)system(("rm -rf " + dir).c_str());
}

TEST_F(StatusDb, DbctlViews)
{
    setenv("TZ", "UTC0", 1);
    ASSERT_EQ(0, db_->gen_cmd(client_, reply_, "dbctl", "-a", "STA", "-i", "aa:bb:cc:00:00:01", "-f", "IFACE", "-s",
                              "wlan-1-1", "-f", "ASSO_TIME", "-s", "1700000000", "-f", "SSID", "-s",
                              "caf\xc3\xa9 \"x\"\x01\xff", "-i", "aa:bb:cc:00:00:02", "-f", "ASSO_TIME", "-s",
                              "soon", "-f", "STA_IP_ADDR", "-s", "16908801", "-a", "EMPTY", nullptr));
    const std::string key1 = R"({ "IFACE": "wlan-1-1", "ASSO_TIME": "1700000000", "SSID": "café \"x\"\u0001\u00ff" })";
    const std::string key2 = R"({ "ASSO_TIME": "soon", "STA_IP_ADDR": "16908801" })";
    for (const auto &[args, status, out] : std::vector<std::tuple<std::string, int, std::string>>{
             {"--show STA aa:bb:cc:00:00:01", 0,
              "aa:bb:cc:00:00:01\nIFACE=wlan-1-1\nASSO_TIME=1700000000 (2023-11-14 22:13:20 UTC)\n"
              "SSID=caf\xc3\xa9 \"x\"\\x01\xff\n"},
             {"--show STA aa:bb:cc:00:00:02", 0, "aa:bb:cc:00:00:02\nASSO_TIME=soon\nSTA_IP_ADDR=16908801 (1.2.2.1)\n"},
             {"--json STA aa:bb:cc:00:00:01", 0, key1 + "\n"},
             {"--json STA", 0, "{\n  \"aa:bb:cc:00:00:01\": " + key1 + ",\n  \"aa:bb:cc:00:00:02\": " + key2 + "\n}\n"},
             {"--json", 0,
              "{\n  \"Velora\": {\n    \"velora-status\": {}\n  },\n  \"STA\": {\n    \"aa:bb:cc:00:00:01\": " + key1 +
                  ",\n    \"aa:bb:cc:00:00:02\": " + key2 + "\n  },\n  \"EMPTY\": {}\n}\n"},
             {"--show STA aa:bb:cc:00:00:03", 1, "dbctl: no key 'aa:bb:cc:00:00:03' in table 'STA'\n"},
             {"--json NOPE", 1, "dbctl: no table 'NOPE'\n"}}) {
        const auto [got_status, got] = run(kDbctl + args);
        EXPECT_EQ(status, got_status) << args;
        EXPECT_EQ(out, got) << args;
    }
}

}  // namespace
