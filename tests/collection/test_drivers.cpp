// Station and radio statistics and the collection pass through the command
// seam, played from a transcript (drivers.txt): canned shell output and
// database records in; the exact commands, database requests, figures and
// departure announcements (on a real bus daemon, read by the event tool) out.
#include <signal.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>

#include "../common/proc.h"
#include "../common/transcript.h"
#include "collection_fakes.h"
#include "conf_init.h"
#include "seam.h"
#include "wlan.h"
#include "wlan_hvd.h"
#include "wlan_periodic.h"

namespace {

// Texts the transcript names rather than spells.
const std::vector<std::pair<std::string, std::string>> kNames = {
    {"$STA", kSta}, {"$MESH", kMesh}, {"$WLAN", kWlan}, {"$HEADER", kHeader},
    {"$LIST11", kList11}, {"$LIST12", "wlanconfig wlan-1-2 list sta limited 2>/dev/null"},
    {"$LIST21", "wlanconfig wlan-2-1 list sta limited 2>/dev/null"},
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

// A bus daemon on a private socket, and the event tool printing every
// "sta_leave" announcement on it field by field.
class Bus {
public:
    explicit Bus(const std::string &dir) : sock_(dir + "/ubus.sock"), out_(dir + "/leaves")
    {
        const std::string bin = getenv("RRM_BINARY_DIR"), err = dir + "/listen.err";
        pids_.push_back(proc::spawn({bin + "/platform/ubus/ubusd", "-s", sock_}, "", dir + "/ubusd.log"));
        ready_ = proc::wait_for([&] { return access(sock_.c_str(), F_OK) == 0; });
        pids_.push_back(proc::spawn({bin + "/tools/wlan_evt/wlan_evt", "-s", sock_, "listen", "sta_leave"}, out_, err));
        ready_ = ready_ && proc::wait_for([&] { return proc::slurp(err) == "wlan_evt: listening\n"; });
    }
    ~Bus()
    {
        for (auto it = pids_.rbegin(); it != pids_.rend(); ++it)
            if (kill(*it, SIGTERM) == 0)
                proc::wait_exit(*it);
    }
    bool ready() const { return ready_; }
    const char *path() const { return sock_.c_str(); }

    // The announcements so far, once n have arrived or a while has passed.
    std::vector<std::string> leaves(size_t n)
    {
        std::vector<std::string> lines;
        proc::wait_for([&] { return (lines = proc::lines(out_)).size() >= n; }, 5000);
        return lines;
    }

private:
    std::string sock_, out_;
    std::vector<pid_t> pids_;
    bool ready_ = false;
};

class Drivers : public CollectionTest {
protected:
    std::unique_ptr<Bus> bus_;
    staInfo_t s_;
    capwapWlanStatis_t r_;
    char iface_[17];
    char *iwpriv_ = DOT11_ATH_IWPRIV, *wlanconfig_ = DOT11_ATH_WLANCONFIG, *hvsh_ = HVSH_CLI_BIN;
    std::string iwpriv_text_, tool_;
    transcript::Left left_;  // what the last call left

    int call(const std::vector<std::string> &w)
    {
        left_.settle();
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
        } else if (w[0] == "pass") {
            wlan_collect_pass();
        } else if (w[0] == "radio") {
            retrieve_wlan_stat(slot, &r_);
        } else {
            const std::map<std::string, int (*)(int, capwapWlanStatis_t *)> calls = {
                {"txpower", capwapWlanGetDriverTxPower}, {"chutil", capwapWlanGetDriverChUtil},
                {"statistic", capwapWlanGetDriverStatistic}, {"counter", capwapWlanGetDriverCounter}};
            rc = calls.at(w[0])(slot, &r_);
        }
        for (const std::string &c : take_commands())
            left_.lines["$"].push_back(c);
        if (!tool_.empty())  // each run of the tool, as it noted its arguments
            for (const std::string &l : proc::lines(dir_ + "/args"))
                left_.lines["tool"].push_back(l);
        unlink((dir_ + "/args").c_str());
        for (const Words &c : db_.take()) {
            std::string line;
            for (const std::string &x : c)
                line += (line.empty() ? "" : " ") + x;
            left_.lines[">"].push_back(line);
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
        } else if (w[0] == "sh") {  // the tool that notes its arguments, through /bin/sh
            tool_ = dir_ + "/tool";
            std::ofstream(tool_) << "#!/bin/sh\nfor a; do printf '[%s]' \"$a\"; done >> " << dir_
                                 << "/args\necho >> " << dir_ << "/args\nprintf '" << kHeader
                                 << "aa:bb:cc:dd:ee:01 1 36 1M 2M 40 0 0 1 2 HE20 x 11ax\\n'\n";
            ASSERT_EQ(0, chmod(tool_.c_str(), 0755));
            DOT11_ATH_WLANCONFIG = DOT11_ATH_IWPRIV = HVSH_CLI_BIN = tool_.data();
            setenv("T", tool_.c_str(), 1);
            shell_.real = true;
        } else if (w[0] == "bus") {
            bus_ = std::make_unique<Bus>(dir_);
            ASSERT_TRUE(bus_->ready());
            rrm_seam.bus_path = bus_->path();
        } else if (w[0] == "slots") {
            slot_num = std::stoi(w[1]);
            ch_stat = static_cast<capwapWlanStatis_t *>(calloc(slot_num, sizeof(capwapWlanStatis_t)));
        } else if (w[0] == "chan") {  // slot channel offset freq width
            capwapWlanStatis_t &c = ch_stat[std::stoi(w[1])];
            c.dcsChann = std::stoi(w[2]);
            c.extOffset = std::stoi(w[3]);
            c.vht_ch_freq = std::stoi(w[4]);
            c.ch_width = static_cast<uint32_t>(std::stoul(w[5]));
        } else if (w[0] == "leaves") {  // the announcements so far, each one field by field
            const std::vector<std::string> got = bus_->leaves(std::stoul(w[1]));
            ASSERT_EQ(got.size(), std::stoul(w[1]));
            for (const std::string &l : got)
                EXPECT_EQ(l, rest.substr(rest.find(' ') + 1));
        } else if (w[0] == "log") {
            const std::string log = proc::slurp(dir_ + "/WLAN_MODULE_DB_LOG");
            EXPECT_NE(log.find(rest.substr(1)), std::string::npos) << log;
        } else if (w[0] == "fresh") {
            r_ = capwapWlanStatis_t{};
        } else if (w[0] == "set") {
            r_.chUtil = static_cast<uint32_t>(std::stoul(w[2]));
        } else if (w[0] == "field") {
            EXPECT_EQ(figure(w[1]), std::stoll(w[2]));
        } else if (w[0] == "db") {
            EXPECT_EQ(db_.get(w[1], w[2], w[3]), w.size() > 4 ? w[4] : "");
        } else if (w[0] == "$" || w[0] == ">" || w[0] == "tool") {
            left_.expect(w[0], rest);
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
        left_.settle();  // a new case in a new world
        DOT11_ATH_IWPRIV = iwpriv_;
        DOT11_ATH_WLANCONFIG = wlanconfig_;
        HVSH_CLI_BIN = hvsh_;
        tool_.clear();
        bus_.reset();
        if (!first) {
            TearDown();
            for (const auto &e : std::filesystem::directory_iterator(dir_))  // an empty folder again
                std::filesystem::remove_all(e);
            shell_ = FakeShell{};
            db_ = FakeDb{};
            SetUp();
        }
        first = false;
        r_ = capwapWlanStatis_t{};
    });
    left_.settle();
    DOT11_ATH_IWPRIV = iwpriv_;
    DOT11_ATH_WLANCONFIG = wlanconfig_;
    HVSH_CLI_BIN = hvsh_;
    bus_.reset();
}

TEST_F(CollectionTest, ListReplyWithoutTerminatorsIsNeverOverrun)
{
    db_.raw_list_reply.assign(PARSER_LIST_REPLY_MAX, 'a');
    wlan_collect_pass();
    // Address texts and field strings up to the very end.
    std::string r;
    while (r.size() + 40 < PARSER_LIST_REPLY_MAX)
        r += std::string("aa:bb:cc:dd:ee:01") + '\0' + "IFACE wlan-1-1" + '\0';
    db_.raw_list_reply = r + std::string(PARSER_LIST_REPLY_MAX - r.size(), 'b');
    db_.put(kSta, "aa:bb:cc:dd:ee:01", "STA_IP_ADDR", "1");
    shell_.out[kList11] = kHeader + "aa:bb:cc:dd:ee:01 1 36 866M 780M 41 0 0 1000 2000 HE20 x 11ac\n";
    wlan_collect_pass();
}

}  // namespace
