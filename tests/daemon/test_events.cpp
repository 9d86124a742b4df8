// The recorder (sta_event_process), the station-library callback
// (sta_evt_proc), the bus intake (ubus_event_handle) and the kernel channel's
// read callback (wlan_action_hvd) played from a transcript, events.txt: each input and the
// database commands, shell commands, common-log lines, printed lines,
// records and status counters it leaves behind; and the status reply's shape.
#include <arpa/inet.h>
#include <sys/socket.h>
#include <string.h>

#include <map>
#include <tuple>

#include "../common/dbcmd.h"
#include "../common/transcript.h"
#include "conf_init.h"
#include "daemon_fixture.h"
#include "fake_sta_lib.h"
#include "wlan.h"
#include "wlan_hvd_netlink.h"
#include "wlan_ubus.h"
#include "../netlink/netlink_msgs.h"

namespace {

// Copies a text into a fixed field, unterminated when it fills it.
template <typename T, size_t N> void put(T (&field)[N], const std::string &v)
{
    memset(field, 0, N);
    memcpy(field, v.data(), std::min(N, v.size()));
}

void put_mac(uint8_t *mac, const std::string &text)
{
    for (int i = 0; i < 6; ++i)
        mac[i] = static_cast<uint8_t>(std::stoul(text.substr(3 * i, 2), nullptr, 16));
}

const std::map<std::string, int> kNames = {
    {"assoc", STA_ASSOC}, {"disassoc", STA_DISASSOC}, {"ip", STA_IP_ADDR},
    {"ifmac", STA_INTERFACE_SSID}, {"authorized", STA_AUTHORIZED},
    {"asso", STA_ASSO}, {"disasso", STA_DISASSO}, {"online", NETOPEER_ONLINE},
    {"offline", NETOPEER_OFFLINE}, {"claim", NETOPEER_CLAIM}, {"declaim", NETOPEER_DECLAIM},
    {"2g", BAND_ID_2G}, {"5g", BAND_ID_5G}, {"6g", BAND_ID_6G}, {"unknown", BAND_ID_UNKNOWN}};

// The status reply walked: each number by its path ("dropped.too_short"),
// and its shape, each key with its blobmsg type and tables in braces.
void walk(struct blob_attr *table, const std::string &prefix, std::map<std::string, long long> &numbers,
          std::string &shape)
{
    struct blob_attr *a;
    size_t rem;
    blobmsg_for_each_attr(a, table, rem) {
        const std::string name = blobmsg_name(a);
        shape += (shape.empty() || shape.back() == '{' ? "" : " ") + name + ":" + std::to_string(blobmsg_type(a));
        if (blobmsg_type(a) == BLOBMSG_TYPE_TABLE) {
            shape += "{";
            walk(a, prefix + name + ".", numbers, shape);
            shape += "}";
        } else if (blobmsg_type(a) != BLOBMSG_TYPE_STRING) {
            const int t = blobmsg_type(a);
            numbers[prefix + name] = t == BLOBMSG_TYPE_INT64   ? static_cast<long long>(blobmsg_get_u64(a))
                                     : t == BLOBMSG_TYPE_INT32 ? blobmsg_get_u32(a)
                                                               : blobmsg_get_u8(a);
        }
    }
}

std::map<std::string, long long> status_numbers(std::string *shape = nullptr)
{
    struct blob_buf b = {};
    blob_buf_init(&b, 0);
    status_fill(&b);
    std::map<std::string, long long> numbers;
    std::string s;
    walk(b.head, "", numbers, s);
    blob_buf_free(&b);
    if (shape != nullptr)
        *shape = s;
    return numbers;
}

long number_of(const std::string &w)
{
    auto it = kNames.find(w);
    return it != kNames.end() ? it->second : std::stol(w, nullptr, 0);
}

class Events : public DaemonTest {
protected:
    transcript::Left left_;  // what the last input left
    std::map<std::string, std::string> fields_;  // this case's "set" values
    std::string slots_ = "1";
    size_t log_seen_ = 0;
    bool quiet_ = false;  // every input must leave no command and no log line
    std::map<std::string, long long> status_at_start_;  // the counters when the case began

    std::string field(const std::string &name, const std::string &fallback = "0")
    {
        auto it = fields_.find(name);
        return it != fields_.end() && !it->second.empty() ? transcript::expand(it->second) : fallback;
    }

