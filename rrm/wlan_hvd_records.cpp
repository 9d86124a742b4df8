// Records kept from the kernel's WLAN events: a station's IP address and,
// after an SSID change, the MAC addresses of every VAP of every radio. Also
// the wlan_hvd unit's own database client module, which the collection
// thread uses as well; whichever thread needs it first opens it.
#include <pthread.h>
#include <stdio.h>
#include <string.h>

#include <atomic>

#include "platform_utils.h"
#include "wlan.h"
#include "wlan_hvd.h"
#include "wlan_hvd_netlink.h"

#define WLAN_HVD_UNIT "wlan_hvd"

// The wlan_hvd unit's database module: opened on first use by either thread
// through wlan_hvd_module_open, never closed.
parser_module *wlan_hvd_module = nullptr;

namespace {

pthread_mutex_t g_module_lock = PTHREAD_MUTEX_INITIALIZER;

void *open_client(parser_module *db, int line)
{
    void *client = db->init_sock(DBCLI_NETLINK_ID);
    if (client == nullptr)
        wlan_fatal_at(WLAN_HVD_UNIT, line);
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
            wlan_fatal_at(WLAN_HVD_UNIT, __LINE__);
        db = status_count_db_failures(db);
        shared.store(db, std::memory_order_release);
    }
    pthread_mutex_unlock(&g_module_lock);
    return db;
}

int capwapEvtNetlinkStaIp(const oxwlan_event *e)
{
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
    char msg[MAX_BUF_LEN];
    getWtpMac(wtp_mac);
    snprintf(table, sizeof table, "%s-%s", STA_STATISTIC_TABLE_PREFIX, wtp_mac);
    mac2str(req.u.sta.macaddr, key);

    parser_module *db = wlan_hvd_module_open();
    void *client = open_client(db, __LINE__);
    // The address travels as four bytes behind the payload record; it is
    // recorded as the 32-bit number they make in host order.
    uint32_t addr;
    memcpy(&addr, reinterpret_cast<const unsigned char *>(&req) + req.hdr.len, sizeof addr);
    msg[0] = '\0';
    wlan_write_sta_ip(db, client, msg, table, key, addr);
    db->close_sock(client, DBCLI_HVD_ID);

    wlan_publish_sta_ip(req.u.sta.macaddr, addr);
    return 0;
}

void capwapEvtNetlinkInfoSsid(void)
{
    char msg[MAX_BUF_LEN];
    msg[0] = '\0';
    parser_module *db = wlan_hvd_module_open();
    void *client = open_client(db, __LINE__);
    wlan_write_vap_macs(db, client, msg);
    db->close_sock(client, DBCLI_HVD_ID);
}
