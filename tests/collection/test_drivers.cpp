// Station and radio statistics through the command seam, played from a
// transcript (drivers.txt): canned shell output and database records in,
// the exact commands, database requests and figures out.
#include <string.h>

#include <deque>
#include <functional>
#include <map>
#include <set>

#include "../common/transcript.h"
#include "collection_fakes.h"
#include "conf_init.h"
#include "wlan_hvd.h"

namespace {

// Texts the transcript names rather than spells.
const std::vector<std::pair<std::string, std::string>> kNames = {
    {"$STA", kSta}, {"$MESH", kMesh}, {"$HEADER", kHeader},
    {"$LIST11", kList11}, {"$LIST12", "wlanconfig wlan-1-2 list sta limited 2>/dev/null"},
    {"$LISTWDS", "wlanconfig wds-1-9 list sta limited 2>/dev/null"},
    {"$VAPS", "/lib/wifi/get_active_vap_list 2>/dev/null"},
    {"$ADDRESS", "hvsh -p 100 -e \"show wireless-hal station info\" | grep -i \"aa:bb:cc:dd:ee:01\" -A 3 "
                 "\t\t\t| grep IPv4 | cut -d ':' -f 2 | sed -e 's/^[[:space:]]*//' |  awk 1 ORS=''"},
    {"$CONF11", "/bin/hvsh -p 110 -e \"show wlan-1-1 config\""},
    {"$WDS1", "/bin/hvsh -p 110 -e \"configure terminal show wds slot1 detail\""},
    {"$WIRELESS1", "cat /proc/net/wireless | sed '1,2d' | grep \".*-1-.*\" | head -n1"},
    {"$WIRELESS2", "cat /proc/net/wireless | sed '1,2d' | grep \".*-2-.*\" | head -n1"},
    {"$TXPOWER1", "iwlist wlan-1-1 txpower | grep Tx-Power | sed 's/:/=/g' | cut -d '=' -f 2"},
    {"$CHUTIL1", "LD_LIBRARY_PATH=/usr/local/lib iwpriv wlan-1-1 get_chutil | awk -F\":\" '{printf $2}'"},
    {"$CLI", "/bin/hvsh -p 110 -e \"show interface wlan status\""},
    {"$NETDEV", "/bin/cat /proc/net/dev"},
};

class Drivers : public CollectionTest {
protected:
    staInfo_t s_;
    capwapWlanStatis_t r_;
    char iface_[17];
    char *iwpriv_ = DOT11_ATH_IWPRIV;
    std::string iwpriv_text_;
    std::map<std::string, std::deque<std::string>> left_;  // what the last call left
    std::set<std::string> touched_;                        // listed at all: then listed whole

    void settle()
    {
        for (const std::string &name : touched_)
            EXPECT_TRUE(left_[name].empty()) << "unexpected " << name << ": " << left_[name].front();
        left_.clear();
        touched_.clear();
    }

    int call(const std::vector<std::string> &w)
    {
        settle();
        take_commands();
        db_.take();
        const int slot = w.size() > 1 ? std::atoi(w[1].c_str()) : 0;
        int rc = 0;
        if (w[0] == "station") {
            memset(&s_, 0, sizeof s_);
            snprintf(iface_, sizeof iface_, "%s", w[1].c_str());
            s_.wlan_tmp = iface_;
            std::string mac = w[2];
            rc = retrieve_sta_statistic_stat(mac.data(), &s_, w.size() > 3 && w[3] == "mesh", iface_);
        } else if (w[0] == "radio") {
            retrieve_wlan_stat(slot, &r_);
        } else {
            const std::map<std::string, int (*)(int, capwapWlanStatis_t *)> calls = {
                {"txpower", capwapWlanGetDriverTxPower}, {"chutil", capwapWlanGetDriverChUtil},
                {"statistic", capwapWlanGetDriverStatistic}, {"counter", capwapWlanGetDriverCounter}};
            rc = calls.at(w[0])(slot, &r_);
        }
        for (const std::string &c : take_commands())
            left_["$"].push_back(c);
        for (const Words &c : db_.take()) {
            std::string line;
            for (const std::string &x : c)
                line += (line.empty() ? "" : " ") + x;
            left_[">"].push_back(line);
        }
        return rc;
    }

