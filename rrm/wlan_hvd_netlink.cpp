// The kernel's WLAN event channel: a netlink socket watched on the main
// thread's loop, the framing checks of what it reads, the dispatch of the
// three interface events the daemon acts on, and the channel update of the
// per-slot radio records.
//
// Nothing beyond the bytes received is ever read: every length in a datagram
// is checked against what is left of it before the bytes it covers are
// touched, and records are copied into aligned locals, never used in place.
#include <errno.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include <linux/netlink.h>

#include <event.h>

#if defined(__has_include)
#if __has_include(<sanitizer/asan_interface.h>)
#include <sanitizer/asan_interface.h>
#endif
#endif
#ifndef ASAN_POISON_MEMORY_REGION
#define ASAN_POISON_MEMORY_REGION(addr, size) ((void)(addr), (void)(size))
#define ASAN_UNPOISON_MEMORY_REGION(addr, size) ((void)(addr), (void)(size))
#endif

#include "hvkit.h"
#include "sta.h"
#include "wlan.h"
#include "wlan_hvd.h"
#include "wlan_hvd_netlink.h"

namespace {

// The channel's own watcher: the subscription record's watcher belongs to
// the bus channel.
struct event g_watcher;
int g_fd = -1;

constexpr const char *kSwitch = "RRM_NETLINK";

// Room behind a copied event for its extra data: the most a datagram can
// hold behind an event that starts right after the message head.
constexpr size_t kExtraMax = NETLINK_OXWLAN_RECV_MAX - OXWLAN_NL_EVENT_MSG_LEN;

struct EventCopy {
    oxwlan_event ev;
    unsigned char extra[kExtraMax];
};
static_assert(offsetof(EventCopy, extra) == sizeof(oxwlan_event));

constexpr uint32_t align4(uint32_t n) { return (n + 3u) & ~3u; }

template <typename T>
T read_at(const unsigned char *p)
{
    T v;
    memcpy(&v, p, sizeof v);
    return v;
}

// Why the event attribute of a message cannot be handed on, or null when it
// can. attr_at is the attribute's offset in the message, attr_len its
// checked nla_len (within the message).
const char *event_attr_problem(const unsigned char *msg, uint32_t attr_at, uint32_t attr_len)
{
    if (attr_at != OXWLAN_NL_ATTR_OFFSET)
        return "event attribute not first in its message";
    if (attr_len < sizeof(oxwlan_nlattr) + sizeof(oxwlan_event))
        return "event attribute shorter than an event";
    const uint16_t cmd = read_at<uint16_t>(msg + OXWLAN_NL_EVENT_OFFSET + offsetof(oxwlan_event, hdr.cmd));
    if (cmd != (OXWE_INFO | OXWE_INFO_STAIP))
        return nullptr;
    const oxwlan_req_hdr req = read_at<oxwlan_req_hdr>(msg + OXWLAN_NL_EVENT_OFFSET + offsetof(oxwlan_event, data));
    if (req.ext_len == 0)
        return nullptr;  // ignored further on
    if (req.ext_len < sizeof(uint32_t))
        return "station IP event with an address shorter than 4 bytes";
    // The address lies req.len bytes into the payload record; it must lie
    // within the attribute.
    const size_t addr_end = OXWLAN_NL_EVENT_OFFSET + offsetof(oxwlan_event, data) + req.len + sizeof(uint32_t);
    if (addr_end > OXWLAN_NL_ATTR_OFFSET + static_cast<size_t>(attr_len))
        return "station IP event without its address";
    return nullptr;
}

// In sanitizer builds the part of the read buffer that the datagram did not
// fill is made unreadable while it is handled, so that a read past the bytes
// received is caught at once.
class ReceivedOnly {
public:
    ReceivedOnly(unsigned char *buf, size_t cap, size_t got) : tail_(buf + got), len_(cap - got)
    {
        ASAN_POISON_MEMORY_REGION(tail_, len_);
    }
    ~ReceivedOnly() { ASAN_UNPOISON_MEMORY_REGION(tail_, len_); }
    ReceivedOnly(const ReceivedOnly &) = delete;
    ReceivedOnly &operator=(const ReceivedOnly &) = delete;

private:
    unsigned char *tail_;
    size_t len_;
};

void close_and_abort(int sock)
{
    if (sock >= 0)
        close(sock);
    abort();
}

}  // namespace

int netlink_evt_watch(int fd, void *data)
{
    event_set(&g_watcher, fd, EV_READ | EV_PERSIST, wlan_action_hvd, data);
    return event_add(&g_watcher, nullptr) == 0 ? 0 : -1;
}

int netlink_evt_fd(void)
{
    return g_fd;
}

