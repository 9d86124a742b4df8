/*
 * The kernel's WLAN event channel: a netlink socket on which the kernel's
 * WLAN stack multicasts oxwlan_event envelopes, and the records the daemon
 * keeps from three of those events (a station's IP address, an SSID change,
 * a channel change).
 *
 * The channel is off unless switched on: start-up attaches it only when the
 * environment holds RRM_NETLINK=1 (netlink_evt_attach_if_enabled), and then
 * only on a kernel that offers the family. It has a watcher of its own on the
 * main thread's loop, beside the bus channel's.
 *
 * Wire format of one datagram (at most NETLINK_OXWLAN_RECV_MAX bytes): one or
 * more netlink messages, each padded to 4 bytes. An event message is the
 * netlink header, the interface header (oxwlan_ifinfomsg), and a first
 * attribute of type OXWLANM_ATTR_WIRELESS holding the oxwlan_event, followed
 * by the event's extra data (the station's IPv4 address for a station-IP
 * event). Everything is in host byte order.
 */
#ifndef RRM_WLAN_HVD_NETLINK_H
#define RRM_WLAN_HVD_NETLINK_H

#include <stddef.h>
#include <stdint.h>

#include "capwap_wlan_statis.h"
#include "parser_module.h"
#include "wlan_event.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---------------------------------------------------------------------------
 * Wire constants and records
 * ------------------------------------------------------------------------- */

#define NETLINK_OXWLAN 18          /* the kernel's WLAN event family */
#define OXWLANMGRP_WIRELESS 1      /* its multicast group */
#define OXWLANM_WIRELESS_EVENT 1   /* message type of an event */
#define OXWLANM_ATTR_WIRELESS 0x8000 /* attribute type of an event */

#define NETLINK_OXWLAN_RECV_MAX 256 /* bytes read per datagram */

/* Netlink message header (as struct nlmsghdr). */
typedef struct oxwlan_nlmsghdr {
    uint32_t nlmsg_len;   /* length of the message, this header included */
    uint16_t nlmsg_type;
    uint16_t nlmsg_flags;
    uint32_t nlmsg_seq;
    uint32_t nlmsg_pid;
} oxwlan_nlmsghdr;

/* The interface an event concerns. ifi_name is not necessarily terminated
 * within its 16 bytes. */
typedef struct oxwlan_ifinfomsg {
    char ifi_name[16];
    uint16_t ifi_type;
    int32_t ifi_index;
} oxwlan_ifinfomsg;

/* Attribute header (as struct nlattr). */
typedef struct oxwlan_nlattr {
    uint16_t nla_len;     /* this header included */
    uint16_t nla_type;
} oxwlan_nlattr;

/* The fixed head of an event message, up to the event. */
typedef struct oxwlan_nl_event_head {
    oxwlan_nlmsghdr nlh;
    oxwlan_ifinfomsg ifi;
    oxwlan_nlattr attr;
} oxwlan_nl_event_head;

/* Offsets of an event message. */
#define OXWLAN_NL_IFINFO_OFFSET 16
#define OXWLAN_NL_ATTR_OFFSET 40
#define OXWLAN_NL_EVENT_OFFSET 44
/* A message carrying a whole event, without extra data. */
#define OXWLAN_NL_EVENT_MSG_LEN (OXWLAN_NL_EVENT_OFFSET + 192)

/* ---------------------------------------------------------------------------
 * The channel
 * ------------------------------------------------------------------------- */

/* Opens the netlink socket (protocol NETLINK_OXWLAN, receive buffer doubled,
 * bound to group OXWLANMGRP_WIRELESS) and watches it on the loop that the
 * station-event library runs (sub_info: its sub_info_t, already prepared by
 * sub_info_init, which makes the loop current). data is handed to every
 * read: the per-slot radio records, slot n at index n - 1, at least as many
 * as the model has slots. Any failure prints why and aborts. */
void netlink_evt_attach(void *data, void *sub_info);

/* The start-up switch. With RRM_NETLINK=1 in the environment, attaches the
 * channel with ch_stat, if the kernel offers the family; otherwise does
 * nothing. Returns 1 when attached, 0 when switched off, -1 when switched on
 * but not possible here (a line on standard output says why). */
