// Records kept from the kernel's WLAN events: a station's IP address and,
// after an SSID change, the MAC addresses of every VAP of every radio. Also
// the wlan_hvd unit's own database client module, which the collection
// thread uses as well; whichever thread needs it first opens it.
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <atomic>

#include "conf_init.h"
#include "platform_utils.h"
#include "wlan.h"
#include "wlan_hvd.h"
#include "wlan_hvd_netlink.h"

#define WLAN_HVD_UNIT "wlan_hvd"

// The wlan_hvd unit's database module: opened on first use by either thread
// through wlan_hvd_module_open, never closed.
parser_module *wlan_hvd_module = nullptr;

namespace {

constexpr int kVapsPerRadio = 8;

// A database module or client that cannot be had ends the process: nothing
// can be recorded without one.
[[noreturn]] void fatal_at(const char *unit, int line)
{
    printf("%s:%d\n", unit, line);
    fflush(stdout);
    abort();
}

pthread_mutex_t g_module_lock = PTHREAD_MUTEX_INITIALIZER;

void *open_client(parser_module *db, int line)
{
    void *client = db->init_sock(DBCLI_NETLINK_ID);
    if (client == nullptr)
        fatal_at(WLAN_HVD_UNIT, line);
    return client;
}

}  // namespace

parser_module *wlan_hvd_module_open(void)
{
    std::atomic_ref<parser_module *> shared(wlan_hvd_module);
    parser_module *db = shared.load(std::memory_order_acquire);
    if (db != nullptr)
        return db;
    pthread_mutex_lock(&g_module_lock);
    db = shared.load(std::memory_order_relaxed);
    if (db == nullptr) {
        db = parser_open("dbcmd");
        if (db == nullptr)
            fatal_at(WLAN_HVD_UNIT, __LINE__);
        db = status_count_db_failures(db);
        shared.store(db, std::memory_order_release);
    }
    pthread_mutex_unlock(&g_module_lock);
    return db;
}

int capwapEvtNetlinkStaIp(const oxwlan_event *e)
{
    sta_module_msg sta_msg;
    memset(&sta_msg, 0, sizeof sta_msg);

    const oxwlan_req_data &req = e->data;
    if (req.hdr.ext_len == 0)
        return 0;
    if (req.hdr.ext_len < sizeof(uint32_t)) {
        WLAN_MODULE_DEBUG("station IP event with %u bytes of address, dropped\n",
                          static_cast<unsigned>(req.hdr.ext_len));
        return 0;
    }

    char wtp_mac[WLAN_MAC_STR_LEN];
    char table[WLAN_NAME_LEN];
    char key[WLAN_MAC_STR_LEN];
    char value[WLAN_NAME_LEN];
    char msg[MAX_BUF_LEN];

    getWtpMac(wtp_mac);
    snprintf(table, sizeof table, "%s-%s", STA_STATISTIC_TABLE_PREFIX, wtp_mac);
    mac2str(req.u.sta.macaddr, key);
    memcpy(sta_msg.info.mac, req.u.sta.macaddr, sizeof sta_msg.info.mac);

    parser_module *db = wlan_hvd_module_open();
    void *client = open_client(db, __LINE__);

    // The address travels as four bytes behind the payload record; it is
    // recorded as the 32-bit number they make in host order.
    uint32_t addr;
    memcpy(&addr, reinterpret_cast<const unsigned char *>(&req) + req.hdr.len, sizeof addr);
    snprintf(value, sizeof value, "%u", addr);

    msg[0] = '\0';
    db->gen_cmd(client, msg, "dbctl", "-t", table, "-k", key, "-f", "STA_IP_ADDR", "-s", value,
                (char *)0);
    status_count(COUNT_STATION_WRITTEN);
    db->close_sock(client, DBCLI_HVD_ID);

    sta_msg.info.ipAddr = addr;
    sta_msg.info.type = STA_IP;
    rrm_sta_notify(&sta_msg);
    return 0;
}

void capwapEvtNetlinkInfoSsid(void)
{
    // The setting may change between events; it is read each time.
    const char *setting = CAPWAP_MODEL_SLOT_NUM;
    int slots = setting != nullptr ? atoi(setting) : 0;
    if (slots > WLAN_SLOT_MAX) {
        printf("slot count %d out of range, VAP addresses not refreshed\n", slots);
        slots = 0;
    }

    char wtp_mac[WLAN_MAC_STR_LEN];
    char table[WLAN_NAME_LEN];
    char key[WLAN_NAME_LEN];
    char field[WLAN_NAME_LEN];
    char ifname[WLAN_NAME_LEN];
    char mac_text[WLAN_MAC_STR_LEN];
    char msg[MAX_BUF_LEN];

    getWtpMac(wtp_mac);
    snprintf(table, sizeof table, "%s-%s", TABLE_PREFIX, wtp_mac);

    parser_module *db = wlan_hvd_module_open();
    void *client = open_client(db, __LINE__);

    for (int radio = 1; radio <= slots; ++radio) {
        snprintf(key, sizeof key, "%s-%d", KEY_PREFIX, radio - 1);
        for (int vap = 1; vap <= kVapsPerRadio; ++vap) {
            snprintf(field, sizeof field, "VAP_%d_MAC", vap - 1);
            snprintf(ifname, sizeof ifname, "wlan-%d-%d", radio, vap);
            // A VAP that does not exist reads as the all-zero address.
            unsigned char mac[6] = {0, 0, 0, 0, 0, 0};
            capwapUtlGetIfMAC(ifname, mac);
            mac2str(mac, mac_text);
            msg[0] = '\0';
            db->gen_cmd(client, msg, "dbctl", "-t", table, "-k", key, "-f", field, "-s", mac_text,
                        (char *)0);
        }
    }
    db->close_sock(client, DBCLI_HVD_ID);
}
