// The text rules of the collection code, without any command run.
#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "wlan_hvd_parse.h"

namespace {

staInfo_t blank()
{
    staInfo_t s;
    memset(&s, 0, sizeof s);
    return s;
}

TEST(ListingLine, ColumnsUpToTheFirstUnreadableOneAndTextsCutToTheirFields)
{
    const std::string T(40, 'T'), R(40, 'R'), B(40, 'B'), F(40, 'F');
    struct Case {
        std::string line;
        int count, channel;
        std::string tx_rate, rx_rate;
        int rssi;
        unsigned long long tx, rx;
        std::string bandcap, features;
    } cases[] = {
        {"aa:bb:cc:dd:ee:01 1 36 866M 780M 45 0 0 123456789012 987654321 HE80 x 11ax extra words\n", 8, 36, "866M",
         "780M", 45, 123456789012ULL, 987654321, "HE80", "ax"},
        // Column 6 is not a number: channel and rates are read, the rest stays.
        {"m 1 6 54M 48M weak 0 0 10 20 HT20 x 11n\n", 3, 6, "54M", "48M", 0, 0, 0, "", ""},
        // Column 13 without its leading "11", or just "11": no features.
        {"m 1 6 54M 48M 30 0 0 10 20 HT20 x ac\n", 7, 6, "54M", "48M", 30, 10, 20, "HT20", ""},
        {"m 1 6 54M 48M 30 0 0 10 20 HT20 x 11\n", 7, 6, "54M", "48M", 30, 10, 20, "HT20", ""},
        {"m 1\n", 0, 0, "", "", 0, 0, 0, "", ""},
        {"", 0, 0, "", "", 0, 0, 0, "", ""},
        // Over-long words are cut, terminated, and do not shift the columns.
        {"m 1 11 " + T + " " + R + " 50 0 0 1 2 " + B + " x 11" + F + "\n", 8, 11, T.substr(0, 10), R.substr(0, 10),
         50, 1, 2, B.substr(0, 16), F.substr(0, 15)},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.line);
        staInfo_t s = blank();
        if (c.count == 8)
            memset(s.rxRate, 'Z', sizeof s.rxRate);  // must be overwritten, terminated
        EXPECT_EQ(hvd_parse_sta_line(c.line.c_str(), &s), c.count);
        EXPECT_EQ(s.channel, c.channel);
        if (c.count > 0) {
            EXPECT_EQ(std::string(s.txRate), c.tx_rate);
            EXPECT_EQ(std::string(s.rxRate), c.rx_rate);
        }
        EXPECT_EQ(s.sigRSSI, c.rssi);
        EXPECT_EQ(s.tx, c.tx);
        EXPECT_EQ(s.rx, c.rx);
        EXPECT_EQ(std::string(s.bandcap), c.bandcap);
        EXPECT_EQ(std::string(s.dot11Features), c.features);
    }
}

TEST(CommandWords, OnlySafeTextsMayStandOnACommandLine)
{
    struct Case {
        bool (*ok)(const char *);
        const char *text;
        bool expected;
    } cases[] = {
        {hvd_ifname_ok, "wlan-1-1", true},       {hvd_ifname_ok, "  wds-1-9", true},
        {hvd_ifname_ok, "wlan-1-1.10", true},    {hvd_ifname_ok, "", false},
        {hvd_ifname_ok, "   ", false},           {hvd_ifname_ok, "wlan;reboot", false},
        {hvd_ifname_ok, "wlan-1-1 x", false},    {hvd_ifname_ok, "$(id)", false},
        {hvd_ifname_ok, "wlan-1-1\n", false},    {hvd_ifname_ok, "a-very-long-name-1", false},
        {hvd_ifname_ok, nullptr, false},         {hvd_mac_ok, "aa:bb:cc:dd:ee:ff", true},
        {hvd_mac_ok, "aa:bb\" ; rm -rf / ; \"", false}, {hvd_mac_ok, "", false},
        {hvd_tool_ok, "wlanconfig", true},       {hvd_tool_ok, "/usr/sbin/iwpriv", true},
        {hvd_tool_ok, "LD_LIBRARY_PATH=/opt/lib iwpriv", true}, {hvd_tool_ok, "", false},
        {hvd_ifname_ok, " --help", false},       {hvd_mac_ok, "-aa", false},
    };
    for (const Case &c : cases)
        EXPECT_EQ(c.ok(c.text), c.expected) << (c.text != nullptr ? c.text : "(null)");

    char buf[8];
    EXPECT_TRUE(hvd_format(buf, sizeof buf, "%s", "1234567"));
    EXPECT_FALSE(hvd_format(buf, sizeof buf, "%s", "12345678"));
    EXPECT_STREQ(buf, "") << "a line that does not fit is not left cut short";
}

void apply(void (*fn)(char *, staInfo_t *, bool *), std::vector<std::string> lines, staInfo_t *s, bool *err)
{
    for (std::string &l : lines)
        fn(l.data(), s, err);
}

