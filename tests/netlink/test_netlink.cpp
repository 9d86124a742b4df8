// The kernel event channel over a datagram socket pair standing in for the
// kernel's socket: framing checks, dispatch of the event codes, the slot
// bounds of channel events, the module, the watcher and start-up (what each
// event records: tests/daemon/events.txt). Each test has a private status
// database with its command trace, the developer trace file switched on, two
// slots and four records.
#include <sys/resource.h>
#include <sys/socket.h>

#include <linux/netlink.h>

#include <event.h>

#include <fstream>
#include <thread>

#include <gtest/gtest.h>

#include "../common/dbcmd.h"
#include "../common/proc.h"
#include "conf_init.h"
#include "../daemon/fake_sta_lib.h"
#include "netlink_msgs.h"
#include "parser_module.h"
#include "wlan.h"
#include "wlan_hvd.h"
#include "wlan_hvd_netlink.h"

using nlmsg::Bytes;

namespace {

const uint8_t kSta[6] = {0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0x01};
const std::string kStaTable = "STA_STATISTIC-00:11:22:33:44:55";

// Lines of a file past the first `seen`.
std::vector<std::string> take(const std::string &path, size_t &seen)
{
    std::vector<std::string> all = proc::lines(path);
    all.erase(all.begin(), all.begin() + static_cast<long>(std::min(std::exchange(seen, all.size()), all.size())));
    return all;
}

Bytes with_attr(Bytes msg, uint16_t nla_len, uint16_t nla_type)
{
    oxwlan_nlattr a = {nla_len, nla_type};
    nlmsg::put(msg, OXWLAN_NL_ATTR_OFFSET, &a, sizeof a);
    return msg;
}

class NetlinkTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        setenv("STATUSDB_PATH", (dir_ + "/status.db").c_str(), 1);
        setenv("HVKIT_SLOT_NUM", "2", 1);
        CAPWAP_MODEL_SLOT_NUM = const_cast<char *>("2");
        snprintf(wtp_mac_str, sizeof wtp_mac_str, "00:11:22:33:44:55");
        trace_file_ = dir_ + "/wlan_module.txt";
        flag_file_ = dir_ + "/wlan_module_debug";
        wlan_debug_file_name = trace_file_.c_str();
        wlan_debug_flag_name = flag_file_.c_str();
        std::ofstream{flag_file_};
        ASSERT_EQ(0, socketpair(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0, sp_));
        memset(stat_, 0, sizeof stat_);
        fake_sta::reset();
        dbcmd({"-a", kStaTable});
        setenv("STATUSDB_TRACE", (dir_ + "/commands").c_str(), 1);
    }

    void TearDown() override
    {
        close(sp_[0]);
        close(sp_[1]);
        wlan_debug_file_name = DBG_FILE_NAME;
        wlan_debug_flag_name = DBG_FILE_FLAG;
        CAPWAP_MODEL_SLOT_NUM = const_cast<char *>("1");
        unsetenv("HVKIT_SLOT_NUM");
        unsetenv("STATUSDB_TRACE");
    }

    // Sends one datagram to the daemon's end and runs the read callback once.
    void feed(const Bytes &datagram)
    {
        ASSERT_EQ(static_cast<ssize_t>(datagram.size()), send(sp_[1], datagram.data(), datagram.size(), 0));
        wlan_action_hvd(sp_[0], 1 /* readable */, stat_);
    }
    std::vector<std::string> take_traces() { return take(trace_file_, traces_seen_); }
    std::vector<std::string> take_commands() { return take(dir_ + "/commands", commands_seen_); }

    proc::TempDir tmp_;
    std::string dir_ = tmp_.path, trace_file_, flag_file_;
    int sp_[2] = {-1, -1};
    capwapWlanStatis_t stat_[4];
    size_t traces_seen_ = 0, commands_seen_ = 0;
};

