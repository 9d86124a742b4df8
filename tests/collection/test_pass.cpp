// One collection pass against an in-memory database and a canned shell:
// both sweeps, the station field writes, the departure announcement on a
// real bus daemon, and the slot update with its eighteen fields.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

extern "C" {
#include <libubox/blobmsg.h>
#include <libubus.h>
}

#include "collection_fakes.h"
#include "seam.h"
#include "wlan.h"
#include "wlan_hvd.h"
#include "wlan_periodic.h"

extern char **environ;

namespace {


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
        std::string ubusd = std::string(bin != nullptr ? bin : ".") + "/platform/ubus/ubusd";
        std::string log = dir + "/ubusd.log";
        char *argv[] = {ubusd.data(), const_cast<char *>("-s"), sock_.data(), nullptr};
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_addopen(&fa, 2, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (access(ubusd.c_str(), X_OK) != 0 || posix_spawn(&pid_, ubusd.c_str(), &fa, nullptr, argv, environ) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&fa);
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
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
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

class PassTest : public CollectionTest {
protected:
    void SetUp() override
    {
        CollectionTest::SetUp();
        setenv("COMMON_LOG_DIR", dir_.c_str(), 1);
    }
    // The commands on one table, in order.
    static std::vector<Words> commands_on(const std::vector<Words> &all, const std::string &table)
    {
        std::vector<Words> out;
        for (const auto &w : all) {
            if (w.size() > 2 && w[2] == table)
                out.push_back(w);
        }
        return out;
    }
};

TEST_F(PassTest, StationsThenMeshStationsThenSlotsAndALostStationAnnounced)
{
    Bus bus(dir_);
    if (!bus.ready())
        GTEST_SKIP() << "bus daemon not built";
    rrm_seam.bus_path = bus.path();

    // Listed on its VAP; lost by the driver with an interface recorded; lost
    // with none ("N/A"); an entry on no wlan interface; a mesh station.
    db_.put(kSta, "AA:BB:CC:DD:EE:01", "IFACE", "wlan-1-1");
    db_.put(kSta, "aa:bb:cc:dd:ee:02", "IFACE", "wlan-1-2");
    db_.put(kSta, "aa:bb:cc:dd:ee:03", "OTHER", "x");
    db_.put(kSta, "aa:bb:cc:dd:ee:04", "IFACE", "eth0");
    db_.put(kSta, "aa:bb:cc:dd:ee:05", "IFACE", "wlan-1-1");
    db_.put(kMesh, "aa:bb:cc:dd:ee:10", "IFACE", "wds-1-9");
    // The station's own fields are read under its canonical address text.
    for (const char *k : {"aa:bb:cc:dd:ee:01", "aa:bb:cc:dd:ee:02", "aa:bb:cc:dd:ee:05"})
        db_.put(kSta, k, "STA_IP_ADDR", "1");
    db_.put(kMesh, "aa:bb:cc:dd:ee:10", "STA_IP_ADDR", "1");
    shell_.out[kList11] =
        kHeader + "aa:bb:cc:dd:ee:01 1 36 866M 780M 41 0 0 1000 2000 " + std::string(20, 'B') + " x 11ac\n";
    slot_num = 2;
    ch_stat = static_cast<capwapWlanStatis_t *>(calloc(2, sizeof(capwapWlanStatis_t)));
    ch_stat[1].dcsChann = 149;
    ch_stat[1].extOffset = -1;
    ch_stat[1].vht_ch_freq = 155;
    ch_stat[1].ch_width = 80;
    shell_.out["/bin/hvsh -p 110 -e \"show interface wlan status\""] = "h\nh\n1 wlan-2-1 Up 3000000000 10 x 20 30\n";
    shell_.out["/bin/cat /proc/net/dev"] = "h\nwlan-2-1: 123 1 0 0 0 0 0 0 18446744073709551615 2 0\n";

    wlan_collect_pass();
    auto all = db_.take();
    std::vector<std::string> order;
    for (const auto &w : all) {
        if (order.empty() || order.back() != w[2])
            order.push_back(w[2]);
    }
    EXPECT_EQ(order, (std::vector<std::string>{kSta, kMesh, kWlan}));

    auto sta = commands_on(all, kSta);
    ASSERT_EQ(sta.size(), 5u);
    EXPECT_EQ(sta[0], (Words{"dbctl", "-t", kSta, "-f", "IFACE", "-l"}));
    // The station is written under its listed key text.
    EXPECT_EQ(sta[3], (Words{"dbctl", "-t", kSta, "-k", "AA:BB:CC:DD:EE:01", "-f", "STA_CHANNEL", "-s", "36",
                             "-f", "TX_RATE", "-s", "866M", "-f", "RX_RATE", "-s", "780M", "-f", "SIG_RSSI", "-s", "41",
                             "-f", "TX", "-s", "1000", "-f", "RX", "-s", "2000", "-f", "CHMODE", "-s",
                             std::string(15, 'B'), "-f", "DOT11_FEATURES", "-s", "11ac"}));
    // The lost station: its interface is read back, nothing is written. The
    // entry on no wlan interface ends the sweep: its field string is taken
    // as the next key, and it is no address text.
    EXPECT_EQ(sta[4], (Words{"dbctl", "-t", kSta, "-k", "aa:bb:cc:dd:ee:02", "-g", "IFACE"}));

    auto mesh = commands_on(all, kMesh);
    ASSERT_EQ(mesh.size(), 4u);
    EXPECT_EQ(mesh[0], (Words{"dbctl", "-t", kMesh, "-f", "IFACE", "-l"}));
    EXPECT_EQ(mesh[3], (Words{"dbctl", "-t", kMesh, "-k", "aa:bb:cc:dd:ee:10", "-f", "STA_CHANNEL", "-s", "0",
                              "-f", "TX_RATE", "-s", "", "-f", "RX_RATE", "-s", "", "-f", "SIG_RSSI", "-s", "0",
                              "-f", "TX", "-s", "0", "-f", "RX", "-s", "0", "-f", "CHMODE", "-s", "",
                              "-f", "DOT11_FEATURES", "-s", "N/A"}));

    auto slots = commands_on(all, kWlan);
    ASSERT_EQ(slots.size(), 2u);
    EXPECT_EQ(slots[0][4], "SLOT-0");
    EXPECT_EQ(slots[1], (Words{"dbctl", "-t", kWlan, "-k", "SLOT-1", "-f", "ACTIVATE", "-s", "1",
                               "-f", "TX_FRAME_CNT", "-s", "-1294967296", "-f", "RX_FRAME_CNT", "-s", "10",
                               "-f", "TX_BYTE_PER_SEC", "-s", "20", "-f", "RX_BYTE_PER_SEC", "-s", "30",
                               "-f", "RX_ERR_RATE", "-s", "0", "-f", "TX_ERR_RATE", "-s", "0",
                               "-f", "TX_FRAME_BYTES", "-s", "18446744073709551615",
                               "-f", "RX_FRAME_BYTES", "-s", "123", "-f", "TX_POWER", "-s", "0",
                               "-f", "FCS_ERR_CNT", "-s", "0", "-f", "RETRY_CNT", "-s", "0",
                               "-f", "DCS_CHANNEL", "-s", "149", "-f", "EXT_OFFSET", "-s", "-1",
                               "-f", "VHT_CH_FREQ", "-s", "155", "-f", "VHT_CH_FREQ2", "-s", "0",
                               "-f", "CH_UTIL", "-s", "0", "-f", "CH_WIDTH", "-s", "80"}));

    ASSERT_EQ(bus.wait_events(1), 1u);
    ASSERT_EQ(g_events[0].size(), sizeof(hvUMAC_event_msg_t));
    hvUMAC_event_msg_t rec;
    memcpy(&rec, g_events[0].data(), sizeof rec);
    EXPECT_EQ(std::string(rec.ifname, strnlen(rec.ifname, 16)), "wlan-1-2");
    EXPECT_EQ(rec.subtype, 7);
    EXPECT_EQ(rec.len, 240);
    const uint8_t mac[6] = {0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0x02};
    EXPECT_EQ(memcmp(rec.u.sta_info.macaddr, mac, 6), 0);
    EXPECT_EQ(rec.u.sta_info.reason_code, 8);
    EXPECT_STREQ(rec.u.sta_info.event_type, "by rrm");
    EXPECT_EQ(rec.u.sta_info.authorized, 0);
    std::string log = read_file(dir_ + "/WLAN_MODULE_DB_LOG");
    EXPECT_NE(log.find("*****NOT exist in driver, kick by rrm.***** mac:aa:bb:cc:dd:ee:02, iface:wlan-1-2"),
              std::string::npos)
        << log;

    // Announced again on every pass while the entry stays: checked end to
    // end (tests/e2e/cases/collection.*).
}

TEST_F(PassTest, MeshSweepEndsAtAnEntryOffItsInterfaceWord)
{
    db_.put(kMesh, "aa:bb:cc:dd:ee:10", "IFACE", "wlan-1-1");
    db_.put(kMesh, "aa:bb:cc:dd:ee:11", "IFACE", "wds-1-9");
    wlan_collect_pass();
    EXPECT_EQ(commands_on(db_.take(), kMesh).size(), 1u) << "only the list command";
    EXPECT_TRUE(take_commands().empty());
}

TEST_F(PassTest, ListReplyWithoutTerminatorsIsNeverOverrun)
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
