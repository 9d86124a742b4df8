#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform_utils.h"

TEST(Mac, TextRoundTripsInLowerCaseTwoDigitForm)
{
    unsigned char mac[6];
    char text[MAC_STR_LEN];
    ASSERT_EQ(str2mac("00:1A:2b:3C:4d:Ff", mac), 0);
    const unsigned char want[6] = {0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0xff};
    EXPECT_EQ(memcmp(mac, want, 6), 0);
    EXPECT_STREQ(mac2str(mac, text), "00:1a:2b:3c:4d:ff");

    // One-digit octets and hyphens are read too; the text is always canonical.
    ASSERT_EQ(str2mac("0-1-a-b-c-d", mac), 0);
    EXPECT_STREQ(mac2str(mac, text), "00:01:0a:0b:0c:0d");

    unsigned char back[6];
    ASSERT_EQ(str2mac(text, back), 0);
    EXPECT_EQ(memcmp(mac, back, 6), 0);
    EXPECT_EQ(isMac(text), 1);
}

TEST(Mac, BadTextsAreRefusedAndLeaveTheOutputAlone)
{
    for (const char *s : {"", "00:11:22:33:44", "00:11:22:33:44:55:66", "00:11:22:33:44:55:", "000:11:22:33:44:55",
                          "00:11-22:33:44:55", "00::22:33:44:55", "0g:11:22:33:44:55", " 00:11:22:33:44:55",
                          "00:11:22:33:44:55 ", "00.11.22.33.44.55", "001122334455", "00:11:22:33:44:5\n"}) {
        unsigned char mac[6];
        memset(mac, 0xee, sizeof mac);
        EXPECT_EQ(str2mac(s, mac), -1) << s;
        EXPECT_EQ(isMac(s), 0) << s;
        for (unsigned char c : mac)
            EXPECT_EQ(c, 0xee) << s;
    }
    unsigned char mac[6];
    EXPECT_EQ(str2mac(nullptr, mac), -1);
    EXPECT_EQ(isMac(nullptr), 0);
}

TEST(Mac, RendersWithinEighteenBytes)
{
    const unsigned char all[6] = {0xff, 0xff, 0xff, 0xff, 0xff, 0xff};
    char text[32];
    memset(text, '#', sizeof text);
    mac2str(all, text);
    EXPECT_STREQ(text, "ff:ff:ff:ff:ff:ff");
    EXPECT_EQ(text[MAC_STR_LEN], '#');
}
