// The text rules of the collection code, without any command run.
#include <gtest/gtest.h>

#include <string.h>

#include <map>
#include <regex>
#include <string>
#include <vector>

#include "../common/transcript.h"
#include "wlan.h"
#include "wlan_hvd_cmd.h"
#include "wlan_hvd_parse.h"

namespace {

staInfo_t blank()
{
    staInfo_t s;
    memset(&s, 0, sizeof s);
    return s;
}

// A text in lines, each with its line end.
std::vector<std::string> lines_of(const std::string &text)
{
    std::vector<std::string> out;
    for (size_t at = 0; at < text.size();) {
        const size_t end = std::min(text.find('\n', at), text.size() - 1) + 1;
        out.push_back(text.substr(at, end - at));
        at = end;
    }
    return out;
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
        } else if (verb == "wlan" || verb == "wds") {
            staInfo_t s = blank();
            bool err = false;
            for (std::string l : lines_of(in))
                (verb == "wlan" ? hvd_apply_wlan_line : hvd_apply_wds_line)(l.data(), &s, &err);
            got = std::string(s.ssid) + "|" + s.ssidProfileName + "|" + s.security + "|" + s.secProfileName + "|" +
                  std::to_string(err);
        } else if (verb == "status" || verb == "netdev") {
            const int radio = std::stoi(in);
            capwapWlanStatis_t r{};
            hvd_netdev_values v{};
            std::vector<unsigned long long> f;
            for (std::string l : lines_of(in.substr(in.find(' ') + 1))) {
                l.erase(l.find_last_not_of('\n') + 1);
                got += verb == "status" ? hvd_wlan_status_line(l.c_str(), radio, &r) ? "1" : "0"
                                        : hvd_netdev_line(l.c_str(), radio, &v) ? "1" : "0";
            }
            if (verb == "status")
                f = {static_cast<unsigned long long>(r.activate), r.txFrameCnt, r.rxFrameCnt, r.txBytesPerSec, r.rxBytesPerSec};
            else
                f = {v.rx_bytes, static_cast<unsigned long long>(v.rx_packets), static_cast<unsigned long long>(v.rx_errs),
                     v.tx_bytes, static_cast<unsigned long long>(v.tx_packets), static_cast<unsigned long long>(v.tx_errs)};
            for (unsigned long long x : f)
                got += "|" + std::to_string(x);
        } else if (verb == "err_rate") {
            const size_t sp = in.find(' ');
            got = std::to_string(hvd_err_rate(static_cast<uint32_t>(std::stoul(in.substr(0, sp))),
                                              std::stof(in.substr(sp + 1))));
        } else if (verb == "word" || verb == "dword") {
            char word[64];
            got = wlan_ifname_word(word, sizeof word, in.c_str(), verb == "dword") ? word : "(too long)";
        } else {
            const std::map<std::string, bool (*)(const char *)> ok = {{"mac", hvd_mac_ok}, {"tool", hvd_tool_ok}};
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
