/*
 * The wlan_hvd unit: what the daemon reads from the radio driver, the device
 * shell and the operating system (radio statistics, per-station statistics),
 * and the developer trace file that these readers write to.
 *
 * Tracing: WLAN_MODULE_DEBUG writes one entry to /tmp/wlan_module.txt while
 * the flag file /tmp/wlan_module_debug exists; `touch` the flag to turn
 * tracing on and remove it to turn it off, without restarting the daemon.
 * The trace file is started afresh once it has reached 100 KiB.
 */
#ifndef RRM_WLAN_HVD_H
#define RRM_WLAN_HVD_H

#include <netinet/in.h>
#include <stddef.h>
#include <stdint.h>
#include <time.h>
#include <unistd.h>

#include "capwap_wlan_statis.h"
#include "parser_module.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---------------------------------------------------------------------------
 * Debug trace file
 * ------------------------------------------------------------------------- */

#define DBG_FILE_NAME "/tmp/wlan_module.txt"
#define DBG_FILE_FLAG "/tmp/wlan_module_debug"
#define DBG_FILE_SIZE (100 * 1024)

/* The trace file and its flag file. They point at DBG_FILE_NAME and
 * DBG_FILE_FLAG; tests point them elsewhere. */
extern const char *wlan_debug_file_name;
extern const char *wlan_debug_flag_name;

/* Writes one entry, "[<ctime without its newline>]" followed by the
 * formatted text, under an exclusive lock on the trace file. Restarts the
 * file with a banner once it holds DBG_FILE_SIZE bytes or more. */
void debug_log_to_file(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

/* 1: creates the flag file ("touch"); anything else removes it ("rm"). */
void wlanModuleSetDebugFlag(int flag);

/* Traces with the calling function's name and line in front of the text,
 * only while the flag file exists; otherwise the arguments are not
 * evaluated. */
#define WLAN_MODULE_DEBUG(fmt, ...)                                                        \
    do {                                                                                   \
        if (access(wlan_debug_flag_name, F_OK) == 0)                                       \
            debug_log_to_file("wlan_module: %s:%d : " fmt, __func__, __LINE__, ##__VA_ARGS__); \
    } while (0)

/* ---------------------------------------------------------------------------
 * Per-station statistics
 * ------------------------------------------------------------------------- */

#define STAINFO_UPDATE (1U << 0)

typedef struct staInfo_s {
    uint32_t flags;
    uint32_t timeStamp;
    int32_t needUpdate;
    uint8_t macAddr[6];        /* set by the caller */
    struct in_addr ipAddr;
    int32_t wlanIndex;         /* from the profile lookups */
    int32_t vid;
    int32_t radioId;           /* from the profile lookups */
    uint8_t wlanIfName[17];
    time_t assoTime;
    int32_t disassoReasonCode;
    char *wlan_tmp;            /* the station's recorded interface (caller's) */
    int32_t ssidProfileId;
    int32_t secProfileId;
    char ssidProfileName[42];
    char ssid[34];
    char secProfileName[42];
    char security[42];
    int32_t sigRSSI;
    char txRate[11];
    char rxRate[11];
    int32_t authentication;
    int32_t channel;
    uint64_t tx;
    uint64_t rx;
    char event_type[64];
    char bandcap[17];
    char dot11Features[16];    /* without its leading "11" */
    int32_t auth_alg;
    int32_t reassoc;
    uint8_t reassoc_ap[6];
    char display_ssid[64];
    uint32_t retryRate;
    uint32_t alertCount;
    uint32_t actionThreshold;
    uint32_t recoveryThreshold;
    char bandStr[8];
} staInfo_t;

/* The wlan_hvd unit's own database client module, opened on first use. */
extern parser_module *wlan_hvd_module;

/* Refreshes one station from the driver (and, once per association, its
 * profiles from the shell). mesh: 1 for the mesh station table. Returns 0
 * when a station of the station table is not listed by the driver, else 1. */
int retrieve_sta_statistic_stat(char *mac_str, staInfo_t *entry, int mesh, char *iface);

/* The driver listing of entry->wlan_tmp, for a mesh station. */
void getHvMeshStaRunTimeInfo(char *mac_str, staInfo_t *entry);

/* The driver listing of entry->wlan_tmp, then of every active "wlan" VAP;
 * 1 when the station was found, else 0. */
int getstationinfo(char *mac_str, staInfo_t *entry);

/* The signal of the all-VAP scan, as the listing's value minus 95. */
int snr2rssi(int snr);

/* The station's IPv4 address from the device shell, in network byte order,
 * or 0. */
uint32_t walkaround_get_sta_ip(char *mac_str);

/* Mesh link and VAP profiles from the device shell. */
void getWdsConfig(char *iface, staInfo_t *entry);
void getWlanConfig(char *iface, staInfo_t *entry);

/* ---------------------------------------------------------------------------
 * Radio statistics
 * ------------------------------------------------------------------------- */

/* The driver's MAC statistics record. */
typedef struct dot11_mib_mac_count {
    uint32_t dot11TransmittedFragmentCount;
    uint32_t dot11MulticastTransmittedFrameCount;
    uint32_t dot11FailedCount;
    uint32_t dot11RetryCount;
    uint32_t dot11MultipleRetryCount;
    uint32_t dot11FrameDuplicateCount;
    uint32_t dot11RTSSuccessCount;
    uint32_t dot11RTSFailureCount;
    uint32_t dot11ACKFailureCount;
    uint32_t dot11ReceivedFragmentCount;
    uint32_t dot11MulticastReceivedFrameCount;
    uint32_t dot11FCSErrorCount;
    uint32_t dot11TransmittedFrameCount;
    uint32_t dot11WEPUndecryptableCount;
    uint32_t dot11QosDiscardedFragmentCount;
    uint32_t dot11AssociatedStationCount;
    uint32_t dot11QosCFPollsReceivedCount;
    uint32_t dot11QosCFPollsUnusedCount;
    uint32_t dot11QosCFPollsUnusableCount;
} dot11_mib_mac_count;

/* The driver's private request for that record (SIOCIWFIRSTPRIV + 31). */
#define ATH_IOCTL_GETMACMIB 0x8BFF

/* Fills the record of slot radioId (0-based) from its four sources. The
 * summed members must be zero on entry. */
void retrieve_wlan_stat(int radioId, capwapWlanStatis_t *ptr);

int capwapWlanGetDriverTxPower(int radioId, capwapWlanStatis_t *ptr);
int capwapWlanGetDriverCounter(int radioId, capwapWlanStatis_t *ptr);
int capwapWlanGetDriverStatistic(int radioId, capwapWlanStatis_t *ptr);
int capwapWlanGetDriverChUtil(int radioId, capwapWlanStatis_t *ptr);

#ifdef __cplusplus
}

#include <type_traits>

static_assert(std::is_trivially_copyable_v<staInfo_t>);
static_assert(std::is_trivially_copyable_v<dot11_mib_mac_count>);
static_assert(sizeof(dot11_mib_mac_count) == 76);
static_assert(offsetof(dot11_mib_mac_count, dot11RetryCount) == 12);
static_assert(offsetof(dot11_mib_mac_count, dot11FCSErrorCount) == 44);
static_assert(offsetof(dot11_mib_mac_count, dot11TransmittedFrameCount) == 48);
static_assert(offsetof(dot11_mib_mac_count, dot11QosCFPollsUnusableCount) == 72);
static_assert(ATH_IOCTL_GETMACMIB == 35839);
#endif

#endif