// Each datagram leaves slot 0's channel as given, writes one trace line or
// none, and issues no database command and no publication: several messages
// in one datagram, other message types, malformed lengths of messages,
// attributes and station addresses, unknown event codes.
TEST_F(NetlinkTest, FramingAndDispatch)
{
    const Bytes chan = nlmsg::event_message("wlan-1-1", nlmsg::channel_event(11, 0, 0, 0));
    const Bytes ev_msg = nlmsg::event_message("wlan-1-1", nlmsg::channel_event(44, 1, 0, 0));
    Bytes second = ev_msg;  // an attribute of another type before the event's
    second.insert(second.begin() + OXWLAN_NL_ATTR_OFFSET, {4, 0, 7, 0});
    Bytes tail = ev_msg;  // another attribute behind the event's, stepped over
    tail.insert(tail.end(), {8, 0, 2, 0, 1, 2, 3, 4});
    oxwlan_event far = nlmsg::sta_ip_event(kSta);
    far.data.hdr.len = 0xfff0;
    Bytes cut = nlmsg::event_message("wlan-1-1", nlmsg::sta_ip_event(kSta), {1, 2, 3, 4});
    cut.resize(238);  // as cut by the reader's limit: the attribute claims more
    auto event = [](uint16_t cmd) { return nlmsg::event_message("wlan-1-1", nlmsg::event(cmd)); };
    const char *const kNoAddress = " : station IP event without its address, dropped";
    const struct {
        Bytes datagram;
        const char *trace;  // the end of the one trace line; nullptr: none
        int chan;
    } cases[] = {
        // Another message type before an event, one with a length not a
        // multiple of 4 (stepped over with its padding).
        {nlmsg::datagram({nlmsg::plain_message(2), chan}), " : nlmsg_type(2)", 11},
        {nlmsg::datagram({nlmsg::plain_message(3, 2), chan}), " : nlmsg_type(3)", 11},
        // Message lengths: shorter than a header (nothing after it is
        // handled), beyond what was received, negative, zero (earlier
        // messages stay handled), fewer bytes than a header.
        {nlmsg::datagram({nlmsg::with_len(nlmsg::plain_message(2), 12), chan}),
         " : Malformed netlink message: len=12 left=252 plen=-4", 0},
        {nlmsg::with_len(chan, 300), " : Malformed netlink message: len=300 left=236 plen=284", 0},
        {nlmsg::with_len(nlmsg::plain_message(2), 0xffffffffu), " : Malformed netlink message: len=-1 left=16 plen=-17", 0},
        {nlmsg::datagram({chan, nlmsg::with_len(nlmsg::plain_message(2), 0)}),
         " : Malformed netlink message: len=0 left=16 plen=-16", 11},
        {Bytes(10, 0xff), nullptr, 0},
        // Attributes: shorter than an event, beyond the message, below a
        // header, of another type, not first; an event message too short.
        {with_attr(ev_msg, 100, OXWLANM_ATTR_WIRELESS), " : event attribute shorter than an event, dropped", 0},
        {with_attr(ev_msg, 240, OXWLANM_ATTR_WIRELESS), nullptr, 0},
        {with_attr(ev_msg, 2, OXWLANM_ATTR_WIRELESS), nullptr, 0},
        {with_attr(ev_msg, 196, 1), nullptr, 0},
        {nlmsg::with_len(second, 240), " : event attribute not first in its message, dropped", 0},
        {nlmsg::plain_message(OXWLANM_WIRELESS_EVENT, 14), nullptr, 0},
        {nlmsg::with_len(tail, 244), nullptr, 44},
        // Station addresses: none announced, fewer than four bytes, four
        // announced and none carried, beyond the attribute, cut short.
        {nlmsg::event_message("wlan-1-1", nlmsg::sta_ip_event(kSta, 0), {192, 168, 1, 10}), nullptr, 0},
        {nlmsg::event_message("wlan-1-1", nlmsg::sta_ip_event(kSta, 2), {192, 168}), " : station IP event with an address shorter than 4 bytes, dropped", 0},
        {nlmsg::event_message("wlan-1-1", nlmsg::sta_ip_event(kSta, 4)), kNoAddress, 0},
        {nlmsg::event_message("wlan-1-1", far, {1, 2, 3, 4}), kNoAddress, 0},
        {nlmsg::with_len(cut, 238), nullptr, 0},
        // Unknown event codes.
        {event(OXWE_INFO | OXWE_INFO_VAP), " : unknow INFO subtype (7)", 0},
        {event(OXWE_MSG | OXWE_MSG_ASSOC), " : unknow event_type (8000)", 0},
        {event(OXWE_UTIL | OXWE_UTIL_REBOOT), " : unknow event_type (8200)", 0},
        {event(0x0002), " : unknow event_type (0)", 0},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        stat_[0].dcsChann = 0;
        feed(cases[i].datagram);
        std::vector<std::string> traces = take_traces();
        ASSERT_EQ(cases[i].trace ? 1u : 0u, traces.size()) << "case " << i << "\n" << ::testing::PrintToString(traces);
        EXPECT_TRUE(!cases[i].trace || traces[0].ends_with(cases[i].trace)) << "case " << i << ": " << traces[0];
        EXPECT_EQ(cases[i].chan, stat_[0].dcsChann) << "case " << i;
    }
    EXPECT_TRUE(take_commands().empty());
    EXPECT_TRUE(fake_sta::published.empty());
    // Called directly, the recorder also refuses a short address.
    oxwlan_event direct = nlmsg::sta_ip_event(kSta, 3);
    EXPECT_EQ(0, capwapEvtNetlinkStaIp(&direct));
    EXPECT_TRUE(take_commands().empty());
}

