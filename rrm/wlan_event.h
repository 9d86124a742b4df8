/*
 * Station and interface event records.
 *
 * Events reach the daemon in two shapes: the wifi manager's 640-byte
 * hvUMAC_event_msg_t, carried as the payload of a blobmsg attribute on the
 * bus, and the kernel's oxwlan_event envelope on netlink. The station event
 * recorder takes one shape only, oxwlan_req_data, the record the kernel
 * envelope carries; oxwlan_event_convert copies what an event type needs from
 * a wifi-manager record into one.
 *
 * All three records are exchanged with other programs, so their layout is
 * fixed: every size and offset below is checked at compile time. Multi-byte
 * fields are in host byte order. Received bytes are always copied into an
 * aligned local of these types, never cast in place.
 */
#ifndef RRM_WLAN_EVENT_H
#define RRM_WLAN_EVENT_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
#include <type_traits>
extern "C" {
#endif

/* ---------------------------------------------------------------------------
 * Normalised event payload
 * ------------------------------------------------------------------------- */

typedef struct oxwlan_req_hdr {
    uint16_t len;     /* length of the record proper; extra data starts here */
    uint16_t ext_len; /* length of the extra data behind the record, 0 if none */
} oxwlan_req_hdr;

typedef struct oxwlan_sta_info {
    uint16_t vid;
    uint8_t macaddr[6];
    uint8_t isBTMSupported : 1;
    uint8_t isRRMSupported : 1;
    uint8_t : 6;
    uint8_t rssi;
    uint8_t authorized;
    uint8_t is_reassoc;
    uint8_t auth_alg;
    uint8_t ssid[32];
    uint16_t event_code;
    uint16_t reason_code;
    char event_type[64];
    uint8_t reassoc_ap[6];
    char security[32];
    uint64_t tx_bytes;
    uint64_t rx_bytes;
    uint8_t channel;
} oxwlan_sta_info;

typedef struct oxwlan_chann_info {
    uint32_t freq;
    uint8_t ieee;
    uint8_t reason;
    int8_t cw_extoffset;
    uint8_t vht_ch_freq;
    uint8_t vht_ch_freq2;
    uint32_t cac_timeout;
} oxwlan_chann_info;

typedef struct oxwlan_ssid_info {
    uint32_t len;
    uint8_t name[32];
} oxwlan_ssid_info;

typedef struct oxwlan_sec_mode {
    uint32_t len;
    uint8_t name[32];
    uint32_t is_hv1x;
} oxwlan_sec_mode;

typedef struct oxwlan_op_mode {
    uint16_t opmode;
    uint16_t flags;
} oxwlan_op_mode;

typedef struct oxwlan_uplink_status {
    uint16_t status;
    uint8_t macaddr[6];
    char ifi_name[16];
} oxwlan_uplink_status;

typedef struct oxwlan_vap_info {
    uint8_t macaddr[6];
} oxwlan_vap_info;

typedef struct oxwlan_reboot_info {
    uint8_t reason[64];
} oxwlan_reboot_info;

typedef struct oxwlan_setup_radio {
    uint8_t radio_num;
} oxwlan_setup_radio;

typedef struct oxwlan_client_info {
    uint16_t cap;
    uint8_t macaddr[6];
    uint8_t rssi;
} oxwlan_client_info;

typedef struct oxwlan_dfs_enhance_info {
    uint8_t dfs_action;
} oxwlan_dfs_enhance_info;

typedef struct oxwlan_sta_activity_change_ind {
    uint8_t macaddr[6];
    uint8_t activity;
} oxwlan_sta_activity_change_ind;

typedef struct oxwlan_rrm_report_ind {
    uint32_t rrm_type;
    uint8_t dialog_token;
    uint8_t macaddr[6];
    uint8_t measrpt_mode;
} oxwlan_rrm_report_ind;

typedef struct oxwlan_wnm_event_ind {
    uint32_t wnm_type;
    uint8_t dialog_token;
    uint8_t status;
    uint8_t reject_code;
    uint8_t termination_delay;
    uint8_t target_bssid[6];
    uint8_t macaddr[6];
} oxwlan_wnm_event_ind;

typedef struct oxwlan_neighbor_req_ind {
    uint8_t macaddr[6];
    uint8_t dialogtoken;
    uint8_t ssid[32];
    uint8_t ssid_len;
} oxwlan_neighbor_req_ind;

typedef struct oxwlan_dfs_event_info {
    uint32_t nchan;
    uint8_t channel[16];
} oxwlan_dfs_event_info;

typedef struct oxwlan_smesh_event_ind {
    uint8_t rt_type;
    uint8_t bssid[6];
    uint8_t channel;
    uint8_t ifname[16];
} oxwlan_smesh_event_ind;

typedef struct oxwlan_nss_accel_ind {
    uint32_t vlan_id;
} oxwlan_nss_accel_ind;

typedef struct oxwlan_mesh_dvlan_ind {
    uint8_t type;
    uint32_t vlan_id;
    uint8_t macaddr[6];
    uint8_t ifname[16];
} oxwlan_mesh_dvlan_ind;

typedef struct oxwlan_dhcp_info {
    uint8_t macaddr[6];
    uint8_t status;
    uint8_t reason;
    char hostname[64];
    uint8_t hostname_len;
    uint32_t ip;
    uint8_t type;
    uint32_t server_ip;
    uint32_t gateway_ip;
    uint32_t latency;
} oxwlan_dhcp_info;

typedef struct oxwlan_dns_info {
    uint8_t macaddr[6];
    uint8_t status;
    uint32_t server_ip;
    uint32_t latency;
} oxwlan_dns_info;

typedef struct oxwlan_req_data {
    oxwlan_req_hdr hdr;
    union {
        oxwlan_sta_info sta;
        oxwlan_chann_info chann;
        oxwlan_ssid_info ssid;
        oxwlan_sec_mode sec_mode;
        oxwlan_op_mode wlan_mode;
        oxwlan_uplink_status uplink_status;
        oxwlan_vap_info vap_info;
        oxwlan_reboot_info reboot_info;
        oxwlan_setup_radio radio_info;
        oxwlan_client_info client;
        oxwlan_dfs_enhance_info dfs_enhance;
        oxwlan_sta_activity_change_ind sta_activity_change;
        oxwlan_rrm_report_ind rrm_report;
        oxwlan_wnm_event_ind wnm_event;
        oxwlan_neighbor_req_ind neighbor_req;
        oxwlan_dfs_event_info dfs_event;
        oxwlan_smesh_event_ind smesh_event;
        oxwlan_nss_accel_ind nss_accel_info;
        oxwlan_mesh_dvlan_ind mesh_dvlan;
        oxwlan_dhcp_info dhcp_info;
        oxwlan_dns_info dns_info;
    } u;
} oxwlan_req_data;

/* ---------------------------------------------------------------------------
 * Kernel envelope and its event codes
 * ------------------------------------------------------------------------- */

typedef struct oxwlan_event_hdr {
    uint16_t len; /* set by the kernel, not read here */
    uint16_t cmd; /* family in the high byte, event in the low byte */
} oxwlan_event_hdr;

typedef struct oxwlan_event {
    oxwlan_event_hdr hdr;
    oxwlan_req_data data; /* followed by data.hdr.ext_len bytes of extra data */
} oxwlan_event;

#define GET_TYPE(cmd) ((cmd) & 0xFF00)
#define GET_SUBTYPE(cmd) ((cmd) & 0x00FF)

/* One enumeration for families and events alike, so that a code can be
 * formed as family | event. */
enum {
    OXWE_MSG = 0x8000,
    OXWE_INFO = 0x8100,
    OXWE_UTIL = 0x8200,
    OXWE_OFFLOAD_EVENT = 0x8300,
    OXWE_MEASUREMENT = 0x8400,
    OXWE_MONITOR = 0x8500,
    OXWE_BSTM = 0x8600,
    OXWE_EVENT_DFS = 0x8700,
    OXWE_SMESH = 0x8800,
    OXWE_MESH = 0x8900,
    OXWE_MSG_ASSOC = 1,
    OXWE_MSG_DIASSOC = 2,
    OXWE_MSG_DEAUTH = 3,
    OXWE_MSG_UPLINK_CONNECTED = 4,
    OXWE_MSG_UPLINK_DISCONNECTED = 5,
    OXWE_MSG_AUTHORIZED = 6,
    OXWE_MSG_DHCP_SNIFFER = 7,
    OXWE_MSG_PRE_DISASSOC = 8,
    OXWE_MSG_DHCP = 9,
    OXWE_MSG_DNS = 0x0a,
    OXWE_INFO_STAIP = 1,
    OXWE_INFO_CHANNEL = 2,
    OXWE_INFO_SSID = 3,
    OXWE_INFO_SECURITY = 4,
    OXWE_INFO_ROLE = 5,
    OXWE_INFO_DEL = 6,
    OXWE_INFO_VAP = 7,
    OXWE_UTIL_RESET = 1,
    OXWE_UTIL_REBOOT = 2,
    OXWE_UTIL_BB_PANIC = 4,
    OXWE_UTIL_SETUP_RADIO = 5,
    OXWE_UTIL_DFS_ENHANCE = 6,
    OXWE_UTIL_SETUP_RADIO_STOP_VAP_FAIL = 7,
    OXWE_UTIL_DENY_NSS_ACCEL = 8,
    OXWE_OFFLOAD_EVENT_BMISS_TIMEOUT = 1,
    OXWE_OFFLOAD_EVENT_BMISS_DETECT = 2,
    OXWE_OFFLOAD_EVENT_PN_CHECK_FAILED = 3,
    OXWE_OFFLOAD_EVENT_DFS_CHECK = 4,
    OXWE_MEASUREMENT_BCNRPT = 1,
    OXWE_MEASUREMENT_NEIGHBOR_REQ = 2,
    OXWE_MEASUREMENT_STA_ACTIVITY_CHANGE_IND = 3,
    OXWE_MONITOR_PROBE = 1,
    OXWE_BSTM_RESP = 1,
    OXWE_EVENT_DFS_CAC_EXPIRED = 1,
    OXWE_EVENT_DFS_RADAR_DETECT = 2,
    OXWE_EVENT_DFS_NOL_EXPIRED = 3,
    OXWE_SMESH_INFO = 1,
    OXWE_SMESH_WBS_FOUND = 2,
    OXWE_MESH_DVLAN_BR = 1,
    OXWE_MESH_DVLAN_ECC = 2,
};

/* ---------------------------------------------------------------------------
 * Wifi manager record
 * ------------------------------------------------------------------------- */

typedef struct hvUMAC_nl_station_info {
    uint16_t vid;
    uint8_t macaddr[6];
    uint8_t isBTMSupported : 1;
    uint8_t isRRMSupported : 1;
    uint8_t : 6;
    uint8_t rssi;
    uint8_t authorized;
    uint8_t is_reassoc;
    uint8_t auth_alg;
    uint8_t ssid[32];
    uint16_t event_code;
    uint16_t reason_code;
    char event_type[64];
    uint8_t reassoc_ap[6];
    char security[32];
    uint64_t tx_bytes;
    uint64_t rx_bytes;
    uint32_t ipaddr; /* the station's IPv4 address as four bytes */
    uint8_t activity;
    uint8_t num_of_supp_class;
    uint8_t supp_class[64];
} hvUMAC_nl_station_info_t;

typedef struct hvUMAC_nl_interface_info {
    uint8_t status;
    uint8_t macaddr[6];
    char cause[64];
    uint8_t channel;
    int8_t cw_extoffset;
    uint8_t vht_ch_freq;
    uint8_t vht_ch_freq2;
    uint8_t ssid_len;
    uint8_t ssid[32];
    uint8_t security_len;
    uint8_t security[32];
    uint8_t wlan_role;
    uint8_t is_hv1x;
    int8_t band_id;
    uint16_t ch_width;
} hvUMAC_nl_interface_info_t;

typedef struct hvUMAC_nl_dhcp_sniffer {
    uint8_t macaddr[6];
    uint32_t skb_len;
    uint8_t skb[600];
} hvUMAC_nl_dhcp_sniffer_t;

/* Members this daemon never reads, kept at their sizes so the union has the
 * wifi manager's layout. */
typedef struct { uint8_t raw[10]; } hvUMAC_nl_client_info_t;
typedef struct { uint8_t raw[14]; } hvUMAC_nl_bstm_resp_t;
typedef struct { uint8_t raw[548]; } hvUMAC_nl_hvlog_t;
typedef struct { uint8_t raw[51]; } hvUMAC_nl_beacon_report_t;
typedef struct { uint8_t raw[40]; } hvUMAC_nl_neighbor_req_t;
typedef struct { uint8_t raw[24]; } hvUMAC_nl_smesh_event_ind_t;
typedef struct { uint8_t raw[1]; } hvUMAC_nl_radio_info_t;
typedef struct { uint8_t raw[4]; } hvUMAC_nl_nss_accel_info_t;
typedef struct { uint8_t raw[96]; } hvUMAC_nl_reboot_info_t;
typedef struct { uint8_t raw[32]; } hvUMAC_nl_mesh_dvlan_info_t;
typedef struct { uint8_t raw[96]; } hvUMAC_nl_dhcp_info_t;
typedef struct { uint8_t raw[16]; } hvUMAC_nl_dns_info_t;

typedef struct hvUMAC_event_msg {
    char ifname[16]; /* not necessarily terminated inside its 16 bytes */
    uint16_t subtype;
    uint16_t len;
    union {
        hvUMAC_nl_station_info_t sta_info;
        hvUMAC_nl_interface_info_t vap_info;
        hvUMAC_nl_client_info_t client;
        hvUMAC_nl_dhcp_sniffer_t dhcp_sniffer;
        hvUMAC_nl_bstm_resp_t bstm_resp;
        hvUMAC_nl_hvlog_t hvlog;
        hvUMAC_nl_beacon_report_t beacon_report;
        hvUMAC_nl_neighbor_req_t neighbor_req;
        hvUMAC_nl_smesh_event_ind_t smesh_event_ind;
        hvUMAC_nl_radio_info_t radio_info;
        hvUMAC_nl_nss_accel_info_t nss_accel_info;
        hvUMAC_nl_reboot_info_t reboot_info;
        hvUMAC_nl_mesh_dvlan_info_t mesh_dvlan_info;
        hvUMAC_nl_dhcp_info_t dhcp_info;
        hvUMAC_nl_dns_info_t dns_info;
    } u;
} hvUMAC_event_msg_t;

/* ---------------------------------------------------------------------------
 * Wifi manager event names: the index constants of the policy table
 * (wifimgr_notify_policy, declared in wlan_ubus.h) and the names themselves.
 * ------------------------------------------------------------------------- */

enum {
    STAINFO_JOIN_CMD = 0,
    STAINFO_LEAVE_CMD,
    STAINFO_AUTHORIZED_CMD,
    STAINFO_DHCP_SNIFFER_CMD,
    STAINFO_UPLINK_CONNECTED_CMD,
    STAINFO_UPLINK_DISCONNECTED_CMD,
    STAINFO_IP_CMD,
    STAINFO_ACTIVITY_CHANGE_IND_CMD,
    STAINFO_DHCP_CMD,
    STAINFO_DNS_CMD,
    INTERFACE_CHANNEL_CMD,
    INTERFACE_SSID_CMD,
    INTERFACE_SECURITY_CMD,
    INTERFACE_ROLE_CMD,
    INTERFACE_VAP_DELETE_CMD,
    INTERFACE_VAP_CREATE_CMD,
    COMMON_BCNRPT_CMD,
    COMMON_NEIGHBOR_REQ_CMD,
    COMMON_MONITOR_PROBE_CMD,
    COMMON_BSTM_RESP_CMD,
    COMMON_DFS_CAC_EXPIRED_CMD,
    COMMON_DFS_RADAR_DETECT_CMD,
    COMMON_DFS_NOL_TIMEOUT_CMD,
    COMMON_SMESH_INFO_CMD,
    COMMON_SMESH_WBS_FOUND_CMD,
    WIFIMGR_DEBUG_CMD,
    INTERFACE_SETUP_RADIO_CMD,
    UTILITY_DENY_NSS_ACCEL_CMD,
    UTILITY_RESET_CMD,
    UTILITY_REBOOT_CMD,
    UTILITY_BB_PANIC_CMD,
    MESH_DYNAMIC_VLAN_CMD,
    __UBUS_NOTIFY_MAX
};

#define UBUS_STA_JOIN "sta_join"
#define UBUS_STA_LEAVE "sta_leave"
#define UBUS_STA_AUTHORIZED "sta_authorized"
#define UBUS_STA_DHCP_SNIFFER "dhcp_sniffer"
#define UBUS_STA_UPLINK_CONNECTED "hvmesh_connected"
#define UBUS_STA_UPLINK_DISCONNECTED "hvmesh_disconnected"
#define UBUS_STA_IP "sta_ip"
#define UBUS_STA_ACTIVITY_CHANGE_IND "sta_act_change"
#define UBUS_STA_DHCP "sta_dhcp"
#define UBUS_STA_DNS "sta_dns"
#define UBUS_IF_CHANNEL "channel_changed"
#define UBUS_IF_SSID "ssid"
#define UBUS_IF_SECURITY "security"
#define UBUS_IF_ROLE "wlan_mode"
#define UBUS_IF_VAP_DELETE "vap_delete"
#define UBUS_IF_VAP_CREATE "vap_create"
#define UBUS_COM_BCNRPT "bcn_report"
#define UBUS_COM_NEIGHBOR_REQ "neighbor_req"
#define UBUS_COM_MONITOR_PROBE "probe_mon"
#define UBUS_COM_BSTM_RESP "bstm_resp"
#define UBUS_COM_DFS_CAC_EXPIRED "dfs_cac_expired"
#define UBUS_COM_DFS_RADAR_DETECT "dfs_radar_detect"
#define UBUS_COM_DFS_NOL_TIMEOUT "dfs_nol_timeout"
#define UBUS_COM_SMESH_INFO "smesh_info"
#define UBUS_COM_SMESH_WBS_FOUND "smesh_wds_found"
#define UBUS_WIFIMGR_DEBUG "wifimgr_dbg"
#define UBUS_IF_SETUP_RADIO "setup_radio"
#define UBUS_UTILITY_DENY_NSS_ACCEL "deny_nss_accel"
#define UBUS_UTILITY_RESET "reset_to_default"
#define UBUS_UTILITY_REBOOT "reboot"
#define UBUS_UTILITY_BB_PANIC "BB_panic"
#define UBUS_MESH_DYNAMIC_VLAN "mesh_dvlan"

/* Copies what event type ubus_event_type (an index of the policy table)
 * needs from hvUMAC_event into oxwlan_req; every other byte of oxwlan_req,
 * the header included, stays as the caller set it. Always 0. */
int oxwlan_event_convert(const hvUMAC_event_msg_t *hvUMAC_event, int ubus_event_type,
                         oxwlan_req_data *oxwlan_req);

#ifdef __cplusplus
}

