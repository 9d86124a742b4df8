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

#include <atomic>

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

/* The channel members of ch_stat (and of any record the kernel channel is
 * handed) are shared between the threads without a lock: every access to
 * one is a single relaxed atomic store or load, made through these two. */
template <typename T>
void ch_member_store(T &member, T value)
{
    std::atomic_ref<T>(member).store(value, std::memory_order_relaxed);
}
template <typename T>
T ch_member_load(T &member)
{
    return std::atomic_ref<T>(member).load(std::memory_order_relaxed);
}

/* ---------------------------------------------------------------------------
 * Start-up (wlan.cpp)
 * ------------------------------------------------------------------------- */

/* The daemon's life on the main thread; arg points to the six MAC octets.
 * Returns (null) only when a start-up step fails or the station-event
 * library's dispatch loop returns. */
void *run(int argc, char **argv, char **envp, void *arg);

/* Copies wtp_mac_str, terminator included, into str (at least 32 bytes). */
void getWtpMac(char *str);

/* Ends the process where a database module or client cannot be had after
 * start-up: prints "<unit>:<line>" (unit "wlan" or "wlan_hvd", the source
 * unit of the caller) on standard output and aborts. */
[[noreturn]] void wlan_fatal_at(const char *unit, int line);

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

/* The records that the recorder and the kernel channel's records both write,
 * each on its own database client (db, client; msg is the reply buffer). */
/* A station's address word into STA_IP_ADDR of its key, as "%u". */
void wlan_write_sta_ip(parser_module *db, void *client, char *msg, const char *table,
                       const char *key, uint32_t addr);
/* The same address handed to the station-event library (mac: 6 bytes). */
void wlan_publish_sta_ip(const uint8_t *mac, uint32_t addr);
/* The MAC address of every VAP wlan-<r>-<v> (v 1 to 8) of every radio r of
 * the slot-count setting, read afresh, into field VAP_<v-1>_MAC of key
 * SLOT-<r-1> of the WLAN table; an interface that cannot be asked gets
 * 00:00:00:00:00:00. A count above WLAN_SLOT_MAX writes nothing. */
void wlan_write_vap_macs(parser_module *db, void *client, char *msg);

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

/* ---------------------------------------------------------------------------
 * Interface names (wlan_ifname.cpp)
 *
 * Any name an event brings is recorded as it is: the database takes it as
 * one word of its command, never through a shell. Wherever a name goes onto
 * a shell command line it goes through wlan_ifname_word, the one rule for
 * that, so the tool gets exactly the name as one argument and the line runs
 * nothing else.
 * ------------------------------------------------------------------------- */

/* "<word>-<radio>-<wlan>" to its two numbers, split at every hyphen: 1 after
 * storing both, 0 (storing nothing) for any other form or a name longer than
 * 16 chars. The bus intake and the kernel channel read names this way. */
int getInterfaceIdx(const char *if_name, int *radioIdx, int *wlanIdx);

/* The two numbers of a name as "%*[^-]-%d-%d" scans them (wlan-1-3: 1 and
 * 3); a number the scan does not find is left as it was. The recorder and
 * the mesh link lookup read names this way. */
void wlan_ifname_numbers(const char *ifname, int *radio, int *index);

/* Writes name into out (cap bytes) as one shell word: unchanged when it is
 * one or more characters of [A-Za-z0-9_.-], else between single quotes with
 * each ' written '\''. in_dquotes: the word stands inside a double-quoted
 * text of the line; a quoted word then leaves that text and enters it
 * again around itself. False (out empty) when the word does not fit, and
 * the line must then not be run. */
bool wlan_ifname_word(char *out, size_t cap, const char *name, bool in_dquotes);

#endif