    int sta(const std::vector<std::string> &w)
    {
        alignas(oxwlan_req_data) unsigned char block[sizeof(oxwlan_req_data) + 4] = {};
        oxwlan_req_data r = {};
        put_mac(r.u.sta.macaddr, field("mac", "00:00:00:00:00:00"));
        put(r.u.sta.security, field("security", ""));
        r.u.sta.vid = static_cast<uint16_t>(std::stoul(field("vid")));
        r.u.sta.authorized = static_cast<uint8_t>(std::stoul(field("auth")));
        r.u.sta.rssi = static_cast<uint8_t>(std::stoul(field("rssi"), nullptr, 0));
        r.u.sta.channel = static_cast<uint8_t>(std::stoul(field("channel")));
        r.u.sta.tx_bytes = std::stoull(field("tx"));
        r.u.sta.rx_bytes = std::stoull(field("rx"));
        r.hdr.len = static_cast<uint16_t>(std::stoul(field("len", std::to_string(sizeof r))));
        r.hdr.ext_len = static_cast<uint16_t>(std::stoul(field("ext", "4")));
        memcpy(block, &r, sizeof r);
        inet_pton(AF_INET, field("addr", "0.0.0.0").c_str(), block + sizeof r);
        auto text = [&](size_t i) { return w.size() > i && w[i] != "-" ? const_cast<char *>(w[i].c_str()) : nullptr; };
        const bool none = field("record", "") == "none";
        return sta_event_process(static_cast<uint32_t>(number_of(w[1])),
                                 none ? nullptr : reinterpret_cast<oxwlan_req_data *>(block), text(2), text(3),
                                 w.size() > 4 ? static_cast<int>(number_of(w[4])) : BAND_ID_UNKNOWN);
    }

    void lib(const std::vector<std::string> &w)
    {
        sta_module_msg m = {};
        m.op = STA_MODULE_NOTIFY;
        put_mac(m.info.mac, field("mac", "00:00:00:00:00:00"));
        put(m.info.iface, w[2]);
        put(m.info.ssid, field("ssid", ""));
        put(m.info.security, field("security", ""));
        m.info.vid = static_cast<int32_t>(std::stol(field("vid"), nullptr, 0));
        m.info.authentication = std::stoi(field("auth"));
        m.info.band_id = static_cast<int32_t>(number_of(field("band")));
        m.info.rssi = std::stoi(field("rssi"));
        m.info.channel = std::stoi(field("channel"));
        m.info.reason_code = std::stoi(field("reason"));
        const uint32_t type = static_cast<uint32_t>(number_of(w[1]));
        memcpy(&m.info.type, &type, sizeof type);
        sta_evt_proc(&m, nullptr);
    }

    void two_slots()  // the records channel events update
    {
        if (ch_stat == nullptr) {
            setenv("HVKIT_SLOT_NUM", "2", 1);
            slot_num = 2;
            ch_stat = init_ch_stat(2);
        }
    }

    // A wifi-manager message: each NAME=IFACE a record for that interface,
    // NAME=#N the first N bytes of one; "-" no method and no message.
    void bus(const std::vector<std::string> &w)
    {
        two_slots();
        struct blob_buf b = {};
        blob_buf_init(&b, 0);
        for (size_t i = 2; i < w.size(); ++i) {
            const std::string name = w[i].substr(0, w[i].find('=')), value = w[i].substr(w[i].find('=') + 1);
            hvUMAC_event_msg_t ev = {};
            put(ev.ifname, value[0] == '#' ? "wlan-1-1" : value);
            put_mac(ev.u.sta_info.macaddr, field("mac", "00:00:00:00:00:00"));
            ev.u.sta_info.authorized = static_cast<uint8_t>(std::stoul(field("auth")));
            ev.u.sta_info.vid = static_cast<uint16_t>(std::stoul(field("vid")));
            put(ev.u.sta_info.security, field("security", ""));
            inet_pton(AF_INET, field("addr", "0.0.0.0").c_str(), &ev.u.sta_info.ipaddr);
            if (!field("channel", "").empty()) {  // a channel event's fields
                hvUMAC_nl_interface_info_t &v = ev.u.vap_info;
                v.channel = static_cast<decltype(v.channel)>(std::stol(field("channel")));
                v.cw_extoffset = static_cast<decltype(v.cw_extoffset)>(std::stol(field("offset")));
                v.vht_ch_freq = static_cast<decltype(v.vht_ch_freq)>(std::stol(field("vht1")));
                v.vht_ch_freq2 = static_cast<decltype(v.vht_ch_freq2)>(std::stol(field("vht2")));
                v.band_id = static_cast<decltype(v.band_id)>(std::stol(field("vapband")));
                v.ch_width = static_cast<decltype(v.ch_width)>(std::stol(field("width")));
            }
            const unsigned len = value[0] == '#' ? std::stoul(value.substr(1)) : sizeof ev;
            blobmsg_add_field(&b, BLOBMSG_TYPE_UNSPEC, name.c_str(), &ev, len);
        }
        ubus_event_handle(nullptr, nullptr, w[1] == "-" ? nullptr : w[1].c_str(), w[1] == "-" ? nullptr : b.head);
        blob_buf_free(&b);
    }