/* ---------------------------------------------------------------------------
 * Layout checks
 * ------------------------------------------------------------------------- */

#define RRM_LAYOUT(T, m, off) static_assert(offsetof(T, m) == (off), #T "." #m " offset")

static_assert(std::is_trivially_copyable_v<oxwlan_req_data>);
static_assert(std::is_trivially_copyable_v<oxwlan_event>);
static_assert(std::is_trivially_copyable_v<hvUMAC_event_msg_t>);

static_assert(sizeof(oxwlan_req_hdr) == 4);
static_assert(sizeof(oxwlan_req_data) == 184);
RRM_LAYOUT(oxwlan_req_data, hdr.len, 0);
RRM_LAYOUT(oxwlan_req_data, hdr.ext_len, 2);
RRM_LAYOUT(oxwlan_req_data, u, 8);

static_assert(sizeof(oxwlan_sta_info) == 176);
RRM_LAYOUT(oxwlan_sta_info, vid, 0);
RRM_LAYOUT(oxwlan_sta_info, macaddr, 2);
RRM_LAYOUT(oxwlan_sta_info, rssi, 9); /* the flag byte is byte 8 */
RRM_LAYOUT(oxwlan_sta_info, authorized, 10);
RRM_LAYOUT(oxwlan_sta_info, is_reassoc, 11);
RRM_LAYOUT(oxwlan_sta_info, auth_alg, 12);
RRM_LAYOUT(oxwlan_sta_info, ssid, 13);
RRM_LAYOUT(oxwlan_sta_info, event_code, 46);
RRM_LAYOUT(oxwlan_sta_info, reason_code, 48);
RRM_LAYOUT(oxwlan_sta_info, event_type, 50);
RRM_LAYOUT(oxwlan_sta_info, reassoc_ap, 114);
RRM_LAYOUT(oxwlan_sta_info, security, 120);
RRM_LAYOUT(oxwlan_sta_info, tx_bytes, 152);
RRM_LAYOUT(oxwlan_sta_info, rx_bytes, 160);
RRM_LAYOUT(oxwlan_sta_info, channel, 168);

