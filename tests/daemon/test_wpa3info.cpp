// WPA3 SSID library stand-in: answers from the OWE transition entries of the
// WLAN configuration files.
#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "wpa3info.h"

namespace {

class Wpa3Info : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/wpa3testXXXXXX";
        ASSERT_NE(nullptr, mkdtemp(tmpl));
        dir_ = tmpl;
        setenv("WPA3_WLAN_CONF_DIR", dir_.c_str(), 1);
    }
    void TearDown() override
    {
        for (int r = 1; r <= 3; ++r)
            unlink((dir_ + "/wlan-" + std::to_string(r) + ".conf").c_str());
        rmdir(dir_.c_str());
        unsetenv("WPA3_WLAN_CONF_DIR");
    }
    void write(int radio, const char *text)
    {
        FILE *f = fopen((dir_ + "/wlan-" + std::to_string(radio) + ".conf").c_str(), "w");
        ASSERT_NE(nullptr, f);
        fputs(text, f);
        fclose(f);
    }
    std::string dir_;
};

TEST_F(Wpa3Info, TransitionPairNames)
{
    write(1,
          "SSID_1_NAME=\"Office\"\n"
          "SSID_2_NAME=\"Cafe\"\n"
          "SSID_2_OWE_TRANS_INDEX=\"10\"\n"
          "SSID_2_DISPLAY_NAME=\"Cafe (OWE)\"\n"
          "SSID_10_NAME=\"Cafe-owe\"\n"
          "SSID_10_OWE_TRANS_INDEX=\"2\"\n");
    EXPECT_EQ(10, wpa3_get_oweindex(1, 2));
    EXPECT_EQ(2, wpa3_get_oweindex(1, 10));
    EXPECT_EQ(0, wpa3_get_oweindex(1, 1));  // not in a pair
    EXPECT_EQ(0, wpa3_get_oweindex(2, 2));  // no file for radio 2

    char buf[64] = "Cafe";
    EXPECT_EQ(0, wpa3_get_new_ssidname(1, 2, buf));
    EXPECT_STREQ("Cafe (OWE)", buf);

    char same[64] = "Office";
    EXPECT_EQ(-1, wpa3_get_new_ssidname(1, 1, same));
    EXPECT_STREQ("Office", same);

    char hidden[64] = {};
    EXPECT_EQ(0, wpa3_owetm_trans_ssidname(1, 10, 2, hidden, sizeof hidden));
    EXPECT_STREQ("Cafe", hidden);

    // A small buffer is never overrun.
    char small[3] = {'x', 'x', 'x'};
    EXPECT_EQ(0, wpa3_owetm_trans_ssidname(1, 10, 2, small, sizeof small));
    EXPECT_STREQ("Ca", small);
}

TEST_F(Wpa3Info, BadEntriesAndArgumentsGiveNoPair)
{
    write(1,
          "SSID_1_OWE_TRANS_INDEX=\"abc\"\n"
          "SSID_2_OWE_TRANS_INDEX=\"100\"\n"
          "SSID_3_OWE_TRANS_INDEX=\"-4\"\n"
          "SSID_4_OWE_TRANS_INDEX=5\n"           // unquoted
          "SSID_55_OWE_TRANS_INDEX=\"7\"\n");    // SSID_5 must not match SSID_55
    EXPECT_EQ(0, wpa3_get_oweindex(1, 1));
    EXPECT_EQ(0, wpa3_get_oweindex(1, 2));
    EXPECT_EQ(0, wpa3_get_oweindex(1, 3));
    EXPECT_EQ(0, wpa3_get_oweindex(1, 4));
    EXPECT_EQ(0, wpa3_get_oweindex(1, 5));
    EXPECT_EQ(7, wpa3_get_oweindex(1, 55));
    EXPECT_EQ(0, wpa3_get_oweindex(0, 1));
    EXPECT_EQ(0, wpa3_get_oweindex(1, 0));
    EXPECT_EQ(0, wpa3_get_oweindex(-1, 100));

    char buf[64] = "keep";
    EXPECT_EQ(-1, wpa3_owetm_trans_ssidname(1, 9, 0, buf, sizeof buf));
    EXPECT_EQ(-1, wpa3_owetm_trans_ssidname(1, 9, 2, buf, 0));
    EXPECT_EQ(-1, wpa3_get_new_ssidname(1, 2, nullptr));
    EXPECT_STREQ("keep", buf);
}

TEST_F(Wpa3Info, LongValuesAreCut)
{
    std::string text = "SSID_6_NAME=\"" + std::string(100, 'n') + "\"\n";
    write(2, text.c_str());
    char buf[64];
    EXPECT_EQ(0, wpa3_owetm_trans_ssidname(2, 9, 6, buf, sizeof buf));
    EXPECT_EQ(63u, strlen(buf));
}

}  // namespace
