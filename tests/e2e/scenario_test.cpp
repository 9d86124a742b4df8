// The scenario compiler: refusals with line numbers, the wifi manager's
// records, and fixtures that the daemon's reading patterns understand.
#include "scenario.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
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

sim::ScenarioError refuse(const std::string &text)
{
    sim::ScenarioError err;
    EXPECT_FALSE(sim::compile_scenario(text, &err).has_value()) << text;
    return err;
}

TEST(Scenario, BadLinesAreRefusedWithTheirNumberAndReason)
{
    struct Case {
        std::string body;
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
    };
    for (const Case &c : cases) {
        sim::ScenarioError err = refuse(kHeader + c.body);
        EXPECT_EQ(err.line, c.line) << c.body;
        EXPECT_NE(err.reason.find(c.reason_part), std::string::npos)
            << c.body << " -> " << err.reason;
    }
    sim::ScenarioError err = refuse("slots 1\n");
    EXPECT_EQ(err.line, 0);
    EXPECT_NE(err.reason.find("no 'ap <mac>'"), std::string::npos);
}

TEST(Scenario, TimelineBecomesOrderedActions)
{
    std::string text = std::string(kHeader) +
                       "step 0 join\n"
                       "assoc 3C:00:00:00:00:01 wlan-1-1 ssid=\"Office net\" rssi=-45 vid=7\n"
                       "authorize 3c:00:00:00:00:01 wlan-1-1\n"
                       "step 1:05 roam\n"
                       "roam 3c:00:00:00:00:01 wlan-2-1\n"
                       "pass 2\n";
    sim::ScenarioError err;
    auto plan = sim::compile_scenario(text, &err);
    ASSERT_TRUE(plan) << err.line << ": " << err.reason;
    ASSERT_EQ(plan->steps.size(), 2u);
    EXPECT_EQ(plan->steps[1].time_s, 65);
    const auto &a = plan->steps[0].actions;
    ASSERT_EQ(a.size(), 3u);  // the two events, then the step's changes shown
    EXPECT_EQ(a[0].kind, sim::Action::Sta);
    EXPECT_EQ(a[0].args[0], "assoc");
    EXPECT_EQ(a[0].args[1], "3c:00:00:00:00:01");  // canonical lower case
    EXPECT_EQ(a[0].args[3], "Office net");
    EXPECT_EQ(a[0].args[5], "7");
    EXPECT_EQ(a[1].kind, sim::Action::Ubus);
    EXPECT_EQ(a[1].args[0], "sta_authorized");
    EXPECT_EQ(a[2].kind, sim::Action::Fixtures);
    const auto &b = plan->steps[1].actions;
    // association on the new interface first, then the old one's departure,
    // then a fresh snapshot for the passes
    ASSERT_EQ(b.size(), 4u);
    EXPECT_EQ(b[0].args[0], "assoc");
    EXPECT_EQ(b[0].args[2], "wlan-2-1");
    EXPECT_EQ(b[1].args[0], "disassoc");
    EXPECT_EQ(b[1].args[2], "wlan-1-1");
    EXPECT_EQ(b[2].kind, sim::Action::Fixtures);
    EXPECT_EQ(b[3].kind, sim::Action::Pass);
    EXPECT_EQ(b[3].args[0], "2");
    // the driver lists the station on its new VAP only
    const auto &snap = plan->snapshots.at(std::stoul(b[2].args[0]));
    EXPECT_EQ(snap.at("driver/wlan-1-1").find("3c:00:00:00:00:01"), std::string::npos);
    EXPECT_NE(snap.at("driver/wlan-2-1").find("3c:00:00:00:00:01"), std::string::npos);
    EXPECT_EQ(sim::shell_quote("it's"), "'it'\\''s'");

    long long epoch = 0;
    EXPECT_TRUE(sim::parse_clock("2026-03-02 08:00:00", &epoch));
    EXPECT_EQ(epoch, 1772438400);
    EXPECT_TRUE(sim::parse_clock("2000-02-29 23:59:59", &epoch));
    EXPECT_EQ(epoch, 951868799);
    EXPECT_TRUE(sim::parse_clock("86400", &epoch));
    EXPECT_EQ(epoch, 86400);
    for (const char *bad : {"2026-13-01 00:00:00", "2026-03-02 24:00:00", "2026-03-02 08:00",
                            "yesterday", "-5", "2026-03-02T08:00:00"})
        EXPECT_FALSE(sim::parse_clock(bad, &epoch)) << bad;
}

TEST(Scenario, WifiManagerRecordsCarryTheFieldsAtTheirOffsets)
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

    auto ch = sim::channel_record("wlan-2-1", 149, -1, 155, 0, 1, 80);
    EXPECT_EQ(ch[18] | (ch[19] << 8), 146);
    EXPECT_EQ(ch[24 + 71], 149);
    EXPECT_EQ(static_cast<int8_t>(ch[24 + 72]), -1);
    EXPECT_EQ(ch[24 + 73], 155);
    EXPECT_EQ(static_cast<int8_t>(ch[24 + 143]), 1);
    EXPECT_EQ(ch[24 + 144] | (ch[24 + 145] << 8), 80);
}

