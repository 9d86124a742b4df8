// Station event recorder: one normalised station or interface event becomes
// commands on the station tables and the WLAN table. Also the station-event
// library's callback, which feeds it associations and departures and keeps
// the cloud status record.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "common_log.h"
#include "conf_init.h"
#include "platform_utils.h"
#include "seam.h"
#include "wlan.h"
#include "wpa3info.h"

#define WLAN_UNIT "wlan"

namespace {

constexpr int kVapsPerSlot = 8;

parser_module *wlan_module()
{
    if (module == nullptr) {
        module = parser_open("dbcmd");
        if (module == nullptr)
            wlan_fatal_at(WLAN_UNIT, __LINE__);
    }
    return module;
}

void wlan_log(const char *text)
{
    common_log(WLAN_MODULE_DB_LOG, WLAN_MODULE_DB_COUNT, text);
}

// A fixed-size text that may lack its terminator, as a terminated copy.
template <size_t N, size_t M>
void bounded_copy(char (&dst)[N], const char (&src)[M])
{
    static_assert(N > M);
    size_t len = strnlen(src, M);
    memcpy(dst, src, len);
    dst[len] = '\0';
}

// The security text to record: "NONE" reads "Open"; "WPA3-Personal" is
// settled against the VAP's configuration.
void station_security(const oxwlan_sta_info &sta, int radio_id, int wlan_index,
                      char (&security)[WLAN_NAME_LEN])
{
    bounded_copy(security, sta.security);
    if (strcmp(security, "NONE") == 0) {
        snprintf(security, sizeof security, "%s", "Open");
        return;
    }
    if (strcmp(security, "WPA3-Personal") == 0)
        resolveWpa3Security(radio_id, wlan_index, security);
}

void record_association(void *client, char *msg, const char *table, const char *key,
                        const oxwlan_sta_info &sta, const char *ifi_name, const char *ssid,
                        int band_id)
{
    int radio_id = 0;
    int wlan_index = 0;
    module->gen_cmd(client, msg, "dbctl", "-t", table, "-i", key, (char *)0);
    wlan_ifname_numbers(ifi_name, &radio_id, &wlan_index);

    char iface[WLAN_NAME_LEN], vid[WLAN_NAME_LEN], mac[WLAN_NAME_LEN], auth[WLAN_NAME_LEN];
    char asso_time[WLAN_NAME_LEN], ssid_text[WLAN_NAME_LEN], radio[WLAN_NAME_LEN];
    char wlan[WLAN_NAME_LEN], channel[WLAN_NAME_LEN], tx[WLAN_NAME_LEN], rx[WLAN_NAME_LEN];
    char rssi[WLAN_NAME_LEN], band[8];
    snprintf(iface, sizeof iface, "%s", ifi_name);
    snprintf(vid, sizeof vid, "%d", sta.vid);
    snprintf(mac, sizeof mac, "%s", key);
    snprintf(auth, sizeof auth, "%d", sta.authorized);
    snprintf(asso_time, sizeof asso_time, "%ld", static_cast<long>(rrm_now(nullptr)));
    snprintf(ssid_text, sizeof ssid_text, "%s", ssid);
    snprintf(radio, sizeof radio, "%d", radio_id);
    snprintf(wlan, sizeof wlan, "%d", wlan_index);
    snprintf(band, sizeof band, "%s", bandId_string(band_id));
    snprintf(channel, sizeof channel, "%d", sta.channel);
    snprintf(tx, sizeof tx, "%llu", static_cast<unsigned long long>(sta.tx_bytes));
    snprintf(rx, sizeof rx, "%llu", static_cast<unsigned long long>(sta.rx_bytes));

    // The driver reports a positive signal-to-noise figure; 95 below it is
    // the signal in dBm. Zero and negative values are taken as they are.
    int rssi_dbm = static_cast<int8_t>(sta.rssi);
    if (rssi_dbm > 0)
        rssi_dbm -= 95;
    snprintf(rssi, sizeof rssi, "%d", rssi_dbm);

    char security[WLAN_NAME_LEN];
    station_security(sta, radio_id, wlan_index, security);

    char display_ssid[DISPLAY_SSID_LEN] = {};
    int owe_tm_idx = wpa3_get_oweindex(radio_id, wlan_index);
    if (owe_tm_idx > 0) {
        if (wlan_index > 8) {
            wpa3_owetm_trans_ssidname(radio_id, wlan_index, owe_tm_idx, display_ssid,
                                      DISPLAY_SSID_LEN);
        } else {
            snprintf(display_ssid, sizeof display_ssid, "%s", ssid);
            wpa3_get_new_ssidname(radio_id, wlan_index, display_ssid);
        }
        display_ssid[DISPLAY_SSID_LEN - 1] = '\0';
    }

    module->gen_cmd(client, msg, "dbctl", "-t", table, "-k", key,
                    "-f", "STA_ASSO_FLAG", "-s", "1",
                    "-f", "IFACE", "-s", iface,
                    "-f", "VID", "-s", vid,
                    "-f", "MAC", "-s", mac,
                    "-f", "AUTHENTICATION", "-s", auth,
                    "-f", "ASSO_TIME", "-s", asso_time,
                    "-f", "SSID", "-s", ssid_text,
                    "-f", "RADIO_ID", "-s", radio,
                    "-f", "WLAN_INDEX", "-s", wlan,
                    "-f", "STA_CHANNEL", "-s", channel,
                    "-f", "TX_RATE", "-s", "0M",
                    "-f", "RX_RATE", "-s", "0M",
                    "-f", "SIG_RSSI", "-s", rssi,
                    "-f", "TX", "-s", tx,
                    "-f", "RX", "-s", rx,
                    "-f", "SECURITY", "-s", security,
                    "-f", "DISPLAY_SSID", "-s", display_ssid,
                    "-f", "BAND", "-s", band,
                    (char *)0);
    status_count(COUNT_STATION_WRITTEN);

    char log[WLAN_LOG_LEN];
    snprintf(log, sizeof log, "WLAN MODULE STA ASSO event, iface:%s, mac:%s", ifi_name, key);
    wlan_log(log);
}

// The key goes only when the station leaves the interface it is recorded
// on; a departure from another interface of this access point is the tail
// of a roam whose newer association owns the record.
void record_disassociation(void *client, char *msg, const char *table, const char *key,
                           const char *ifi_name)
{
    msg[0] = '\0';
    module->gen_cmd(client, msg, "dbctl", "-t", table, "-k", key, "-g", "IFACE", (char *)0);
    msg[MAX_BUF_LEN - 1] = '\0';

    char log[WLAN_LOG_LEN];
    if (strcmp(msg, ifi_name) == 0) {
        snprintf(log, sizeof log, "WLAN MODULE STA DISASSO event,iface:%s, mac:%s", ifi_name, key);
        wlan_log(log);
        module->gen_cmd(client, msg, "dbctl", "-t", table, "-r", key, (char *)0);
        status_count(COUNT_STATION_REMOVED);
        return;
    }
    const char *reason = strcmp(msg, "N/A") == 0 ? "No DB match" : "Intra Roaming";
    status_count(COUNT_ROAM, strcmp(msg, "N/A") != 0);
    snprintf(log, sizeof log, "%s, WLAN MODULE STA DISASSO event, iface:%s, mac:%s", reason,
             ifi_name, key);
    wlan_log(log);
}

void record_authorization(void *client, char *msg, const char *table, const char *key,
                          const oxwlan_sta_info &sta, const char *ifi_name)
{
    int radio_id = 0;
    int wlan_index = 0;
    module->gen_cmd(client, msg, "dbctl", "-t", table, "-i", key, (char *)0);
    wlan_ifname_numbers(ifi_name, &radio_id, &wlan_index);

    char auth[WLAN_NAME_LEN], vid[WLAN_NAME_LEN], security[WLAN_NAME_LEN];
    snprintf(auth, sizeof auth, "%d", sta.authorized);
    snprintf(vid, sizeof vid, "%d", sta.vid);
    station_security(sta, radio_id, wlan_index, security);

    module->gen_cmd(client, msg, "dbctl", "-t", table, "-k", key,
                    "-f", "SECURITY", "-s", security,
                    "-f", "AUTHENTICATION", "-s", auth,
                    "-f", "VID", "-s", vid,
                    (char *)0);
    status_count(COUNT_STATION_WRITTEN);
}

// The address word travels behind the record as its extra data. Only the
// layout this daemon's producers use is accepted: extra data directly behind
// a whole record, at least four bytes of it.
void record_ip_address(void *client, char *msg, const char *table, const char *key,
                       const oxwlan_req_data *req)
{
    if (req->hdr.ext_len == 0)
        return;
    if (req->hdr.len != sizeof(oxwlan_req_data) || req->hdr.ext_len < sizeof(uint32_t)) {
        status_drop(DROP_BAD_ADDRESS);
        printf("sta ip event with a malformed address part, dropped\n");
        return;
    }
    uint32_t addr;
    memcpy(&addr, reinterpret_cast<const unsigned char *>(req) + req->hdr.len, sizeof addr);
    wlan_write_sta_ip(module, client, msg, table, key, addr);
    wlan_publish_sta_ip(req->u.sta.macaddr, addr);
}

bool is_mesh_link(const char *ifi_name)
{
    return strcmp(ifi_name, SLOT1_WDS_AP_NAME) == 0 || strcmp(ifi_name, SLOT2_WDS_AP_NAME) == 0 ||
           strcmp(ifi_name, SLOT3_WDS_AP_NAME) == 0;
}

bool is_provisioning(const char *iface)
{
    return strcmp(iface, SLOT1_PROVISION_AP_NAME) == 0 ||
           strcmp(iface, SLOT2_PROVISION_AP_NAME) == 0 ||
           strcmp(iface, SLOT3_PROVISION_AP_NAME) == 0;
}

}  // namespace

