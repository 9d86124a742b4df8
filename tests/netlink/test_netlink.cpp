// The kernel event channel over a datagram socket pair standing in for the
// kernel's socket: framing checks, dispatch of the event codes, the channel
// update of the radio records, and the records kept from station-IP and
// SSID events.
#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <linux/netlink.h>

#include <event.h>

#include <thread>

#include "conf_init.h"
#include "fake_sta.h"
#include "netlink_world.h"
#include "platform_utils.h"
#include "wlan.h"
#include "wlan_hvd.h"

using nlmsg::Bytes;

namespace {

const uint8_t kSta[6] = {0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0x01};

bool has(const std::vector<std::string> &lines, const std::string &text)
{
    for (const std::string &l : lines)
        if (l.find(text) != std::string::npos)
            return true;
    return false;
}

std::string joined(const std::vector<std::string> &lines)
{
    std::string all;
    for (const std::string &l : lines)
        all += l + "\n";
    return all;
}

bool family_available()
{
    int s = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_OXWLAN);
    if (s < 0)
        return false;
    close(s);
    return true;
}

}  // namespace

TEST_F(NetlinkTest, OtherTypeAndChannelEventInOneDatagram)
{
    feed(nlmsg::datagram({nlmsg::plain_message(2), nlmsg::event_message("wlan-2-1", nlmsg::channel_event(36, 1, 42, 0))}));
    std::vector<std::string> traces = take_traces();
    ASSERT_EQ(1u, traces.size()) << joined(traces);
    EXPECT_NE(std::string::npos, traces[0].find("wlan_module: wlan_action_hvd:"));
    EXPECT_NE(std::string::npos, traces[0].find(" : nlmsg_type(2)"));
    EXPECT_EQ(36, stat_[1].dcsChann);
    EXPECT_EQ(80u, stat_[1].ch_width);
    EXPECT_EQ(0, stat_[0].dcsChann);

    // A message whose length is not a multiple of 4 is stepped over with
    // its padding.
    Bytes odd = nlmsg::plain_message(3, 2);
    feed(nlmsg::datagram({odd, nlmsg::event_message("wlan-1-1", nlmsg::channel_event(6, 0, 0, 0))}));
    EXPECT_TRUE(has(take_traces(), "nlmsg_type(3)"));
    EXPECT_EQ(6, stat_[0].dcsChann);
    EXPECT_EQ(20u, stat_[0].ch_width);
}

TEST_F(NetlinkTest, MalformedLengthEndsTheDatagram)
{
    const Bytes chan = nlmsg::event_message("wlan-1-1", nlmsg::channel_event(11, 0, 0, 0));

    // Shorter than its header: nothing after it is handled.
    Bytes shortmsg = nlmsg::plain_message(2);
    nlmsg::set_len(shortmsg, 12);
    feed(nlmsg::datagram({shortmsg, chan}));
    std::vector<std::string> traces = take_traces();
    ASSERT_EQ(1u, traces.size()) << joined(traces);
    EXPECT_NE(std::string::npos, traces[0].find("wlan_action_hvd:"));
    EXPECT_NE(std::string::npos, traces[0].find(" : Malformed netlink message: len=12 left=252 plen=-4"));
    EXPECT_EQ(0, stat_[0].dcsChann);

    // Longer than what was received.
    Bytes longmsg = chan;
    nlmsg::set_len(longmsg, 300);
    feed(longmsg);
    EXPECT_TRUE(has(take_traces(), "Malformed netlink message: len=300 left=236 plen=284"));
    EXPECT_EQ(0, stat_[0].dcsChann);

    // A length that reads as negative, and a zero length (which would
    // otherwise never advance).
    Bytes huge = nlmsg::plain_message(2);
    nlmsg::set_len(huge, 0xffffffffu);
    feed(huge);
    EXPECT_TRUE(has(take_traces(), "Malformed netlink message: len=-1 left=16 plen=-17"));

    // Earlier messages of the datagram stay handled.
    Bytes zero = nlmsg::plain_message(2);
    nlmsg::set_len(zero, 0);
    feed(nlmsg::datagram({chan, zero}));
    traces = take_traces();
    EXPECT_TRUE(has(traces, "Malformed netlink message: len=0 left=16 plen=-16")) << joined(traces);
    EXPECT_EQ(11, stat_[0].dcsChann);

    // Fewer bytes than a header: nothing at all.
    feed(Bytes(10, 0xff));
    EXPECT_TRUE(take_traces().empty());
}

