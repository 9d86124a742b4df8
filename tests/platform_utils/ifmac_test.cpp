#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "platform_utils.h"

TEST(IfMac, LoopbackAnswersAndMissingOrOverlongNamesGiveZeros)
{
    // Sixteen characters do not fit the request's name field.
    const std::string huge(5000, 'l');
    const struct {
        const char *name;
        int rc;
    } cases[] = {{"lo", 0}, {"nosuch-if9", -1}, {"abcdefghijklmnop", -1}, {huge.c_str(), -1}, {"", -1}, {nullptr, -1}};
    for (const auto &c : cases) {
        unsigned char mac[6];
        memset(mac, 0xaa, sizeof mac);
        EXPECT_EQ(capwapUtlGetIfMAC(c.name, mac), c.rc) << (c.name ? c.name : "null");
        for (unsigned char b : mac)
            EXPECT_EQ(b, 0) << (c.name ? c.name : "null");
    }
}
