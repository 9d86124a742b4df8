// The SSID-change event of the kernel channel inside the simulated access
// point: the VAP interfaces there carry the scenario's MAC addresses, and one
// event writes all eight VAP fields of both slots, the address of each VAP
// that exists and the all-zero address for each that does not.
#include <stdlib.h>

#include <fstream>

#include "../e2e/sim_harness.h"

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

TEST(NetlinkSim, SsidEventWritesSixteenVapAddresses)
{
    std::string why, out;
    if (!e2e::can_simulate(&why))
        GTEST_SKIP() << why;
    e2e::SimAp ap("netlink-ssid", kScenario);
    e2e::run("rm -rf " + e2e::q(ap.state()));  // no commands of an earlier run
    ASSERT_EQ(0, ap.start("", &out)) << out;

    // Inside the access point the build tree is reached through the scratch
    // space beside the state folder's own view (the host's /tmp, where the
    // tree may lie, is replaced there).
    std::string inside;
    std::getline(std::ifstream(ap.state() + "/inside-path"), inside);
    ASSERT_FALSE(inside.empty()) << "the simulator names no inside path";
    const std::string probe = inside.substr(0, inside.rfind('/')) + "/build/tests/netlink/netlink_probe";
    ASSERT_EQ(0, e2e::run("STATUSDB_TRACE=" + e2e::q(inside + "/netlink-commands") + " sh " +
                              e2e::q(std::string(getenv("RRM_SOURCE_DIR")) + "/sim/rrm-sim") + " exec " +
                              e2e::q(ap.state()) + " " + e2e::q(probe) + " " + kAp,
                          &out))
        << out;

    const std::string mac[2][8] = {
        {"02:00:00:00:dd:11", "02:00:00:00:dd:12", "", "", "", "", "", "02:00:00:00:dd:18"},
        {"02:00:00:00:dd:21", "", "", "", "02:00:00:00:dd:25", "", "", ""}};
    std::string expected;
    for (int s = 0; s < 2; ++s)
        for (int v = 0; v < 8; ++v)
            expected += std::string("dbctl -t WLAN-") + kAp + " -k SLOT-" + std::to_string(s) + " -f VAP_" +
                        std::to_string(v) + "_MAC -s " + (mac[s][v].empty() ? "00:00:00:00:00:00" : mac[s][v]) + "\n";
    EXPECT_EQ(expected, ap.file("netlink-commands"));

    const std::string table = std::string("WLAN-") + kAp;
    EXPECT_EQ("02:00:00:00:dd:11", ap.get(table, "SLOT-0", "VAP_0_MAC"));
    EXPECT_EQ("02:00:00:00:dd:12", ap.get(table, "SLOT-0", "VAP_1_MAC"));  // down, but there
    EXPECT_EQ("00:00:00:00:00:00", ap.get(table, "SLOT-0", "VAP_2_MAC"));
    EXPECT_EQ("02:00:00:00:dd:18", ap.get(table, "SLOT-0", "VAP_7_MAC"));
    EXPECT_EQ("02:00:00:00:dd:25", ap.get(table, "SLOT-1", "VAP_4_MAC"));
    EXPECT_EQ("00:00:00:00:00:00", ap.get(table, "SLOT-1", "VAP_7_MAC"));
}

}  // namespace
