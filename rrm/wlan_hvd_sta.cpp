// Per-station statistics: the driver's station listing, the address the
// device shell knows when the events did not bring one, and, once per
// association, the station's SSID and security profiles.
#include <arpa/inet.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "conf_init.h"
#include "hvkit.h"
#include "seam.h"
#include "wlan.h"
#include "wlan_hvd.h"
#include "wlan_hvd_cmd.h"
#include "wlan_hvd_netlink.h"
#include "wlan_hvd_parse.h"

namespace {

constexpr char kUnit[] = "wlan_hvd";
constexpr char kVapList[] = "/lib/wifi/get_active_vap_list";

void trace_station(const staInfo_t *e)
{
    const uint8_t *m = e->macAddr;
    WLAN_MODULE_DEBUG("STA[%02x:%02x:%02x:%02x:%02x:%02x] Channel:%d,RSSI:%d,TxRate:%s,rxRate:%s,Tx:%llu,Rx:%llu\n",
                      m[0], m[1], m[2], m[3], m[4], m[5], e->channel, e->sigRSSI, e->txRate, e->rxRate,
                      static_cast<unsigned long long>(e->tx), static_cast<unsigned long long>(e->rx));
}

void trace_bandcap(const staInfo_t *e)
{
    const uint8_t *m = e->macAddr;
    WLAN_MODULE_DEBUG("STA[%02x:%02x:%02x:%02x:%02x:%02x] bandcap:%s\n", m[0], m[1], m[2], m[3], m[4], m[5],
                      e->bandcap);
}

// Looks mac_str up in the driver listing of ifname (run once per pass, see
// HvdPassScope); part_cap is the size of the listing command's buffer. The
// name stands on the line as one shell word, whatever it holds. A listing
// that may not be run (no tool setting, or a line too long) counts as one
// that could not be started. Returns 1 found, 0 not, -1 not started.
int lookup_listing(size_t part_cap, const char *ifname, const char *mac_str, staInfo_t *entry)
{
    char word[kHvdWordMax];
    char cmd[kHvdNamedLineMax];
    if (!hvd_tool_ok(DOT11_ATH_WLANCONFIG) || !wlan_ifname_word(word, sizeof word, ifname, false) ||
        !hvd_format_named(cmd, sizeof cmd, part_cap, ifname, word, "%s %s list sta limited 2>/dev/null",
                          DOT11_ATH_WLANCONFIG, word)) {
        WLAN_MODULE_DEBUG("[OPEN] %s: %s\n", "station listing", "refused");
        errno = EINVAL;
        return -1;
    }
    int found = hvd_sta_listing_lookup(cmd, mac_str, entry);
    if (found < 0)
        WLAN_MODULE_DEBUG("[OPEN] %s: %s\n", cmd, strerror(errno));
    return found;
}

bool is_known_security(const char *s)
{
    static const char *const kKnown[] = {"WPA-Personal", "WPA2-PSK", "WPA3-Personal", "Enhanced-open", "NONE", "Open"};
    for (const char *k : kKnown) {
        if (strcmp(s, k) == 0)
            return true;
    }
    return false;
}

void copy_text(char *dst, size_t cap, const char *src)
{
    size_t n = strnlen(src, cap - 1);
    memcpy(dst, src, n);
    dst[n] = '\0';
}

}  // namespace

int snr2rssi(int snr) { return snr - 95; }

void getHvMeshStaRunTimeInfo(char *mac_str, staInfo_t *entry)
{
    if (entry->wlan_tmp == nullptr)
        return;
    if (lookup_listing(64, entry->wlan_tmp, mac_str, entry) == 1)
        trace_station(entry);
}

int getstationinfo(char *mac_str, staInfo_t *entry)
{
    char cmd[256];
    if (entry->wlan_tmp != nullptr) {
        int found = lookup_listing(sizeof cmd, entry->wlan_tmp, mac_str, entry);
        if (found < 0)
            return 0;
        if (found == 1) {
            trace_station(entry);
            trace_bandcap(entry);
            return 1;
        }
    }

    hvd_format(cmd, sizeof cmd, "%s 2>/dev/null", kVapList);
    std::string storage;
    const std::string *vaps = hvd_cmd_output(cmd, storage);
    if (vaps == nullptr) {
        WLAN_MODULE_DEBUG("[OPEN] %s: %s\n", cmd, strerror(errno));
        return 0;
    }
    HvdText list(*vaps);
    int found = 0;
    char vap[64];
    while (!found && list.gets(vap, sizeof vap) != nullptr) {
        vap[strcspn(vap, "\n")] = '\0';
        if (strncmp(vap, "wlan", 4) != 0)
            continue;
        WLAN_MODULE_DEBUG("Scan interface [%s]\n", vap);
        int listed = lookup_listing(sizeof cmd, vap, mac_str, entry);
        if (listed < 0)
            return 0;
        if (listed == 1) {
            entry->sigRSSI = snr2rssi(entry->sigRSSI);
            trace_station(entry);
            trace_bandcap(entry);
            found = 1;
        }
    }
    return found;
}

