/*
 * Station-event library: the records exchanged with the station-event
 * service, the subscription record, and the four calls.
 *
 * The records are in the platform's native layout (AArch64, little-endian);
 * the layout is fixed and checked below. Plain C, usable from C and C++.
 */
#ifndef RRM_STA_H
#define RRM_STA_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Message types; also the index of a subscription entry. */
enum reg_type {
    STA_ASSO = 0,
    STA_DISASSO = 1,
    STA_IP = 2,
    NETOPEER_ONLINE = 3,
    NETOPEER_OFFLINE = 4,
    NETOPEER_CLAIM = 5,
    NETOPEER_DECLAIM = 6,
    STA_REG_TYPE_MAX = 7
};

enum hapd_sta_status {
    HAPD_STA_NULLFUNC = 0,
    HAPD_STA_ASSOC = 1,
    HAPD_STA_DISASSOC = 2,
    HAPD_STA_AUTH = 3,
    HAPD_STA_DEAUTH = 4,
    HAPD_STA_NEW = 5,
    HAPD_STA_DELETE = 6
};

enum sta_module_op {
    STA_MODULE_NOTIFY = 0,
    STA_MODULE_REG = 1
};

/* One station's data, 268 bytes. Texts are NUL-terminated within their
 * arrays; ipAddr is in network byte order. */
typedef struct rrm_sta_info {
    uint8_t mac[6];
    char iface[17];
    char ssid[33];
    uint32_t ipAddr;
    int32_t vid;
    int32_t reason_code;
    int32_t authentication;
    enum hapd_sta_status status;
    enum reg_type type;
    char event_type[64];
    int32_t auth_alg;
    int32_t reassoc;
    uint8_t reassoc_ap[6];
    char security[32];
    char display_ssid[64];
    /* 2 bytes of padding */
    int32_t band_id;
    int32_t rssi;
    int32_t channel;
} rrm_sta_info;

/* One message to or from the service, 272 bytes. */
typedef struct sta_module_msg {
    enum sta_module_op op;
    union {
        rrm_sta_info info;
        enum reg_type type;
    };
} sta_module_msg;

/* Notification callback: the message (valid during the call only) and the
 * library's private pointer (the subscription record). */
typedef void (*proc_func)(sta_module_msg *msg, void *priv);
/* Connection callback: a short state text and a status figure. */
typedef void (*con_func)(const char *state, int status);

struct sta_reg_entry {
    proc_func sub_cb; /* null: the type is not subscribed */
};

/* The subscription record: owned by the caller, alive as long as the
 * dispatch loop runs. */
typedef struct sub_info {
    char mac_str[32];
    struct sta_reg_entry reg_type[STA_REG_TYPE_MAX];
    con_func con_cb;
    con_func dis_con_cb;
    void *event_base; /* the library's loop */
    void *ev;         /* a watcher the caller arms with event_set/event_add */
} sub_info_t;

/* Prepares a zero-filled record: makes the loop current and points ev at a
 * watcher record of the caller's. 0 on success, -1 on failure. */
int sub_info_init(sub_info_t *info);

/* Subscribes the types whose sub_cb is set and runs the loop, reconnecting to
 * the service while it is away. Returns only if the loop cannot go on (-1). */
int subscribe_dispatch(sub_info_t *info);

/* Checks the publishing channel (null: the default one) and starts it on
 * first use. 0 when it is up, -1 when a message cannot be sent now. */
int sta_lib_check_ch(void *channel);

/* Publishes one message to the other subscribers of msg->info.type without
 * waiting for it to be delivered. 0 when queued, -1 when dropped (a log line
 * tells why). */
int sta_lib_notify(sta_module_msg *msg);

#ifdef __cplusplus
}
#endif

/* Layout checks: the records travel as raw bytes between processes. */
#ifdef __cplusplus
#include <cstddef>
#include <type_traits>
static_assert(sizeof(rrm_sta_info) == 268, "rrm_sta_info size");
static_assert(offsetof(rrm_sta_info, mac) == 0, "mac");
static_assert(offsetof(rrm_sta_info, iface) == 6, "iface");
static_assert(offsetof(rrm_sta_info, ssid) == 23, "ssid");
static_assert(offsetof(rrm_sta_info, ipAddr) == 56, "ipAddr");
static_assert(offsetof(rrm_sta_info, vid) == 60, "vid");
static_assert(offsetof(rrm_sta_info, reason_code) == 64, "reason_code");
static_assert(offsetof(rrm_sta_info, authentication) == 68, "authentication");
static_assert(offsetof(rrm_sta_info, status) == 72, "status");
static_assert(offsetof(rrm_sta_info, type) == 76, "type");
static_assert(offsetof(rrm_sta_info, event_type) == 80, "event_type");
static_assert(offsetof(rrm_sta_info, auth_alg) == 144, "auth_alg");
static_assert(offsetof(rrm_sta_info, reassoc) == 148, "reassoc");
static_assert(offsetof(rrm_sta_info, reassoc_ap) == 152, "reassoc_ap");
static_assert(offsetof(rrm_sta_info, security) == 158, "security");
static_assert(offsetof(rrm_sta_info, display_ssid) == 190, "display_ssid");
static_assert(offsetof(rrm_sta_info, band_id) == 256, "band_id");
static_assert(offsetof(rrm_sta_info, rssi) == 260, "rssi");
static_assert(offsetof(rrm_sta_info, channel) == 264, "channel");
static_assert(sizeof(enum hapd_sta_status) == 4 && sizeof(enum reg_type) == 4 &&
                  sizeof(enum sta_module_op) == 4,
              "32-bit enums");
static_assert(sizeof(sta_module_msg) == 272, "sta_module_msg size");
static_assert(offsetof(sta_module_msg, op) == 0, "op");
static_assert(offsetof(sta_module_msg, info) == 4, "info");
static_assert(offsetof(sta_module_msg, type) == 4, "type");
static_assert(std::is_trivially_copyable<rrm_sta_info>::value, "rrm_sta_info copyable");
static_assert(std::is_trivially_copyable<sta_module_msg>::value, "sta_module_msg copyable");
#else
#include <stddef.h>
_Static_assert(sizeof(rrm_sta_info) == 268, "rrm_sta_info size");
_Static_assert(offsetof(rrm_sta_info, ipAddr) == 56, "ipAddr");
_Static_assert(offsetof(rrm_sta_info, display_ssid) == 190, "display_ssid");
_Static_assert(offsetof(rrm_sta_info, band_id) == 256, "band_id");
_Static_assert(sizeof(sta_module_msg) == 272, "sta_module_msg size");
#endif

#endif
