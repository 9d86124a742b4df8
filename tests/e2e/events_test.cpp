// End to end: the daemon in the simulated access point records what the
// station-event service and the wifi manager report, exactly as it would on
// the access point.
#include "sim_harness.h"

#include <map>
#include <string>

#include <gtest/gtest.h>

namespace {

using e2e::SimAp;

const std::string kAp = "02:00:00:00:aa:01";
const std::string kSta = "STA_STATISTIC-" + kAp;
const std::string kMesh = "MESH_STA_STATISTIC-" + kAp;
const std::string kWlan = "WLAN-" + kAp;

const char *kEvents = R"(# Event paths of the daemon
ap 02:00:00:00:aa:01
slots 2
clock 2026-03-02 08:00:00
vap wlan-1-1 02:00:00:00:aa:11 up
vap wlan-1-2 02:00:00:00:aa:12 down
vap wlan-2-1 02:00:00:00:aa:21 up
vap wds-1-9 02:00:00:00:aa:19 up
conf 1 SSID_2_SEC_PROFILE="5"
conf 1 SECURITY_5_MODE="wpa2"

step 0 associations
assoc 3c:00:00:00:00:01 wlan-1-1 ssid=Office security=NONE band=2.4 rssi=-45 channel=6 vid=10 auth=0
assoc 3c:00:00:00:00:02 wlan-1-2 ssid=Lab security=WPA3-Personal band=5 rssi=-60 channel=36
assoc 3c:00:00:00:00:03 wds-1-9 ssid=Mesh security=WPA2-PSK band=6

step 0:10 authorisation and addresses
authorize 3c:00:00:00:00:01 wlan-1-1 security=WPA2-PSK vid=20
ip 3c:00:00:00:00:01 wlan-1-1 192.168.1.10
ip 3c:00:00:00:00:02 wlan-1-2 192.168.1.200

step 0:20 a roam and a departure
roam 3c:00:00:00:00:01 wlan-2-1 ssid=Office security=WPA2-PSK band=5
leave 3c:00:00:00:00:02

step 0:30 SSID change and the cloud
ssid-change wlan-1-1
cloud online
cloud claim
cloud declaim

step 0:40 the cloud goes away
cloud offline
)";

class Events : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string why;
        if (!e2e::can_simulate(&why))
            GTEST_SKIP() << why;
    }
};

// The bus log line of an event, with its one attribute's payload in hex.
std::vector<std::string> payloads(const SimAp &ap, const std::string &event)
{
    std::vector<std::string> r;
    for (const std::string &l : ap.lines_with("bus-events.log", "{ \"" + event + "\":")) {
        size_t colon = l.find("\":\"");
        size_t end = l.find('"', colon + 3);
        if (colon != std::string::npos && end != std::string::npos)
            r.push_back(l.substr(colon + 3, end - colon - 3));
    }
    return r;
}

void expect_record(SimAp &ap, const std::string &table, const std::string &key,
                   const std::map<std::string, std::string> &want)
{
    for (const auto &[field, value] : want)
        EXPECT_EQ(ap.get(table, key, field), value) << table << " " << key << " " << field;
}