TEST_F(NetlinkTest, AttributesAreReadWithinTheirMessage)
{
    const oxwlan_event ev = nlmsg::channel_event(44, 1, 0, 0);

    // An event attribute shorter than an event.
    Bytes m = nlmsg::event_message("wlan-1-1", ev);
    nlmsg::set_attr(m, 100, OXWLANM_ATTR_WIRELESS);
    feed(m);
    EXPECT_TRUE(has(take_traces(), "event attribute shorter than an event, dropped"));
    EXPECT_EQ(0, stat_[0].dcsChann);

    // Attribute lengths beyond the message, below a header, or an attribute
    // of another type: the walk ends without a word.
    for (auto [len, type] : {std::pair<uint16_t, uint16_t>{240, OXWLANM_ATTR_WIRELESS},
                             {2, OXWLANM_ATTR_WIRELESS}, {196, 1}}) {
        Bytes bad = nlmsg::event_message("wlan-1-1", ev);
        nlmsg::set_attr(bad, len, type);
        feed(bad);
        EXPECT_TRUE(take_traces().empty()) << len << " " << type;
        EXPECT_EQ(0, stat_[0].dcsChann) << len << " " << type;
    }

    // A message of the event type too short for its headers.
    Bytes stub = nlmsg::plain_message(OXWLANM_WIRELESS_EVENT, 14);
    feed(stub);
    EXPECT_TRUE(take_traces().empty());

    // The message carries an event attribute only as its first attribute.
    Bytes second(OXWLAN_NL_EVENT_MSG_LEN + 4, 0);
    oxwlan_nl_event_head head = {};
    head.nlh.nlmsg_len = static_cast<uint32_t>(second.size());
    head.nlh.nlmsg_type = OXWLANM_WIRELESS_EVENT;
    memcpy(head.ifi.ifi_name, "wlan-1-1", 8);
    head.attr = {4, 7};
    nlmsg::put(second, 0, &head, sizeof head);
    oxwlan_nlattr event_attr = {static_cast<uint16_t>(4 + sizeof ev), OXWLANM_ATTR_WIRELESS};
    nlmsg::put(second, OXWLAN_NL_EVENT_OFFSET, &event_attr, sizeof event_attr);
    nlmsg::put(second, OXWLAN_NL_EVENT_OFFSET + 4, &ev, sizeof ev);
    feed(second);
    EXPECT_TRUE(has(take_traces(), "event attribute not first in its message, dropped"));
    EXPECT_EQ(0, stat_[0].dcsChann);

    // Further attributes behind the event are stepped over.
    Bytes tail = nlmsg::event_message("wlan-1-1", ev);
    Bytes extra_attr = {8, 0, 2, 0, 1, 2, 3, 4};
    tail.insert(tail.end(), extra_attr.begin(), extra_attr.end());
    nlmsg::set_len(tail, static_cast<uint32_t>(tail.size()));
    feed(tail);
    EXPECT_TRUE(take_traces().empty());
    EXPECT_EQ(44, stat_[0].dcsChann);
}

TEST_F(NetlinkTest, UnknownEventCodesAreTraced)
{
    feed(nlmsg::event_message("wlan-1-1", nlmsg::event(OXWE_INFO | OXWE_INFO_VAP)));
    feed(nlmsg::event_message("wlan-1-1", nlmsg::event(OXWE_MSG | OXWE_MSG_ASSOC)));
    feed(nlmsg::event_message("wlan-1-1", nlmsg::event(OXWE_UTIL | OXWE_UTIL_REBOOT)));
    feed(nlmsg::event_message("wlan-1-1", nlmsg::event(0x0002)));
    std::vector<std::string> traces = take_traces();
    ASSERT_EQ(4u, traces.size()) << joined(traces);
    for (const std::string &t : traces)
        EXPECT_NE(std::string::npos, t.find("wlan_module: capwapEvtNetlinkEvtRecv:")) << t;
    EXPECT_NE(std::string::npos, traces[0].find(" : unknow INFO subtype (7)"));
    EXPECT_NE(std::string::npos, traces[1].find(" : unknow event_type (8000)"));
    EXPECT_NE(std::string::npos, traces[2].find(" : unknow event_type (8200)"));
    EXPECT_NE(std::string::npos, traces[3].find(" : unknow event_type (0)"));
    EXPECT_TRUE(take_commands().empty());
    EXPECT_TRUE(fake_sta::published.empty());
}

