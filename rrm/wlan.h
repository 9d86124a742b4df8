/*
 * The wlan unit: start-up, bus intake, station-library callback and the
 * station event recorder, plus the process-wide names they share with the
 * collection thread.
 *
 * Everything declared here as a variable is written once by the main thread
 * during start-up, before the collection thread exists, and is read-only
 * afterwards; the one exception is the channel members of ch_stat, which the
 * main thread updates on channel events with single-member atomic stores.
 */
#ifndef RRM_WLAN_H
#define RRM_WLAN_H

#include <stddef.h>
#include <stdint.h>

#include "capwap_wlan_statis.h"
#include "rrm_common.h"
#include "parser_module.h"
#include "sta.h"
#include "wlan_event.h"
#include "wlan_status.h"

/* ---------------------------------------------------------------------------
 * Names and sizes
 * ------------------------------------------------------------------------- */

#define SLOT1_WDS_AP_NAME "wds-1-9"
#define SLOT2_WDS_AP_NAME "wds-2-9"
#define SLOT3_WDS_AP_NAME "wds-3-9"
#define SLOT1_PROVISION_AP_NAME "pap-1-11"
#define SLOT2_PROVISION_AP_NAME "pap-2-11"
#define SLOT3_PROVISION_AP_NAME "pap-3-11"

#define WLAN_NAME_LEN 64     /* table names, keys, field values */
#define WLAN_MAC_STR_LEN 32  /* MAC texts */
#define WLAN_LOG_LEN 256     /* common-log lines */
#define DISPLAY_SSID_LEN 64

/* Interface names stored in the database and later put on shell command
 * lines: at most this many characters of [A-Za-z0-9_.-]. */
#define WLAN_IFNAME_MAX 15

/* Slot counts above this do not fit the interface-name buffers. */
#define WLAN_SLOT_MAX 99

/* ---------------------------------------------------------------------------
 * Station event recorder codes and bands
 * ------------------------------------------------------------------------- */

enum {
    STA_ASSOC = 1,
    STA_DISASSOC = 2,
    STA_IP_ADDR = 3,
    STA_INTERFACE_SSID = 4,
    STA_AUTHORIZED = 5,
};

enum {
    BAND_ID_UNKNOWN = -1,
    BAND_ID_2G = 0,
    BAND_ID_5G = 1,
    BAND_ID_6G = 2,
};

#define BAND_STR_2G "2.4GHz"
#define BAND_STR_5G "5GHz"
#define BAND_STR_6G "6GHz"
#define BAND_STR_UNKNOWN "N/A"

/* ---------------------------------------------------------------------------
 * Process-wide state made at start-up
 * ------------------------------------------------------------------------- */

extern char wtp_mac_str[WLAN_MAC_STR_LEN]; /* read through getWtpMac */
extern int slot_num;
extern char table_name[WLAN_NAME_LEN];      /* "WLAN-<mac>" */
extern char table_name_sta[WLAN_NAME_LEN];  /* "STA_STATISTIC-<mac>" */
extern char mesh_table_name[WLAN_NAME_LEN]; /* "MESH_STA_STATISTIC-<mac>" */
extern parser_module *module;               /* this unit's database client module */
extern capwapWlanStatis_t *ch_stat;         /* slot_num records, slot index 0 first */

/* ---------------------------------------------------------------------------
 * Start-up (wlan.cpp)
 * ------------------------------------------------------------------------- */

/* The daemon's life on the main thread; arg points to the six MAC octets.
 * Returns (null) only when a start-up step fails or the station-event
 * library's dispatch loop returns. */
void *run(int argc, char **argv, char **envp, void *arg);

/* Copies wtp_mac_str, terminator included, into str (at least 32 bytes). */
void getWtpMac(char *str);

/* Station-event library connection callbacks. */
void connect_proc(const char *state, int status);
void disconnect_proc(const char *state, int status);

/* Allocates n ch_stat records, zero-filled with hvUmacBandId -1; null when
 * n is negative, above WLAN_SLOT_MAX or memory runs out. */
capwapWlanStatis_t *init_ch_stat(int n);

/* Publishes one message to the station-event library's other subscribers. */
void rrm_sta_notify(sta_module_msg *sta_msg);

/* ---------------------------------------------------------------------------
 * Station event recorder (wlan_sta.cpp)
 * ------------------------------------------------------------------------- */

int sta_event_process(uint32_t process_event, oxwlan_req_data *oxwlan_req, char *ifi_name,
                      char *ssid, int band_id);
const char *bandId_string(int bandId);

/* Station-event library callback, registered for every type but STA_IP. */
void sta_evt_proc(sta_module_msg *sta_msg, void *privdata);

/* ---------------------------------------------------------------------------
 * Security mode lookup (wlan_security.cpp)
 * ------------------------------------------------------------------------- */

/* security holds exactly "WPA3-Personal"; becomes "WPA2-PSK" when the WLAN
 * configuration of radio/wlan_index says the VAP's profile mode is "wpa2".
 * The buffer must hold at least 9 bytes. */
void resolveWpa3Security(int radio, int wlan_index, char *security);

/* ---------------------------------------------------------------------------
 * Bus intake (wlan_ubus.cpp; the bus-typed parts are in wlan_ubus.h)
 * ------------------------------------------------------------------------- */

/* Connects to the bus and arms the subscription record's watcher on its
 * socket; 0, or -1 when no connection could be made. */
int ubus_evt_attach(void *sub_info);

/* Runs fn(arg) on the main thread, the only one that enters the bus
 * library, and returns once it has run: at once when called on the main
 * thread or before the bus is attached, else handed over through the main
 * thread's loop. */
void rrm_bus_do(void (*fn)(void *), void *arg);

/* "<word>-<radio>-<wlan>" to its two numbers: 1 after storing both, 0
 * (storing nothing) for any other form or a name longer than 16 chars. */
int getInterfaceIdx(const char *if_name, int *radioIdx, int *wlanIdx);

/* True when name is 1 to WLAN_IFNAME_MAX characters of [A-Za-z0-9_.-], the
 * first not "-",
 * terminated within cap bytes: safe to store and to put on a command line. */
bool wlan_ifname_is_safe(const char *name, size_t cap);

#endif
