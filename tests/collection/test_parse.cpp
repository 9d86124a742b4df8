// The text rules of the collection code, without any command run.
#include <gtest/gtest.h>

#include <string.h>

#include <map>
#include <regex>
#include <string>
#include <vector>

#include "../common/transcript.h"
#include "wlan_hvd_parse.h"

namespace {

staInfo_t blank()
{
    staInfo_t s;
    memset(&s, 0, sizeof s);
    return s;
}

// The cases of parse.txt.
TEST(TextRules, Table)
{
    const std::regex repeat("(.)\\*([0-9]+)");
    auto expand = [&](std::string t) {
        std::smatch m;
        while (std::regex_search(t, m, repeat))
            t.replace(m.position(0), m.length(0), std::stoul(m[2].str()), m[1].str()[0]);
        return transcript::unescape(t);
    };
    transcript::play("collection/parse.txt", {}, [&](const std::string &line) {
        const std::string verb = line.substr(0, line.find(' '));
        const size_t arrow = line.find(" => ", verb.size());
        const std::string in = expand(line.substr(verb.size() + 1, arrow - verb.size() - 1));
        const std::string want = expand(line.substr(arrow + 4));
        std::string got;
        if (verb == "listing") {
            staInfo_t s = blank();
            if (want.rfind("8|", 0) == 0)
                memset(s.rxRate, 'Z', sizeof s.rxRate);  // must be overwritten, terminated
            const int n = hvd_parse_sta_line(in.c_str(), &s);
            for (const std::string &f : {std::to_string(n), std::to_string(s.channel), std::string(s.txRate),
                                         std::string(s.rxRate), std::to_string(s.sigRSSI), std::to_string(s.tx),
                                         std::to_string(s.rx), std::string(s.bandcap), std::string(s.dot11Features)})
                got += (got.empty() ? "" : "|") + f;
        } else if (verb == "err_rate") {
            const size_t sp = in.find(' ');
            got = std::to_string(hvd_err_rate(static_cast<uint32_t>(std::stoul(in.substr(0, sp))),
                                              std::stof(in.substr(sp + 1))));
        } else {
            const std::map<std::string, bool (*)(const char *)> ok = {
                {"ifname", hvd_ifname_ok}, {"mac", hvd_mac_ok}, {"tool", hvd_tool_ok}};
            got = ok.at(verb)(in == "NULL" ? nullptr : in.c_str()) ? "1" : "0";
        }
        EXPECT_EQ(got, want);
    });
}

TEST(CommandWords, ALineThatDoesNotFitIsNotLeftCutShort)
{
    char buf[8];
    EXPECT_TRUE(hvd_format(buf, sizeof buf, "%s", "1234567"));
    EXPECT_FALSE(hvd_format(buf, sizeof buf, "%s", "12345678"));
    EXPECT_STREQ(buf, "");
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
