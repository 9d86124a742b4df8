// Security mode lookup: exact commands, and which configurations turn
// "WPA3-Personal" into "WPA2-PSK".
#include <string.h>

#include "daemon_fixture.h"
#include "seam.h"
#include "wlan.h"

namespace {

using Lines = std::vector<std::string>;

class Security : public DaemonTest {
protected:
    std::string resolve(int radio, int wlan)
    {
        char security[64] = "WPA3-Personal";
        resolveWpa3Security(radio, wlan, security);
        return security;
    }
};

TEST_F(Security, ProfileModeDecides)
{
    write_wlan_conf(1, "SSID_1_SEC_PROFILE=\"3\"\nSSID_2_SEC_PROFILE=\"5\"\n"
                       "SECURITY_3_MODE=\"wpa3\"\nSECURITY_5_MODE=\"wpa2\"\n");
    EXPECT_EQ("WPA2-PSK", resolve(1, 2));
    EXPECT_EQ((Lines{"cat /var/halvo/wlan/wlan-1.conf | grep SSID_2_SEC_PROFILE",
                     "cat /var/halvo/wlan/wlan-1.conf | grep SECURITY_5_MODE"}),
              take_commands());
    EXPECT_EQ("WPA3-Personal", resolve(1, 1));

    write_wlan_conf(2, "SSID_4_SEC_PROFILE=\"7\"\nSECURITY_7_MODE=\"wpa2wpa3\"\n");
    EXPECT_EQ("WPA3-Personal", resolve(2, 4));
}

TEST_F(Security, MissingOrMalformedEntriesLeaveTheText)
{
    // No file: the profile stays 0, SECURITY_0_MODE is asked for.
    EXPECT_EQ("WPA3-Personal", resolve(3, 1));
    EXPECT_EQ((Lines{"cat /var/halvo/wlan/wlan-3.conf | grep SSID_1_SEC_PROFILE",
                     "cat /var/halvo/wlan/wlan-3.conf | grep SECURITY_0_MODE"}),
              take_commands());

    // Profile 0 does have a mode.
    write_wlan_conf(3, "SECURITY_0_MODE=\"wpa2\"\n");
    EXPECT_EQ("WPA2-PSK", resolve(3, 1));

    // The commands run with zeros too.
    take_commands();
    resolve(0, 0);
    EXPECT_EQ((Lines{"cat /var/halvo/wlan/wlan-0.conf | grep SSID_0_SEC_PROFILE",
                     "cat /var/halvo/wlan/wlan-0.conf | grep SECURITY_0_MODE"}),
              take_commands());

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
    rrm_seam_reset();
    SetUpWorldCommands();

    // Unquoted and empty values, a bare '=' and a key without '='.
    for (const char *text : {"SSID_2_SEC_PROFILE=\"5\"\nSECURITY_5_MODE=wpa2\n",
                             "SSID_2_SEC_PROFILE=\"5\"\nSECURITY_5_MODE=\"\"\n",
                             "SSID_2_SEC_PROFILE=\"5\"\nSECURITY_5_MODE=\n",
                             "SSID_2_SEC_PROFILE=\"5\"\nSECURITY_5_MODE=",
                             "SSID_2_SEC_PROFILE=\"5\"\nSECURITY_5_MODE wpa2\n"}) {
        write_wlan_conf(1, text);
        EXPECT_EQ("WPA3-Personal", resolve(1, 2)) << text;
    }

    // A too-short profile value reads as profile 0.
    write_wlan_conf(1, "SSID_2_SEC_PROFILE=\"\nSECURITY_0_MODE=\"wpa2\"\n");
    take_commands();
    EXPECT_EQ("WPA2-PSK", resolve(1, 2));
    EXPECT_EQ("cat /var/halvo/wlan/wlan-1.conf | grep SECURITY_0_MODE", take_commands().at(1));
}

TEST_F(Security, FirstMatchingLineWinsAndLongLinesAreCut)
{
    // grep matches anywhere in a line: the first line printed is used.
    write_wlan_conf(1, "#SSID_2_SEC_PROFILE=\"6\"\nSSID_2_SEC_PROFILE=\"5\"\n"
                       "SECURITY_6_MODE=\"wpa2\"\nSECURITY_5_MODE=\"wpa3\"\n");
    EXPECT_EQ("WPA2-PSK", resolve(1, 2));

    write_wlan_conf(1, "SSID_2_SEC_PROFILE=\"5\"\nSECURITY_5_MODE=\"" + std::string(300, 'w') +
                           "\"\n");
    EXPECT_EQ("WPA3-Personal", resolve(1, 2));
}

TEST_F(Security, CommandsThatCannotStart)
{
    rrm_seam.cmd_open = [](const char *, const char *) -> FILE * { return nullptr; };
    EXPECT_EQ("WPA3-Personal", resolve(1, 2));
}

}  // namespace
