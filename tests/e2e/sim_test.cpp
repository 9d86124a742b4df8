// The simulated access point itself: its tools answer the daemon's exact
// command texts from the scenario, passes are stepped one by one, bad
// scenarios and failing services stop everything, and nothing is left on the
// host afterwards.
#include "sim_harness.h"

#include <climits>
#include <cstdlib>
#include <fstream>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace {

using e2e::q;
using e2e::SimAp;

const char *kAp = R"(ap 02:00:00:00:cc:01
slots 2
vap wlan-1-1 02:00:00:00:cc:11 up ssid=Office ssid-profile=office security=WPA2-PSK sec-profile=office-psk
vap wds-1-9 02:00:00:00:cc:19 up
vap wlan-1-10 02:00:00:00:cc:1a down
vap wlan-2-1 02:00:00:00:cc:21 up
radio 1 channel=6 txpower=17 chutil=42
radio 2 channel=36 txpower=23 chutil=7
conf 1 SSID_1_SEC_PROFILE="5"
conf 1 SECURITY_5_MODE="wpa2"
wds 1 ssid=Backhaul profile=mesh-link security=WPA2-PSK sec-profile=mesh-psk
counters wlan-1-1 tx-frames=900 rx-frames=800 tx-bps=70 rx-bps=60 tx-bytes=5000 rx-bytes=4000 rx-errs=100

step 0 a station
assoc 3c:00:00:00:00:01 wlan-1-1
driver 3c:00:00:00:00:01 txrate=300M rxrate=270M snr=44 tx=99 rx=98 bandcap=HE40 mode=11ax ip=10.0.0.5
pass

step 1:00 a VAP goes down and the station moves in the driver's view
link wlan-2-1 down
driver 3c:00:00:00:00:01 iface=wlan-2-1
counters wlan-1-1 tx-frames=1000
)";

class Sim : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string why;
        if (!e2e::can_simulate(&why))
            GTEST_SKIP() << why;
    }
};

bool exists(const std::string &p)
{
    struct stat st;
    return lstat(p.c_str(), &st) == 0;
}

std::string inside(SimAp &ap, const std::string &command)
{
    std::string out;
    e2e::run("sh " + q(std::string(getenv("RRM_SOURCE_DIR")) + "/sim/rrm-sim") + " exec " +
                 q(ap.state()) + " /bin/sh -c " + q(command),
             &out);
    return out;
}

bool mounted_under(const std::string &path)
{
    std::ifstream in("/proc/self/mountinfo");
    std::string line;
    while (std::getline(in, line))
        if (line.find(path) != std::string::npos)
            return true;
    return false;
}