static_assert(sizeof(oxwlan_chann_info) == 16);
RRM_LAYOUT(oxwlan_chann_info, freq, 0);
RRM_LAYOUT(oxwlan_chann_info, ieee, 4);
RRM_LAYOUT(oxwlan_chann_info, reason, 5);
RRM_LAYOUT(oxwlan_chann_info, cw_extoffset, 6);
RRM_LAYOUT(oxwlan_chann_info, vht_ch_freq, 7);
RRM_LAYOUT(oxwlan_chann_info, vht_ch_freq2, 8);
RRM_LAYOUT(oxwlan_chann_info, cac_timeout, 12);

static_assert(sizeof(oxwlan_ssid_info) == 36);
RRM_LAYOUT(oxwlan_ssid_info, len, 0);
RRM_LAYOUT(oxwlan_ssid_info, name, 4);

static_assert(sizeof(oxwlan_sec_mode) == 40);
RRM_LAYOUT(oxwlan_sec_mode, len, 0);
RRM_LAYOUT(oxwlan_sec_mode, name, 4);
RRM_LAYOUT(oxwlan_sec_mode, is_hv1x, 36);

static_assert(sizeof(oxwlan_op_mode) == 4);
RRM_LAYOUT(oxwlan_op_mode, opmode, 0);
RRM_LAYOUT(oxwlan_op_mode, flags, 2);

