// Event records: layout as other programs see it, and the conversion of
// wifi-manager records into the recorder's payload record.
#include <gtest/gtest.h>

#include <string.h>

#include "wlan_event.h"

namespace {

hvUMAC_event_msg_t filled_event()
{
    hvUMAC_event_msg_t ev;
    memset(&ev, 0xA5, sizeof ev);  // every byte set, so stray copies show
    hvUMAC_nl_station_info_t &s = ev.u.sta_info;
    s.vid = 0x1234;
    const uint8_t mac[6] = {0xff, 0xff, 0xff, 0xff, 0xff, 0xff};
    memcpy(s.macaddr, mac, 6);
    s.authorized = 1;
    s.is_reassoc = 2;
    s.auth_alg = 3;
    s.rssi = 40;
    const uint8_t ap[6] = {1, 2, 3, 4, 5, 6};
    memcpy(s.reassoc_ap, ap, 6);
    memset(s.security, 'S', sizeof s.security);  // 32 bytes, no terminator
    s.ipaddr = 0x0a01a8c0;
    return ev;
}

TEST(WlanEvent, AuthorizedCopiesItsEightMembersOnly)
{
    const hvUMAC_event_msg_t ev = filled_event();
    oxwlan_req_data req;
    memset(&req, 0, sizeof req);
    EXPECT_EQ(0, oxwlan_event_convert(&ev, STAINFO_AUTHORIZED_CMD, &req));

    EXPECT_EQ(0x1234, req.u.sta.vid);
    EXPECT_EQ(0, memcmp(req.u.sta.macaddr, ev.u.sta_info.macaddr, 6));
    EXPECT_EQ(1, req.u.sta.authorized);
    EXPECT_EQ(2, req.u.sta.is_reassoc);
    EXPECT_EQ(3, req.u.sta.auth_alg);
    EXPECT_EQ(40, req.u.sta.rssi);
    EXPECT_EQ(0, memcmp(req.u.sta.reassoc_ap, ev.u.sta_info.reassoc_ap, 6));
    EXPECT_EQ(0, memcmp(req.u.sta.security, ev.u.sta_info.security, 32));

    // Everything else stays as the caller cleared it.
    EXPECT_EQ(0, req.hdr.len);
    EXPECT_EQ(0, req.hdr.ext_len);
    EXPECT_EQ(0, req.u.sta.isBTMSupported);
    EXPECT_EQ(0, req.u.sta.isRRMSupported);
    EXPECT_EQ(0, req.u.sta.channel);
    EXPECT_EQ(0, req.u.sta.event_code);
    EXPECT_EQ(0, req.u.sta.reason_code);
    EXPECT_EQ(0u, req.u.sta.tx_bytes);
    EXPECT_EQ(0u, req.u.sta.rx_bytes);
    const uint8_t zero[64] = {};
    EXPECT_EQ(0, memcmp(req.u.sta.ssid, zero, sizeof req.u.sta.ssid));
    EXPECT_EQ(0, memcmp(req.u.sta.event_type, zero, sizeof req.u.sta.event_type));
}

TEST(WlanEvent, IpCopiesTheMacOnlyAndOtherTypesNothing)
{
    const hvUMAC_event_msg_t ev = filled_event();
    oxwlan_req_data req;
    memset(&req, 0x5a, sizeof req);
    oxwlan_req_data before = req;
    EXPECT_EQ(0, oxwlan_event_convert(&ev, STAINFO_IP_CMD, &req));
    EXPECT_EQ(0, memcmp(req.u.sta.macaddr, ev.u.sta_info.macaddr, 6));
    memcpy(req.u.sta.macaddr, before.u.sta.macaddr, 6);
    EXPECT_EQ(0, memcmp(&req, &before, sizeof req));

    for (int type : std::initializer_list<int>{STAINFO_JOIN_CMD, STAINFO_LEAVE_CMD, INTERFACE_CHANNEL_CMD,
                                               INTERFACE_SSID_CMD, MESH_DYNAMIC_VLAN_CMD, -1, 32, 1000}) {
        EXPECT_EQ(0, oxwlan_event_convert(&ev, type, &req));
        EXPECT_EQ(0, memcmp(&req, &before, sizeof req)) << "type " << type;
    }
}

}  // namespace
