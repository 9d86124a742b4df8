/*
 * Constants and buffer sizes shared by the daemon's units.
 */
#ifndef RRM_RRM_COMMON_H
#define RRM_RRM_COMMON_H

#ifdef __cplusplus
extern "C" {
#endif

/* Reply buffer of a database command. */
#define MAX_BUF_LEN 10240
/* Reply buffer of a database list command ("-f" F "-l"). */
#define MAX_LIST_BUF_LEN 46080

/* Table names, keys and field values. */
#define RRM_DB_NAME_LEN 64
#define RRM_DB_VALUE_LEN 64
/* A common-log line. */
#define RRM_LOG_LINE_LEN 256
/* A MAC address text (the MAC utilities' own MAC_STR_LEN is the least that
 * holds one; the daemon's buffers are larger). */
#define RRM_MAC_STR_LEN 32
/* Raw MAC address octets. */
#define RRM_MAC_ADDR_LEN 6

/* The wlan unit's common log: its name and size figure (50 x 1024). */
#define WLAN_MODULE_DB_LOG "WLAN_MODULE_DB_LOG"
#define WLAN_MODULE_DB_COUNT (50 * 1024)

/* Status database client ids. */
#define DBCLI_HVD_ID 100
#define DBCLI_NETLINK_ID 101
#define DBCLI_STA_ID 102

/* Table name prefixes ("%s-%s" with the access point's MAC text) and the
 * slot key prefix ("%s-%d" with the 0-based slot index). */
#define TABLE_PREFIX "WLAN"
#define STA_STATISTIC_TABLE_PREFIX "STA_STATISTIC"
#define MESH_STA_STATISTIC_TABLE_PREFIX "MESH_STA_STATISTIC"
#define KEY_PREFIX "SLOT"

/* The cloud status record. */
#define VELORA_TABLE "Velora"
#define VELORA_KEY "velora-status"

/* The value a database read answers when it finds nothing. */
#define DB_VALUE_NONE "N/A"

#ifdef __cplusplus
}
#endif

#endif
