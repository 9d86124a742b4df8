// Builders of the kernel's WLAN event datagrams: netlink messages carrying an
// oxwlan_event, other message types, and datagrams of several messages.
#ifndef TESTS_NETLINK_NETLINK_MSGS_H
#define TESTS_NETLINK_NETLINK_MSGS_H

#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "wlan_hvd_netlink.h"

namespace nlmsg {

using Bytes = std::vector<uint8_t>;

inline void put(Bytes &b, size_t at, const void *src, size_t n)
{
    if (b.size() < at + n)
        b.resize(at + n);
    memcpy(b.data() + at, src, n);
}

// The message with its length field overwritten.
inline Bytes with_len(Bytes msg, uint32_t len)
{
    put(msg, 0, &len, sizeof len);
    return msg;
}

// A message of the given type with `payload` zero bytes after the header.
inline Bytes plain_message(uint16_t type, size_t payload = 0)
{
    Bytes b(sizeof(oxwlan_nlmsghdr) + payload, 0);
    put(b, 4, &type, sizeof type);
    return with_len(b, static_cast<uint32_t>(b.size()));
}

// An event message: headers, the event attribute holding `ev` and `extra`.
inline Bytes event_message(const std::string &ifname, const oxwlan_event &ev, const Bytes &extra = {})
{
    Bytes b(OXWLAN_NL_EVENT_MSG_LEN, 0);
    oxwlan_nl_event_head head = {};
    head.nlh.nlmsg_len = static_cast<uint32_t>(b.size() + extra.size());
    head.nlh.nlmsg_type = OXWLANM_WIRELESS_EVENT;
    memcpy(head.ifi.ifi_name, ifname.data(), ifname.size() < 16 ? ifname.size() : 16);
    head.attr.nla_len = static_cast<uint16_t>(sizeof(oxwlan_nlattr) + sizeof ev + extra.size());
    head.attr.nla_type = OXWLANM_ATTR_WIRELESS;
    put(b, 0, &head, sizeof head);
    put(b, OXWLAN_NL_EVENT_OFFSET, &ev, sizeof ev);
    if (!extra.empty())
        put(b, b.size(), extra.data(), extra.size());
    return b;
}

inline oxwlan_event event(uint16_t cmd)
{
    oxwlan_event ev = {};
    ev.hdr.len = sizeof ev;
    ev.hdr.cmd = cmd;
    ev.data.hdr.len = sizeof(oxwlan_req_data);
    return ev;
}

inline oxwlan_event channel_event(uint8_t ieee, int8_t ext, uint8_t vht1, uint8_t vht2)
{
    oxwlan_event ev = event(OXWE_INFO | OXWE_INFO_CHANNEL);
    ev.data.u.chann.freq = 5180;
    ev.data.u.chann.ieee = ieee;
    ev.data.u.chann.cw_extoffset = ext;
    ev.data.u.chann.vht_ch_freq = vht1;
    ev.data.u.chann.vht_ch_freq2 = vht2;
    return ev;
}

// A station-IP event; ext_len says how many address bytes it announces.
inline oxwlan_event sta_ip_event(const uint8_t (&mac)[6], uint16_t ext_len = 4)
{
    oxwlan_event ev = event(OXWE_INFO | OXWE_INFO_STAIP);
    memcpy(ev.data.u.sta.macaddr, mac, 6);
    ev.data.hdr.ext_len = ext_len;
    return ev;
}

// Messages joined into one datagram, each padded to 4 bytes.
inline Bytes datagram(std::initializer_list<Bytes> msgs)
{
    Bytes d;
    for (const Bytes &m : msgs) {
        d.insert(d.end(), m.begin(), m.end());
        d.resize((d.size() + 3) & ~size_t{3}, 0);
    }
    return d;
}

}  // namespace nlmsg

#endif
