// WPA3 SSID library stand-in: what it makes of bad OWE transition entries
// and arguments (pairs themselves are checked through the recorder).
#include <gtest/gtest.h>
#include <string.h>

#include "../common/proc.h"
#include "wpa3info.h"

namespace {

TEST(Wpa3Info, BadEntriesAndBounds)
{
    const proc::TempDir dir;
    setenv("WPA3_WLAN_CONF_DIR", dir.path.c_str(), 1);
    std::ofstream(dir.file("wlan-1.conf")) << "SSID_2_NAME=\"Cafe\"\nSSID_2_OWE_TRANS_INDEX=\"10\"\n"
          "SSID_10_OWE_TRANS_INDEX=\"2\"\n"
          "SSID_3_OWE_TRANS_INDEX=\"abc\"\nSSID_4_OWE_TRANS_INDEX=\"100\"\n"
          "SSID_6_OWE_TRANS_INDEX=\"-4\"\nSSID_7_OWE_TRANS_INDEX=5\n"
          "SSID_55_OWE_TRANS_INDEX=\"7\"\n"
          "SSID_8_NAME=\"" + std::string(100, 'n') + "\"\n";

    // Not in a pair, no file for radio 2, bad or unquoted values, SSID_5
    // must not match SSID_55, indexes out of range.
    const struct {
        int radio, wlan, index;
    } cases[] = {{1, 2, 10}, {1, 10, 2}, {1, 1, 0}, {2, 2, 0},  {1, 3, 0},    {1, 4, 0},
                 {1, 5, 0},  {1, 6, 0},  {1, 7, 0}, {1, 55, 7}, {0, 1, 0},    {1, 0, 0},
                 {-1, 100, 0}};
    for (const auto &c : cases)
        EXPECT_EQ(c.index, wpa3_get_oweindex(c.radio, c.wlan)) << c.radio << "/" << c.wlan;

    char buf[64];
    EXPECT_EQ(-1, wpa3_get_new_ssidname(1, 2, nullptr));
    // A small buffer is never overrun; a long name is cut to the buffer.
    char small[3] = {'x', 'x', 'x'};
    EXPECT_EQ(0, wpa3_owetm_trans_ssidname(1, 10, 2, small, sizeof small));
    EXPECT_STREQ("Ca", small);
    EXPECT_EQ(0, wpa3_owetm_trans_ssidname(1, 9, 8, buf, sizeof buf));
    EXPECT_EQ(63u, strlen(buf));
    strcpy(buf, "keep");
    EXPECT_EQ(-1, wpa3_owetm_trans_ssidname(1, 9, 0, buf, sizeof buf));
    EXPECT_EQ(-1, wpa3_owetm_trans_ssidname(1, 9, 2, buf, 0));
    EXPECT_STREQ("keep", buf);
    unsetenv("WPA3_WLAN_CONF_DIR");
}

}  // namespace
