// Conversion of wifi-manager records into the recorder's payload record:
// which members each event type copies, and that nothing else is touched.
#include <gtest/gtest.h>

#include <string.h>

#include "wlan_event.h"

namespace {

TEST(WlanEvent, EachTypeCopiesItsMembersOnly)
{
    hvUMAC_event_msg_t ev;
    memset(&ev, 0xA5, sizeof ev);  // every byte set, so stray copies show
    hvUMAC_nl_station_info_t &s = ev.u.sta_info;
    s.vid = 0x1234;
    memset(s.macaddr, 0xff, 6);
    s.authorized = 1;
    s.is_reassoc = 2;
    s.auth_alg = 3;
    s.rssi = 40;
    const uint8_t ap[6] = {1, 2, 3, 4, 5, 6};
    memcpy(s.reassoc_ap, ap, 6);
    memset(s.security, 'S', sizeof s.security);  // 32 bytes, no terminator

    oxwlan_req_data before;
    memset(&before, 0x5a, sizeof before);
    oxwlan_req_data req = before;
    EXPECT_EQ(0, oxwlan_event_convert(&ev, STAINFO_AUTHORIZED_CMD, &req));
    oxwlan_req_data expected = before;
    expected.u.sta.vid = 0x1234;
    memset(expected.u.sta.macaddr, 0xff, 6);
    expected.u.sta.authorized = 1;
    expected.u.sta.is_reassoc = 2;
    expected.u.sta.auth_alg = 3;
    expected.u.sta.rssi = 40;
    memcpy(expected.u.sta.reassoc_ap, ap, 6);
    memset(expected.u.sta.security, 'S', sizeof expected.u.sta.security);
    EXPECT_EQ(0, memcmp(&req, &expected, sizeof req));

    // The IP event copies the MAC address only; other types nothing.
    req = before;
    EXPECT_EQ(0, oxwlan_event_convert(&ev, STAINFO_IP_CMD, &req));
    expected = before;
    memset(expected.u.sta.macaddr, 0xff, 6);
    EXPECT_EQ(0, memcmp(&req, &expected, sizeof req));
    req = before;
    for (int type : std::initializer_list<int>{STAINFO_JOIN_CMD, STAINFO_LEAVE_CMD,
                                               INTERFACE_CHANNEL_CMD, INTERFACE_SSID_CMD,
                                               MESH_DYNAMIC_VLAN_CMD, -1, 32, 1000}) {
        EXPECT_EQ(0, oxwlan_event_convert(&ev, type, &req));
        EXPECT_EQ(0, memcmp(&req, &before, sizeof req)) << "type " << type;
    }
}

}  // namespace