uint32_t walkaround_get_sta_ip(char *mac_str)
{
    char cmd[256];
    if (!hvd_mac_ok(mac_str) ||
        !hvd_format(cmd, sizeof cmd,
                    "hvsh -p 100 -e \"show wireless-hal station info\" | grep -i \"%s\" -A 3 \t\t\t| grep IPv4 | "
                    "cut -d ':' -f 2 | sed -e 's/^[[:space:]]*//' |  awk 1 ORS=''",
                    mac_str)) {
        WLAN_MODULE_DEBUG("[OPEN] %s: %s\n", "station address lookup", "refused");
        return 0;
    }
    FILE *f = rrm_cmd_open(cmd, "r");
    if (f == nullptr)
        return 0;
    char text[50] = "";
    if (fgets(text, sizeof text, f) == nullptr)
        text[0] = '\0';
    rrm_cmd_close(f);
    struct in_addr addr;
    if (inet_pton(AF_INET, text, &addr) != 1)
        return 0;
    return addr.s_addr;
}

void getWdsConfig(char *iface, staInfo_t *entry)
{
    wlan_ifname_numbers(iface, &entry->radioId, &entry->wlanIndex);
    WLAN_MODULE_DEBUG("radioId=%d wlanIndex=%d\r\n", entry->radioId, entry->wlanIndex);
    char cmd[100];
    if (!hvd_tool_ok(HVSH_CLI_BIN) ||
        !hvd_format(cmd, sizeof cmd, "%s -p 110 -e \"configure terminal show wds slot%d detail\"", HVSH_CLI_BIN,
                    entry->radioId)) {
        WLAN_MODULE_DEBUG("[OPEN] %s: %s , errno %d\n", "mesh link detail", "refused", EINVAL);
        return;
    }
    std::string storage;
    const std::string *out = hvd_cmd_output(cmd, storage);
    if (out == nullptr) {
        int e = errno;
        WLAN_MODULE_DEBUG("[OPEN] %s: %s , errno %d\n", cmd, strerror(e), e);
        return;
    }
    HvdText f(*out);
    char line[255];
    int lines = 0;
    while (f.gets(line, sizeof line) != nullptr) {
        ++lines;
        bool parse_error = false;
        hvd_apply_wds_line(line, entry, &parse_error);
        if (parse_error)
            WLAN_MODULE_DEBUG("Excute cmd : %s , error!!\n\r", cmd);
    }
    if (lines == 0)
        WLAN_MODULE_DEBUG("Excute cmd : %s , error!!\n\r", cmd);
}

void getWlanConfig(char *iface, staInfo_t *entry)
{
    if (iface != nullptr)
        sscanf(iface, "wlan-%d-%d", &entry->radioId, &entry->wlanIndex);
    // The name stands inside the shell's double-quoted command text.
    char word[kHvdWordMax];
    char cmd[kHvdNamedLineMax];
    if (iface == nullptr || !hvd_tool_ok(HVSH_CLI_BIN) || !wlan_ifname_word(word, sizeof word, iface, true) ||
        !hvd_format_named(cmd, sizeof cmd, 100, iface, word, "%s -p 110 -e \"show %s config\"", HVSH_CLI_BIN,
                          word)) {
        WLAN_MODULE_DEBUG("[OPEN] %s: %s , errno %d\n", "VAP configuration", "refused", EINVAL);
        return;
    }
    std::string storage;
    const std::string *out = hvd_cmd_output(cmd, storage);
    if (out == nullptr) {
        int e = errno;
        WLAN_MODULE_DEBUG("[OPEN] %s: %s , errno %d\n", cmd, strerror(e), e);
        return;
    }
    HvdText f(*out);
    char line[255];
    int lines = 0;
    while (f.gets(line, sizeof line) != nullptr) {
        ++lines;
        bool parse_error = false;
        hvd_apply_wlan_line(line, entry, &parse_error);
        if (parse_error)
            WLAN_MODULE_DEBUG("Excute cmd : %s , error!!\n\r", cmd);
    }
    if (lines == 0)
        WLAN_MODULE_DEBUG("Excute cmd : %s , error!!\n\r", cmd);
}