TEST_F(Sim, ToolsAnswerTheDaemonsCommandTextsFromTheScenario)
{
    SimAp ap("sim-tools", kAp);
    std::string out;
    ASSERT_EQ(ap.start("", &out), 0) << out;
    ASSERT_EQ(ap.play(1, &out), 0) << out;

    // radio figures, with the daemon's pipelines
    EXPECT_EQ(inside(ap, "cat /proc/net/wireless | sed '1,2d' | grep \".*-1-.*\" | head -n1"),
              " wlan-1-1: 0000   70.  -40.  -95.  0 0 0 0 0 0\n");
    EXPECT_EQ(inside(ap, "iwlist wlan-2-1 txpower | grep Tx-Power | sed 's/:/=/g' | cut -d '=' -f 2"),
              "23 dBm  (in driver units)\n");
    EXPECT_EQ(inside(ap, "LD_LIBRARY_PATH=/usr/local/lib iwpriv wlan-1-1 get_chutil | awk -F\":\" '{printf $2}'"),
              "42");
    std::string dev = inside(ap, "/bin/cat /proc/net/dev");
    EXPECT_NE(dev.find("wlan-1-1: 4000 800 100 0 0 0 0 0 5000 900 0"), std::string::npos) << dev;
    std::string status = inside(ap, "/bin/hvsh -p 110 -e \"show interface wlan status\"");
    EXPECT_NE(status.find("wlan-1-10       Down"), std::string::npos) << status;
    EXPECT_NE(status.find("wlan-1-1        Up      900        800"), std::string::npos) << status;

    // station figures and the active VAP list
    std::string listing = inside(ap, "wlanconfig wlan-1-1 list sta limited 2>/dev/null");
    EXPECT_NE(listing.find("\n3c:00:00:00:00:01 1 6 300M 270M 44 44 44 99 98 HE40 WME 11ax\n"),
              std::string::npos) << listing;
    EXPECT_EQ(inside(ap, "/lib/wifi/get_active_vap_list 2>/dev/null"), "wlan-1-1\nwds-1-9\nwlan-2-1\n");
    EXPECT_EQ(inside(ap, "hvsh -p 100 -e \"show wireless-hal station info\" | grep -i \"3C:00:00:00:00:01\" -A 3 \t\t\t| grep IPv4 | cut -d ':' -f 2 | sed -e 's/^[[:space:]]*//' |  awk 1 ORS=''"),
              "10.0.0.5");
    EXPECT_EQ(inside(ap, "/bin/hvsh -p 110 -e \"show wlan-1-1 config\""),
              "wlan-1-1 configuration\n  SSID: Office\n  SSID_profile: office\n"
              "  Security: WPA2-PSK\n  Security_profile: office-psk\n");
    EXPECT_EQ(inside(ap, "/bin/hvsh -p 110 -e \"configure terminal show wds slot1 detail\""),
              "WDS slot1 detail\n  WDS_SSID:Backhaul\n  WDS_profile:mesh-link\n"
              "  Security:WPA2-PSK\n  Security_profile:mesh-psk\n");
    EXPECT_NE(inside(ap, "/bin/hvsh -p 110 -e \"show wlan-9-9 config\"").find(" Parse error"),
              std::string::npos);
    EXPECT_EQ(inside(ap, "cat /var/halvo/wlan/wlan-1.conf | grep SECURITY_5_MODE"),
              "SECURITY_5_MODE=\"wpa2\"\n");
    // a request outside what the tools know is refused, not guessed
    EXPECT_NE(inside(ap, "wlanconfig 'wlan-1-1;id' list sta limited").find("unsupported"),
              std::string::npos);

    // interfaces named like the VAPs, with their addresses and states
    EXPECT_EQ(inside(ap, "cat /sys/class/net/wlan-1-1/address"), "02:00:00:00:cc:11\n");
    EXPECT_EQ(inside(ap, "cat /sys/class/net/wds-1-9/address"), "02:00:00:00:cc:19\n");
    std::string flags = inside(ap, "cat /sys/class/net/wlan-1-10/flags");
    EXPECT_EQ(strtol(flags.c_str(), nullptr, 16) & 1, 0) << flags;  // down
    // the access point's own /tmp and bus socket are the state folder's
    EXPECT_EQ(inside(ap, "touch /tmp/probe && ls /tmp"), "probe\n");
    EXPECT_TRUE(exists(ap.state() + "/tmp/probe"));
    EXPECT_TRUE(exists(ap.state() + "/run/ubus/ubus.sock"));

    // a later step changes what the tools and the interfaces show
    ASSERT_EQ(ap.play(2, &out), 0) << out;
    ASSERT_EQ(ap.pass(), 0);
    EXPECT_EQ(inside(ap, "/lib/wifi/get_active_vap_list"), "wlan-1-1\nwds-1-9\n");
    flags = inside(ap, "cat /sys/class/net/wlan-2-1/flags");
    EXPECT_EQ(strtol(flags.c_str(), nullptr, 16) & 1, 0) << flags;
    EXPECT_EQ(inside(ap, "wlanconfig wlan-1-1 list sta limited | sed 1d"), "");
    EXPECT_NE(inside(ap, "wlanconfig wlan-2-1 list sta limited").find("3c:00:00:00:00:01 1 36 300M"),
              std::string::npos);
    EXPECT_NE(inside(ap, "/bin/hvsh -p 110 -e \"show interface wlan status\"")
                  .find("wlan-1-1        Up      1000       800"),
              std::string::npos);

    // the bus inside is reachable from the host through that socket
    std::string tools = ap.file("tools");
    size_t at = tools.find("UBUS='");
    ASSERT_NE(at, std::string::npos);
    std::string ubus = tools.substr(at + 6, tools.find('\'', at + 6) - at - 6);
    if (!ubus.empty()) {
        EXPECT_EQ(e2e::run(q(ubus) + " -s " + q(ap.state() + "/run/ubus/ubus.sock") +
                           " send host_probe '{\"from\":\"host\"}'"),
                  0);
        for (int i = 0; i < 100 && ap.lines_with("bus-events.log", "host_probe").empty(); ++i)
            usleep(50 * 1000);
        EXPECT_EQ(ap.lines_with("bus-events.log", "host_probe").size(), 1u);
    }
    EXPECT_EQ(ap.stop(), 0);
}

