// The simulated access point itself: bad scenarios and failing services stop
// everything, and nothing is left on the host afterwards (what its tools do:
// tests/e2e/cases/sim-tools.*).
#include "sim_harness.h"

#include <cstdlib>
#include <fstream>
#include <string>

#include <sys/stat.h>

#include <gtest/gtest.h>

namespace {

using e2e::q;
using e2e::SimAp;

const char *kAp = R"(ap 02:00:00:00:cc:01
slots 2
vap wlan-1-1 02:00:00:00:cc:11 up
vap wds-1-9 02:00:00:00:cc:19 up
vap wlan-1-10 02:00:00:00:cc:1a down
vap wlan-2-1 02:00:00:00:cc:21 up

step 0 a station
assoc 3c:00:00:00:00:01 wlan-1-1
pass

step 1:00 a VAP goes down
link wlan-2-1 down
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

std::string launcher()
{
    return "sh " + q(std::string(getenv("RRM_SOURCE_DIR")) + "/sim/rrm-sim");
}

std::string inside(SimAp &ap, const std::string &command)
{
    std::string out;
    e2e::run(launcher() + " exec " + q(ap.state()) + " /bin/sh -c " + q(command), &out);
    return out;
}

bool mounted_under(const std::string &path)
{
    std::ifstream in("/proc/self/mountinfo");
    for (std::string line; std::getline(in, line);)
        if (line.find(path) != std::string::npos)
            return true;
    return false;
}

TEST_F(Sim, RefusedStartLeavesNothingAndNeverTouchesAForeignFolder)
{
    const struct {
        const char *name, *scenario, *env;
        int rc;
        std::string message;
    } cases[] = {
        {"sim-bad", "ap 02:00:00:00:dd:01\nvap wlan-1-1 02:00:00:00:dd up\n", "", 2,
         "sim-bad.scn:2: bad VAP MAC address '02:00:00:00:dd'"},
        {"sim-fail", kAp, "SIM_UBUSD=/bin/false", 1, "start failed: the bus daemon did not start"},
    };
    for (const auto &c : cases) {
        SimAp ap(c.name, c.scenario);
        std::string out;
        EXPECT_EQ(ap.start(c.env, &out), c.rc) << c.name;
        EXPECT_NE(out.find(c.message), std::string::npos) << out;
        for (const char *f : {"/unshare.pid", "/ns.pid", "/ready"})
            EXPECT_FALSE(exists(ap.state() + f)) << c.name << f;
        EXPECT_FALSE(mounted_under(ap.state())) << c.name;
    }

    const std::string dir = std::string(getenv("RRM_BINARY_DIR")) + "/e2e-runs/foreign";
    mkdir(dir.c_str(), 0755);
    mkdir((dir + "/db").c_str(), 0755);
    std::ofstream(dir + "/db/keep") << "precious";
    std::ofstream(dir + ".scn") << kAp;
    std::string out;
    EXPECT_EQ(e2e::run(launcher() + " --build " + q(getenv("RRM_BINARY_DIR")) + " start " +
                           q(dir + ".scn") + " " + q(dir),
                       &out),
              1);
    EXPECT_NE(out.find("not a state folder of ours"), std::string::npos) << out;
    EXPECT_EQ(e2e::read_file(dir + "/db/keep"), "precious");
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
