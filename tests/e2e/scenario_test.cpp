// The scenario compiler: refusals with line numbers, the clock and the order
// of a roam's events, and the wifi manager's records byte by byte.
#include "scenario.h"

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

namespace {

const char *kHeader =
    "ap 02:00:00:00:00:01\n"
    "slots 2\n"
    "vap wlan-1-1 02:00:00:00:00:11 up ssid=Office ssid-profile=office security=WPA2-PSK "
    "sec-profile=office-psk\n"
    "vap wds-1-9 02:00:00:00:00:19 up\n"
    "vap wlan-2-1 02:00:00:00:00:21 down\n";

TEST(Scenario, BadLinesAreRefusedWithTheirNumberAndReason)
{
    struct Case {
        std::string text;
        int line;
        const char *reason_part;
    } cases[] = {
        {"frobnicate 1\n", 6, "unknown directive 'frobnicate'"},
        {"vap wlan-1-2 02:00:00:00:00:1 up\n", 6, "bad VAP MAC address"},
        {"vap wlan-1-2;rm 02:00:00:00:00:12 up\n", 6, "bad interface name"},
        {"vap wlan-1-2 02:00:00:00:00:12 sideways\n", 6, "up or down"},
        {"vap wlan-1-2 02:00:00:00:00:12 up colour=red\n", 6, "unknown option 'colour'"},
        {"assoc 3c:00:00:00:00:01 wlan-1-1\n", 6, "start a step first"},
        {"step 0:10 a\nstep 0:05 b\n", 7, "goes back"},
        {"step 1:75 a\n", 6, "bad time"},
        {"step soon a\n", 6, "bad time"},
        {"step 0 a\nvap wlan-1-3 02:00:00:00:00:13 up\n", 7, "before the first step"},
        {"step 0 a\nroam 3c:00:00:00:00:01 wlan-1-1\n", 7, "has not associated"},
        {"step 0 a\nleave 3c:00:00:00:00:01\n", 7, "has not appeared"},
        {"step 0 a\nassoc 3c:00:00:00:00:01 wlan-1-1 band=7g\n", 7, "band"},
        {"step 0 a\nip 3c:00:00:00:00:01 wlan-1-1 10.0.0.256\n", 7, "bad IPv4"},
        {"step 0 a\nassoc 3c:00:00:00:00:01 wlan-1-1 rssi=loud\n", 7, "rssi"},
        {"step 0 a\nlink wlan-9-9 up\n", 7, "no VAP named"},
        {"step 0 a\npass 0\n", 7, "pass"},
        {"conf 1 SSID_1_NAME=\"open\n", 6, "unterminated double quote"},
        {"conf 1 BAD-KEY=\"x\"\n", 6, "bad key"},
        {"ap 02:00:00:00:00:02\n", 6, "given twice"},
        {"slots 17\n", 6, "slots"},
        {"step 0 a\nassoc 3c:00:00:00:00:01 wlan-1-1 ssid=" + std::string(33, 'x') + "\n", 7,
         "ssid"},
        {"slots 1\n", 0, "no 'ap <mac>'"},  // the only case without the header
    };
    for (const Case &c : cases) {
        std::string text = (c.line > 0 ? kHeader : "") + c.text;
        sim::ScenarioError err;
        EXPECT_FALSE(sim::compile_scenario(text, &err).has_value()) << text;
        EXPECT_EQ(err.line, c.line) << text;
        EXPECT_NE(err.reason.find(c.reason_part), std::string::npos) << text << " -> " << err.reason;
    }
}

// The order of a roam's events is checked end to end (tests/e2e/cases/events.*).
TEST(Scenario, MacsAreCanonicalQuotedTextsKeptAndClocksChecked)
{
    sim::ScenarioError err;
    auto plan = sim::compile_scenario(
        std::string(kHeader) + "step 0 join\nassoc 3C:00:00:00:00:01 wlan-1-1 ssid=\"Office net\"\n", &err);
    ASSERT_TRUE(plan) << err.line << ": " << err.reason;
    EXPECT_EQ(plan->steps.at(0).actions.at(0).args.at(1), "3c:00:00:00:00:01");
    EXPECT_EQ(plan->steps.at(0).actions.at(0).args.at(3), "Office net");
    EXPECT_EQ(sim::shell_quote("it's"), "'it'\\''s'");

    const struct {
        const char *text;
        long long epoch;  // -1: refused
    } clocks[] = {
        {"2026-03-02 08:00:00", 1772438400}, {"2000-02-29 23:59:59", 951868799},
        {"86400", 86400},                    {"2026-13-01 00:00:00", -1},
        {"2026-03-02 24:00:00", -1},         {"2026-03-02 08:00", -1},
        {"yesterday", -1},                   {"-5", -1},
        {"2026-03-02T08:00:00", -1},
    };
    for (const auto &c : clocks) {
        long long epoch = -1;
        bool ok = sim::parse_clock(c.text, &epoch);
        EXPECT_EQ(ok ? epoch : -1, c.epoch) << c.text;
    }
}

TEST(Scenario, StationRecordCarriesTheFieldsAtTheirOffsets)
{
    sim::Station st;
    ASSERT_TRUE(sim::parse_mac("3c:22:fb:10:20:01", &st.mac));
    st.vid = 300;
    st.rssi = -45;
    st.auth = 1;
    st.security = "WPA2-PSK";
    st.ssid = "Office";
    auto rec = sim::station_record("wlan-1-2", st, {192, 168, 1, 10});
    ASSERT_EQ(rec.size(), 640u);
    EXPECT_STREQ(reinterpret_cast<const char *>(rec.data()), "wlan-1-2");
    EXPECT_EQ(rec[18] | (rec[19] << 8), 240);          // len of the station member
    EXPECT_EQ(rec[24] | (rec[25] << 8), 300);          // vid
    EXPECT_EQ(memcmp(&rec[26], st.mac.data(), 6), 0);  // macaddr
    EXPECT_EQ(rec[33], 50);                            // rssi as the driver's SNR
    EXPECT_EQ(rec[34], 1);                             // authorized
    EXPECT_STREQ(reinterpret_cast<const char *>(&rec[37]), "Office");
    EXPECT_STREQ(reinterpret_cast<const char *>(&rec[144]), "WPA2-PSK");
    const uint8_t ip[4] = {192, 168, 1, 10};
    EXPECT_EQ(memcmp(&rec[192], ip, 4), 0);
}

TEST(Scenario, ShippedScenariosCompile)
{
    const char *src = getenv("RRM_SOURCE_DIR");
    ASSERT_NE(src, nullptr);
    for (const char *name : {"demo", "mesh"}) {
        std::string path = std::string(src) + "/sim/scenarios/" + name + ".scn";
        std::ostringstream text;
        text << std::ifstream(path).rdbuf();
        sim::ScenarioError err;
        auto plan = sim::compile_scenario(text.str(), &err);
        ASSERT_TRUE(plan) << path << ":" << err.line << ": " << err.reason;
        EXPECT_FALSE(plan->steps.empty()) << path;
        EXPECT_FALSE(plan->title.empty()) << path;
    }
}

}  // namespace