TEST_F(NetlinkTest, ChannelWidthFromTheEvent)
{
    struct Case {
        int8_t ext;
        uint8_t vht1, vht2;
        uint32_t width;
    };
    const Case cases[] = {
        {0, 0, 0, 20}, {0, 42, 155, 20}, {1, 0, 0, 40},   {-1, 0, 9, 40},
        {-1, 42, 0, 80}, {1, 42, 0, 80}, {1, 50, 114, 160}, {-1, 42, 155, 160},
    };
    for (const Case &c : cases) {
        stat_[0].hvUmacBandId = 2;
        feed(nlmsg::event_message("wlan-1-3", nlmsg::channel_event(100, c.ext, c.vht1, c.vht2)));
        EXPECT_EQ(c.width, stat_[0].ch_width) << int(c.ext) << " " << int(c.vht1) << " " << int(c.vht2);
        EXPECT_EQ(100, stat_[0].dcsChann);
        EXPECT_EQ(c.ext, stat_[0].extOffset);
        EXPECT_EQ(c.vht1, stat_[0].vht_ch_freq);
        EXPECT_EQ(c.vht2, stat_[0].vht_ch_freq2);
        EXPECT_EQ(2, stat_[0].hvUmacBandId);  // this path leaves the band alone
    }
    EXPECT_EQ(0, stat_[1].dcsChann);
    EXPECT_TRUE(take_commands().empty());
}

TEST_F(NetlinkTest, ChannelEventSlotBounds)
{
    const oxwlan_event ev = nlmsg::channel_event(149, 1, 155, 0);
    const capwapWlanStatis_t before[4] = {stat_[0], stat_[1], stat_[2], stat_[3]};

    // Radios outside the model's two slots, names without three pieces, an
    // empty name.
    for (const char *name : {"wlan-3-1", "wlan-0-1", "wlan--1", "wlan-1", "wlan", ""})
        feed(nlmsg::event_message(name, ev));
    EXPECT_EQ(0, memcmp(before, stat_, sizeof before));
    EXPECT_TRUE(take_traces().empty());

    // A name that fills its field without a terminator.
    feed(nlmsg::event_message("wlan-1-123456789", ev));
    EXPECT_TRUE(has(take_traces(), "interface name not terminated, channel event dropped"));
    EXPECT_EQ(0, memcmp(before, stat_, sizeof before));

    // Any first piece names a radio.
    feed(nlmsg::event_message("wds-2-9", ev));
    EXPECT_EQ(149, stat_[1].dcsChann);
    EXPECT_EQ(80u, stat_[1].ch_width);

    // The daemon's own records end at its slot count even when the model
    // reports more slots.
    setenv("HVKIT_SLOT_NUM", "4", 1);
    capwapWlanStatis_t *saved_stat = ch_stat;
    int saved_slots = slot_num;
    ch_stat = stat_;
    slot_num = 2;
    feed(nlmsg::event_message("wlan-3-1", ev));
    EXPECT_EQ(0, stat_[2].dcsChann);
    ch_stat = saved_stat;
    slot_num = saved_slots;
    // An array of the caller's own is used up to the model's slot count.
    feed(nlmsg::event_message("wlan-4-1", ev));
    EXPECT_EQ(149, stat_[3].dcsChann);
}

TEST_F(NetlinkTest, StationIpIsRecordedAndPublished)
{
    db_run({"dbctl", "-t", sta_table_, "-i", "aa:bb:cc:dd:ee:01"});
    feed(nlmsg::event_message("wlan-1-1", nlmsg::sta_ip_event(kSta), {192, 168, 1, 10}));

    std::vector<std::string> cmds = take_commands();
    ASSERT_EQ(1u, cmds.size());
    EXPECT_EQ("dbctl -t STA_STATISTIC-00:11:22:33:44:55 -k aa:bb:cc:dd:ee:01 -f STA_IP_ADDR -s 167880896",
              cmds[0]);
    EXPECT_EQ("167880896", db_get(sta_table_, "aa:bb:cc:dd:ee:01", "STA_IP_ADDR"));

    ASSERT_EQ(1u, fake_sta::published.size());
    EXPECT_EQ((std::vector<std::string>{"check", "notify"}), fake_sta::calls);
    sta_module_msg expected;
    memset(&expected, 0, sizeof expected);
    expected.op = STA_MODULE_NOTIFY;
    memcpy(expected.info.mac, kSta, 6);
    const uint8_t addr[4] = {192, 168, 1, 10};
    memcpy(&expected.info.ipAddr, addr, 4);
    expected.info.type = STA_IP;
    EXPECT_EQ(0, memcmp(&expected, &fake_sta::published[0], sizeof expected));
    EXPECT_TRUE(take_traces().empty());

    // The address further into the event, as its header says.
    oxwlan_event later = nlmsg::sta_ip_event(kSta);
    later.data.hdr.len = sizeof(oxwlan_req_data) + 16;
    Bytes extra(20, 0xee);
    extra[16] = 10, extra[17] = 0, extra[18] = 0, extra[19] = 7;
    feed(nlmsg::event_message("wlan-1-1", later, extra));
    EXPECT_EQ("117440522", db_get(sta_table_, "aa:bb:cc:dd:ee:01", "STA_IP_ADDR"));
    take_commands();
}