int retrieve_sta_statistic_stat(char *mac_str, staInfo_t *entry, int mesh, char *iface)
{
    // Opened by whichever thread needs it first (the kernel channel may run
    // on the main thread), under one lock.
    parser_module *db = wlan_hvd_module_open();
    void *client = db->init_sock(DBCLI_HVD_ID);
    if (client == nullptr)
        wlan_fatal_at(kUnit, __LINE__);

    char msg[MAX_BUF_LEN];
    char wtp_mac[WLAN_MAC_STR_LEN];
    char table[WLAN_NAME_LEN];
    getWtpMac(wtp_mac);
    int result = 0;
    if (mesh == 1) {
        hvd_format(table, sizeof table, "%s-%s", MESH_STA_STATISTIC_TABLE_PREFIX, wtp_mac);
        getHvMeshStaRunTimeInfo(mac_str, entry);
    } else {
        hvd_format(table, sizeof table, "%s-%s", STA_STATISTIC_TABLE_PREFIX, wtp_mac);
        if (!getstationinfo(mac_str, entry)) {
            db->close_sock(client, DBCLI_HVD_ID);
            return 0;
        }
    }

    // Address fallback while the events have not brought one.
    msg[0] = '\0';
    db->gen_cmd(client, msg, "dbctl", "-t", table, "-k", mac_str, "-g", "STA_IP_ADDR", (char *)nullptr);
    msg[sizeof msg - 1] = '\0';
    if (strncmp(msg, "N/A", 3) == 0 || strcmp(msg, "0") == 0) {
        char addr[WLAN_NAME_LEN];
        hvd_format(addr, sizeof addr, "%d", static_cast<int>(walkaround_get_sta_ip(mac_str)));
        db->gen_cmd(client, msg, "dbctl", "-t", table, "-k", mac_str, "-f", "STA_IP_ADDR", "-s", addr,
                    (char *)nullptr);
    }

    result = 1;
    msg[0] = '\0';
    db->gen_cmd(client, msg, "dbctl", "-t", table, "-k", mac_str, "-g", "STA_ASSO_FLAG", (char *)nullptr);
    msg[sizeof msg - 1] = '\0';
    if (atoi(msg) == 1) {
        if (mesh == 1) {
            if (hvkit_wlan_get_hybridmode() == 3)
                getWdsConfig(iface, entry);
        } else {
            getWlanConfig(iface, entry);
        }

        msg[0] = '\0';
        db->gen_cmd(client, msg, "dbctl", "-t", table, "-k", mac_str, "-g", "SECURITY", (char *)nullptr);
        msg[sizeof msg - 1] = '\0';
        if (is_known_security(msg)) {
            copy_text(entry->security, sizeof entry->security, msg);
            if (strcmp(entry->security, "NONE") == 0)
                copy_text(entry->security, sizeof entry->security, "Open");
            if (strcmp(entry->security, "WPA3-Personal") == 0)
                resolveWpa3Security(entry->radioId, entry->wlanIndex, entry->security);
        }

        if (entry->ssid[0] != '\0' && entry->security[0] != '\0' && entry->ssidProfileName[0] != '\0' &&
            entry->secProfileName[0] != '\0') {
            char security[WLAN_NAME_LEN], ssid_profile[WLAN_NAME_LEN], sec_profile[WLAN_NAME_LEN];
            hvd_format(security, sizeof security, "%s", entry->security);
            hvd_format(ssid_profile, sizeof ssid_profile, "%s", entry->ssidProfileName);
            hvd_format(sec_profile, sizeof sec_profile, "%s", entry->secProfileName);
            db->gen_cmd(client, msg, "dbctl", "-t", table, "-k", mac_str, "-f", "SECURITY", "-s", security, "-f",
                        "SSID_PROFILE_NAME", "-s", ssid_profile, "-f", "SEC_PROFILE_NAME", "-s", sec_profile, "-f",
                        "STA_ASSO_FLAG", "-s", "0", (char *)nullptr);
        } else {
            db->gen_cmd(client, msg, "dbctl", "-t", table, "-k", mac_str, "-f", "SECURITY", "-s", "N/A", "-f",
                        "SSID_PROFILE_NAME", "-s", "N/A", "-f", "SEC_PROFILE_NAME", "-s", "N/A", (char *)nullptr);
        }
    }

    db->close_sock(client, DBCLI_HVD_ID);
    return result;
}
