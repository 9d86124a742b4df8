// The simulated access point itself and its launcher's refusals: a command
// it cannot carry out gets one clear message and a non-zero status, one
// simulation per state folder, a play whose tools failed ends non-zero, a
// daemon that ends is started again; bad scenarios and failing services stop
// everything, and nothing is left on the host afterwards (what its tools do:
// tests/e2e/cases/sim-tools.*). Also: the driver's view follows a channel
// change.
#include "scenario.h"
#include "sim_harness.h"
#include "../common/transcript.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>

#include <sys/stat.h>

#include <gtest/gtest.h>

namespace {

using e2e::q;
using e2e::SimAp;

const char *kAp = "ap 02:00:00:00:ab:01\nvap wlan-1-1 02:00:00:00:ab:11 up\n";

std::string launcher()
{
    return "sh " + q(std::string(getenv("RRM_SOURCE_DIR")) + "/sim/rrm-sim");
}

const std::string kTimeline = std::string(kAp) +
                              "step 0 one\nassoc 3c:00:00:00:00:01 wlan-1-1\npass\n"
                              "step 0:10 two\npass\n";

bool exists(const std::string &p) { return std::filesystem::exists(std::filesystem::symlink_status(p)); }

// Runs a command inside the access point: its status, its output in *out.
int inside(const SimAp &ap, const std::string &command, std::string *out)
{
    return e2e::run(launcher() + " exec " + q(ap.state()) + " /bin/sh -c " + q(command), out);
}

bool mounted_under(const std::string &path) { return proc::slurp("/proc/self/mountinfo").find(path) != std::string::npos; }

const char *kTwoRadios = R"(ap 02:00:00:00:cc:01
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

// Runs the launcher with the given words and checks status and message.
void expect_case(const SimAp &ap, std::string args, int want, const std::string &message, const std::string &env = "")
{
    std::string out;
    const std::string shown = args;
    for (size_t at; (at = args.find_first_of("@%")) != std::string::npos;)
        args.replace(at, 1, q(args[at] == '@' ? ap.state() : ap.state() + ".scn"));
    int rc = e2e::run(env + launcher() + " --build " + q(getenv("RRM_BINARY_DIR")) + " " + args, &out);
    EXPECT_EQ(rc, want) << shown << "\n" << out;
    EXPECT_NE(out.find(message), std::string::npos) << shown << "\n" << out;
    EXPECT_EQ(out.find("Illegal number"), std::string::npos) << shown << "\n" << out;
}

// Runs the cases of a group of tests/e2e/launcher.txt; `ap` makes the access
// point of a case from its timeline.
void expect_cases(const std::string &group, const std::function<const SimAp &(const std::string &)> &ap)
{
    transcript::play("e2e/launcher.txt", {}, [&](const std::string &line) {
        std::vector<std::string> f;
        std::istringstream in(line);
        for (std::string w; std::getline(in, w, '|');)
            f.push_back(transcript::unescape(w.substr(w.starts_with(' '), w.size() - w.starts_with(' ') - w.ends_with(' '))));
        f.resize(5);
        if (f[0] == group)
            expect_case(ap(f[4]), f[2], std::stoi(f[1]), f[3]);
    });
}

TEST(SimRefusal, CheckTakesANameAndRefusesEventsOnUnknownVapsOrStations)
{
    if (!getenv("RRM_SOURCE_DIR") || !getenv("RRM_BINARY_DIR"))
        GTEST_SKIP() << "RRM_SOURCE_DIR and RRM_BINARY_DIR are not set";
    std::unique_ptr<SimAp> ap;
    expect_cases("check", [&](const std::string &timeline) -> const SimAp & {
        return *(ap = std::make_unique<SimAp>("refuse-check", kAp + timeline));
    });
}

TEST(SimRefusal, AChannelChangeMovesTheRadiosListedStations)
{
    auto plan = sim::compile_scenario(
        std::string(kAp) + "vap wlan-2-1 02:00:00:00:ab:21 up\nradio 1 channel=6\nstep 0 a\n"
                           "assoc 3c:00:00:00:00:01 wlan-1-1 channel=6\n"
                           "assoc 3c:00:00:00:00:02 wlan-2-1 channel=36\nchannel wlan-1-1 11\npass\n",
        nullptr);
    ASSERT_TRUE(plan);
    const auto &after = plan->snapshots.back();
    EXPECT_NE(after.at("driver/wlan-1-1").find("3c:00:00:00:00:01 1 11 "), std::string::npos)
        << after.at("driver/wlan-1-1");
    EXPECT_NE(after.at("driver/wlan-2-1").find("3c:00:00:00:00:02 2 36 "), std::string::npos)
        << after.at("driver/wlan-2-1");
}

class SimRefusalRunning : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string why;
        if (!e2e::can_simulate(&why))
            GTEST_SKIP() << why;
    }
};