TEST_F(NetlinkTest, StationIpWithoutWholeAddressIsDropped)
{
    db_run({"dbctl", "-t", sta_table_, "-i", "aa:bb:cc:dd:ee:01"});

    // No extra data: ignored without a word.
    feed(nlmsg::event_message("wlan-1-1", nlmsg::sta_ip_event(kSta, 0), {192, 168, 1, 10}));
    EXPECT_TRUE(take_traces().empty());

    // Fewer than four address bytes announced.
    feed(nlmsg::event_message("wlan-1-1", nlmsg::sta_ip_event(kSta, 2), {192, 168}));
    EXPECT_TRUE(has(take_traces(), "address shorter than 4 bytes, dropped"));

    // Four announced, none carried; then an address beyond the attribute.
    feed(nlmsg::event_message("wlan-1-1", nlmsg::sta_ip_event(kSta, 4)));
    EXPECT_TRUE(has(take_traces(), "station IP event without its address, dropped"));
    oxwlan_event far = nlmsg::sta_ip_event(kSta);
    far.data.hdr.len = 0xfff0;
    feed(nlmsg::event_message("wlan-1-1", far, {1, 2, 3, 4}));
    EXPECT_TRUE(has(take_traces(), "station IP event without its address, dropped"));

    // Datagram cut short by the reader's limit: the attribute claims more
    // than was received.
    Bytes cut = nlmsg::event_message("wlan-1-1", nlmsg::sta_ip_event(kSta), {1, 2, 3, 4});
    cut.resize(238);
    nlmsg::set_len(cut, 238);
    feed(cut);
    EXPECT_TRUE(take_traces().empty());

    EXPECT_TRUE(take_commands().empty());
    EXPECT_TRUE(fake_sta::published.empty());
    EXPECT_EQ("N/A", db_get(sta_table_, "aa:bb:cc:dd:ee:01", "STA_IP_ADDR"));

    // Called directly, the recorder also refuses a short address.
    oxwlan_event direct = nlmsg::sta_ip_event(kSta, 3);
    EXPECT_EQ(0, capwapEvtNetlinkStaIp(&direct));
    EXPECT_TRUE(take_commands().empty());
}

TEST_F(NetlinkTest, SsidEventWritesEveryVapOfEverySlot)
{
    oxwlan_event ev = nlmsg::event(OXWE_INFO | OXWE_INFO_SSID);
    memset(&ev.data.u, 0x5a, sizeof ev.data.u);  // the payload is not read
    feed(nlmsg::event_message("wlan-1-1", ev));

    std::vector<std::string> expected;
    for (int r = 1; r <= 2; ++r) {
        for (int v = 1; v <= 8; ++v) {
            unsigned char mac[6];
            char text[MAC_STR_LEN];
            capwapUtlGetIfMAC(("wlan-" + std::to_string(r) + "-" + std::to_string(v)).c_str(), mac);
            mac2str(mac, text);
            expected.push_back("dbctl -t WLAN-00:11:22:33:44:55 -k SLOT-" + std::to_string(r - 1) +
                               " -f VAP_" + std::to_string(v - 1) + "_MAC -s " + text);
        }
    }
    EXPECT_EQ(expected, take_commands());
    EXPECT_EQ(expected[15].substr(expected[15].rfind(' ') + 1), db_get(wlan_table_, "SLOT-1", "VAP_7_MAC"));

    // The slot count is read afresh; none, or a setting that is no number,
    // writes nothing.
    for (const char *slots : {"0", "none", "-3"}) {
        CAPWAP_MODEL_SLOT_NUM = const_cast<char *>(slots);
        feed(nlmsg::event_message("wlan-1-1", ev));
        EXPECT_TRUE(take_commands().empty()) << slots;
    }
    CAPWAP_MODEL_SLOT_NUM = const_cast<char *>("1");
    capwapEvtNetlinkInfoSsid();
    EXPECT_EQ(8u, take_commands().size());
}

