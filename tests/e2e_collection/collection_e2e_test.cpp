// End to end: the collection passes of the daemon in the simulated access
// point. Stations are refreshed from the driver pass after pass, found by
// the all-VAP scan when they moved, given the address and the profiles the
// device shell knows; mesh stations and the radio slots are written too.
#include "sim_harness.h"

#include <arpa/inet.h>

#include <fstream>
#include <string>

#include <gtest/gtest.h>

namespace {

using e2e::SimAp;

const std::string kAp = "02:00:00:00:cc:01";
const std::string kSta = "STA_STATISTIC-" + kAp;
const std::string kMesh = "MESH_STA_STATISTIC-" + kAp;
const std::string kWlan = "WLAN-" + kAp;
const std::string kLaptop = "3c:00:00:00:00:01";
const std::string kPhone = "3c:00:00:00:00:02";
const std::string kRepeater = "3c:00:00:00:00:03";

const char *kScenario = R"(# Collection passes
ap 02:00:00:00:cc:01
slots 3
hybrid 3
vap wlan-1-1 02:00:00:00:cc:11 up ssid=Office ssid-profile=office security=WPA2-PSK sec-profile=office-psk
vap wlan-1-2 02:00:00:00:cc:12 up ssid=Guest ssid-profile=guest security=Open sec-profile=guest-open
vap wlan-2-1 02:00:00:00:cc:21 up ssid=Lab ssid-profile=lab security=WPA2-PSK sec-profile=lab-psk
vap wlan-3-1 02:00:00:00:cc:31 down
vap wds-1-9 02:00:00:00:cc:19 up
radio 1 channel=6 txpower=20 chutil=35
radio 2 channel=36 txpower=23 chutil=12
wds 1 ssid=Backhaul profile=mesh-link security=WPA2-PSK sec-profile=mesh-psk
counters wlan-1-1 tx-frames=900 rx-frames=1000 tx-bps=5400 rx-bps=3100 tx-bytes=1500000 rx-bytes=820000 tx-errs=100 rx-errs=10
counters wlan-1-2 tx-frames=100 rx-frames=0 tx-bps=600 rx-bps=0 tx-bytes=5000000000 rx-bytes=1000
counters wlan-2-1 tx-frames=1 rx-frames=0 tx-errs=3

step 0 stations join and a channel is set
channel wlan-2-1 36 width=80 band=5 vht1=42 offset=1
assoc 3c:00:00:00:00:01 wlan-1-1 ssid=Office security=WPA2-PSK band=2.4 channel=6
driver 3c:00:00:00:00:01 txrate=144M rxrate=130M snr=47 tx=52000 rx=310000 bandcap=HE20 mode=11ax ip=192.168.10.21
assoc 3c:00:00:00:00:02 wlan-1-1 ssid=Office security=NONE band=2.4
driver 3c:00:00:00:00:02 iface=wlan-1-2 snr=40 bandcap=VHT80 mode=11ac
assoc 3c:00:00:00:00:03 wds-1-9 ssid=Backhaul security=WPA2-PSK
driver 3c:00:00:00:00:03 snr=30 tx=7 rx=8
pass

step 1:00 traffic grows and the channel of radio 1 is set
driver 3c:00:00:00:00:01 tx=99000 rx=420000 snr=50
channel wlan-1-1 11 width=20 band=2.4 offset=-1
pass

step 2:00 the driver loses the phone
vanish 3c:00:00:00:00:02
pass 2

step 4:00 the phone's departure arrives
leave 3c:00:00:00:00:02 wlan-1-1
pass
)";

class Collection : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string why;
        if (!e2e::can_simulate(&why))
            GTEST_SKIP() << why;
    }
};

// The address text the daemon writes: the network-order word as a signed
// decimal on the little-endian access point.
std::string address_word(const char *dotted)
{
    struct in_addr a;
    inet_pton(AF_INET, dotted, &a);
    return std::to_string(static_cast<int>(a.s_addr));
}

