/*
 * The daemon's own status: counters kept since start, and the bus object
 * "wlan_module" whose method "status" answers them as one table.
 *
 * The counters are bumped wherever their event happens, on any thread,
 * without a lock (relaxed atomics); each call below is one line at the place
 * of the event. The reply is built on the main thread only, the one thread
 * that enters the bus library.
 */
#ifndef RRM_WLAN_STATUS_H
#define RRM_WLAN_STATUS_H

#include <stdint.h>

struct blob_buf;
struct parser_module;
struct ubus_context;

/* Why an event was dropped; the reply's "dropped" table, in this order. */
enum StatusDrop : unsigned {
    DROP_TOO_SHORT,          /* a record shorter than its layout */
    DROP_BAD_IFNAME,         /* interface name malformed or unsafe to store */
    DROP_UNKNOWN_IFNAME,     /* a safe name of no station or mesh interface */
    DROP_SLOT_OUT_OF_RANGE,  /* a radio the model or the records do not have */
    DROP_NO_RECORD,          /* a wifi-manager message without a record acted on */
    DROP_BAD_ADDRESS,        /* a station address in the wrong place */
    DROP_MALFORMED,          /* a kernel event whose parts do not fit */
    DROP_COUNT
};

/* Single counters of the reply. */
enum StatusCount : unsigned {
    COUNT_STATION_WRITTEN,  /* a station record written by an event */
    COUNT_STATION_REMOVED,  /* a station record removed on departure */
    COUNT_ROAM,             /* a departure from a station's former interface */
    COUNT_DEPARTURE,        /* a "sta_leave" announcement sent */
    COUNT_BUS_RECONNECT,    /* the bus connection made again after a loss */
    COUNT_COUNT
};

/* A station-library message of this type (any value) reached the callback. */
void status_sta_lib(uint32_t type);
/* A wifi-manager event of this name (null: none) reached the bus intake. */
void status_wifi_event(const char *name);
/* Counts when `happened` (so that a condition fits on the counting line). */
void status_drop(StatusDrop why, bool happened = true);
void status_count(StatusCount what, bool happened = true);

/* A collection pass begins, refreshes one station, ends (collection thread). */
void status_pass_begin(void);
void status_pass_station(void);
void status_pass_end(void);

/* Start-up: notes the start time. */
void status_started(void);

/* The database client table db with every refused command counted; the
 * table's other members are db's. The first call copies the table (start-up,
 * before other threads); later calls with the same client's table return
 * that copy, and any other table is returned as it is. */
struct parser_module *status_count_db_failures(struct parser_module *db);

/* Adds the object "wlan_module" on a new bus connection (main thread). On a
 * connection made again after a loss the object gets a new id. A refusal is
 * logged and the daemon goes on without its object. */
void status_object_add(struct ubus_context *ctx);

/* Appends the status table's members to b, an initialised buffer (main
 * thread: the bus library's blob functions are used). */
void status_fill(struct blob_buf *b);

#endif