const char *bandId_string(int bandId)
{
    switch (bandId) {
    case BAND_ID_2G:
        return BAND_STR_2G;
    case BAND_ID_5G:
        return BAND_STR_5G;
    case BAND_ID_6G:
        return BAND_STR_6G;
    default:
        return BAND_STR_UNKNOWN;
    }
}

void wlan_write_sta_ip(parser_module *db, void *client, char *msg, const char *table,
                       const char *key, uint32_t addr)
{
    char ip[WLAN_NAME_LEN];
    snprintf(ip, sizeof ip, "%u", addr);
    db->gen_cmd(client, msg, "dbctl", "-t", table, "-k", key, "-f", "STA_IP_ADDR", "-s", ip,
                (char *)0);
    status_count(COUNT_STATION_WRITTEN);
}

void wlan_publish_sta_ip(const uint8_t *mac, uint32_t addr)
{
    sta_module_msg note;
    memset(&note, 0, sizeof note);
    note.op = STA_MODULE_NOTIFY;
    memcpy(note.info.mac, mac, sizeof note.info.mac);
    note.info.ipAddr = addr;
    note.info.type = STA_IP;
    rrm_sta_notify(&note);
}

void wlan_write_vap_macs(parser_module *db, void *client, char *msg)
{
    // The setting may change between events; it is read each time.
    const char *setting = CAPWAP_MODEL_SLOT_NUM;
    const int slots = setting != nullptr ? atoi(setting) : 0;
    if (slots > WLAN_SLOT_MAX) {
        printf("slot count %d out of range, VAP addresses not refreshed\n", slots);
        return;
    }
    char wtp_mac[WLAN_MAC_STR_LEN];
    char table[WLAN_NAME_LEN];
    getWtpMac(wtp_mac);
    snprintf(table, sizeof table, "%s-%s", TABLE_PREFIX, wtp_mac);
    for (int i = 0; i < slots; ++i) {
        char key[WLAN_NAME_LEN];
        snprintf(key, sizeof key, "%s-%d", KEY_PREFIX, i);
        for (int j = 0; j < kVapsPerSlot; ++j) {
            char field[WLAN_NAME_LEN];
            char ifname[16];
            unsigned char mac[6] = {};
            char mac_text[WLAN_MAC_STR_LEN];
            snprintf(field, sizeof field, "VAP_%d_MAC", j);
            snprintf(ifname, sizeof ifname, "wlan-%d-%d", i + 1, j + 1);
            // An interface that cannot be asked reads as the zero address.
            if (capwapUtlGetIfMAC(ifname, mac) != 0)
                memset(mac, 0, sizeof mac);
            mac2str(mac, mac_text);
            db->gen_cmd(client, msg, "dbctl", "-t", table, "-k", key, "-f", field, "-s", mac_text,
                        (char *)0);
        }
    }
}

