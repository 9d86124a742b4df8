// Station-library callback: which messages reach the recorder, with what,
// and the cloud status record.
#include <string.h>

#include "daemon_fixture.h"
#include "wlan.h"

namespace {

const unsigned char kSta[6] = {0x02, 0x00, 0x00, 0x00, 0x00, 0x07};
const std::string kKey = "02:00:00:00:00:07";

class Callback : public DaemonTest {
protected:
    void send(uint32_t type, const char *iface, char fill = 0)
    {
        sta_module_msg m;
        memset(&m, 0, sizeof m);
        m.op = STA_MODULE_NOTIFY;
        memcpy(m.info.mac, kSta, 6);
        memcpy(m.info.iface, iface, strnlen(iface, sizeof m.info.iface));  // unterminated if long
        snprintf(m.info.ssid, sizeof m.info.ssid, "%s", "Guest");
        snprintf(m.info.security, sizeof m.info.security, "%s", "WPA2-PSK");
        if (fill != 0) {  // texts filling their whole fields
            memset(m.info.ssid, fill, sizeof m.info.ssid);
            memset(m.info.security, fill, sizeof m.info.security);
        }
        m.info.vid = 0x10005;  // only the low 16 bits travel
        m.info.authentication = 1;
        m.info.band_id = BAND_ID_5G;
        m.info.rssi = -45;
        m.info.channel = 149;
        m.info.reason_code = 3;
        memcpy(&m.info.type, &type, sizeof type);
        sta_evt_proc(&m, nullptr);
    }
};

// The recorder's own commands are checked in its test, the whole path in
// the integration test; here, what the callback hands over.
TEST_F(Callback, AssociationHandsOverTheMessage)
{
    send(STA_ASSO, "wlan-2-1");
    const char *const expected[][2] = {
        {"VID", "5"},       {"SIG_RSSI", "-45"},    {"RADIO_ID", "2"},
        {"SSID", "Guest"},  {"BAND", "5GHz"},       {"STA_CHANNEL", "149"},
        {"SECURITY", "WPA2-PSK"}, {"AUTHENTICATION", "1"}};
    for (const auto &e : expected)
        EXPECT_EQ(e[1], db_get(sta_table_, kKey, e[0])) << e[0];

    // A 33-byte SSID and 32-byte security text are cut at their fields.
    send(STA_ASSO, "wlan-1-1", 's');
    EXPECT_EQ(std::string(33, 's'), db_get(sta_table_, kKey, "SSID"));
    EXPECT_EQ(std::string(32, 's'), db_get(sta_table_, kKey, "SECURITY"));
}

TEST_F(Callback, DroppedMessages)
{
    // Provisioning associations end in the callback, silently; departures
    // and the upper-case name reach the recorder, which skips them.
    for (const char *pap : {"pap-1-11", "pap-2-11", "pap-3-11"})
        send(STA_ASSO, pap);
    capture_stdout();
    send(STA_DISASSO, "pap-1-11");
    send(STA_ASSO, "PAP-1-11");
    EXPECT_EQ("Skip sta event from pap-1-11\nSkip sta event from PAP-1-11\n", stdout_text());

    for (uint32_t type : {2u, 7u, 1000u, 0xffffffffu})
        send(type, "wlan-1-1");
    // An interface name filling its 17 bytes is no interface name.
    capture_stdout();
    send(STA_ASSO, "wlan-1-1111111111111111");
    EXPECT_NE(std::string::npos, stdout_text().find("invalid interface name"));
    EXPECT_TRUE(take_trace().empty());
    EXPECT_TRUE(log_lines().empty());
}

TEST_F(Callback, CloudStatusRecord)
{
    const struct {
        uint32_t type;
        const char *field, *value;
    } cases[] = {
        {NETOPEER_ONLINE, "CC_CONN", "1"},
        {NETOPEER_OFFLINE, "CC_CONN", "0"},
        {NETOPEER_CLAIM, "operating-status", "Registered"},
        {NETOPEER_DECLAIM, "operating-status", "N/A"},
    };
    for (const auto &c : cases) {
        send(c.type, "wlan-1-1");
        EXPECT_EQ(Lines{std::string("dbctl -t Velora -k velora-status -f ") + c.field + " -s " +
                        c.value},
                  take_trace());
    }
    send(NETOPEER_CLAIM, "");
    send(NETOPEER_DECLAIM, "");
    EXPECT_EQ("N/A", db_get("Velora", "velora-status", "operating-status"));
}

}  // namespace