void netlink_evt_attach(void *data, void *sub_info)
{
    (void)sub_info;  // its loop is the current one
    int sock = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_OXWLAN);
    if (sock < 0) {
        perror("socket(PF_NETLINK,SOCK_RAW,NETLINK_ROUTE)");
        close_and_abort(-1);
    }

    int rcvbufsz2 = 0;
    socklen_t optlen = sizeof rcvbufsz2;
    if (getsockopt(sock, SOL_SOCKET, SO_RCVBUF, &rcvbufsz2, &optlen) < 0) {
        perror("getsockopt(sock, SOL_SOCKET, SO_RCVBUF, &rcvbufsz2, &optlen)");
        close_and_abort(sock);
    }
    int rcvbufsz = rcvbufsz2 > INT_MAX / 2 ? INT_MAX : rcvbufsz2 * 2;
    if (setsockopt(sock, SOL_SOCKET, SO_RCVBUF, &rcvbufsz, sizeof rcvbufsz) < 0) {
        fprintf(stderr, "Unable to set socket rcv buf size to %d\n", rcvbufsz);
        close_and_abort(sock);
    }

    struct sockaddr_nl local;
    memset(&local, 0, sizeof local);
    local.nl_family = AF_NETLINK;
    local.nl_pad = 0;
    local.nl_pid = 0;  // the kernel assigns the port
    local.nl_groups = OXWLANMGRP_WIRELESS;
    static_assert(sizeof local == 12);
    if (bind(sock, reinterpret_cast<struct sockaddr *>(&local), sizeof local) < 0) {
        perror("bind(netlink)");
        close_and_abort(sock);
    }

    g_fd = sock;
    if (netlink_evt_watch(sock, data) != 0) {
        fprintf(stderr, "netlink channel: the event loop refused the socket\n");
        g_fd = -1;
        close_and_abort(sock);
    }
}

int netlink_evt_attach_if_enabled(void *sub_info)
{
    const char *on = getenv(kSwitch);
    if (on == nullptr || strcmp(on, "1") != 0)
        return 0;
    if (ch_stat == nullptr || sub_info == nullptr) {
        printf("netlink channel: no radio records, not attached\n");
        return -1;
    }
    // A kernel without the family refuses the socket; the daemon then runs
    // on the bus channel alone instead of ending.
    int probe = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_OXWLAN);
    if (probe < 0) {
        printf("netlink channel: kernel family %d not available (%s), not attached\n",
               NETLINK_OXWLAN, strerror(errno));
        return -1;
    }
    close(probe);
    netlink_evt_attach(ch_stat, sub_info);
    printf("netlink channel attached (family %d, group %d)\n", NETLINK_OXWLAN, OXWLANMGRP_WIRELESS);
    return 1;
}

void wlan_action_hvd(int sockId, short what, void *data)
{
    (void)what;
    auto *stat = static_cast<capwapWlanStatis_t *>(data);
    alignas(8) unsigned char buf[NETLINK_OXWLAN_RECV_MAX];
    struct sockaddr_nl from;
    socklen_t fromlen = sizeof from;

    ssize_t got = recvfrom(sockId, buf, sizeof buf, 0, reinterpret_cast<struct sockaddr *>(&from), &fromlen);
    if (got <= 0)
        return;
    ReceivedOnly guard(buf, sizeof buf, static_cast<size_t>(got));

    long left = got;
    const unsigned char *msg = buf;
    while (left >= static_cast<long>(sizeof(oxwlan_nlmsghdr))) {
        const oxwlan_nlmsghdr nlh = read_at<oxwlan_nlmsghdr>(msg);
        const long len = static_cast<long>(nlh.nlmsg_len);
        const long plen = len - static_cast<long>(sizeof(oxwlan_nlmsghdr));
        if (plen < 0 || len > left) {
            WLAN_MODULE_DEBUG("Malformed netlink message: len=%d left=%d plen=%d\n",
                              static_cast<int>(nlh.nlmsg_len), static_cast<int>(left),
                              static_cast<int>(plen));
            return;
        }

        if (nlh.nlmsg_type == OXWLANM_WIRELESS_EVENT) {
            // The attributes follow the two headers, within the message.
            long rem = len - OXWLAN_NL_ATTR_OFFSET;
            uint32_t at = OXWLAN_NL_ATTR_OFFSET;
            while (rem >= static_cast<long>(sizeof(oxwlan_nlattr))) {
                const oxwlan_nlattr nla = read_at<oxwlan_nlattr>(msg + at);
                if (nla.nla_len < sizeof(oxwlan_nlattr) || nla.nla_len > rem)
                    break;
                if (nla.nla_type == OXWLANM_ATTR_WIRELESS) {
                    const char *problem = event_attr_problem(msg, at, nla.nla_len);
                    status_drop(DROP_MALFORMED, problem != nullptr);
                    if (problem != nullptr)
                        WLAN_MODULE_DEBUG("%s, dropped\n", problem);
                    else
                        capwapEvtNetlinkEvtRecv(const_cast<unsigned char *>(msg), stat);
                }
                const uint32_t step = align4(nla.nla_len);
                if (static_cast<long>(step) >= rem)
                    break;
                rem -= static_cast<long>(step);
                at += step;
            }
        } else {
            WLAN_MODULE_DEBUG("nlmsg_type(%d)\n", nlh.nlmsg_type);
        }

        // Step over the message and its padding; the pointer never moves
        // past the bytes received.
        const long step = static_cast<long>(align4(nlh.nlmsg_len));
        if (step >= left)
            break;
        left -= step;
        msg += step;
    }
}