static_assert(sizeof(oxwlan_uplink_status) == 24);
RRM_LAYOUT(oxwlan_uplink_status, status, 0);
RRM_LAYOUT(oxwlan_uplink_status, macaddr, 2);
RRM_LAYOUT(oxwlan_uplink_status, ifi_name, 8);

static_assert(sizeof(oxwlan_vap_info) == 6);
static_assert(sizeof(oxwlan_reboot_info) == 64);
static_assert(sizeof(oxwlan_setup_radio) == 1);

static_assert(sizeof(oxwlan_client_info) == 10);
RRM_LAYOUT(oxwlan_client_info, cap, 0);
RRM_LAYOUT(oxwlan_client_info, macaddr, 2);
RRM_LAYOUT(oxwlan_client_info, rssi, 8);

static_assert(sizeof(oxwlan_dfs_enhance_info) == 1);

static_assert(sizeof(oxwlan_sta_activity_change_ind) == 7);
RRM_LAYOUT(oxwlan_sta_activity_change_ind, activity, 6);

static_assert(sizeof(oxwlan_rrm_report_ind) == 12);
RRM_LAYOUT(oxwlan_rrm_report_ind, rrm_type, 0);
RRM_LAYOUT(oxwlan_rrm_report_ind, dialog_token, 4);
RRM_LAYOUT(oxwlan_rrm_report_ind, macaddr, 5);
RRM_LAYOUT(oxwlan_rrm_report_ind, measrpt_mode, 11);