int sta_event_process(uint32_t process_event, oxwlan_req_data *oxwlan_req, char *ifi_name,
                      char *ssid, int band_id)
{
    char msg[MAX_BUF_LEN];
    char wtp_mac[WLAN_MAC_STR_LEN];
    parser_module *db = wlan_module();
    void *client = db->init_sock(DBCLI_NETLINK_ID);
    if (client == nullptr)
        wlan_fatal_at(WLAN_UNIT, __LINE__);
    msg[0] = '\0';
    getWtpMac(wtp_mac);

    if (process_event == STA_INTERFACE_SSID) {
        wlan_write_vap_macs(db, client, msg);
    } else if (oxwlan_req == nullptr || ifi_name == nullptr) {
        status_drop(DROP_BAD_IFNAME);
        printf("sta event %u without a record or an interface name, dropped\n", process_event);
    } else {
        char table[WLAN_NAME_LEN];
        bool known = true;
        if (is_mesh_link(ifi_name)) {
            snprintf(table, sizeof table, "%s-%s", MESH_STA_STATISTIC_TABLE_PREFIX, wtp_mac);
        } else if (strncmp(ifi_name, "wlan", 4) == 0) {
            snprintf(table, sizeof table, "%s-%s", STA_STATISTIC_TABLE_PREFIX, wtp_mac);
        } else {
            status_drop(DROP_UNKNOWN_IFNAME);
            printf("Skip sta event from %s\n", ifi_name);
            known = false;
        }
        if (known) {
            char key[WLAN_NAME_LEN];
            mac2str(oxwlan_req->u.sta.macaddr, key);
            switch (process_event) {
            case STA_ASSOC:
                record_association(client, msg, table, key, oxwlan_req->u.sta, ifi_name,
                                   ssid != nullptr ? ssid : "", band_id);
                break;
            case STA_DISASSOC:
                record_disassociation(client, msg, table, key, ifi_name);
                break;
            case STA_IP_ADDR:
                record_ip_address(client, msg, table, key, oxwlan_req);
                break;
            case STA_AUTHORIZED:
                record_authorization(client, msg, table, key, oxwlan_req->u.sta, ifi_name);
                break;
            default:
                break;
            }
        }
    }

    db->close_sock(client, DBCLI_HVD_ID);
    return 0;
}

