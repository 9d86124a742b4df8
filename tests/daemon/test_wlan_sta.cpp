// Station event recorder: the exact database commands, their order, the
// records they leave and the common-log lines.
#include <string.h>

#include "daemon_fixture.h"
#include "fake_sta_lib.h"
#include "conf_init.h"
#include "wlan.h"

namespace {

const unsigned char kSta[6] = {0xaa, 0xbb, 0xcc, 0x00, 0x01, 0x02};
const std::string kKey = "aa:bb:cc:00:01:02";

oxwlan_req_data sta_record(const unsigned char (&mac)[6], const char *security = "NONE")
{
    oxwlan_req_data req;
    memset(&req, 0, sizeof req);
    memcpy(req.u.sta.macaddr, mac, 6);
    memcpy(req.u.sta.security, security, strnlen(security, sizeof req.u.sta.security));
    return req;
}

class Recorder : public DaemonTest {
protected:
    oxwlan_req_data assoc_record(const char *security = "NONE")
    {
        oxwlan_req_data req = sta_record(kSta, security);
        req.u.sta.vid = 20;
        req.u.sta.authorized = 1;
        req.u.sta.rssi = 40;
        req.u.sta.channel = 36;
        req.u.sta.tx_bytes = 1234567890123ULL;
        req.u.sta.rx_bytes = 42;
        return req;
    }
    int assoc(const char *ifname, const char *ssid, int band, oxwlan_req_data req)
    {
        return sta_event_process(STA_ASSOC, &req, const_cast<char *>(ifname),
                                 const_cast<char *>(ssid), band);
    }
    int event(uint32_t code, const char *ifname, oxwlan_req_data req)
    {
        return sta_event_process(code, &req, const_cast<char *>(ifname), nullptr,
                                 BAND_ID_UNKNOWN);
    }
    // A station-IP record with the address behind it; len and ext_len as
    // its header claims.
    void ip_event(const unsigned char (&addr)[4], unsigned len = sizeof(oxwlan_req_data),
                  unsigned ext_len = 4)
    {
        alignas(oxwlan_req_data) unsigned char block[sizeof(oxwlan_req_data) + 4] = {};
        oxwlan_req_data r = sta_record(kSta);
        r.hdr.len = len;
        r.hdr.ext_len = ext_len;
        memcpy(block, &r, sizeof r);
        memcpy(block + sizeof r, addr, 4);
        sta_event_process(STA_IP_ADDR, reinterpret_cast<oxwlan_req_data *>(block),
                          const_cast<char *>("wlan-1-1"), nullptr, BAND_ID_UNKNOWN);
    }
};

TEST_F(Recorder, AssociationWritesEighteenFieldsInOneCommand)
{
    EXPECT_EQ(0, assoc("wlan-1-3", "Office", BAND_ID_5G, assoc_record()));
    const Lines expected = {
        "dbctl -t " + sta_table_ + " -i " + kKey,
        "dbctl -t " + sta_table_ + " -k " + kKey +
            " -f STA_ASSO_FLAG -s 1 -f IFACE -s wlan-1-3 -f VID -s 20 -f MAC -s " + kKey +
            " -f AUTHENTICATION -s 1 -f ASSO_TIME -s 1700000000 -f SSID -s Office"
            " -f RADIO_ID -s 1 -f WLAN_INDEX -s 3 -f STA_CHANNEL -s 36 -f TX_RATE -s 0M"
            " -f RX_RATE -s 0M -f SIG_RSSI -s -55 -f TX -s 1234567890123 -f RX -s 42"
            " -f SECURITY -s Open -f DISPLAY_SSID -s \"\" -f BAND -s 5GHz",
    };
    EXPECT_EQ(expected, take_trace());
    EXPECT_EQ(Lines{"WLAN MODULE STA ASSO event, iface:wlan-1-3, mac:" + kKey}, log_lines());
    EXPECT_TRUE(take_commands().empty());  // "NONE" needs no lookup

    // Mesh links go to the mesh table; a "wlan" name without numbers still
    // goes to the station table, as radio 0, index 0.
    assoc("wds-2-9", "mesh", BAND_ID_5G, assoc_record());
    Lines trace = take_trace();
    ASSERT_EQ(2u, trace.size());
    EXPECT_EQ("dbctl -t " + mesh_table_ + " -i " + kKey, trace[0]);
    EXPECT_NE(std::string::npos, trace[1].find(" -f RADIO_ID -s 2 -f WLAN_INDEX -s 9 "));
    assoc("wlanX", "x", BAND_ID_5G, assoc_record());
    EXPECT_EQ("0", db_get(sta_table_, kKey, "RADIO_ID"));
    EXPECT_EQ("0", db_get(sta_table_, kKey, "WLAN_INDEX"));
}

TEST_F(Recorder, AssociationValueRules)
{
    const struct {
        uint8_t rssi;
        int band;
        const char *security, *dbm, *band_text, *stored;
    } cases[] = {
        {40, BAND_ID_2G, "WPA2-PSK", "-55", "2.4GHz", "WPA2-PSK"},
        {0, BAND_ID_6G, "NONE", "0", "6GHz", "Open"},
        {0xC8, BAND_ID_UNKNOWN, "Enhanced-open", "-56", "N/A", "Enhanced-open"},
        {1, 3, "NONE", "-94", "N/A", "Open"},
    };
    for (const auto &c : cases) {
        oxwlan_req_data req = assoc_record(c.security);
        req.u.sta.rssi = c.rssi;
        assoc("wlan-2-1", "Cafe", c.band, req);
        EXPECT_EQ(c.dbm, db_get(sta_table_, kKey, "SIG_RSSI"));
        EXPECT_EQ(c.band_text, db_get(sta_table_, kKey, "BAND"));
        EXPECT_EQ(c.stored, db_get(sta_table_, kKey, "SECURITY"));
    }
    // A security text filling all 32 bytes is read within them.
    oxwlan_req_data req = assoc_record();
    memset(req.u.sta.security, 'S', sizeof req.u.sta.security);
    assoc("wlan-2-1", "Cafe", BAND_ID_2G, req);
    EXPECT_EQ(std::string(32, 'S'), db_get(sta_table_, kKey, "SECURITY"));
}

TEST_F(Recorder, SkippedUnsafeAndUnknownEventsWriteNothing)
{
    capture_stdout();
    std::string skips;
    for (const std::string name : {"wds-4-9", "wds-1-8", "pap-1-11", "PAP-1-11", "eth0"}) {
        EXPECT_EQ(0, assoc(name.c_str(), "x", BAND_ID_2G, assoc_record()));
        EXPECT_EQ(0, event(STA_DISASSOC, name.c_str(), sta_record(kSta)));
        skips += "Skip sta event from " + name + "\nSkip sta event from " + name + "\n";
    }
    EXPECT_EQ(skips, stdout_text());

    // Names unsafe on a command line, and missing records or names.
    capture_stdout();
    for (const char *name : {"wlan-1-1;reboot", "wlan-1-1 x", "wlan-$(id)", "wlan-1-1\n",
                             "wlan-1-1234567890", ""}) {
        EXPECT_EQ(0, assoc(name, "x", BAND_ID_2G, assoc_record()));
        EXPECT_EQ(0, event(STA_AUTHORIZED, name, assoc_record()));
    }
    EXPECT_EQ(0, sta_event_process(STA_ASSOC, nullptr, const_cast<char *>("wlan-1-1"), nullptr,
                                   BAND_ID_2G));
    EXPECT_EQ(0, sta_event_process(STA_DISASSOC, nullptr, nullptr, nullptr, BAND_ID_2G));
    const std::string out = stdout_text();
    EXPECT_NE(std::string::npos, out.find("invalid interface name, dropped"));
    EXPECT_EQ(std::string::npos, out.find("reboot"));

    for (uint32_t code : {0u, 6u, 99u, 0xffffffffu})
        EXPECT_EQ(0, event(code, "wlan-1-1", assoc_record()));
    EXPECT_TRUE(take_trace().empty());
    EXPECT_TRUE(log_lines().empty());
}

TEST_F(Recorder, DisassociationWithRoamingDetection)
{
    // No record at all.
    event(STA_DISASSOC, "wlan-1-1", sta_record(kSta));
    EXPECT_EQ(Lines{"dbctl -t " + sta_table_ + " -k " + kKey + " -g IFACE"}, take_trace());

    // Recorded on wlan-1-2, leaves wlan-1-1: the tail of a roam.
    assoc("wlan-1-2", "Office", BAND_ID_2G, assoc_record());
    take_trace();
    event(STA_DISASSOC, "wlan-1-1", sta_record(kSta));
    EXPECT_EQ(Lines{"dbctl -t " + sta_table_ + " -k " + kKey + " -g IFACE"}, take_trace());
    EXPECT_EQ("wlan-1-2", db_get(sta_table_, kKey, "IFACE"));

    // Leaves the interface it is recorded on: the whole key goes.
    event(STA_DISASSOC, "wlan-1-2", sta_record(kSta));
    EXPECT_EQ((Lines{"dbctl -t " + sta_table_ + " -k " + kKey + " -g IFACE",
                     "dbctl -t " + sta_table_ + " -r " + kKey}),
              take_trace());
    EXPECT_EQ("N/A", db_get(sta_table_, kKey, "SSID"));

    EXPECT_EQ((Lines{"No DB match, WLAN MODULE STA DISASSO event, iface:wlan-1-1, mac:" + kKey,
                     "WLAN MODULE STA ASSO event, iface:wlan-1-2, mac:" + kKey,
                     "Intra Roaming, WLAN MODULE STA DISASSO event, iface:wlan-1-1, mac:" + kKey,
                     "WLAN MODULE STA DISASSO event,iface:wlan-1-2, mac:" + kKey}),
              log_lines());
}

TEST_F(Recorder, AuthorizationAndItsWpa3Lookup)
{
    oxwlan_req_data req = assoc_record("WPA2-PSK");
    req.u.sta.vid = 7;
    EXPECT_EQ(0, event(STA_AUTHORIZED, "wlan-1-4", req));
    EXPECT_EQ((Lines{"dbctl -t " + sta_table_ + " -i " + kKey,
                     "dbctl -t " + sta_table_ + " -k " + kKey +
                         " -f SECURITY -s WPA2-PSK -f AUTHENTICATION -s 1 -f VID -s 7"}),
              take_trace());
    EXPECT_TRUE(log_lines().empty());

    // "WPA3-Personal" is settled against the configuration of the VAP.
    write_wlan_conf(1, "SSID_2_SEC_PROFILE=\"5\"\nSECURITY_5_MODE=\"wpa2\"\n");
    event(STA_AUTHORIZED, "wlan-1-2", assoc_record("WPA3-Personal"));
    EXPECT_EQ("WPA2-PSK", db_get(sta_table_, kKey, "SECURITY"));
    EXPECT_EQ((Lines{"cat /var/halvo/wlan/wlan-1.conf | grep SSID_2_SEC_PROFILE",
                     "cat /var/halvo/wlan/wlan-1.conf | grep SECURITY_5_MODE"}),
              take_commands());
    assoc("wlan-1-3", "Office", BAND_ID_2G, assoc_record("WPA3-Personal"));
    EXPECT_EQ("WPA3-Personal", db_get(sta_table_, kKey, "SECURITY"));
    EXPECT_EQ((Lines{"cat /var/halvo/wlan/wlan-1.conf | grep SSID_3_SEC_PROFILE",
                     "cat /var/halvo/wlan/wlan-1.conf | grep SECURITY_0_MODE"}),
              take_commands());
}

TEST_F(Recorder, IpAddressIsRecordedAndPublished)
{
    const unsigned char addr[4] = {192, 168, 1, 200};
    uint32_t word;
    memcpy(&word, addr, 4);
    assoc("wlan-1-1", "Office", BAND_ID_2G, assoc_record());
    take_trace();
    ip_event(addr);
    EXPECT_EQ(Lines{"dbctl -t " + sta_table_ + " -k " + kKey + " -f STA_IP_ADDR -s " +
                    std::to_string(word)},
              take_trace());
    EXPECT_EQ((std::vector<std::string>{"check", "notify"}), fake_sta::calls);
    ASSERT_EQ(1u, fake_sta::published.size());
    sta_module_msg m = fake_sta::published[0];
    EXPECT_EQ(STA_MODULE_NOTIFY, m.op);
    EXPECT_EQ(0, memcmp(m.info.mac, kSta, 6));
    EXPECT_EQ(word, m.info.ipAddr);
    EXPECT_EQ(STA_IP, m.info.type);
    // Everything else in the message is zero.
    memset(m.info.mac, 0, 6);
    m.info.ipAddr = 0;
    m.info.type = STA_ASSO;
    const sta_module_msg zero = {};
    EXPECT_EQ(0, memcmp(&m, &zero, sizeof zero));

    // No extra data, or a header claiming the address lies elsewhere:
    // nothing is written or published.
    ip_event(addr, sizeof(oxwlan_req_data), 0);
    capture_stdout();
    ip_event(addr, 4000, 4);
    EXPECT_NE(std::string::npos, stdout_text().find("dropped"));
    EXPECT_TRUE(take_trace().empty());
    EXPECT_EQ(1u, fake_sta::published.size());

    // A later association leaves the address alone.
    assoc("wlan-1-2", "Office", BAND_ID_2G, assoc_record());
    EXPECT_EQ(std::to_string(word), db_get(sta_table_, kKey, "STA_IP_ADDR"));
    EXPECT_EQ("wlan-1-2", db_get(sta_table_, kKey, "IFACE"));
}

TEST_F(Recorder, InterfaceMacRefreshWritesEightVapsPerSlot)
{
    CAPWAP_MODEL_SLOT_NUM = const_cast<char *>("2");
    EXPECT_EQ(0, sta_event_process(STA_INTERFACE_SSID, nullptr, nullptr, nullptr, -1));
    const Lines trace = take_trace();
    ASSERT_EQ(16u, trace.size());
    for (size_t i = 0; i < 16; ++i)
        EXPECT_EQ("dbctl -t " + wlan_table_ + " -k SLOT-" + std::to_string(i / 8) + " -f VAP_" +
                      std::to_string(i % 8) + "_MAC -s 00:00:00:00:00:00",
                  trace[i]);

    for (const char *slots : {"0", "abc", "-3"}) {
        CAPWAP_MODEL_SLOT_NUM = const_cast<char *>(slots);
        sta_event_process(STA_INTERFACE_SSID, nullptr, nullptr, nullptr, -1);
        EXPECT_TRUE(take_trace().empty()) << slots;
    }
}

TEST_F(Recorder, OweTransitionDisplayNames)
{
    write_wlan_conf(1,
                    "SSID_2_OWE_TRANS_INDEX=\"10\"\nSSID_2_DISPLAY_NAME=\"Cafe (OWE)\"\n"
                    "SSID_8_OWE_TRANS_INDEX=\"9\"\n"
                    "SSID_9_OWE_TRANS_INDEX=\"2\"\nSSID_2_NAME=\"Cafe\"\n");
    // Paired with a display name; paired without one (the SSID itself); the
    // hidden VAP (its partner's SSID); not in a pair (empty).
    const struct {
        const char *iface, *ssid, *shown;
    } cases[] = {{"wlan-1-2", "Cafe", "Cafe (OWE)"},
                 {"wlan-1-8", "Plain", "Plain"},
                 {"wlan-1-9", "Cafe-owe", "Cafe"},
                 {"wlan-1-1", "Office", ""}};
    for (const auto &c : cases) {
        assoc(c.iface, c.ssid, BAND_ID_2G, assoc_record());
        EXPECT_EQ(c.shown, db_get(sta_table_, kKey, "DISPLAY_SSID")) << c.iface;
    }
}

}  // namespace