static_assert(sizeof(oxwlan_wnm_event_ind) == 20);
RRM_LAYOUT(oxwlan_wnm_event_ind, wnm_type, 0);
RRM_LAYOUT(oxwlan_wnm_event_ind, dialog_token, 4);
RRM_LAYOUT(oxwlan_wnm_event_ind, status, 5);
RRM_LAYOUT(oxwlan_wnm_event_ind, reject_code, 6);
RRM_LAYOUT(oxwlan_wnm_event_ind, termination_delay, 7);
RRM_LAYOUT(oxwlan_wnm_event_ind, target_bssid, 8);
RRM_LAYOUT(oxwlan_wnm_event_ind, macaddr, 14);

static_assert(sizeof(oxwlan_neighbor_req_ind) == 40);
RRM_LAYOUT(oxwlan_neighbor_req_ind, macaddr, 0);
RRM_LAYOUT(oxwlan_neighbor_req_ind, dialogtoken, 6);
RRM_LAYOUT(oxwlan_neighbor_req_ind, ssid, 7);
RRM_LAYOUT(oxwlan_neighbor_req_ind, ssid_len, 39);

static_assert(sizeof(oxwlan_dfs_event_info) == 20);
RRM_LAYOUT(oxwlan_dfs_event_info, nchan, 0);
RRM_LAYOUT(oxwlan_dfs_event_info, channel, 4);