TEST_F(NetlinkTest, ModuleOpenedOnceWhicheverThreadAsksFirst)
{
    parser_module *seen[8] = {};
    std::vector<std::thread> threads;
    for (parser_module *&s : seen)
        threads.emplace_back([&s] { s = wlan_hvd_module_open(); });
    for (std::thread &t : threads)
        t.join();
    for (parser_module *s : seen)
        EXPECT_EQ(wlan_hvd_module, s);
    EXPECT_NE(nullptr, wlan_hvd_module);
}

TEST_F(NetlinkTest, NoDatabaseClientIsFatal)
{
    setenv("STATUSDB_PATH", (dir_ + "/missing/status.db").c_str(), 1);
    EXPECT_DEATH(
        {
            dup2(2, 1);
            capwapEvtNetlinkInfoSsid();
        },
        "wlan_hvd_records\\.cpp:[0-9]+");
    oxwlan_event ev = nlmsg::sta_ip_event(kSta);
    EXPECT_DEATH(
        {
            dup2(2, 1);
            feed(nlmsg::event_message("wlan-1-1", ev, {1, 2, 3, 4}));
        },
        "wlan_hvd_records\\.cpp:[0-9]+");
}

// The socket's own watcher on the event loop: readable datagrams reach the
// read callback with the records given, again and again.
TEST_F(NetlinkTest, WatcherServesTheSocketOnTheLoop)
{
    EXPECT_EXIT(
        {
            event_init();
            if (netlink_evt_watch(sp_[0], stat_) != 0)
                _exit(2);
            Bytes a = nlmsg::event_message("wlan-1-1", nlmsg::channel_event(1, 0, 0, 0));
            Bytes b = nlmsg::event_message("wlan-2-1", nlmsg::channel_event(2, 0, 0, 0));
            if (send(sp_[1], a.data(), a.size(), 0) < 0)
                _exit(3);
            event_loop(EVLOOP_ONCE);
            if (send(sp_[1], b.data(), b.size(), 0) < 0)
                _exit(3);
            event_loop(EVLOOP_ONCE);
            _exit(stat_[0].dcsChann == 1 && stat_[1].dcsChann == 2 ? 0 : 4);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(NetlinkTest, StartUpSwitchAndAttach)
{
    sub_info_t sub;
    memset(&sub, 0, sizeof sub);

    unsetenv("RRM_NETLINK");
    EXPECT_EQ(0, netlink_evt_attach_if_enabled(&sub));
    setenv("RRM_NETLINK", "yes", 1);
    EXPECT_EQ(0, netlink_evt_attach_if_enabled(&sub));
    EXPECT_EQ(-1, netlink_evt_fd());

    setenv("RRM_NETLINK", "1", 1);
    capwapWlanStatis_t *saved = ch_stat;
    ch_stat = nullptr;
    EXPECT_EQ(-1, netlink_evt_attach_if_enabled(&sub));  // no records to update
    ch_stat = saved;

    if (!family_available()) {
        // Switched on where the kernel lacks the family: the daemon goes on
        // without the channel instead of ending.
        ch_stat = stat_;
        EXPECT_EQ(-1, netlink_evt_attach_if_enabled(&sub));
        EXPECT_EQ(-1, netlink_evt_fd());
        ch_stat = saved;
        unsetenv("RRM_NETLINK");
        GTEST_SKIP() << "this kernel offers no netlink family " << NETLINK_OXWLAN;
    }
    // Attached in a child: the socket is bound to the event group, with its
    // receive buffer enlarged, and watched.
    EXPECT_EXIT(
        {
            event_init();
            ch_stat = stat_;
            if (netlink_evt_attach_if_enabled(&sub) != 1)
                _exit(2);
            int fd = netlink_evt_fd();
            struct sockaddr_nl addr;
            socklen_t len = sizeof addr;
            if (fd < 0 || getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len) != 0)
                _exit(3);
            if (addr.nl_family != AF_NETLINK || addr.nl_groups != OXWLANMGRP_WIRELESS)
                _exit(4);
            _exit(0);
        },
        ::testing::ExitedWithCode(0), "");
    unsetenv("RRM_NETLINK");
}

TEST_F(NetlinkTest, AttachFailureAborts)
{
    sub_info_t sub;
    memset(&sub, 0, sizeof sub);
    EXPECT_DEATH(
        {
            struct rlimit none;
            none.rlim_cur = none.rlim_max = 0;
            setrlimit(RLIMIT_NOFILE, &none);
            netlink_evt_attach(stat_, &sub);
        },
        "socket\\(PF_NETLINK,SOCK_RAW,NETLINK_ROUTE\\)");
}