// The details of each event (unknown interfaces, strangers, bare keys) are
// checked in tests/daemon; here, each path from the simulated services
// through the bus and the interfaces to the database and the log.
TEST_F(Events, StationRoadFromAssociationToDeparture)
{
    SimAp ap("events", kEvents);
    std::string out;
    ASSERT_EQ(ap.start("", &out), 0) << out;
    if (!ap.daemon_built())
        GTEST_SKIP() << "the daemon is not built";
    const std::string log = "log/WLAN_MODULE_DB_LOG";
    const std::string s1 = "3c:00:00:00:00:01", s2 = "3c:00:00:00:00:02";

    // Associations: eighteen fields in the table of the interface (the
    // scenario clock, 2026-03-02 08:00:00 UTC, as ASSO_TIME), one log line.
    ASSERT_EQ(ap.play(1, &out), 0) << out;
    expect_record(ap, kSta, s1,
                  {{"STA_ASSO_FLAG", "1"}, {"IFACE", "wlan-1-1"}, {"VID", "10"}, {"MAC", s1},
                   {"AUTHENTICATION", "0"}, {"SSID", "Office"}, {"RADIO_ID", "1"},
                   {"WLAN_INDEX", "1"}, {"STA_CHANNEL", "6"}, {"TX_RATE", "0M"}, {"RX_RATE", "0M"},
                   {"SIG_RSSI", "-45"}, {"TX", "0"}, {"RX", "0"}, {"SECURITY", "Open"},
                   {"DISPLAY_SSID", ""}, {"BAND", "2.4GHz"}, {"ASSO_TIME", "1772438400"}});
    // WPA3 settled against wlan-1.conf: profile 5 is wpa2
    expect_record(ap, kSta, s2, {{"SECURITY", "WPA2-PSK"}, {"BAND", "5GHz"}});
    // the mesh link's station goes to the mesh table only
    expect_record(ap, kMesh, "3c:00:00:00:00:03", {{"IFACE", "wds-1-9"}, {"WLAN_INDEX", "9"}, {"BAND", "6GHz"}});
    EXPECT_EQ(ap.get(kSta, "3c:00:00:00:00:03", "IFACE"), "N/A");
    EXPECT_EQ(ap.lines_with(log, "WLAN MODULE STA ASSO event, iface:wlan-1-1, mac:" + s1).size(), 1u);

    // Authorisation and addresses from the wifi manager's bus events.
    ASSERT_EQ(ap.play(2, &out), 0) << out;
    expect_record(ap, kSta, s1, {{"AUTHENTICATION", "1"}, {"SECURITY", "WPA2-PSK"}, {"VID", "20"},
                                 {"STA_IP_ADDR", "167880896"}});  // 192.168.1.10, host order
    EXPECT_EQ(ap.get(kSta, s2, "STA_IP_ADDR"), "3355551936");
    // each address is published to the station-event library's subscribers
    auto ips = payloads(ap, "stalib.sta_ip");
    ASSERT_EQ(ips.size(), 2u);
    ASSERT_EQ(ips[0].size(), 2u * 272);
    EXPECT_EQ(ips[0].substr(0, 8), "00000000");                // op: notify
    EXPECT_EQ(ips[0].substr(8, 12), "3c0000000001");           // info.mac
    EXPECT_EQ(ips[0].substr(2 * (4 + 56), 8), "c0a8010a");     // info.ipAddr
    EXPECT_EQ(ips[0].substr(2 * (4 + 76), 8), "02000000");     // info.type STA_IP
    EXPECT_EQ(ips[1].substr(2 * (4 + 56), 8), "c0a801c8");

    // A roam inside the access point keeps the record, address included; a
    // departure from the recorded interface removes it.
    ASSERT_EQ(ap.play(3, &out), 0) << out;
    expect_record(ap, kSta, s1, {{"IFACE", "wlan-2-1"}, {"RADIO_ID", "2"}, {"STA_ASSO_FLAG", "1"},
                                 {"STA_IP_ADDR", "167880896"}, {"ASSO_TIME", "1772438420"}});
    EXPECT_EQ(ap.lines_with(log, "2026-03-02 08:00:20 WLAN MODULE STA ASSO event, iface:wlan-2-1").size(), 1u);
    EXPECT_EQ(ap.lines_with(log, "Intra Roaming, WLAN MODULE STA DISASSO event, iface:wlan-1-1, mac:" + s1).size(), 1u);
    expect_record(ap, kSta, s2, {{"IFACE", "N/A"}, {"STA_IP_ADDR", "N/A"}});
    EXPECT_EQ(ap.lines_with(log, "WLAN MODULE STA DISASSO event,iface:wlan-1-2, mac:" + s2).size(), 1u);
    EXPECT_EQ(ap.keys(kSta, "IFACE"), (std::vector<std::string>{s1}));

    // An SSID change reads the VAP addresses from the real interfaces; the
    // cloud-peer messages set the cloud status record.
    ASSERT_EQ(ap.play(4, &out), 0) << out;
    expect_record(ap, kWlan, "SLOT-0", {{"VAP_0_MAC", "02:00:00:00:aa:11"},
                                        {"VAP_1_MAC", "02:00:00:00:aa:12"}});  // down, still there
    EXPECT_EQ(ap.get(kWlan, "SLOT-1", "VAP_0_MAC"), "02:00:00:00:aa:21");
    for (int v = 2; v < 8; ++v)  // interfaces that do not exist: a MAC text all the same
        EXPECT_EQ(ap.get(kWlan, "SLOT-0", "VAP_" + std::to_string(v) + "_MAC").size(), 17u);
    EXPECT_EQ(ap.get(kWlan, "SLOT-2", "VAP_0_MAC"), "N/A");
    EXPECT_EQ(ap.get("Velora", "velora-status", "CC_CONN"), "1");
    ASSERT_EQ(ap.play(5, &out), 0) << out;
    EXPECT_EQ(ap.get("Velora", "velora-status", "CC_CONN"), "0");

    // Nothing already recorded was lost along the way.
    EXPECT_EQ(ap.get(kMesh, "3c:00:00:00:00:03", "SSID"), "Mesh");
    EXPECT_TRUE(ap.daemon_clean());
    EXPECT_EQ(ap.stop(), 0);
}