TEST_F(Sim, PassesAreSteppedOneAtATime)
{
    SimAp ap("sim-passes", kAp);
    std::string out;
    ASSERT_EQ(ap.start("", &out), 0) << out;
    if (!ap.daemon_built())
        GTEST_SKIP() << "the daemon is not built";
    // the first pass runs during start-up and then holds its pause
    EXPECT_EQ(atoi(ap.file("pause/paused").c_str()), 1);
    ASSERT_EQ(ap.pass(), 0);
    EXPECT_EQ(atoi(ap.file("pause/paused").c_str()), 2);
    ASSERT_EQ(ap.pass(3), 0);
    EXPECT_EQ(atoi(ap.file("pause/paused").c_str()), 5);
    EXPECT_TRUE(ap.daemon_clean());
    EXPECT_EQ(ap.stop(), 0);
}

TEST_F(Sim, BadScenarioIsRefusedBeforeAnythingStarts)
{
    SimAp ap("sim-bad", "ap 02:00:00:00:dd:01\nvap wlan-1-1 02:00:00:00:dd up\n");
    std::string out;
    EXPECT_EQ(ap.start("", &out), 2);
    EXPECT_NE(out.find("sim-bad.scn:2: bad VAP MAC address '02:00:00:00:dd'"), std::string::npos)
        << out;
    EXPECT_FALSE(exists(ap.state() + "/unshare.pid"));
    EXPECT_FALSE(exists(ap.state() + "/ready"));
}

TEST_F(Sim, ForeignFolderIsNeverUsedAsStateFolder)
{
    const std::string dir = std::string(getenv("RRM_BINARY_DIR")) + "/e2e-runs/foreign";
    mkdir(dir.c_str(), 0755);
    mkdir((dir + "/db").c_str(), 0755);
    std::ofstream(dir + "/db/keep") << "precious";
    std::ofstream(std::string(getenv("RRM_BINARY_DIR")) + "/e2e-runs/foreign.scn") << kAp;
    std::string out;
    EXPECT_EQ(e2e::run("sh " + q(std::string(getenv("RRM_SOURCE_DIR")) + "/sim/rrm-sim") +
                           " --build " + q(getenv("RRM_BINARY_DIR")) + " start " +
                           q(dir + ".scn") + " " + q(dir),
                       &out),
              1);
    EXPECT_NE(out.find("not a state folder of ours"), std::string::npos) << out;
    EXPECT_EQ(e2e::read_file(dir + "/db/keep"), "precious");
}

TEST_F(Sim, FailingServiceEndsTheSimulationAndLeavesNothing)
{
    SimAp ap("sim-fail", kAp);
    std::string out;
    EXPECT_EQ(ap.start("SIM_UBUSD=/bin/false", &out), 1);
    EXPECT_NE(out.find("start failed: the bus daemon did not start"), std::string::npos) << out;
    EXPECT_FALSE(exists(ap.state() + "/ns.pid"));
    EXPECT_FALSE(mounted_under(ap.state()));
}

TEST_F(Sim, StopLeavesNothingOnTheHost)
{
    const bool had_wifi_dir = exists("/lib/wifi");
    const bool had_halvo = exists("/var/halvo");
    const bool had_link = exists("/sys/class/net/wlan-1-1");
    const std::string cat_before = e2e::read_file("/bin/cat");
    SimAp ap("sim-stop", kAp);
    std::string out;
    // without overlay mounts: the folder-of-links way must not touch the host either
    ASSERT_EQ(ap.start("SIM_NO_OVERLAY=1", &out), 0) << out;
    EXPECT_EQ(inside(ap, "cat /proc/net/wireless | sed '1,2d' | grep \".*-2-.*\" | head -n1"),
              " wlan-2-1: 0000   70.  -40.  -95.  0 0 0 0 0 0\n");
    EXPECT_EQ(inside(ap, "/lib/wifi/get_active_vap_list"), "wlan-1-1\nwds-1-9\nwlan-2-1\n");
    std::string ns_pid = ap.file("ns.pid");
    while (!ns_pid.empty() && ns_pid.back() == '\n')
        ns_pid.pop_back();
    ASSERT_FALSE(ns_pid.empty());
    EXPECT_TRUE(exists("/proc/" + ns_pid));
    EXPECT_EQ(ap.stop(), 0);
    EXPECT_FALSE(exists("/proc/" + ns_pid));
    EXPECT_FALSE(mounted_under(ap.state()));
    EXPECT_EQ(exists("/lib/wifi"), had_wifi_dir);
    EXPECT_EQ(exists("/var/halvo"), had_halvo);
    EXPECT_EQ(exists("/sys/class/net/wlan-1-1"), had_link);
    EXPECT_EQ(e2e::read_file("/bin/cat"), cat_before);
    // stopping again is harmless
    EXPECT_EQ(ap.stop(), 0);
}

}  // namespace
