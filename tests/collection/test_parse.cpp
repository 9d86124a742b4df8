// The text rules of the collection code, without any command run.
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "wlan_hvd_parse.h"

namespace {

staInfo_t blank()
{
    staInfo_t s;
    memset(&s, 0, sizeof s);
    return s;
}

TEST(ListingLine, ReadsEveryColumnOfAUsualLine)
{
    staInfo_t s = blank();
    const char *line =
        "aa:bb:cc:dd:ee:01 1 36 866M 780M 45 0 0 123456789012 987654321 HE80 x 11ax extra words\n";
    EXPECT_EQ(hvd_parse_sta_line(line, &s), 8);
    EXPECT_EQ(s.channel, 36);
    EXPECT_STREQ(s.txRate, "866M");
    EXPECT_STREQ(s.rxRate, "780M");
    EXPECT_EQ(s.sigRSSI, 45);
    EXPECT_EQ(s.tx, 123456789012ULL);
    EXPECT_EQ(s.rx, 987654321ULL);
    EXPECT_STREQ(s.bandcap, "HE80");
    EXPECT_STREQ(s.dot11Features, "ax");
}

TEST(ListingLine, StopsAtTheFirstUnreadableColumnAndKeepsLaterFields)
{
    staInfo_t s = blank();
    // Column 6 is not a number: channel and rates are read, the rest stays.
    EXPECT_EQ(hvd_parse_sta_line("m 1 6 54M 48M weak 0 0 10 20 HT20 x 11n\n", &s), 3);
    EXPECT_EQ(s.channel, 6);
    EXPECT_STREQ(s.rxRate, "48M");
    EXPECT_EQ(s.sigRSSI, 0);
    EXPECT_EQ(s.tx, 0u);
    EXPECT_STREQ(s.bandcap, "");

    // Column 13 without its leading "11", or just "11": no features.
    s = blank();
    EXPECT_EQ(hvd_parse_sta_line("m 1 6 54M 48M 30 0 0 10 20 HT20 x ac\n", &s), 7);
    EXPECT_STREQ(s.bandcap, "HT20");
    EXPECT_STREQ(s.dot11Features, "");
    s = blank();
    EXPECT_EQ(hvd_parse_sta_line("m 1 6 54M 48M 30 0 0 10 20 HT20 x 11\n", &s), 7);
    EXPECT_STREQ(s.dot11Features, "");

    // A short line.
    s = blank();
    EXPECT_EQ(hvd_parse_sta_line("m 1\n", &s), 0);
    EXPECT_EQ(hvd_parse_sta_line("", &s), 0);
}

TEST(ListingLine, CutsOverlongTextsToTheirFields)
{
    staInfo_t s = blank();
    memset(s.rxRate, 'Z', sizeof s.rxRate);  // must be overwritten, terminated
    std::string line = "m 1 11 " + std::string(40, 'T') + " " + std::string(40, 'R') + " 50 0 0 1 2 " +
                       std::string(40, 'B') + " x 11" + std::string(40, 'F') + "\n";
    EXPECT_EQ(hvd_parse_sta_line(line.c_str(), &s), 8);
    EXPECT_EQ(std::string(s.txRate), std::string(10, 'T'));
    EXPECT_EQ(std::string(s.rxRate), std::string(10, 'R'));
    EXPECT_EQ(s.sigRSSI, 50) << "an over-long word does not shift the columns";
    EXPECT_EQ(std::string(s.bandcap), std::string(16, 'B'));
    EXPECT_EQ(std::string(s.dot11Features), std::string(15, 'F'));
}

TEST(CommandWords, OnlySafeTextsMayStandOnACommandLine)
{
    EXPECT_TRUE(hvd_ifname_ok("wlan-1-1"));
    EXPECT_TRUE(hvd_ifname_ok("  wds-1-9"));
    EXPECT_TRUE(hvd_ifname_ok("wlan-1-1.10"));
    EXPECT_FALSE(hvd_ifname_ok(""));
    EXPECT_FALSE(hvd_ifname_ok("   "));
    EXPECT_FALSE(hvd_ifname_ok("wlan;reboot"));
    EXPECT_FALSE(hvd_ifname_ok("wlan-1-1 x"));
    EXPECT_FALSE(hvd_ifname_ok("$(id)"));
    EXPECT_FALSE(hvd_ifname_ok("wlan-1-1\n"));
    EXPECT_FALSE(hvd_ifname_ok("a-very-long-name-1"));
    EXPECT_FALSE(hvd_ifname_ok(nullptr));

    EXPECT_TRUE(hvd_mac_ok("aa:bb:cc:dd:ee:ff"));
    EXPECT_FALSE(hvd_mac_ok("aa:bb\" ; rm -rf / ; \""));
    EXPECT_FALSE(hvd_mac_ok(""));

    EXPECT_TRUE(hvd_tool_ok("wlanconfig"));
    EXPECT_TRUE(hvd_tool_ok("/usr/sbin/iwpriv"));
    EXPECT_FALSE(hvd_tool_ok("iwpriv; reboot"));
    EXPECT_FALSE(hvd_tool_ok(""));

    char buf[8];
    EXPECT_TRUE(hvd_format(buf, sizeof buf, "%s", "1234567"));
    EXPECT_FALSE(hvd_format(buf, sizeof buf, "%s", "12345678"));
    EXPECT_STREQ(buf, "") << "a line that does not fit is not left cut short";
}

TEST(ShellConfig, VapConfigurationRowsDropTheBlankAfterTheColon)
{
    staInfo_t s = blank();
    bool err = false;
    char l1[] = "  SSID: office\n";
    char l2[] = "  SSID_profile: prof-office\r\n";
    char l3[] = "  Security: WPA2-PSK\n";
    char l4[] = "  Security_profile: sec-office\n";
    char l5[] = "  Other: x\n";
    for (char *l : {l1, l2, l3, l4, l5})
        hvd_apply_wlan_line(l, &s, &err);
    EXPECT_FALSE(err);
    EXPECT_STREQ(s.ssid, "office");
    EXPECT_STREQ(s.ssidProfileName, "prof-office");
    EXPECT_STREQ(s.security, "WPA2-PSK");
    EXPECT_STREQ(s.secProfileName, "sec-office");

    // Prefixes compare over their own length, two leading blanks included.
    staInfo_t t = blank();
    char m1[] = "SSID: nope\n";
    char m2[] = "  SSIDX: yes\n";
    char m3[] = "  Security_profileZ: sp\n";
    char m4[] = "  SSID\n";  // no value
    for (char *l : {m1, m2, m3, m4})
        hvd_apply_wlan_line(l, &t, &err);
    EXPECT_STREQ(t.ssid, "yes");
    EXPECT_STREQ(t.security, "") << "a Security_profile line never fills the security text";
    EXPECT_STREQ(t.secProfileName, "sp");

    // The test is made on the value less its first character.
    char ok[] = "  SSID: Parse error at word 3\n";
    hvd_apply_wlan_line(ok, &t, &err);
    EXPECT_FALSE(err);
    char pe[] = "  SSID:  Parse error at word 3\n";
    hvd_apply_wlan_line(pe, &t, &err);
    EXPECT_TRUE(err);
}

TEST(ShellConfig, MeshLinkRowsKeepTheWholeValue)
{
    staInfo_t s = blank();
    bool err = false;
    char l1[] = "  WDS_SSID: backhaul\n";
    char l2[] = "  WDS_profile: wds-prof\n";
    char l3[] = "  Security: WPA3-Personal\n";
    char l4[] = "  Security_profile: wds-sec\n";
    for (char *l : {l1, l2, l3, l4})
        hvd_apply_wds_line(l, &s, &err);
    EXPECT_STREQ(s.ssid, " backhaul");
    EXPECT_STREQ(s.ssidProfileName, " wds-prof");
    EXPECT_STREQ(s.security, " WPA3-Personal");
    EXPECT_STREQ(s.secProfileName, " wds-sec");
    EXPECT_FALSE(err);
    char pe[] = "x: Parse error\n";
    hvd_apply_wds_line(pe, &s, &err);
    EXPECT_TRUE(err);

    // Long values are cut to their fields, terminated.
    std::string longline = "  WDS_SSID:" + std::string(100, 'S') + "\n";
    std::string longprof = "  Security_profile:" + std::string(100, 'P') + "\n";
    hvd_apply_wds_line(longline.data(), &s, &err);
    hvd_apply_wds_line(longprof.data(), &s, &err);
    EXPECT_EQ(strlen(s.ssid), sizeof s.ssid - 1);
    EXPECT_EQ(strlen(s.secProfileName), sizeof s.secProfileName - 1);
}

TEST(InterfaceTable, CountsOnlyTheRadiosInterfacesAndSumsTheirColumns)
{
    capwapWlanStatis_t r{};
    EXPECT_TRUE(hvd_wlan_status_line("1 wlan-1-1 Up 100 200 x 300 400", 1, &r));
    EXPECT_TRUE(hvd_wlan_status_line("2   wlan-1-10   Down  1  2  x  3  4", 1, &r));
    EXPECT_FALSE(hvd_wlan_status_line("3 wlan-10-1 Up 1000 1000 x 1000 1000", 1, &r));
    EXPECT_FALSE(hvd_wlan_status_line("4 wds-1-9 Up 1000 1000 x 1000 1000", 1, &r));
    EXPECT_FALSE(hvd_wlan_status_line("lonely", 1, &r));
    EXPECT_EQ(r.activate, 1);
    EXPECT_EQ(r.txFrameCnt, 101u);
    EXPECT_EQ(r.rxFrameCnt, 202u);
    EXPECT_EQ(r.txBytesPerSec, 303u);
    EXPECT_EQ(r.rxBytesPerSec, 404u);

    capwapWlanStatis_t d{};
    EXPECT_TRUE(hvd_wlan_status_line("1 wlan-2-1 Down 5 6", 2, &d));
    EXPECT_TRUE(hvd_wlan_status_line("1 wlan-2-2", 2, &d));
    EXPECT_TRUE(hvd_wlan_status_line("1 wlan-2-3 up abc 7", 2, &d));
    EXPECT_EQ(d.activate, 0) << "only a status beginning with U counts";
    EXPECT_EQ(d.txFrameCnt, 5u);
    EXPECT_EQ(d.rxFrameCnt, 13u);
}

TEST(NetDev, SkipsSubInterfacesAndKeepsValuesALineDoesNotSupply)
{
    hvd_netdev_values v{};
    EXPECT_FALSE(hvd_netdev_line("wlan-1-1.10: 1 2 3 4 5 6 7 8 9 10 11", 1, &v));
    EXPECT_FALSE(hvd_netdev_line("  eth0: 1 2 3 4 5 6 7 8 9 10 11", 1, &v));
    EXPECT_FALSE(hvd_netdev_line("wlan-2-1: 1 2 3 4 5 6 7 8 9 10 11", 1, &v));
    EXPECT_TRUE(hvd_netdev_line("  wlan-1-1: 5000000000 20 3 0 0 0 0 0 6000000000 30 4 0 0 0 0 0", 1, &v));
    EXPECT_EQ(v.rx_bytes, 5000000000ULL);
    EXPECT_EQ(v.rx_packets, 20);
    EXPECT_EQ(v.rx_errs, 3);
    EXPECT_EQ(v.tx_bytes, 6000000000ULL);
    EXPECT_EQ(v.tx_packets, 30);
    EXPECT_EQ(v.tx_errs, 4);
    // A short line replaces only what it supplies.
    EXPECT_TRUE(hvd_netdev_line("wlan-1-2: 7 8", 1, &v));
    EXPECT_EQ(v.rx_bytes, 7u);
    EXPECT_EQ(v.rx_packets, 8);
    EXPECT_EQ(v.rx_errs, 3);
    EXPECT_EQ(v.tx_errs, 4);
    // No ":" at all still counts, with nothing replaced.
    EXPECT_TRUE(hvd_netdev_line("wlan-1-3 garbage", 1, &v));
    EXPECT_EQ(v.rx_bytes, 7u);
}

TEST(ErrorRate, IsWholePercentOfFramesPlusErrors)
{
    EXPECT_EQ(hvd_err_rate(900, 100.0f), 10u);
    EXPECT_EQ(hvd_err_rate(1, 3.0f), 75u);
    EXPECT_EQ(hvd_err_rate(1000, 10.0f), 0u);
    EXPECT_EQ(hvd_err_rate(0, 50.0f), 0u);
    EXPECT_EQ(hvd_err_rate(10, 0.0f), 0u);
    EXPECT_EQ(hvd_err_rate(5, -10.0f), 0u) << "a divisor not above 0";
    EXPECT_EQ(hvd_err_rate(10, -5.0f), 0u) << "never a negative rate";
    EXPECT_EQ(hvd_err_rate(1, 1e30f), 100u);
}

}  // namespace
