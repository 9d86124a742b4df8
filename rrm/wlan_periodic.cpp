// The collection loop. Each pass lists the station table and the mesh
// station table, refreshes every listed station from the driver and writes
// its figures back, announces the stations of the station table that the
// driver lost, then gathers and writes every radio slot.
#include "wlan_periodic.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

extern "C" {
#include <libubox/blobmsg.h>
#include <libubus.h>
}

#include "common_log.h"
#include "hvkit.h"
#include "platform_utils.h"
#include "seam.h"
#include "wlan.h"
#include "wlan_hvd.h"
#include "wlan_hvd_cmd.h"
#include "wlan_hvd_parse.h"

namespace {

constexpr char kUnit[] = "wlan";

// Message buffer of the departure notifications; only the main thread uses
// it (departures are handed to it, see rrm_bus_do). Its storage is kept from
// one notification to the next.
struct blob_buf g_buf;

// Station fields written every pass, in this order.
void write_station(parser_module *db, void *client, char *msg, const char *table, const char *key,
                   const staInfo_t *s)
{
    char channel[WLAN_NAME_LEN], tx_rate[WLAN_NAME_LEN], rx_rate[WLAN_NAME_LEN], rssi[WLAN_NAME_LEN];
    char tx[WLAN_NAME_LEN], rx[WLAN_NAME_LEN], chmode[16], features[16];
    hvd_format(channel, sizeof channel, "%d", s->channel);
    hvd_format(tx_rate, sizeof tx_rate, "%s", s->txRate);
    hvd_format(rx_rate, sizeof rx_rate, "%s", s->rxRate);
    hvd_format(rssi, sizeof rssi, "%d", s->sigRSSI);
    hvd_format(tx, sizeof tx, "%llu", static_cast<unsigned long long>(s->tx));
    hvd_format(rx, sizeof rx, "%llu", static_cast<unsigned long long>(s->rx));
    hvd_format(chmode, sizeof chmode, "%.15s", s->bandcap);
    if (s->dot11Features[0] != '\0')
        hvd_format(features, sizeof features, "11%.13s", s->dot11Features);
    else
        hvd_format(features, sizeof features, "N/A");
    db->gen_cmd(client, msg, "dbctl", "-t", table, "-k", key, "-f", "STA_CHANNEL", "-s", channel, "-f", "TX_RATE",
                "-s", tx_rate, "-f", "RX_RATE", "-s", rx_rate, "-f", "SIG_RSSI", "-s", rssi, "-f", "TX", "-s", tx,
                "-f", "RX", "-s", rx, "-f", "CHMODE", "-s", chmode, "-f", "DOT11_FEATURES", "-s", features,
                (char *)nullptr);
    status_pass_station();
}

// A station of the station table that the driver no longer lists: announce
// it on the bus and log it, as long as its entry names an interface.
void departure(parser_module *db, void *client, char *msg, const char *key, const char *mac_tmp)
{
    msg[0] = '\0';
    db->gen_cmd(client, msg, "dbctl", "-t", table_name_sta, "-k", key, "-g", "IFACE", (char *)nullptr);
    char ifname[17];
    size_t n = strnlen(msg, 16);
    memcpy(ifname, msg, n);
    ifname[n] = '\0';
    if (strcmp(ifname, "N/A") == 0)
        return;

    hvUMAC_event_msg_t rec;
    memset(&rec, 0, sizeof rec);
    memcpy(rec.ifname, ifname, strnlen(ifname, sizeof rec.ifname));
    rec.subtype = 7;
    rec.len = sizeof rec.u.sta_info;
    uint8_t *m = rec.u.sta_info.macaddr;
    sscanf(mac_tmp, "%hhx:%hhx:%hhx:%hhx:%hhx:%hhx%*c", &m[0], &m[1], &m[2], &m[3], &m[4], &m[5]);
    rec.u.sta_info.reason_code = 8;
    memcpy(rec.u.sta_info.event_type, "by rrm", sizeof "by rrm");
    rec.u.sta_info.authorized = 0;
    // Sent by the main thread; the pass goes on once it has been sent.
    rrm_bus_do([](void *r) { ubus_sta_notify(r, UBUS_STA_LEAVE); }, &rec);
    status_count(COUNT_DEPARTURE);

    char log[WLAN_LOG_LEN];
    snprintf(log, sizeof log, "*****NOT exist in driver, kick by rrm.***** mac:%s, iface:%s", mac_tmp, ifname);
    common_log(WLAN_MODULE_DB_LOG, WLAN_MODULE_DB_COUNT, log);
}

// Walks one station table's list reply. The reply is a run of texts, two per
// entry (the key, then "IFACE <name>"); the walk never leaves the reply.
void sweep(parser_module *db, void *client, char *list, char *msg, const char *table, const char *word, int mesh)
{
    list[0] = '\0';
    db->gen_cmd(client, list, "dbctl", "-t", table, "-f", "IFACE", "-l", (char *)nullptr);
    list[WLAN_LIST_BUF_LEN - 1] = '\0';
    const char *end = list + WLAN_LIST_BUF_LEN;

    staInfo_t sta;
    memset(&sta, 0, sizeof sta);
    char *key = hvd_list_first(list, end);
    while (key != nullptr && isMac(key)) {
        char *vap = hvd_list_next(key, end);
        if (vap == nullptr)
            break;
        if (strstr(vap, word) == nullptr) {
            if (mesh)
                break;
            key = vap;
            continue;
        }
        char *blank = strrchr(vap, ' ');
        if (blank == nullptr) {
            // No interface name: nothing to ask the driver about.
            key = hvd_list_next(vap, end);
            continue;
        }
        char mac_tmp[WLAN_MAC_STR_LEN];
        sta.wlan_tmp = blank + 1;
        str2mac(key, sta.macAddr);
        mac2str(sta.macAddr, mac_tmp);

        int listed = retrieve_sta_statistic_stat(mac_tmp, &sta, mesh, sta.wlan_tmp);
        if (!mesh && listed == 0)
            departure(db, client, msg, key, mac_tmp);
        else
            write_station(db, client, msg, table, key, &sta);

        memset(&sta, 0, sizeof sta);
        key = hvd_list_next(vap, end);
    }
}

// Gathers slot i into rec and writes its eighteen fields, the channel ones
// from the event side's record of the slot.
void write_slot(parser_module *db, void *client, char *msg, int i, capwapWlanStatis_t *rec)
{
    char key[WLAN_NAME_LEN];
    hvd_format(key, sizeof key, "%s-%d", KEY_PREFIX, i);
    retrieve_wlan_stat(i, rec);

    long dcs = 0, ext = 0, vht1 = 0, vht2 = 0, width = 0;
    if (ch_stat != nullptr) {
        capwapWlanStatis_t &ch = ch_stat[i];
        dcs = ch_member_load(ch.dcsChann);
        ext = ch_member_load(ch.extOffset);
        vht1 = ch_member_load(ch.vht_ch_freq);
        vht2 = ch_member_load(ch.vht_ch_freq2);
        width = ch_member_load(ch.ch_width);
    }
    char v[18][WLAN_NAME_LEN];
    auto as_int = [](uint32_t x) { return static_cast<int>(x); };
    hvd_format(v[0], sizeof v[0], "%d", static_cast<int>(rec->activate));
    hvd_format(v[1], sizeof v[1], "%d", as_int(rec->txFrameCnt));
    hvd_format(v[2], sizeof v[2], "%d", as_int(rec->rxFrameCnt));
    hvd_format(v[3], sizeof v[3], "%d", as_int(rec->txBytesPerSec));
    hvd_format(v[4], sizeof v[4], "%d", as_int(rec->rxBytesPerSec));
    hvd_format(v[5], sizeof v[5], "%d", as_int(rec->rx_err_rate));
    hvd_format(v[6], sizeof v[6], "%d", as_int(rec->tx_err_rate));
    hvd_format(v[7], sizeof v[7], "%llu", static_cast<unsigned long long>(rec->txBytes));
    hvd_format(v[8], sizeof v[8], "%llu", static_cast<unsigned long long>(rec->rxBytes));
    hvd_format(v[9], sizeof v[9], "%d", as_int(rec->txPower));
    hvd_format(v[10], sizeof v[10], "%d", as_int(rec->fcsErrCnt));
    hvd_format(v[11], sizeof v[11], "%d", as_int(rec->retryCnt));
    hvd_format(v[12], sizeof v[12], "%d", static_cast<int>(dcs));
    hvd_format(v[13], sizeof v[13], "%d", static_cast<int>(ext));
    hvd_format(v[14], sizeof v[14], "%d", static_cast<int>(vht1));
    hvd_format(v[15], sizeof v[15], "%d", static_cast<int>(vht2));
    hvd_format(v[16], sizeof v[16], "%d", as_int(rec->chUtil));
    hvd_format(v[17], sizeof v[17], "%d", as_int(static_cast<uint32_t>(width)));
    db->gen_cmd(client, msg, "dbctl", "-t", table_name, "-k", key, "-f", "ACTIVATE", "-s", v[0], "-f",
                "TX_FRAME_CNT", "-s", v[1], "-f", "RX_FRAME_CNT", "-s", v[2], "-f", "TX_BYTE_PER_SEC", "-s", v[3],
                "-f", "RX_BYTE_PER_SEC", "-s", v[4], "-f", "RX_ERR_RATE", "-s", v[5], "-f", "TX_ERR_RATE", "-s",
                v[6], "-f", "TX_FRAME_BYTES", "-s", v[7], "-f", "RX_FRAME_BYTES", "-s", v[8], "-f", "TX_POWER",
                "-s", v[9], "-f", "FCS_ERR_CNT", "-s", v[10], "-f", "RETRY_CNT", "-s", v[11], "-f", "DCS_CHANNEL",
                "-s", v[12], "-f", "EXT_OFFSET", "-s", v[13], "-f", "VHT_CH_FREQ", "-s", v[14], "-f",
                "VHT_CH_FREQ2", "-s", v[15], "-f", "CH_UTIL", "-s", v[16], "-f", "CH_WIDTH", "-s", v[17],
                (char *)nullptr);
}

}  // namespace