TEST(Scenario, FixturesReadBackWithTheDaemonsPatterns)
{
    std::string text = std::string(kHeader) +
                       "radio 1 channel=6 txpower=17 chutil=42\n"
                       "counters wlan-1-1 tx-frames=900 rx-frames=800 tx-bytes=123456789012 "
                       "rx-bytes=5 rx-errs=100\n"
                       "step 0 join\n"
                       "assoc 3c:00:00:00:00:01 wlan-1-1\n"
                       "driver 3c:00:00:00:00:01 txrate=300M rxrate=270M snr=44 tx=99 rx=98 "
                       "bandcap=HE40 mode=11ax ip=10.0.0.5\n"
                       "pass\n";
    sim::ScenarioError err;
    auto plan = sim::compile_scenario(text, &err);
    ASSERT_TRUE(plan) << err.reason;
    const auto &f = plan->snapshots.back();

    // wlanconfig: header, then the station line
    const std::string &listing = f.at("driver/wlan-1-1");
    std::string line = listing.substr(listing.find('\n') + 1);
    char mac[32] = {0}, tx_rate[16] = {0}, rx_rate[16] = {0}, bandcap[32] = {0}, feat[16] = {0};
    int channel = 0, snr = 0;
    unsigned long long tx = 0, rx = 0;
    ASSERT_EQ(sscanf(line.c_str(), "%31s", mac), 1);
    EXPECT_STREQ(mac, "3c:00:00:00:00:01");
    ASSERT_EQ(sscanf(line.c_str(), "%*s %*s %d %15s %15s %d %*s %*s %llu %llu %31s %*s 11%15s",
                     &channel, tx_rate, rx_rate, &snr, &tx, &rx, bandcap, feat),
              8);
    EXPECT_EQ(channel, 6);
    EXPECT_STREQ(tx_rate, "300M");
    EXPECT_STREQ(rx_rate, "270M");
    EXPECT_EQ(snr, 44);
    EXPECT_EQ(tx, 99u);
    EXPECT_EQ(rx, 98u);
    EXPECT_STREQ(bandcap, "HE40");
    EXPECT_STREQ(feat, "ax");

    // /proc/net/dev: the counters after the first ':'
    const std::string &dev = f.at("proc_net_dev");
    size_t at = dev.find("wlan-1-1:");
    ASSERT_NE(at, std::string::npos);
    unsigned long long rx_bytes = 0, tx_bytes = 0;
    int rx_pk = 0, rx_err = 0, d[5], tx_pk = 0, tx_err = 0;
    ASSERT_EQ(sscanf(dev.c_str() + dev.find(':', at), ":%llu %d %d %d %d %d %d %d %llu %d %d",
                     &rx_bytes, &rx_pk, &rx_err, &d[0], &d[1], &d[2], &d[3], &d[4], &tx_bytes,
                     &tx_pk, &tx_err),
              11);
    EXPECT_EQ(rx_bytes, 5u);
    EXPECT_EQ(rx_err, 100);
    EXPECT_EQ(tx_bytes, 123456789012u);
    EXPECT_EQ(tx_pk, 900);

    // the VAP list holds the VAPs that are up; the shell's status says Down
    EXPECT_EQ(f.at("vaps"), "wlan-1-1\nwds-1-9\n");
    EXPECT_NE(f.at("hvsh/wlan_status").find("wlan-2-1        Down"), std::string::npos);
    EXPECT_NE(f.at("iwlist/wlan-1-1").find("Tx-Power=17 dBm"), std::string::npos);
    EXPECT_EQ(f.at("iwpriv/wlan-1-1"), "wlan-1-1  get_chutil:42\n");
    EXPECT_NE(f.at("hvsh/config/wlan-1-1").find("\n  SSID_profile: office\n"), std::string::npos);
    EXPECT_NE(f.at("hvsh/station_info").find("  IPv4 Address  : 10.0.0.5\n"), std::string::npos);
}

}  // namespace

namespace {

TEST(Scenario, ShippedScenariosCompile)
{
    const char *src = getenv("RRM_SOURCE_DIR");
    ASSERT_NE(src, nullptr);
    for (const char *name : {"demo", "mesh"}) {
        std::string path = std::string(src) + "/sim/scenarios/" + name + ".scn";
        FILE *f = fopen(path.c_str(), "r");
        ASSERT_NE(f, nullptr) << path;
        std::string text;
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, f)) > 0)
            text.append(buf, n);
        fclose(f);
        sim::ScenarioError err;
        auto plan = sim::compile_scenario(text, &err);
        ASSERT_TRUE(plan) << path << ":" << err.line << ": " << err.reason;
        EXPECT_FALSE(plan->steps.empty()) << path;
        EXPECT_FALSE(plan->title.empty()) << path;
    }
}

}  // namespace