    long long figure(const std::string &name)
    {
        const std::map<std::string, std::function<long long()>> figures = {
            {"sigRSSI", [&] { return s_.sigRSSI; }}, {"radioId", [&] { return s_.radioId; }},
            {"wlanIndex", [&] { return s_.wlanIndex; }}, {"txBytes", [&] { return r_.txBytes; }},
            {"txFrameCnt", [&] { return r_.txFrameCnt; }}, {"fcsErrCnt", [&] { return r_.fcsErrCnt; }},
            {"txPower", [&] { return r_.txPower; }}, {"chUtil", [&] { return r_.chUtil; }},
            {"rx_err_rate", [&] { return r_.rx_err_rate; }}, {"tx_err_rate", [&] { return r_.tx_err_rate; }}};
        return figures.at(name)();
    }

    void step(const std::string &line)
    {
        const std::vector<std::string> w = transcript::words(line);
        const size_t arrow = line.find(" =>");
        const std::string head = line.substr(0, arrow), rest = line.substr(std::min(line.size(), w[0].size() + 1));
        const std::string after = arrow == std::string::npos ? "" : line.substr(std::min(line.size(), arrow + 4));
        if (w[0] == "shell") {
            shell_.out[head.substr(6)] = transcript::unescape(after);
        } else if (w[0] == "unstartable") {
            shell_.unstartable.push_back(rest);
        } else if (w[0] == "startable") {
            shell_.unstartable.clear();
        } else if (w[0] == "put") {
            db_.put(w[1], w[2], w[3], w.size() > 4 ? w[4] : "");
        } else if (w[0] == "env") {
            setenv(w[1].c_str(), w[2].c_str(), 1);
        } else if (w[0] == "iwpriv") {
            iwpriv_text_ = w[1];
            DOT11_ATH_IWPRIV = iwpriv_text_.data();
        } else if (w[0] == "trace") {
            if (w[1] == "on")
                enable_trace(true);
            else
                EXPECT_NE(trace_text().find(rest.substr(1)), std::string::npos) << trace_text();
        } else if (w[0] == "fresh") {
            r_ = capwapWlanStatis_t{};
        } else if (w[0] == "set") {
            r_.chUtil = static_cast<uint32_t>(std::stoul(w[2]));
        } else if (w[0] == "field") {
            EXPECT_EQ(figure(w[1]), std::stoll(w[2]));
        } else if (w[0] == "db") {
            EXPECT_EQ(db_.get(w[1], w[2], w[3]), w.size() > 4 ? w[4] : "");
        } else if (w[0] == "$" || w[0] == ">") {
            touched_.insert(w[0]);
            std::deque<std::string> &lines = left_[w[0]];
            if (rest == "-") {
                EXPECT_TRUE(lines.empty()) << lines.front();
            } else {
                ASSERT_FALSE(lines.empty()) << "no more " << w[0];
                EXPECT_EQ(lines.front(), rest);
                lines.pop_front();
            }
        } else {
            const int rc = call(transcript::words(head));
            EXPECT_TRUE(arrow == std::string::npos || rc == std::stoi(after)) << "returned " << rc;
        }
    }
};

TEST_F(Drivers, Transcript)
{
    bool first = true;
    transcript::play("collection/drivers.txt", kNames, [&](const std::string &line) {
        if (line.rfind("== ", 0) != 0)
            return step(line);
        settle();  // a new case in a new world
        DOT11_ATH_IWPRIV = iwpriv_;
        if (!first) {
            TearDown();
            shell_ = FakeShell{};
            db_ = FakeDb{};
            SetUp();
        }
        first = false;
        r_ = capwapWlanStatis_t{};
    });
    settle();
    DOT11_ATH_IWPRIV = iwpriv_;
}

}  // namespace