TEST_F(Collection, PassesRefreshStationsMeshStationsAndSlots)
{
    SimAp ap("collection", kScenario);
    std::string out;
    ASSERT_EQ(ap.start("", &out), 0) << out;
    if (!ap.daemon_built())
        GTEST_SKIP() << "the daemon is not built";
    std::ofstream(ap.state() + "/tmp/wlan_module_debug").close();

    ASSERT_EQ(ap.play(1, &out), 0) << out;
    // Listed on its recorded VAP: the driver's figures as printed.
    EXPECT_EQ(ap.get(kSta, kLaptop, "TX_RATE"), "144M");
    EXPECT_EQ(ap.get(kSta, kLaptop, "RX_RATE"), "130M");
    EXPECT_EQ(ap.get(kSta, kLaptop, "SIG_RSSI"), "47");
    EXPECT_EQ(ap.get(kSta, kLaptop, "TX"), "52000");
    EXPECT_EQ(ap.get(kSta, kLaptop, "RX"), "310000");
    EXPECT_EQ(ap.get(kSta, kLaptop, "CHMODE"), "HE20");
    EXPECT_EQ(ap.get(kSta, kLaptop, "DOT11_FEATURES"), "11ax");
    EXPECT_EQ(ap.get(kSta, kLaptop, "STA_CHANNEL"), "6");
    // No address event came: the shell's address is taken.
    EXPECT_EQ(ap.get(kSta, kLaptop, "STA_IP_ADDR"), address_word("192.168.10.21"));
    // Profiles looked up once for the association.
    EXPECT_EQ(ap.get(kSta, kLaptop, "SSID_PROFILE_NAME"), "office");
    EXPECT_EQ(ap.get(kSta, kLaptop, "SEC_PROFILE_NAME"), "office-psk");
    EXPECT_EQ(ap.get(kSta, kLaptop, "SECURITY"), "WPA2-PSK");
    EXPECT_EQ(ap.get(kSta, kLaptop, "STA_ASSO_FLAG"), "0");

    // Found only by the all-VAP scan: the signal minus 95.
    EXPECT_EQ(ap.get(kSta, kPhone, "SIG_RSSI"), "-55");
    EXPECT_EQ(ap.get(kSta, kPhone, "CHMODE"), "VHT80");
    EXPECT_EQ(ap.get(kSta, kPhone, "DOT11_FEATURES"), "11ac");
    EXPECT_EQ(ap.get(kSta, kPhone, "STA_IP_ADDR"), "0") << "the shell knows no address yet";
    EXPECT_EQ(ap.get(kSta, kPhone, "SECURITY"), "Open");
    EXPECT_EQ(ap.get(kSta, kPhone, "SSID_PROFILE_NAME"), "office") << "profiles of its recorded VAP";
    EXPECT_EQ(ap.get(kSta, kPhone, "STA_ASSO_FLAG"), "0");

    // The mesh station, with the mesh link's profiles in hybrid mode 3.
    EXPECT_EQ(ap.get(kMesh, kRepeater, "SIG_RSSI"), "30");
    EXPECT_EQ(ap.get(kMesh, kRepeater, "TX"), "7");
    EXPECT_EQ(ap.get(kMesh, kRepeater, "SSID_PROFILE_NAME"), "mesh-link");
    EXPECT_EQ(ap.get(kMesh, kRepeater, "SEC_PROFILE_NAME"), "mesh-psk");
    EXPECT_EQ(ap.get(kMesh, kRepeater, "STA_ASSO_FLAG"), "0");

    // Radio 1: sums over wlan-1-1 and wlan-1-2.
    EXPECT_EQ(ap.get(kWlan, "SLOT-0", "ACTIVATE"), "1");
    EXPECT_EQ(ap.get(kWlan, "SLOT-0", "TX_FRAME_CNT"), "1000");
    EXPECT_EQ(ap.get(kWlan, "SLOT-0", "RX_FRAME_CNT"), "1000");
    EXPECT_EQ(ap.get(kWlan, "SLOT-0", "TX_BYTE_PER_SEC"), "6000");
    EXPECT_EQ(ap.get(kWlan, "SLOT-0", "RX_BYTE_PER_SEC"), "3100");
    EXPECT_EQ(ap.get(kWlan, "SLOT-0", "RX_ERR_RATE"), "0");
    EXPECT_EQ(ap.get(kWlan, "SLOT-0", "TX_ERR_RATE"), "9");
    EXPECT_EQ(ap.get(kWlan, "SLOT-0", "TX_FRAME_BYTES"), "5001500000");
    EXPECT_EQ(ap.get(kWlan, "SLOT-0", "RX_FRAME_BYTES"), "821000");
    EXPECT_EQ(ap.get(kWlan, "SLOT-0", "TX_POWER"), "20");
    EXPECT_EQ(ap.get(kWlan, "SLOT-0", "CH_UTIL"), "35");
    EXPECT_EQ(ap.get(kWlan, "SLOT-0", "FCS_ERR_CNT"), "0");
    EXPECT_EQ(ap.get(kWlan, "SLOT-0", "DCS_CHANNEL"), "0") << "no channel event for radio 1 yet";
    // Radio 2 with its channel event.
    EXPECT_EQ(ap.get(kWlan, "SLOT-1", "TX_POWER"), "23");
    EXPECT_EQ(ap.get(kWlan, "SLOT-1", "CH_UTIL"), "12");
    EXPECT_EQ(ap.get(kWlan, "SLOT-1", "TX_ERR_RATE"), "75");
    EXPECT_EQ(ap.get(kWlan, "SLOT-1", "DCS_CHANNEL"), "36");
    EXPECT_EQ(ap.get(kWlan, "SLOT-1", "CH_WIDTH"), "80");
    EXPECT_EQ(ap.get(kWlan, "SLOT-1", "VHT_CH_FREQ"), "42");
    EXPECT_EQ(ap.get(kWlan, "SLOT-1", "EXT_OFFSET"), "1");
    // Radio 3: its only VAP is down.
    EXPECT_EQ(ap.get(kWlan, "SLOT-2", "ACTIVATE"), "0");
    EXPECT_EQ(ap.get(kWlan, "SLOT-2", "CH_WIDTH"), "0");

    // Traces of the pass while the flag file exists.
    const std::string trace = ap.file("tmp/wlan_module.txt");
    EXPECT_NE(trace.find("wlan_module: getstationinfo:"), std::string::npos);
    EXPECT_NE(trace.find("Scan interface [wlan-1-2]"), std::string::npos);

    // The next pass refreshes the figures; the profile lookup is not repeated.
    ASSERT_EQ(ap.play(2, &out), 0) << out;
    EXPECT_EQ(ap.get(kSta, kLaptop, "TX"), "99000");
    EXPECT_EQ(ap.get(kSta, kLaptop, "RX"), "420000");
    EXPECT_EQ(ap.get(kSta, kLaptop, "SIG_RSSI"), "50");
    EXPECT_EQ(ap.get(kWlan, "SLOT-0", "DCS_CHANNEL"), "11");
    EXPECT_EQ(ap.get(kWlan, "SLOT-0", "EXT_OFFSET"), "-1");
    EXPECT_EQ(ap.get(kWlan, "SLOT-0", "CH_WIDTH"), "20");
    EXPECT_EQ(ap.get(kWlan, "SLOT-1", "DCS_CHANNEL"), "36");

    // The lost phone is announced on every pass until its record goes.
    const std::string log = "log/WLAN_MODULE_DB_LOG";
    const std::string kick = "*****NOT exist in driver, kick by rrm.***** mac:" + kPhone + ", iface:wlan-1-1";
    ASSERT_EQ(ap.play(3, &out), 0) << out;
    EXPECT_EQ(ap.lines_with("bus-events.log", "{ \"sta_leave\":").size(), 2u);
    EXPECT_EQ(ap.lines_with(log, kick).size(), 2u);
    EXPECT_EQ(ap.get(kSta, kPhone, "IFACE"), "wlan-1-1");
    EXPECT_EQ(ap.get(kSta, kPhone, "SIG_RSSI"), "-55") << "its figures are not written while lost";
    ASSERT_EQ(ap.play(4, &out), 0) << out;
    EXPECT_EQ(ap.get(kSta, kPhone, "IFACE"), "N/A");
    EXPECT_EQ(ap.lines_with("bus-events.log", "{ \"sta_leave\":").size(), 2u);
    EXPECT_EQ(ap.lines_with(log, kick).size(), 2u);
    EXPECT_EQ(ap.get(kSta, kLaptop, "TX"), "99000");
    EXPECT_EQ(ap.stop(), 0);
}