TEST(ShellConfig, VapRowsDropTheBlankAfterTheColonMeshLinkRowsKeepIt)
{
    staInfo_t s = blank();
    bool err = false;
    apply(hvd_apply_wlan_line,
          {"  SSID: office\n", "  SSID_profile: prof-office\r\n", "  Security: WPA2-PSK\n",
           "  Security_profile: sec-office\n", "  Other: x\n"},
          &s, &err);
    EXPECT_FALSE(err);
    EXPECT_STREQ(s.ssid, "office");
    EXPECT_STREQ(s.ssidProfileName, "prof-office");
    EXPECT_STREQ(s.security, "WPA2-PSK");
    EXPECT_STREQ(s.secProfileName, "sec-office");

    // Prefixes compare over their own length, two leading blanks included.
    staInfo_t t = blank();
    apply(hvd_apply_wlan_line, {"SSID: nope\n", "  SSIDX: yes\n", "  Security_profileZ: sp\n", "  SSID\n"}, &t, &err);
    EXPECT_STREQ(t.ssid, "yes");
    EXPECT_STREQ(t.security, "") << "a Security_profile line never fills the security text";
    EXPECT_STREQ(t.secProfileName, "sp");
    // The test is made on the value less its first character.
    apply(hvd_apply_wlan_line, {"  SSID: Parse error at word 3\n"}, &t, &err);
    EXPECT_FALSE(err);
    apply(hvd_apply_wlan_line, {"  SSID:  Parse error at word 3\n"}, &t, &err);
    EXPECT_TRUE(err);

    staInfo_t m = blank();
    err = false;
    apply(hvd_apply_wds_line,
          {"  WDS_SSID: backhaul\n", "  WDS_profile: wds-prof\n", "  Security: WPA3-Personal\n",
           "  Security_profile: wds-sec\n"},
          &m, &err);
    EXPECT_STREQ(m.ssid, " backhaul");
    EXPECT_STREQ(m.ssidProfileName, " wds-prof");
    EXPECT_STREQ(m.security, " WPA3-Personal");
    EXPECT_STREQ(m.secProfileName, " wds-sec");
    EXPECT_FALSE(err);
    apply(hvd_apply_wds_line, {"x: Parse error\n"}, &m, &err);
    EXPECT_TRUE(err);
    // Long values are cut to their fields, terminated.
    apply(hvd_apply_wds_line,
          {"  WDS_SSID:" + std::string(100, 'S') + "\n", "  Security_profile:" + std::string(100, 'P') + "\n"}, &m,
          &err);
    EXPECT_EQ(strlen(m.ssid), sizeof m.ssid - 1);
    EXPECT_EQ(strlen(m.secProfileName), sizeof m.secProfileName - 1);
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
    for (const char *other : {"wlan-1-1.10: 1 2 3 4 5 6 7 8 9 10 11", "  eth0: 1 2 3 4 5 6 7 8 9 10 11",
                              "wlan-2-1: 1 2 3 4 5 6 7 8 9 10 11"})
        EXPECT_FALSE(hvd_netdev_line(other, 1, &v)) << other;
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

TEST(ErrorRate, IsWholePercentOfFramesPlusErrorsNeverNegative)
{
    struct Case {
        uint32_t frames;
        float errors;
        uint32_t rate;
    } cases[] = {{900, 100.0f, 10}, {1, 3.0f, 75}, {1000, 10.0f, 0}, {0, 50.0f, 0},
                 {10, 0.0f, 0},      {5, -10.0f, 0}, {10, -5.0f, 0},  {1, 1e30f, 100}};
    for (const Case &c : cases)
        EXPECT_EQ(hvd_err_rate(c.frames, c.errors), c.rate) << c.frames << " frames, " << c.errors << " errors";
}

// A listing kept for a pass answers every station as reading the stream
// would: same line, same first match, same lines never reached.
TEST(KeptListing, FindsWhatTheStreamWalkFinds)
{
    const std::string head = "ADDR AID CHAN TXRATE RXRATE RSSI MINRSSI MAXRSSI TX RX CAPS X MODE\n";
    const std::string a = "aa:bb:cc:dd:ee:01 1 36 866M 780M 41 0 0 10 20 HE80 x 11ax\n";
    const std::string a2 = "AA:BB:CC:DD:EE:01 1 6 1M 2M 9 0 0 1 2 HT20 x 11n\n";
    const std::string b = "aa:bb:cc:dd:ee:02 1 44 1M 2M 7 0 0 3 4 VHT x 11ac\n";
    const std::vector<std::string> texts = {
        "", head, head + a, head + a2 + a, head + b + "\n  \n" + a, head + a + b.substr(0, b.size() - 1),
        head + std::string(300, 'x') + " " + a, head + std::string(255, 'y') + a,
        head.substr(0, head.size() - 1), head + "aa:bb:cc:dd:ee:02" + std::string(1, '\0') + b + a,
    };
    for (const std::string &text : texts) {
        HvdStaIndex index;
        index.build(text);
        for (const char *mac : {"aa:bb:cc:dd:ee:01", "AA:bb:CC:dd:EE:02", "aa:bb:cc:dd:ee:03", "x"}) {
            staInfo_t walked = blank(), kept = blank();
            FILE *f = fmemopen(const_cast<char *>(text.data()), text.size(), "r");
            const int found = hvd_read_sta_listing(f, mac, &walked);
            fclose(f);
            char line[256];
            const bool hit = index.find(mac, line);
            if (hit)
                hvd_parse_sta_line(line, &kept);
            EXPECT_EQ(hit, found == 1) << mac << " in " << text;
            EXPECT_EQ(memcmp(&walked, &kept, sizeof kept), 0) << mac << " in " << text;
        }
    }
    // The text reader ends and cuts lines as fgets and feof do.
    for (const std::string &text : texts) {
        for (size_t cap : {2, 16, 64, 256}) {
            FILE *f = fmemopen(const_cast<char *>(text.data()), text.size(), "r");
            HvdText t(text);
            std::vector<char> want(cap), got(cap);
            for (bool more = true; more;) {
                const bool w = fgets(want.data(), static_cast<int>(cap), f) != nullptr;
                more = t.gets(got.data(), cap) != nullptr;
                ASSERT_EQ(w, more) << cap << " " << text;
                ASSERT_EQ(feof(f) != 0, t.eof()) << cap << " " << text;
                ASSERT_TRUE(!w || memcmp(want.data(), got.data(), strlen(want.data()) + 1) == 0);
            }
            fclose(f);
        }
    }
}

}  // namespace