const char *kDeparture = R"(# A departure the driver noticed before the station-event service
ap 02:00:00:00:ee:01
vap wlan-1-1 02:00:00:00:ee:11 up

step 0 a station joins
assoc 3c:00:00:00:00:0a wlan-1-1 ssid=Office security=WPA2-PSK
pass

step 0:50 the driver loses it
vanish 3c:00:00:00:00:0a
pass 2

step 2:30 its departure arrives
leave 3c:00:00:00:00:0a
pass
)";

std::string hex_of(const std::string &s)
{
    static const char *d = "0123456789abcdef";
    std::string r;
    for (unsigned char c : s) {
        r.push_back(d[c >> 4]);
        r.push_back(d[c & 15]);
    }
    return r;
}

// The pass-by-pass announcement and its log lines are checked in
// tests/e2e_collection; here, the announcement's bytes.
TEST_F(Events, StationTheDriverLostIsAnnouncedWithStaLeave)
{
    SimAp ap("departure", kDeparture);
    std::string out;
    ASSERT_EQ(ap.start("", &out), 0) << out;
    if (!ap.daemon_built())
        GTEST_SKIP() << "the daemon is not built";
    ASSERT_EQ(ap.play(1, &out), 0) << out;
    if (ap.get("WLAN-02:00:00:00:ee:01", "SLOT-0", "ACTIVATE") == "N/A")
        GTEST_SKIP() << "this daemon build has no collection loop yet";
    ASSERT_EQ(ap.play(2, &out), 0) << out;

    auto leaves = payloads(ap, "sta_leave");
    ASSERT_EQ(leaves.size(), 2u) << "one announcement per pass";
    for (const std::string &p : leaves) {
        ASSERT_EQ(p.size(), 2u * 640);
        EXPECT_EQ(p.substr(0, 32), hex_of("wlan-1-1") + std::string(16, '0'));  // ifname
        EXPECT_EQ(p.substr(2 * 16, 8), "0700f000");                            // subtype 7, len 240
        EXPECT_EQ(p.substr(2 * 26, 12), "3c000000000a");                       // station
        EXPECT_EQ(p.substr(2 * 72, 4), "0800");                                // reason code 8
        EXPECT_EQ(p.substr(2 * 74, 14), hex_of("by rrm") + "00");              // event type
    }
    ASSERT_EQ(ap.play(3, &out), 0) << out;
    EXPECT_EQ(ap.get("STA_STATISTIC-02:00:00:00:ee:01", "3c:00:00:00:00:0a", "IFACE"), "N/A");
    EXPECT_EQ(payloads(ap, "sta_leave").size(), 2u) << "no announcement once the record is gone";
    EXPECT_TRUE(ap.daemon_clean());
    EXPECT_EQ(ap.stop(), 0);
}

}  // namespace