static_assert(sizeof(oxwlan_smesh_event_ind) == 24);
RRM_LAYOUT(oxwlan_smesh_event_ind, rt_type, 0);
RRM_LAYOUT(oxwlan_smesh_event_ind, bssid, 1);
RRM_LAYOUT(oxwlan_smesh_event_ind, channel, 7);
RRM_LAYOUT(oxwlan_smesh_event_ind, ifname, 8);

static_assert(sizeof(oxwlan_nss_accel_ind) == 4);

static_assert(sizeof(oxwlan_mesh_dvlan_ind) == 32);
RRM_LAYOUT(oxwlan_mesh_dvlan_ind, type, 0);
RRM_LAYOUT(oxwlan_mesh_dvlan_ind, vlan_id, 4);
RRM_LAYOUT(oxwlan_mesh_dvlan_ind, macaddr, 8);
RRM_LAYOUT(oxwlan_mesh_dvlan_ind, ifname, 14);

static_assert(sizeof(oxwlan_dhcp_info) == 96);
RRM_LAYOUT(oxwlan_dhcp_info, macaddr, 0);
RRM_LAYOUT(oxwlan_dhcp_info, status, 6);
RRM_LAYOUT(oxwlan_dhcp_info, reason, 7);
RRM_LAYOUT(oxwlan_dhcp_info, hostname, 8);
RRM_LAYOUT(oxwlan_dhcp_info, hostname_len, 72);
RRM_LAYOUT(oxwlan_dhcp_info, ip, 76);
RRM_LAYOUT(oxwlan_dhcp_info, type, 80);
RRM_LAYOUT(oxwlan_dhcp_info, server_ip, 84);
RRM_LAYOUT(oxwlan_dhcp_info, gateway_ip, 88);
RRM_LAYOUT(oxwlan_dhcp_info, latency, 92);

