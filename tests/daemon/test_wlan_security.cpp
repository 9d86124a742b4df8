// Security mode lookup: exact commands, and which configurations turn
// "WPA3-Personal" into "WPA2-PSK".
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
    static Lines lookups(int radio, int wlan, int profile)
    {
        const std::string cat =
            "cat /var/halvo/wlan/wlan-" + std::to_string(radio) + ".conf | grep ";
        return {cat + "SSID_" + std::to_string(wlan) + "_SEC_PROFILE",
                cat + "SECURITY_" + std::to_string(profile) + "_MODE"};
    }
};

TEST_F(Security, ProfileModeDecides)
{
    write_wlan_conf(1, "SSID_1_SEC_PROFILE=\"3\"\nSSID_2_SEC_PROFILE=\"5\"\n"
                       "SECURITY_3_MODE=\"wpa3\"\nSECURITY_5_MODE=\"wpa2\"\n");
    EXPECT_EQ("WPA2-PSK", resolve(1, 2));
    EXPECT_EQ(lookups(1, 2, 5), take_commands());
    EXPECT_EQ("WPA3-Personal", resolve(1, 1));
    write_wlan_conf(2, "SSID_4_SEC_PROFILE=\"7\"\nSECURITY_7_MODE=\"wpa2wpa3\"\n");
    EXPECT_EQ("WPA3-Personal", resolve(2, 4));

    // No file: the profile stays 0, SECURITY_0_MODE is asked for; the
    // commands run with zeros too.
    take_commands();
    EXPECT_EQ("WPA3-Personal", resolve(3, 1));
    EXPECT_EQ(lookups(3, 1, 0), take_commands());
    resolve(0, 0);
    EXPECT_EQ(lookups(0, 0, 0), take_commands());
    // Profile 0 does have a mode.
    write_wlan_conf(3, "SECURITY_0_MODE=\"wpa2\"\n");
    EXPECT_EQ("WPA2-PSK", resolve(3, 1));
    // A too-short profile value reads as profile 0.
    write_wlan_conf(1, "SSID_2_SEC_PROFILE=\"\nSECURITY_0_MODE=\"wpa2\"\n");
    take_commands();
    EXPECT_EQ("WPA2-PSK", resolve(1, 2));
    EXPECT_EQ(lookups(1, 2, 0), take_commands());
    // grep matches anywhere in a line: the first line printed is used.
    write_wlan_conf(1, "#SSID_2_SEC_PROFILE=\"6\"\nSSID_2_SEC_PROFILE=\"5\"\n"
                       "SECURITY_6_MODE=\"wpa2\"\nSECURITY_5_MODE=\"wpa3\"\n");
    EXPECT_EQ("WPA2-PSK", resolve(1, 2));
}

TEST_F(Security, MalformedEntriesLeaveTheText)
{
    // Unquoted and empty values, a bare '=', a key without '=', a long line.
    const std::string modes[] = {"SECURITY_5_MODE=wpa2\n", "SECURITY_5_MODE=\"\"\n",
                                 "SECURITY_5_MODE=\n", "SECURITY_5_MODE=", "SECURITY_5_MODE wpa2\n",
                                 "SECURITY_5_MODE=\"" + std::string(300, 'w') + "\"\n"};
    for (const std::string &mode : modes) {
        write_wlan_conf(1, "SSID_2_SEC_PROFILE=\"5\"\n" + mode);
        EXPECT_EQ("WPA3-Personal", resolve(1, 2)) << mode;
    }

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
