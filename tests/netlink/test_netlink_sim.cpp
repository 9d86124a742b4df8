// The SSID-change event of the kernel channel inside the simulated access
// point: the VAP interfaces there carry the scenario's MAC addresses, and one
// event writes all eight VAP fields of both slots, the address of each VAP
// that exists (up or down) and the all-zero address for each that does not.
#include <stdlib.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sim_harness.h"

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
    std::string why;
    if (!e2e::can_simulate(&why))
        GTEST_SKIP() << why;
    e2e::SimAp ap("netlink_ssid", kScenario);
    std::string out;
    ASSERT_EQ(0, ap.start("", &out)) << out;

    const std::string trace = ap.state() + "/netlink-commands";
    const std::string launcher = std::string(getenv("RRM_SOURCE_DIR")) + "/sim/rrm-sim";
    const std::string probe = std::string(getenv("RRM_BINARY_DIR")) + "/tests/netlink/netlink_probe";
    ASSERT_EQ(0, e2e::run("STATUSDB_TRACE=" + e2e::q(trace) + " sh " + e2e::q(launcher) + " exec " +
                              e2e::q(ap.state()) + " " + e2e::q(probe) + " " + kAp,
                          &out))
        << out;

    const std::map<std::string, std::string> present = {
        {"wlan-1-1", "02:00:00:00:dd:11"}, {"wlan-1-2", "02:00:00:00:dd:12"}, {"wlan-1-8", "02:00:00:00:dd:18"},
        {"wlan-2-1", "02:00:00:00:dd:21"}, {"wlan-2-5", "02:00:00:00:dd:25"}};
    std::string expected;
    for (int r = 1; r <= 2; ++r) {
        for (int v = 1; v <= 8; ++v) {
            auto it = present.find("wlan-" + std::to_string(r) + "-" + std::to_string(v));
            expected += std::string("dbctl -t WLAN-") + kAp + " -k SLOT-" + std::to_string(r - 1) + " -f VAP_" +
                        std::to_string(v - 1) + "_MAC -s " +
                        (it != present.end() ? it->second : "00:00:00:00:00:00") + "\n";
        }
    }
    EXPECT_EQ(expected, e2e::read_file(trace));

    const std::string table = std::string("WLAN-") + kAp;
    EXPECT_EQ("02:00:00:00:dd:11", ap.get(table, "SLOT-0", "VAP_0_MAC"));
    EXPECT_EQ("02:00:00:00:dd:12", ap.get(table, "SLOT-0", "VAP_1_MAC"));
    EXPECT_EQ("00:00:00:00:00:00", ap.get(table, "SLOT-0", "VAP_2_MAC"));
    EXPECT_EQ("02:00:00:00:dd:25", ap.get(table, "SLOT-1", "VAP_4_MAC"));
    EXPECT_EQ("00:00:00:00:00:00", ap.get(table, "SLOT-1", "VAP_7_MAC"));
}

}  // namespace
