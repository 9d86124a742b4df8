// Station and radio statistics and the collection pass through the command
// seam, played from a transcript (drivers.txt): canned shell output and
// database records in; the exact commands, database requests, figures and
// departure announcements (on a real bus daemon) out.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <thread>

#include "../common/proc.h"
#include "../common/transcript.h"
#include "collection_fakes.h"
#include "conf_init.h"
#include "seam.h"
#include "wlan.h"
#include "wlan_hvd.h"
#include "wlan_periodic.h"

// Last: its attribute shorthands collide with C++ standard headers.
extern "C" {
#include <libubox/blobmsg.h>
#include <libubus.h>
}


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

std::vector<std::vector<uint8_t>> g_events;

// Exactly one attribute, named after the event, of unspecified type.
void on_event(struct ubus_context *, struct ubus_event_handler *, const char *type, struct blob_attr *msg)
{
    EXPECT_STREQ(type, "sta_leave");
    int count = 0;
    struct blob_attr *cur;
    size_t rem;
    blobmsg_for_each_attr(cur, msg, rem)
    {
        ++count;
        EXPECT_STREQ(blobmsg_name(cur), "sta_leave");
        EXPECT_EQ(blobmsg_type(cur), BLOBMSG_TYPE_UNSPEC);
        const uint8_t *d = static_cast<const uint8_t *>(blobmsg_data(cur));
        g_events.emplace_back(d, d + blobmsg_data_len(cur));
    }
    EXPECT_EQ(count, 1);
}

// The bus daemon on a private socket, and one listener for "sta_leave".
class Bus {
public:
    explicit Bus(const std::string &dir) : sock_(dir + "/ubus.sock")
    {
        g_events.clear();
        const char *bin = getenv("RRM_BINARY_DIR");
        const std::string ubusd = std::string(bin != nullptr ? bin : ".") + "/platform/ubus/ubusd";
        pid_ = access(ubusd.c_str(), X_OK) == 0 ? proc::spawn({ubusd, "-s", sock_}, "", dir + "/ubusd.log") : -1;
        for (int i = 0; i < 200 && pid_ > 0 && ctx_ == nullptr; ++i) {
            if ((ctx_ = ubus_connect(sock_.c_str())) == nullptr)
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        ev_.cb = on_event;
        if (ctx_ != nullptr && ubus_register_event_handler(ctx_, &ev_, "sta_leave") != 0) {
            ubus_free(ctx_);
            ctx_ = nullptr;
        }
    }
    ~Bus()
    {
        if (ctx_ != nullptr)
            ubus_free(ctx_);
        if (pid_ > 0 && kill(pid_, SIGTERM) == 0)
            proc::wait_exit(pid_);
    }
    bool ready() const { return ctx_ != nullptr; }
    const char *path() const { return sock_.c_str(); }

    // The events so far, once n have arrived or the rounds are used up.
    size_t wait_events(size_t n, int rounds = 250)
    {
        for (int i = 0; i < rounds && g_events.size() < n; ++i) {
            struct pollfd p = {ctx_->sock.fd, POLLIN, 0};
            if (poll(&p, 1, 20) > 0)
                ubus_handle_event(ctx_);
        }
        return g_events.size();
    }

private:
    std::string sock_;
    pid_t pid_ = -1;
    struct ubus_context *ctx_ = nullptr;
    struct ubus_event_handler ev_ {};
};

class Drivers : public CollectionTest {
protected:
    void SetUp() override
    {
        CollectionTest::SetUp();
        setenv("COMMON_LOG_DIR", dir_.c_str(), 1);
    }
    std::unique_ptr<Bus> bus_;
    staInfo_t s_;
    capwapWlanStatis_t r_;
    char iface_[17];
    char *iwpriv_ = DOT11_ATH_IWPRIV;
    std::string iwpriv_text_;
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
            ASSERT_EQ(bus_->wait_events(std::stoul(w[1])), std::stoul(w[1]));
            for (const std::vector<uint8_t> &e : g_events) {
                hvUMAC_event_msg_t r;
                ASSERT_EQ(e.size(), sizeof r);
                memcpy(&r, e.data(), sizeof r);
                char mac[18];
                snprintf(mac, sizeof mac, "%02x:%02x:%02x:%02x:%02x:%02x", r.u.sta_info.macaddr[0],
                         r.u.sta_info.macaddr[1], r.u.sta_info.macaddr[2], r.u.sta_info.macaddr[3],
                         r.u.sta_info.macaddr[4], r.u.sta_info.macaddr[5]);
                EXPECT_EQ(std::string(r.ifname, strnlen(r.ifname, 16)) + " " + std::to_string(r.subtype) + " " +
                              std::to_string(r.len) + " " + mac + " " + std::to_string(r.u.sta_info.reason_code) +
                              " " + std::to_string(r.u.sta_info.authorized) + " " + r.u.sta_info.event_type,
                          rest.substr(rest.find(' ') + 1));
            }
        } else if (w[0] == "log") {
            const std::string log = read_file(dir_ + "/WLAN_MODULE_DB_LOG");
            EXPECT_NE(log.find(rest.substr(1)), std::string::npos) << log;
        } else if (w[0] == "fresh") {
            r_ = capwapWlanStatis_t{};
        } else if (w[0] == "set") {
            r_.chUtil = static_cast<uint32_t>(std::stoul(w[2]));
        } else if (w[0] == "field") {
            EXPECT_EQ(figure(w[1]), std::stoll(w[2]));
        } else if (w[0] == "db") {
            EXPECT_EQ(db_.get(w[1], w[2], w[3]), w.size() > 4 ? w[4] : "");
        } else if (w[0] == "$" || w[0] == ">") {
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
        bus_.reset();
        if (!first) {
            TearDown();
            shell_ = FakeShell{};
            db_ = FakeDb{};
            SetUp();
        }
        first = false;
        r_ = capwapWlanStatis_t{};
    });
    left_.settle();
    DOT11_ATH_IWPRIV = iwpriv_;
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
