// One collection pass against an in-memory database and a canned shell:
// both sweeps, the station field writes, the departure announcement on a
// real bus daemon, and the slot update with its eighteen fields.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <string.h>
#include <sys/stat.h>
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

const std::string kSta = "STA_STATISTIC-00:11:22:33:44:55";
const std::string kMesh = "MESH_STA_STATISTIC-00:11:22:33:44:55";
const std::string kWlan = "WLAN-00:11:22:33:44:55";
const std::string kHeader = "ADDR AID CHAN TXRATE RXRATE RSSI MINRSSI MAXRSSI TX RX BANDCAP ACAPS MODE\n";

// The bus daemon on a private socket, and one listener for "sta_leave".
class Bus {
public:
    explicit Bus(const std::string &dir) : sock_(dir + "/ubus.sock")
    {
        const char *bin = getenv("RRM_BINARY_DIR");
        std::string ubusd = std::string(bin != nullptr ? bin : ".") + "/platform/ubus/ubusd";
        if (access(ubusd.c_str(), X_OK) != 0)
            return;
        std::string log = dir + "/ubusd.log";
        char *argv[] = {ubusd.data(), const_cast<char *>("-s"), sock_.data(), nullptr};
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_addopen(&fa, 2, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (posix_spawn(&pid_, ubusd.c_str(), &fa, nullptr, argv, environ) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&fa);
        for (int i = 0; i < 200 && pid_ > 0 && ctx_ == nullptr; ++i) {
            ctx_ = ubus_connect(sock_.c_str());
            if (ctx_ == nullptr)
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (ctx_ == nullptr)
            return;
        ev_.cb = on_event;
        if (ubus_register_event_handler(ctx_, &ev_, "sta_leave") != 0) {
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
        received_.clear();
    }
    bool ready() const { return ctx_ != nullptr; }
    const char *path() const { return sock_.c_str(); }

    // Waits until n events have arrived (or a few seconds have passed).
    std::vector<std::vector<uint8_t>> wait_events(size_t n, int rounds = 250)
    {
        for (int i = 0; i < rounds && received_.size() < n; ++i) {
            struct pollfd p = {ctx_->sock.fd, POLLIN, 0};
            if (poll(&p, 1, 20) > 0)
                ubus_handle_event(ctx_);
        }
        return received_;
    }

    static std::vector<std::vector<uint8_t>> received_;

private:
    static void on_event(struct ubus_context *, struct ubus_event_handler *, const char *type, struct blob_attr *msg)
    {
        EXPECT_STREQ(type, "sta_leave");
        // Exactly one attribute, named after the event, of unspecified type.
        int count = 0;
        struct blob_attr *cur;
        size_t rem;
        blobmsg_for_each_attr(cur, msg, rem)
        {
            ++count;
            EXPECT_STREQ(blobmsg_name(cur), "sta_leave");
            EXPECT_EQ(blobmsg_type(cur), BLOBMSG_TYPE_UNSPEC);
            const uint8_t *d = static_cast<const uint8_t *>(blobmsg_data(cur));
            received_.emplace_back(d, d + blobmsg_data_len(cur));
        }
        EXPECT_EQ(count, 1);
    }

    std::string sock_;
    pid_t pid_ = -1;
    struct ubus_context *ctx_ = nullptr;
    struct ubus_event_handler ev_ {};
};

std::vector<std::vector<uint8_t>> Bus::received_;

class PassTest : public CollectionTest {
protected:
    void SetUp() override
    {
        CollectionTest::SetUp();
        setenv("COMMON_LOG_DIR", dir_.c_str(), 1);
    }
    // The writes (and reads) of one table, in order.
    std::vector<Words> commands_on(const std::vector<Words> &all, const std::string &table)
    {
        std::vector<Words> out;
        for (const auto &w : all) {
            if (w.size() > 2 && w[2] == table)
                out.push_back(w);
        }
        return out;
    }
};

TEST_F(PassTest, EmptyTablesStillUpdateTheSlots)
{
    slot_num = 2;
    ch_stat = static_cast<capwapWlanStatis_t *>(calloc(2, sizeof(capwapWlanStatis_t)));
    ch_stat[1].dcsChann = 149;
    ch_stat[1].extOffset = -1;
    ch_stat[1].vht_ch_freq = 155;
    ch_stat[1].vht_ch_freq2 = 0;
    ch_stat[1].ch_width = 80;
    shell_.out["/bin/hvsh -p 110 -e \"show interface wlan status\""] =
        "h\nh\n1 wlan-2-1 Up 3000000000 10 x 20 30\n";
    shell_.out["/bin/cat /proc/net/dev"] = "h\nwlan-2-1: 123 1 0 0 0 0 0 0 18446744073709551615 2 0\n";
    wlan_collect_pass();

    auto all = db_.take();
    ASSERT_EQ(all.size(), 4u);
    EXPECT_EQ(all[0], (Words{"dbctl", "-t", kSta, "-f", "IFACE", "-l"}));
    EXPECT_EQ(all[1], (Words{"dbctl", "-t", kMesh, "-f", "IFACE", "-l"}));
    EXPECT_EQ(all[2][4], "SLOT-0");
    EXPECT_EQ(all[3], (Words{"dbctl", "-t", kWlan, "-k", "SLOT-1", "-f", "ACTIVATE", "-s", "1",
                             "-f", "TX_FRAME_CNT", "-s", "-1294967296", "-f", "RX_FRAME_CNT", "-s", "10",
                             "-f", "TX_BYTE_PER_SEC", "-s", "20", "-f", "RX_BYTE_PER_SEC", "-s", "30",
                             "-f", "RX_ERR_RATE", "-s", "0", "-f", "TX_ERR_RATE", "-s", "0",
                             "-f", "TX_FRAME_BYTES", "-s", "18446744073709551615", "-f", "RX_FRAME_BYTES", "-s", "123",
                             "-f", "TX_POWER", "-s", "0", "-f", "FCS_ERR_CNT", "-s", "0", "-f", "RETRY_CNT", "-s", "0",
                             "-f", "DCS_CHANNEL", "-s", "149", "-f", "EXT_OFFSET", "-s", "-1",
                             "-f", "VHT_CH_FREQ", "-s", "155", "-f", "VHT_CH_FREQ2", "-s", "0",
                             "-f", "CH_UTIL", "-s", "0", "-f", "CH_WIDTH", "-s", "80"}));
}

TEST_F(PassTest, StationsAreRefreshedAndLostOnesAnnouncedOnEveryPass)
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
    shell_.out["wlanconfig wlan-1-1 list sta limited 2>/dev/null"] =
        kHeader + "aa:bb:cc:dd:ee:01 1 36 866M 780M 41 0 0 1000 2000 " + std::string(20, 'B') + " x 11ac\n";

    wlan_collect_pass();
    auto all = db_.take();
    auto sta = commands_on(all, kSta);
    // The station is written under its listed key text.
    EXPECT_EQ(sta[3], (Words{"dbctl", "-t", kSta, "-k", "AA:BB:CC:DD:EE:01", "-f", "STA_CHANNEL", "-s", "36",
                             "-f", "TX_RATE", "-s", "866M", "-f", "RX_RATE", "-s", "780M", "-f", "SIG_RSSI", "-s", "41",
                             "-f", "TX", "-s", "1000", "-f", "RX", "-s", "2000", "-f", "CHMODE", "-s",
                             std::string(15, 'B'), "-f", "DOT11_FEATURES", "-s", "11ac"}));
    // The lost station: its interface is read back, nothing is written.
    EXPECT_EQ(sta[4], (Words{"dbctl", "-t", kSta, "-k", "aa:bb:cc:dd:ee:02", "-g", "IFACE"}));
    // The entry on no wlan interface ends the sweep: its field string is
    // taken as the next key, and it is no address text.
    EXPECT_EQ(sta.size(), 5u);

    auto mesh = commands_on(all, kMesh);
    ASSERT_EQ(mesh.size(), 4u);
    EXPECT_EQ(mesh[3], (Words{"dbctl", "-t", kMesh, "-k", "aa:bb:cc:dd:ee:10", "-f", "STA_CHANNEL", "-s", "0",
                              "-f", "TX_RATE", "-s", "", "-f", "RX_RATE", "-s", "", "-f", "SIG_RSSI", "-s", "0",
                              "-f", "TX", "-s", "0", "-f", "RX", "-s", "0", "-f", "CHMODE", "-s", "",
                              "-f", "DOT11_FEATURES", "-s", "N/A"}));

    auto events = bus.wait_events(1);
    ASSERT_EQ(events.size(), 1u);
    ASSERT_EQ(events[0].size(), sizeof(hvUMAC_event_msg_t));
    hvUMAC_event_msg_t rec;
    memcpy(&rec, events[0].data(), sizeof rec);
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

    // Announced again on the next pass, as long as the entry stays.
    wlan_collect_pass();
    EXPECT_EQ(bus.wait_events(2).size(), 2u);

    // Once the recorder removed it (its interface reads "N/A"), no more.
    db_.tables[kSta].erase(db_.tables[kSta].begin() + 1);
    wlan_collect_pass();
    EXPECT_EQ(bus.wait_events(3, 25).size(), 2u);
}

TEST_F(PassTest, MeshSweepEndsAtAnEntryOffItsInterfaceWord)
{
    db_.put(kMesh, "aa:bb:cc:dd:ee:10", "IFACE", "wlan-1-1");
    db_.put(kMesh, "aa:bb:cc:dd:ee:11", "IFACE", "wds-1-9");
    wlan_collect_pass();
    auto mesh = commands_on(db_.take(), kMesh);
    EXPECT_EQ(mesh.size(), 1u) << "only the list command";
    EXPECT_TRUE(take_commands().empty());
}

TEST_F(PassTest, ListReplyWithoutTerminatorsIsNeverOverrun)
{
    db_.use_raw_list = true;
    db_.raw_list_reply.assign(PARSER_LIST_REPLY_MAX, 'a');
    wlan_collect_pass();
    // A reply made of address texts and field strings up to the very end.
    std::string r;
    while (r.size() + 40 < PARSER_LIST_REPLY_MAX) {
        r += "aa:bb:cc:dd:ee:01";
        r += '\0';
        r += "IFACE wlan-1-1";
        r += '\0';
    }
    r.append(PARSER_LIST_REPLY_MAX - r.size(), 'b');
    db_.raw_list_reply = r;
    db_.put(kSta, "aa:bb:cc:dd:ee:01", "STA_IP_ADDR", "1");
    shell_.out["wlanconfig wlan-1-1 list sta limited 2>/dev/null"] =
        kHeader + "aa:bb:cc:dd:ee:01 1 36 866M 780M 41 0 0 1000 2000 HE20 x 11ac\n";
    wlan_collect_pass();
    SUCCEED();
}

TEST_F(PassTest, PacingAsksTheModeAndPausesFiftySeconds)
{
    static std::vector<unsigned> pauses;
    pauses.clear();
    rrm_seam.sleep_s = [](unsigned s) -> unsigned {
        pauses.push_back(s);
        return 0;
    };
    system_sleep();
    setenv("HVKIT_HYBRID_MODE", "3", 1);
    system_sleep();
    EXPECT_EQ(pauses, (std::vector<unsigned>{50, 50}));
}

}  // namespace