TEST_F(NetlinkTest, ChannelEventSlotBounds)
{
    const oxwlan_event ev = nlmsg::channel_event(149, 1, 155, 0);
    const capwapWlanStatis_t before[4] = {stat_[0], stat_[1], stat_[2], stat_[3]};

    // Radios outside the model's two slots, names without three pieces, an
    // empty name, a name that fills its field without a terminator.
    for (const char *name : {"wlan-3-1", "wlan-0-1", "wlan--1", "wlan-1", "wlan", "", "wlan-1-123456789"})
        feed(nlmsg::event_message(name, ev));
    EXPECT_EQ(0, memcmp(before, stat_, sizeof before));
    std::vector<std::string> traces = take_traces();
    ASSERT_EQ(1u, traces.size()) << ::testing::PrintToString(traces);
    EXPECT_NE(std::string::npos, traces[0].find("interface name not terminated, channel event dropped"));

    // Any first piece names a radio.
    feed(nlmsg::event_message("wds-2-9", ev));
    EXPECT_EQ(149, stat_[1].dcsChann);
    EXPECT_EQ(80u, stat_[1].ch_width);

    // The daemon's own records end at its slot count even when the model
    // reports more slots; an array of the caller's own is used up to the
    // model's slot count.
    setenv("HVKIT_SLOT_NUM", "4", 1);
    capwapWlanStatis_t *saved_stat = ch_stat;
    int saved_slots = slot_num;
    ch_stat = stat_;
    slot_num = 2;
    feed(nlmsg::event_message("wlan-3-1", ev));
    EXPECT_EQ(0, stat_[2].dcsChann);
    ch_stat = saved_stat;
    slot_num = saved_slots;
    feed(nlmsg::event_message("wlan-4-1", ev));
    EXPECT_EQ(149, stat_[3].dcsChann);
}

TEST_F(NetlinkTest, ModuleOpenedOnceWhicheverThreadAsksFirst)
{
    parser_module *seen[8] = {};
    std::vector<std::thread> threads;
    for (parser_module *&s : seen)
        threads.emplace_back([&s] { s = wlan_hvd_module_open(); });
    for (std::thread &t : threads)
        t.join();
    EXPECT_NE(nullptr, wlan_hvd_module);
    for (parser_module *s : seen)
        EXPECT_EQ(wlan_hvd_module, s);
}

TEST_F(NetlinkTest, NoDatabaseClientIsFatal)
{
    setenv("STATUSDB_PATH", (dir_ + "/missing/status.db").c_str(), 1);
    EXPECT_DEATH({ dup2(2, 1); capwapEvtNetlinkInfoSsid(); }, "wlan_hvd:[0-9]+");
    oxwlan_event ev = nlmsg::sta_ip_event(kSta);
    EXPECT_DEATH({ dup2(2, 1); feed(nlmsg::event_message("wlan-1-1", ev, {1, 2, 3, 4})); }, "wlan_hvd:[0-9]+");
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
            for (uint8_t slot : {1, 2}) {
                Bytes m = nlmsg::event_message("wlan-" + std::to_string(slot) + "-1", nlmsg::channel_event(slot, 0, 0, 0));
                if (send(sp_[1], m.data(), m.size(), 0) < 0)
                    _exit(3);
                event_loop(EVLOOP_ONCE);
            }
            _exit(stat_[0].dcsChann == 1 && stat_[1].dcsChann == 2 ? 0 : 4);
        },
        ::testing::ExitedWithCode(0), "");
}

// Start-up attaches the channel only on RRM_NETLINK=1 and with records to
// update; where the kernel lacks the family the daemon goes on without it.
TEST_F(NetlinkTest, StartUpSwitchAndAttach)
{
    sub_info_t sub = {};
    unsetenv("RRM_NETLINK");
    EXPECT_EQ(0, netlink_evt_attach_if_enabled(&sub));
    setenv("RRM_NETLINK", "yes", 1);
    EXPECT_EQ(0, netlink_evt_attach_if_enabled(&sub));
    setenv("RRM_NETLINK", "1", 1);
    capwapWlanStatis_t *saved = ch_stat;
    ch_stat = nullptr;
    EXPECT_EQ(-1, netlink_evt_attach_if_enabled(&sub));
    ch_stat = stat_;
    int s = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_OXWLAN);
    if (s < 0) {
        EXPECT_EQ(-1, netlink_evt_attach_if_enabled(&sub));
        EXPECT_EQ(-1, netlink_evt_fd());
    } else {
        close(s);
        // In a child: the socket is bound to the event group and watched.
        EXPECT_EXIT(
            {
                event_init();
                struct sockaddr_nl addr;
                socklen_t len = sizeof addr;
                if (netlink_evt_attach_if_enabled(&sub) != 1 ||
                    getsockname(netlink_evt_fd(), reinterpret_cast<sockaddr *>(&addr), &len) != 0)
                    _exit(2);
                _exit(addr.nl_family == AF_NETLINK && addr.nl_groups == OXWLANMGRP_WIRELESS ? 0 : 3);
            },
            ::testing::ExitedWithCode(0), "");
    }
    ch_stat = saved;
    unsetenv("RRM_NETLINK");
}

TEST_F(NetlinkTest, AttachFailureAborts)
{
    sub_info_t sub = {};
    struct rlimit none;
    none.rlim_cur = none.rlim_max = 0;
    EXPECT_DEATH({ setrlimit(RLIMIT_NOFILE, &none); netlink_evt_attach(stat_, &sub); },
                 "socket\\(PF_NETLINK,SOCK_RAW,NETLINK_ROUTE\\)");
}

}  // namespace
