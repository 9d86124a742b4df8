// Security mode lookup: which configurations turn "WPA3-Personal" into
// "WPA2-PSK".
#include <string.h>

#include "daemon_fixture.h"
#include "seam.h"
#include "wlan.h"

namespace {

class Security : public DaemonTest {
protected:
    std::string resolve(int radio, int wlan)
    {
        char security[64] = "WPA3-Personal";
        resolveWpa3Security(radio, wlan, security);
        return security;
    }
};

// The lookup commands themselves: tests/daemon/events.txt.
TEST_F(Security, ProfileModeDecides)
{
    const struct {
        int radio;
        std::string conf;  // the radio's file from here on; "-" as it was
        int wlan;
        const char *want;
    } cases[] = {
        {1, "SSID_1_SEC_PROFILE=\"3\"\nSSID_2_SEC_PROFILE=\"5\"\nSECURITY_3_MODE=\"wpa3\"\nSECURITY_5_MODE=\"wpa2\"\n", 2,
         "WPA2-PSK"},
        {1, "-", 1, "WPA3-Personal"},
        {2, "SSID_4_SEC_PROFILE=\"7\"\nSECURITY_7_MODE=\"wpa2wpa3\"\n", 4, "WPA3-Personal"},
        {3, "-", 1, "WPA3-Personal"},                         // no file: profile 0, which has no mode
        {3, "SECURITY_0_MODE=\"wpa2\"\n", 1, "WPA2-PSK"},    // profile 0 does have a mode
        {1, "SSID_2_SEC_PROFILE=\"\nSECURITY_0_MODE=\"wpa2\"\n", 2, "WPA2-PSK"},  // too short: profile 0
        // grep matches anywhere in a line: the first line printed is used.
        {1, "#SSID_2_SEC_PROFILE=\"6\"\nSSID_2_SEC_PROFILE=\"5\"\nSECURITY_6_MODE=\"wpa2\"\nSECURITY_5_MODE=\"wpa3\"\n", 2,
         "WPA2-PSK"},
        // Unquoted and empty values, a bare '=', a key without '=', a long line.
        {1, "SSID_2_SEC_PROFILE=\"5\"\nSECURITY_5_MODE=wpa2\n", 2, "WPA3-Personal"},
        {1, "SSID_2_SEC_PROFILE=\"5\"\nSECURITY_5_MODE=\"\"\n", 2, "WPA3-Personal"},
        {1, "SSID_2_SEC_PROFILE=\"5\"\nSECURITY_5_MODE=\n", 2, "WPA3-Personal"},
        {1, "SSID_2_SEC_PROFILE=\"5\"\nSECURITY_5_MODE=", 2, "WPA3-Personal"},
        {1, "SSID_2_SEC_PROFILE=\"5\"\nSECURITY_5_MODE wpa2\n", 2, "WPA3-Personal"},
        {1, "SSID_2_SEC_PROFILE=\"5\"\nSECURITY_5_MODE=\"" + std::string(300, 'w') + "\"\n", 2, "WPA3-Personal"},
    };
    for (const auto &c : cases) {
        if (c.conf != "-")
            write_wlan_conf(c.radio, c.conf);
        EXPECT_EQ(c.want, resolve(c.radio, c.wlan)) << c.conf;
    }
}

// Lines that the commands cannot give leave the text too.
TEST_F(Security, LineWithoutEndAndCommandsThatCannotStart)
{
    // A line read without a line end loses a character too many (grep
    // itself always ends its lines, so this is fed directly).
    rrm_seam.cmd_open = [](const char *command, const char *) -> FILE * {
        static char profile[] = "SSID_2_SEC_PROFILE=\"5\"\n";
        static char mode[] = "SECURITY_5_MODE=\"wpa2\"";
        char *text = strstr(command, "SEC_PROFILE") != nullptr ? profile : mode;
        return fmemopen(text, strlen(text), "r");
    };
    rrm_seam.cmd_close = [](FILE *f) { return fclose(f); };
    EXPECT_EQ("WPA3-Personal", resolve(1, 2));

    // Commands that cannot start.
    rrm_seam_reset();
    rrm_seam.cmd_open = [](const char *, const char *) -> FILE * { return nullptr; };
    EXPECT_EQ("WPA3-Personal", resolve(1, 2));
}

}  // namespace
