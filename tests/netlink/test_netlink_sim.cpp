// The SSID-change event of the kernel channel inside the simulated access
// point: the VAP interfaces there carry the scenario's MAC addresses, and one
// event writes all eight VAP fields of both slots, the address of each VAP
// that exists and the all-zero address for each that does not.
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

constexpr const char *kAp = "02:00:00:00:dd:01";

const char *kScenario = R"(title kernel SSID event
ap 02:00:00:00:dd:01
slots 2
vap wlan-1-1 02:00:00:00:dd:11 up ssid=Office
vap wlan-1-2 02:00:00:00:dd:12 down
vap wlan-1-8 02:00:00:00:dd:18 up
vap wlan-2-1 02:00:00:00:dd:21 up
vap wlan-2-5 02:00:00:00:dd:25 up
vap wds-2-9 02:00:00:00:dd:29 up
)";

std::string q(const std::string &word)
{
    std::string r = "'";
    for (char c : word)
        r += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return r + "'";
}

int run(const std::string &cmdline, std::string *out = nullptr)
{
    FILE *p = popen((cmdline + " 2>&1").c_str(), "r");
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

std::vector<std::string> lines(const std::string &path)
{
    std::vector<std::string> r;
    std::ifstream in(path);
    for (std::string l; std::getline(in, l);)
        r.push_back(l);
    return r;
}

class NetlinkSim : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char *src = getenv("RRM_SOURCE_DIR");
        const char *bin = getenv("RRM_BINARY_DIR");
        if (geteuid() != 0 || src == nullptr || bin == nullptr)
            GTEST_SKIP() << "the simulated access point needs root and the tree's locations";
        launcher_ = "sh " + q(std::string(src) + "/sim/rrm-sim");
        build_ = bin;
        std::string dir = build_ + "/netlink-sim";
        run("mkdir -p " + q(dir));
        state_ = dir + "/ssid";
        scenario_ = dir + "/ssid.scn";
        std::ofstream(scenario_) << kScenario;
        run("rm -rf " + q(state_));
        std::string out;
        ASSERT_EQ(0, run(launcher_ + " --build " + q(build_) + " start " + q(scenario_) + " " + q(state_), &out))
            << out;
        started_ = true;
    }

    void TearDown() override
    {
        if (started_)
            run(launcher_ + " stop " + q(state_));
    }

    std::string get(const std::string &key, const std::string &field)
    {
        std::string out;
        run(launcher_ + " db " + q(state_) + " -t " + q(std::string("WLAN-") + kAp) + " -k " + q(key) +
                " -g " + q(field),
            &out);
        while (!out.empty() && (out.back() == '\n' || out.back() == '\r'))
            out.pop_back();
        return out;
    }

    std::string launcher_, build_, state_, scenario_;
    bool started_ = false;
};

TEST_F(NetlinkSim, SsidEventWritesSixteenVapAddresses)
{
    const std::string trace = state_ + "/netlink-commands";
    std::string out;
    // Inside the access point the build tree is reached through the scratch
    // space beside the state folder's own view (the host's /tmp, where the
    // tree may lie, is replaced there).
    std::string inside;
    std::getline(std::ifstream(state_ + "/inside-path"), inside);
    ASSERT_FALSE(inside.empty()) << "the simulator names no inside path";
    const std::string probe = inside.substr(0, inside.rfind('/')) + "/build/tests/netlink/netlink_probe";
    ASSERT_EQ(0, run("STATUSDB_TRACE=" + q(inside + "/netlink-commands") + " " + launcher_ + " exec " +
                         q(state_) + " " + q(probe) + " " + kAp,
                     &out))
        << out;

    auto vap_mac = [](int r, int v) -> std::string {
        const std::pair<const char *, const char *> present[] = {
            {"1-1", "02:00:00:00:dd:11"}, {"1-2", "02:00:00:00:dd:12"}, {"1-8", "02:00:00:00:dd:18"},
            {"2-1", "02:00:00:00:dd:21"}, {"2-5", "02:00:00:00:dd:25"}};
        const std::string name = std::to_string(r) + "-" + std::to_string(v);
        for (auto [n, mac] : present)
            if (name == n)
                return mac;
        return "00:00:00:00:00:00";
    };
    std::vector<std::string> expected;
    for (int r = 1; r <= 2; ++r)
        for (int v = 1; v <= 8; ++v)
            expected.push_back(std::string("dbctl -t WLAN-") + kAp + " -k SLOT-" + std::to_string(r - 1) +
                               " -f VAP_" + std::to_string(v - 1) + "_MAC -s " + vap_mac(r, v));
    EXPECT_EQ(expected, lines(trace));

    EXPECT_EQ("02:00:00:00:dd:11", get("SLOT-0", "VAP_0_MAC"));
    EXPECT_EQ("02:00:00:00:dd:12", get("SLOT-0", "VAP_1_MAC"));  // down, but there
    EXPECT_EQ("00:00:00:00:00:00", get("SLOT-0", "VAP_2_MAC"));
    EXPECT_EQ("02:00:00:00:dd:18", get("SLOT-0", "VAP_7_MAC"));
    EXPECT_EQ("02:00:00:00:dd:25", get("SLOT-1", "VAP_4_MAC"));
    EXPECT_EQ("00:00:00:00:00:00", get("SLOT-1", "VAP_7_MAC"));
}

}  // namespace