int capwapEvtNetlinkEvtRecv(void *e, capwapWlanStatis_t *stat)
{
    const auto *msg = static_cast<const unsigned char *>(e);
    EventCopy copy;
    memcpy(&copy.ev, msg + OXWLAN_NL_EVENT_OFFSET, sizeof copy.ev);
    const uint16_t cmd = copy.ev.hdr.cmd;

    if (GET_TYPE(cmd) != OXWE_INFO) {
        WLAN_MODULE_DEBUG("unknow event_type (%x)\n", GET_TYPE(cmd));
        return 1;
    }

    switch (GET_SUBTYPE(cmd)) {
    case OXWE_INFO_CHANNEL: {
        oxwlan_ifinfomsg ifi;
        memcpy(&ifi, msg + OXWLAN_NL_IFINFO_OFFSET, sizeof ifi);
        if (memchr(ifi.ifi_name, '\0', sizeof ifi.ifi_name) == nullptr) {
            WLAN_MODULE_DEBUG("interface name not terminated, channel event dropped\n");
            break;
        }
        int radioIndex = 0;
        int wlanIndex = 0;
        if (getInterfaceIdx(ifi.ifi_name, &radioIndex, &wlanIndex) != 1)
            break;
        if (radioIndex < 1 || radioIndex > hvkit_get_current_model_slotnum())
            break;
        // The daemon's own records hold slot_num slots.
        if (stat == ch_stat && radioIndex > slot_num)
            break;
        capwapEvtNetlinkDcsChannel(&copy.ev, radioIndex, stat);
        break;
    }
    case OXWE_INFO_SSID:
        capwapEvtNetlinkInfoSsid();
        break;
    case OXWE_INFO_STAIP: {
        // The address may lie behind the 192 bytes of the event; the caller
        // has checked that it lies within the message.
        const oxwlan_req_hdr req = copy.ev.data.hdr;
        if (req.ext_len >= sizeof(uint32_t)) {
            const size_t need = offsetof(oxwlan_event, data) + req.len + sizeof(uint32_t);
            if (need > sizeof copy) {
                WLAN_MODULE_DEBUG("station IP address %u bytes into the event, dropped\n",
                                  static_cast<unsigned>(req.len));
                break;
            }
            if (need > sizeof copy.ev)
                memcpy(copy.extra, msg + OXWLAN_NL_EVENT_OFFSET + sizeof copy.ev, need - sizeof copy.ev);
        }
        capwapEvtNetlinkStaIp(&copy.ev);
        break;
    }
    default:
        WLAN_MODULE_DEBUG("unknow INFO subtype (%x)\n", GET_SUBTYPE(cmd));
        break;
    }
    return 1;
}

int capwapEvtNetlinkDcsChannel(const oxwlan_event *e, int radioIndex, capwapWlanStatis_t *stat)
{
    if (stat == nullptr || radioIndex < 1)
        return 0;
    const oxwlan_chann_info &chann = e->data.u.chann;
    uint32_t width;
    if (chann.cw_extoffset == 0)
        width = 20;
    else if (chann.vht_ch_freq == 0)
        width = 40;
    else if (chann.vht_ch_freq2 == 0)
        width = 80;
    else
        width = 160;

    capwapWlanStatis_t &slot = stat[radioIndex - 1];
    ch_member_store<uint8_t>(slot.dcsChann, chann.ieee);
    ch_member_store<int8_t>(slot.extOffset, chann.cw_extoffset);
    ch_member_store<uint8_t>(slot.vht_ch_freq, chann.vht_ch_freq);
    ch_member_store<uint8_t>(slot.vht_ch_freq2, chann.vht_ch_freq2);
    ch_member_store<uint32_t>(slot.ch_width, width);
    return 0;
}