static_assert(sizeof(oxwlan_dns_info) == 16);
RRM_LAYOUT(oxwlan_dns_info, macaddr, 0);
RRM_LAYOUT(oxwlan_dns_info, status, 6);
RRM_LAYOUT(oxwlan_dns_info, server_ip, 8);
RRM_LAYOUT(oxwlan_dns_info, latency, 12);

static_assert(sizeof(oxwlan_event_hdr) == 4);
static_assert(sizeof(oxwlan_event) == 192);
RRM_LAYOUT(oxwlan_event, hdr.len, 0);
RRM_LAYOUT(oxwlan_event, hdr.cmd, 2);
RRM_LAYOUT(oxwlan_event, data, 8);

static_assert(sizeof(hvUMAC_event_msg_t) == 640);
RRM_LAYOUT(hvUMAC_event_msg_t, ifname, 0);
RRM_LAYOUT(hvUMAC_event_msg_t, subtype, 16);
RRM_LAYOUT(hvUMAC_event_msg_t, len, 18);
RRM_LAYOUT(hvUMAC_event_msg_t, u, 24);
static_assert(sizeof(((hvUMAC_event_msg_t *)nullptr)->u) == 616);

static_assert(sizeof(hvUMAC_nl_station_info_t) == 240);
RRM_LAYOUT(hvUMAC_nl_station_info_t, vid, 0);
RRM_LAYOUT(hvUMAC_nl_station_info_t, macaddr, 2);
RRM_LAYOUT(hvUMAC_nl_station_info_t, rssi, 9);
RRM_LAYOUT(hvUMAC_nl_station_info_t, authorized, 10);
RRM_LAYOUT(hvUMAC_nl_station_info_t, is_reassoc, 11);
RRM_LAYOUT(hvUMAC_nl_station_info_t, auth_alg, 12);
RRM_LAYOUT(hvUMAC_nl_station_info_t, ssid, 13);
RRM_LAYOUT(hvUMAC_nl_station_info_t, event_code, 46);
RRM_LAYOUT(hvUMAC_nl_station_info_t, reason_code, 48);
RRM_LAYOUT(hvUMAC_nl_station_info_t, event_type, 50);
RRM_LAYOUT(hvUMAC_nl_station_info_t, reassoc_ap, 114);
RRM_LAYOUT(hvUMAC_nl_station_info_t, security, 120);
RRM_LAYOUT(hvUMAC_nl_station_info_t, tx_bytes, 152);
RRM_LAYOUT(hvUMAC_nl_station_info_t, rx_bytes, 160);
RRM_LAYOUT(hvUMAC_nl_station_info_t, ipaddr, 168);
RRM_LAYOUT(hvUMAC_nl_station_info_t, activity, 172);
RRM_LAYOUT(hvUMAC_nl_station_info_t, num_of_supp_class, 173);
RRM_LAYOUT(hvUMAC_nl_station_info_t, supp_class, 174);