const char *kProfilesLater = R"(# Profiles the shell does not know at first
ap 02:00:00:00:cd:01
vap wlan-1-1 02:00:00:00:cd:11 up ssid=Office ssid-profile=office security=WPA2-PSK
vap wds-1-9 02:00:00:00:cd:19 up
wds 1 ssid=Backhaul profile=mesh-link security=WPA2-PSK sec-profile=mesh-psk

step 0 a station joins a VAP whose security profile is not set up yet
assoc 3c:00:00:00:00:0a wlan-1-1 ssid=Office security=WPA3-Personal
assoc 3c:00:00:00:00:0b wds-1-9 ssid=Backhaul security=WPA2-PSK
pass

step 1:00 the driver stops listing the mesh station
driver 3c:00:00:00:00:0b iface=none
pass
)";

TEST_F(Collection, MissingProfilesAreLookedUpAgainAndMeshStationsStayWritten)
{
    SimAp ap("collection-profiles", kProfilesLater);
    std::string out;
    ASSERT_EQ(ap.start("", &out), 0) << out;
    if (!ap.daemon_built())
        GTEST_SKIP() << "the daemon is not built";
    const std::string sta = "STA_STATISTIC-02:00:00:00:cd:01";
    const std::string mesh = "MESH_STA_STATISTIC-02:00:00:00:cd:01";
    ASSERT_EQ(ap.play(1, &out), 0) << out;
    // No security profile in the shell: "N/A" and the flag stays "1".
    EXPECT_EQ(ap.get(sta, "3c:00:00:00:00:0a", "SECURITY"), "N/A");
    EXPECT_EQ(ap.get(sta, "3c:00:00:00:00:0a", "SSID_PROFILE_NAME"), "N/A");
    EXPECT_EQ(ap.get(sta, "3c:00:00:00:00:0a", "STA_ASSO_FLAG"), "1");
    // Hybrid mode 0: no mesh link lookup, so the same for the mesh station.
    EXPECT_EQ(ap.get(mesh, "3c:00:00:00:00:0b", "SSID_PROFILE_NAME"), "N/A");
    EXPECT_EQ(ap.get(mesh, "3c:00:00:00:00:0b", "STA_ASSO_FLAG"), "1");

    // A mesh station the driver does not list is still written, empty.
    ASSERT_EQ(ap.play(2, &out), 0) << out;
    EXPECT_EQ(ap.get(mesh, "3c:00:00:00:00:0b", "TX_RATE"), "");
    EXPECT_EQ(ap.get(mesh, "3c:00:00:00:00:0b", "DOT11_FEATURES"), "N/A");
    EXPECT_EQ(ap.lines_with("bus-events.log", "{ \"sta_leave\":").size(), 0u);
    EXPECT_EQ(ap.stop(), 0);
}

}  // namespace