TEST_F(SimRefusalRunning, OneSimulationPerFolderStepsInOrderAndNothingOnAStoppedOne)
{
    SimAp ap("refuse-run", kTimeline);
    std::string out;
    ASSERT_EQ(ap.start("", &out), 0) << out;
    expect_cases("running", [&](const std::string &) -> const SimAp & { return ap; });
    // the running simulation was not disturbed by the refused start and run
    EXPECT_EQ(ap.get("STA_STATISTIC-02:00:00:00:ab:01", "3c:00:00:00:00:01", "IFACE"), "wlan-1-1");
    ASSERT_EQ(ap.stop(), 0);
    expect_cases("stopped", [&](const std::string &) -> const SimAp & { return ap; });
}

TEST_F(SimRefusalRunning, FailedToolsFailThePlayAndAnEndedDaemonIsStartedAgain)
{
    SimAp ap("refuse-restart", kTimeline);
    std::string out;
    ASSERT_EQ(ap.start("SIM_STA_PUB=/bin/false", &out), 0) << out;
    if (!ap.daemon_built())
        GTEST_SKIP() << "the daemon is not built";
    expect_case(ap, "play @ --step 1", 1, "association of 3c:00:00:00:00:01 not published");

    // the daemon aborts, as it does by design when the bus is gone
    std::string pid = ap.file("rrm.pid");
    ASSERT_EQ(inside(ap, "kill -ABRT " + pid.substr(0, pid.find('\n')), nullptr), 0);
    expect_case(ap, "play @ --step 2", 0, "daemon ended: killed by signal 6 (SIGABRT)");
    EXPECT_NE(ap.file("daemon.log").find("daemon started again (restart 1)"), std::string::npos)
        << ap.file("daemon.log");
    EXPECT_EQ(ap.stop(), 0);
}

TEST_F(SimRefusalRunning, RefusedStartLeavesNothingAndNeverTouchesAForeignFolder)
{
    const struct {
        const char *name, *scenario, *env;
        int rc;
        std::string message;
    } cases[] = {
        {"sim-bad", "ap 02:00:00:00:dd:01\nvap wlan-1-1 02:00:00:00:dd up\n", "", 2,
         "sim-bad.scn:2: bad VAP MAC address '02:00:00:00:dd'"},
        {"sim-fail", kTwoRadios, "SIM_UBUSD=/bin/false", 1, "start failed: the bus daemon did not start"},
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
    std::ofstream(dir + ".scn") << kTwoRadios;
    std::string out;
    EXPECT_EQ(e2e::run(launcher() + " --build " + q(getenv("RRM_BINARY_DIR")) + " start " +
                           q(dir + ".scn") + " " + q(dir),
                       &out),
              1);
    EXPECT_NE(out.find("not a state folder of ours"), std::string::npos) << out;
    EXPECT_EQ(proc::slurp(dir + "/db/keep"), "precious");
}

TEST_F(SimRefusalRunning, StopLeavesNothingOnTheHost)
{
    const bool had_wifi_dir = exists("/lib/wifi");
    const bool had_halvo = exists("/var/halvo");
    const bool had_link = exists("/sys/class/net/wlan-1-1");
    const std::string cat_before = proc::slurp("/bin/cat");
    SimAp ap("sim-stop", kTwoRadios);
    std::string out;
    // without overlay mounts: the folder-of-links way must not touch the host either
    ASSERT_EQ(ap.start("SIM_NO_OVERLAY=1", &out), 0) << out;
    inside(ap, "cat /proc/net/wireless | sed '1,2d' | grep \".*-2-.*\" | head -n1", &out);
    EXPECT_EQ(out, " wlan-2-1: 0000   70.  -40.  -95.  0 0 0 0 0 0\n");
    inside(ap, "/lib/wifi/get_active_vap_list", &out);
    EXPECT_EQ(out, "wlan-1-1\nwds-1-9\nwlan-2-1\n");
    std::string ns_pid;
    std::getline(std::istringstream(ap.file("ns.pid")), ns_pid);
    ASSERT_FALSE(ns_pid.empty());
    EXPECT_TRUE(exists("/proc/" + ns_pid));
    EXPECT_EQ(ap.stop(), 0);
    EXPECT_FALSE(exists("/proc/" + ns_pid));
    EXPECT_FALSE(mounted_under(ap.state()));
    EXPECT_EQ(exists("/lib/wifi"), had_wifi_dir);
    EXPECT_EQ(exists("/var/halvo"), had_halvo);
    EXPECT_EQ(exists("/sys/class/net/wlan-1-1"), had_link);
    EXPECT_EQ(proc::slurp("/bin/cat"), cat_before);
    // stopping again is harmless
    EXPECT_EQ(ap.stop(), 0);
}

}  // namespace