void sta_evt_proc(sta_module_msg *sta_msg, void *privdata)
{
    (void)privdata;
    oxwlan_req_data req;
    memset(&req, 0, sizeof req);
    parser_module *db = wlan_module();
    void *client = db->init_sock(DBCLI_STA_ID);
    if (client == nullptr)
        wlan_fatal_at(WLAN_UNIT, __LINE__);

    // The message is read through a copy; its type is taken as a plain
    // number, since the library may hand any value.
    sta_module_msg m;
    memcpy(&m, sta_msg, sizeof m);
    uint32_t type;
    memcpy(&type,
           reinterpret_cast<const unsigned char *>(sta_msg) + offsetof(sta_module_msg, info) +
               offsetof(rrm_sta_info, type),
           sizeof type);
    const rrm_sta_info &info = m.info;
    status_sta_lib(type);

    char iface[sizeof info.iface + 1];
    bounded_copy(iface, info.iface);

    char msg[MAX_BUF_LEN];
    msg[0] = '\0';
    const char *field = nullptr;
    const char *value = nullptr;
    switch (type) {
    case STA_ASSO:
        if (!is_provisioning(iface)) {
            char ssid[sizeof info.ssid + 1];
            bounded_copy(ssid, info.ssid);
            req.u.sta.vid = static_cast<uint16_t>(info.vid);
            memcpy(req.u.sta.macaddr, info.mac, sizeof req.u.sta.macaddr);
            req.u.sta.authorized = static_cast<uint8_t>(info.authentication);
            memcpy(req.u.sta.security, info.security, sizeof req.u.sta.security);
            req.u.sta.rssi = static_cast<uint8_t>(info.rssi);
            req.u.sta.channel = static_cast<uint8_t>(info.channel);
            sta_event_process(STA_ASSOC, &req, iface, ssid, info.band_id);
        }
        break;
    case STA_DISASSO:
        memcpy(req.u.sta.macaddr, info.mac, sizeof req.u.sta.macaddr);
        sta_event_process(STA_DISASSOC, &req, iface, nullptr, BAND_ID_UNKNOWN);
        break;
    case NETOPEER_ONLINE:
        field = "CC_CONN";
        value = "1";
        break;
    case NETOPEER_OFFLINE:
        field = "CC_CONN";
        value = "0";
        break;
    case NETOPEER_CLAIM:
        field = "operating-status";
        value = "Registered";
        break;
    case NETOPEER_DECLAIM:
        field = "operating-status";
        value = "N/A";
        break;
    default:
        break;
    }
    if (field != nullptr)
        db->gen_cmd(client, msg, "dbctl", "-t", "Velora", "-k", "velora-status", "-f", field, "-s",
                    value, (char *)0);

    db->close_sock(client, DBCLI_HVD_ID);
}