extern "C" int ubus_sta_notify(const void *buf, const char *ubus_type)
{
    char log[WLAN_LOG_LEN];
    memset(log, 0, sizeof log);
    struct ubus_context *ctx = ubus_connect(rrm_seam.bus_path);
    if (ctx == nullptr) {
        snprintf(log, sizeof log, "Unable to connect to ubus.");
        common_log(WLAN_MODULE_DB_LOG, WLAN_MODULE_DB_COUNT, log);
        abort();
    }
    blob_buf_init(&g_buf, 0);
    blobmsg_add_field(&g_buf, BLOBMSG_TYPE_UNSPEC, ubus_type, buf, sizeof(hvUMAC_event_msg_t));
    ubus_send_event(ctx, ubus_type, g_buf.head);
    ubus_free(ctx);
    return 0;
}

extern "C" void system_sleep(void)
{
    // A cloud-managed access point and a locally managed one pause alike.
    int mode = hvkit_wlan_get_hybridmode();
    rrm_sleep(mode != 0 ? COLLECT_CLOUD_MODE_INTERVAL : COLLECT_NORMAL_INTERVAL);
}

extern "C" void wlan_collect_pass(void)
{
    // Each station-independent command runs at most once in the pass.
    HvdPassScope keep;
    status_pass_begin();
    char *list = static_cast<char *>(malloc(WLAN_LIST_BUF_LEN));
    const int slots = slot_num > 0 ? slot_num : 0;
    capwapWlanStatis_t *stat =
        static_cast<capwapWlanStatis_t *>(calloc(slots > 0 ? static_cast<size_t>(slots) : 1, sizeof *stat));

    parser_module *db = module;
    if (db == nullptr)
        db = module = parser_open("dbcmd");
    void *client = db != nullptr ? db->init_sock(0) : nullptr;
    if (client == nullptr)
        wlan_fatal_at(kUnit, __LINE__);
    if (list != nullptr && stat != nullptr) {
        char msg[MAX_BUF_LEN];
        sweep(db, client, list, msg, table_name_sta, "wlan", 0);
        sweep(db, client, list, msg, mesh_table_name, "wds", 1);
        for (int i = 0; i < slots; ++i)
            write_slot(db, client, msg, i, &stat[i]);
    }
    free(list);
    db->close_sock(client, 0);
    free(stat);
    status_pass_end();
}

extern "C" void *periodic_func(void *arg)
{
    (void)arg;
    for (;;) {
        wlan_collect_pass();
        system_sleep();
    }
    return nullptr;
}
