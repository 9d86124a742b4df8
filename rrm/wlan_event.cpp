#include "wlan_event.h"

#include <string.h>

int oxwlan_event_convert(const hvUMAC_event_msg_t *hvUMAC_event, int ubus_event_type,
                         oxwlan_req_data *oxwlan_req)
{
    const hvUMAC_nl_station_info_t &src = hvUMAC_event->u.sta_info;
    oxwlan_sta_info &dst = oxwlan_req->u.sta;

    switch (ubus_event_type) {
    case STAINFO_AUTHORIZED_CMD:
        memcpy(dst.macaddr, src.macaddr, sizeof dst.macaddr);
        dst.authorized = src.authorized;
        dst.vid = src.vid;
        dst.is_reassoc = src.is_reassoc;
        dst.auth_alg = src.auth_alg;
        dst.rssi = src.rssi;
        memcpy(dst.reassoc_ap, src.reassoc_ap, sizeof dst.reassoc_ap);
        memcpy(dst.security, src.security, sizeof dst.security);
        break;
    case STAINFO_IP_CMD:
        memcpy(dst.macaddr, src.macaddr, sizeof dst.macaddr);
        break;
    default:
        break;
    }
    return 0;
}