int netlink_evt_attach_if_enabled(void *sub_info);

/* Watches fd for reading with the channel's own watcher (persistent) and
 * wlan_action_hvd as the callback, data as its argument. 0, or -1 when the
 * loop refused. Used by netlink_evt_attach; tests hand it a socket pair. */
int netlink_evt_watch(int fd, void *data);

/* The attached socket, or -1. */
int netlink_evt_fd(void);

/* Read callback: reads one datagram from sockId and handles its messages.
 * what is ignored; data is the radio record array. */
void wlan_action_hvd(int sockId, short what, void *data);

/* Dispatches one event message. e points to the start of a message whose
 * framing has been checked: its first attribute holds a whole oxwlan_event
 * and, for a station-IP event with extra data, the four address bytes at
 * data.hdr.len bytes from the start of the event's payload record. The
 * bytes are copied, never used in place. Always 1. */
int capwapEvtNetlinkEvtRecv(void *e, capwapWlanStatis_t *stat);

/* Records a channel event in slot radioIndex (1-based) of stat. Always 0. */
int capwapEvtNetlinkDcsChannel(const oxwlan_event *e, int radioIndex, capwapWlanStatis_t *stat);

/* ---------------------------------------------------------------------------
 * Records kept from kernel events
 * ------------------------------------------------------------------------- */

/* A station's IP address (e->data.u.sta.macaddr, four address bytes behind
 * the payload record): written into the station's key of the station table
 * and published to the station-event library. An event without extra data
 * is ignored. e must be followed by its extra data. Always 0. */
int capwapEvtNetlinkStaIp(const oxwlan_event *e);

/* Reads the MAC address of every VAP wlan-<r>-<v> (v 1 to 8) of every radio
 * r of the slot-count setting and writes it into field VAP_<v-1>_MAC of key
 * SLOT-<r-1> of the WLAN table; a VAP that does not exist gets
 * 00:00:00:00:00:00. */
void capwapEvtNetlinkInfoSsid(void);

/* The wlan_hvd unit's database client module (wlan_hvd_module), opened with
 * parser_open("dbcmd") by whichever thread asks first; both threads may ask
 * at once. Aborts when the module cannot be opened. */
parser_module *wlan_hvd_module_open(void);

#ifdef __cplusplus
}

#include <type_traits>

static_assert(std::is_trivially_copyable_v<oxwlan_nlmsghdr>);
static_assert(std::is_trivially_copyable_v<oxwlan_ifinfomsg>);
static_assert(std::is_trivially_copyable_v<oxwlan_nlattr>);
static_assert(std::is_trivially_copyable_v<oxwlan_nl_event_head>);
static_assert(sizeof(oxwlan_nlmsghdr) == 16);
static_assert(offsetof(oxwlan_nlmsghdr, nlmsg_len) == 0);
static_assert(offsetof(oxwlan_nlmsghdr, nlmsg_type) == 4);
static_assert(offsetof(oxwlan_nlmsghdr, nlmsg_flags) == 6);
static_assert(offsetof(oxwlan_nlmsghdr, nlmsg_seq) == 8);
static_assert(offsetof(oxwlan_nlmsghdr, nlmsg_pid) == 12);
static_assert(sizeof(oxwlan_ifinfomsg) == 24);
static_assert(offsetof(oxwlan_ifinfomsg, ifi_name) == 0);
static_assert(offsetof(oxwlan_ifinfomsg, ifi_type) == 16);
static_assert(offsetof(oxwlan_ifinfomsg, ifi_index) == 20);
static_assert(sizeof(oxwlan_nlattr) == 4);
static_assert(offsetof(oxwlan_nlattr, nla_len) == 0);
static_assert(offsetof(oxwlan_nlattr, nla_type) == 2);
static_assert(sizeof(oxwlan_nl_event_head) == OXWLAN_NL_EVENT_OFFSET);
static_assert(offsetof(oxwlan_nl_event_head, ifi) == OXWLAN_NL_IFINFO_OFFSET);
static_assert(offsetof(oxwlan_nl_event_head, attr) == OXWLAN_NL_ATTR_OFFSET);
static_assert(sizeof(oxwlan_event) == 192);
static_assert(OXWLAN_NL_EVENT_MSG_LEN == 236);
#endif

#endif