    // A kernel event datagram to the netlink channel's read callback, with
    // the slot records: "chan" (fields channel, offset, vht1, vht2), "ip"
    // (mac, addr; skip=N: the address N bytes further in, as its header
    // says) or "ssid".
    void nl(const std::vector<std::string> &w)
    {
        two_slots();
        oxwlan_event ev = nlmsg::event(OXWE_INFO | OXWE_INFO_SSID);
        nlmsg::Bytes extra;
        if (w[1] == "chan") {
            ev = nlmsg::channel_event(static_cast<uint8_t>(std::stoi(field("channel"))),
                                      static_cast<int8_t>(std::stoi(field("offset"))),
                                      static_cast<uint8_t>(std::stoi(field("vht1"))),
                                      static_cast<uint8_t>(std::stoi(field("vht2"))));
        } else if (w[1] == "ip") {
            uint8_t mac[6];
            put_mac(mac, field("mac", "00:00:00:00:00:00"));
            ev = nlmsg::sta_ip_event(mac);
            const size_t skip = std::stoul(field("skip"));
            ev.data.hdr.len = static_cast<uint16_t>(ev.data.hdr.len + skip);
            extra.assign(skip + 4, 0xee);
            inet_pton(AF_INET, field("addr", "0.0.0.0").c_str(), extra.data() + skip);
        } else {
            memset(&ev.data.u, 0x5a, sizeof ev.data.u);  // the payload is not read
        }
        const nlmsg::Bytes d = nlmsg::event_message(w[2], ev, extra);
        int sp[2];
        ASSERT_EQ(0, socketpair(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0, sp));
        ASSERT_EQ(static_cast<ssize_t>(d.size()), send(sp[1], d.data(), d.size(), 0));
        wlan_action_hvd(sp[0], 1, ch_stat);
        close(sp[0]);
        close(sp[1]);
    }

    void TearDown() override
    {
        free(ch_stat);
        ch_stat = nullptr;
        slot_num = 0;
        DaemonTest::TearDown();
    }

    void input(const std::vector<std::string> &w)
    {
        left_.settle();
        take_trace();
        take_commands();
        log_seen_ = log_lines().size();
        CAPWAP_MODEL_SLOT_NUM = slots_.data();
        capture_stdout();  // no test assertion while it runs: its report would be captured
        const int rc = w[0] == "sta" ? sta(w) : w[0] == "lib" ? (lib(w), 0) : w[0] == "bus" ? (bus(w), 0) : (nl(w), 0);
        const std::string text = stdout_text();
        EXPECT_EQ(0, rc);
        std::istringstream out(text);
        for (std::string l; std::getline(out, l);)
            left_.lines["out"].push_back(l);
        if (!text.empty() && text.back() != '\n')
            left_.lines["out"].back() += "\\c";  // no line end
        for (const std::string &l : take_trace())
            left_.lines[">"].push_back(l);
        for (const std::string &l : take_commands())
            left_.lines["$"].push_back(l);
        const Lines log = log_lines();
        left_.lines["log"].assign(log.begin() + static_cast<long>(log_seen_), log.end());
        EXPECT_FALSE(quiet_ && !(left_.lines[">"].empty() && left_.lines["log"].empty())) << "not quiet";
    }