static_assert(sizeof(hvUMAC_nl_interface_info_t) == 146);
RRM_LAYOUT(hvUMAC_nl_interface_info_t, status, 0);
RRM_LAYOUT(hvUMAC_nl_interface_info_t, macaddr, 1);
RRM_LAYOUT(hvUMAC_nl_interface_info_t, cause, 7);
RRM_LAYOUT(hvUMAC_nl_interface_info_t, channel, 71);
RRM_LAYOUT(hvUMAC_nl_interface_info_t, cw_extoffset, 72);
RRM_LAYOUT(hvUMAC_nl_interface_info_t, vht_ch_freq, 73);
RRM_LAYOUT(hvUMAC_nl_interface_info_t, vht_ch_freq2, 74);
RRM_LAYOUT(hvUMAC_nl_interface_info_t, ssid_len, 75);
RRM_LAYOUT(hvUMAC_nl_interface_info_t, ssid, 76);
RRM_LAYOUT(hvUMAC_nl_interface_info_t, security_len, 108);
RRM_LAYOUT(hvUMAC_nl_interface_info_t, security, 109);
RRM_LAYOUT(hvUMAC_nl_interface_info_t, wlan_role, 141);
RRM_LAYOUT(hvUMAC_nl_interface_info_t, is_hv1x, 142);
RRM_LAYOUT(hvUMAC_nl_interface_info_t, band_id, 143);
RRM_LAYOUT(hvUMAC_nl_interface_info_t, ch_width, 144);

static_assert(sizeof(hvUMAC_nl_dhcp_sniffer_t) == 612);
RRM_LAYOUT(hvUMAC_nl_dhcp_sniffer_t, macaddr, 0);
RRM_LAYOUT(hvUMAC_nl_dhcp_sniffer_t, skb_len, 8);
RRM_LAYOUT(hvUMAC_nl_dhcp_sniffer_t, skb, 12);

#undef RRM_LAYOUT

#endif /* __cplusplus */

#endif