    // One line of the transcript.
    void step(const std::string &line)
    {
        const std::vector<std::string> w = transcript::words(line);
        const std::string rest = line.substr(std::min(line.size(), w[0].size() + 1));
        if (w[0] == "set") {
            for (size_t i = 1; i < w.size(); ++i)
                fields_[w[i].substr(0, w[i].find('='))] = w[i].substr(w[i].find('=') + 1);
        } else if (w[0] == "quiet") {
            quiet_ = true;
        } else if (w[0] == "slots") {
            slots_ = w[1];
        } else if (w[0] == "conf") {
            write_wlan_conf(std::stoi(w[1]), transcript::words(rest.substr(rest.find(' ') + 1))[0]);
        } else if (w[0] == "sta" || w[0] == "lib" || w[0] == "bus" || w[0] == "nl") {
            input(w);
        } else if (w[0] == "db") {
            EXPECT_EQ(w.size() > 4 ? transcript::expand(w[4]) : "", dbcmd({"-t", w[1], "-k", w[2], "-g", w[3]}));
        } else if (w[0] == "sent") {  // the address published, all else zero
            EXPECT_EQ((Lines{"check", "notify"}), fake_sta::calls);
            ASSERT_EQ(1u, fake_sta::published.size());
            sta_module_msg want = {};
            want.op = STA_MODULE_NOTIFY;
            put_mac(want.info.mac, field("mac"));
            inet_pton(AF_INET, w[1].c_str(), &want.info.ipAddr);
            want.info.type = STA_IP;
            EXPECT_EQ(0, memcmp(&want, &fake_sta::published[0], sizeof want));
        } else if (w[0] == "env") {
            setenv(w[1].c_str(), w[2].c_str(), 1);
        } else if (w[0] == "chan") {  // a slot's channel record
            ASSERT_NE(nullptr, ch_stat);
            const capwapWlanStatis_t &c = ch_stat[std::stoi(w[1])];
            EXPECT_EQ(rest.substr(rest.find(' ') + 1),
                      std::to_string(c.dcsChann) + " " + std::to_string(c.extOffset) + " " + std::to_string(c.vht_ch_freq) +
                          " " + std::to_string(c.vht_ch_freq2) + " " + std::to_string(c.hvUmacBandId) + " " +
                          std::to_string(c.ch_width));
        } else if (w[0] == "status") {  // a counter's growth since the case began
            ASSERT_EQ(1u, status_at_start_.count(w[1])) << w[1];
            EXPECT_EQ(std::stoll(w[2]), status_numbers()[w[1]] - status_at_start_[w[1]]) << w[1];
        } else if (w[0] == "published") {
            EXPECT_EQ(std::stoul(w[1]), fake_sta::published.size());
        } else if (w[0] == ">" || w[0] == "$" || w[0] == "out" || w[0] == "log") {
            left_.expect(w[0], rest);
        } else {
            ADD_FAILURE() << "unknown line";
        }
    }
};

TEST_F(Events, Transcript)
{
    bool first = true;
    transcript::play("daemon/events.txt", {{"$STA", sta_table_}, {"$MESH", mesh_table_}, {"$WLAN", wlan_table_}},
                     [&](const std::string &line) {
                         if (line.rfind("== ", 0) != 0)
                             return step(line);
                         left_.settle();  // a new case in a new world
                         if (!first) {
                             TearDown();
                             SetUp();
                         }
                         first = false;
                         quiet_ = false;
                         status_at_start_ = status_numbers();
                         fields_.clear();
                         slots_ = "1";
                     });
    left_.settle();
}

// Every member of the reply, in order, with its type (3 string, 4 INT64, 5
// INT32, 7 bool, 2 table); the start-up values among them.
TEST_F(Events, StatusReplyShape)
{
    slot_num = 2;
    status_started();
    std::string shape;
    std::map<std::string, long long> n = status_numbers(&shape);
    EXPECT_EQ("version:3 ap_mac:3 slots:5 start_time:4 uptime:4 netlink:7 sta_lib:2{assoc:4 disassoc:4 ip:4 "
              "online:4 offline:4 claim:4 declaim:4 other:4} wifi_events:2{sta_authorized:4 sta_ip:4 "
              "channel_changed:4 ssid:4 other:4} dropped:2{too_short:4 bad_ifname:4 unknown_ifname:4 "
              "slot_out_of_range:4 no_record:4 bad_address:4 malformed:4} stations:2{written:4 removed:4 "
              "roams:4} pass:2{done:4 last_start:4 last_duration_ms:4 last_stations:4} departures:4 "
              "db_failures:4 bus_reconnects:4",
              shape);
    EXPECT_EQ((std::tuple{2LL, kNow, 0LL, 0LL}), (std::tuple{n["slots"], n["start_time"], n["uptime"], n["netlink"]}));
}

}  // namespace
