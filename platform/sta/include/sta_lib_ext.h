/*
 * Station-event library: helpers beyond the four calls of sta.h, used by the
 * library's own tools and tests.
 *
 * Transport: each message travels on the bus as an event named after its
 * type (sta_lib_event_name) whose single attribute "msg" holds the raw
 * 272-byte sta_module_msg.
 */
#ifndef STA_LIB_EXT_H
#define STA_LIB_EXT_H

#include <stddef.h>

#include "sta.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Name of the attribute that carries the record. */
#define STA_LIB_ATTR "msg"

/* Bus event name of a message type; null outside 0 to 6. */
const char *sta_lib_event_name(int type);

/* Short name of a type ("STA_ASSO", ...), "?" outside 0 to 6. */
const char *sta_lib_type_name(int type);

/* Reads one received event: the event's attribute list (data, len) under the
 * event name event_name (null: not checked). On success fills *out and
 * returns 0. Otherwise returns -1 and writes why into why[why_len]: no
 * record, a record of the wrong size, a type outside 0 to 6 or not matching
 * the event name, an unknown op or status, a text not terminated within its
 * field. Never reads outside [data, data + len). */
int sta_lib_decode(const char *event_name, const void *data, size_t len, sta_module_msg *out,
                   char *why, size_t why_len);

/* Waits until every message handed to sta_lib_notify so far has been sent or
 * dropped, at most timeout_ms. 0 when done, -1 on time-out. */
int sta_lib_flush(int timeout_ms);

/* Messages sent and dropped by sta_lib_notify since the process started. */
void sta_lib_counts(unsigned long *sent, unsigned long *dropped);

/* Makes subscribe_dispatch return (with 0) after the callback that calls it;
 * to be called on the dispatching thread only. */
void sta_lib_stop_dispatch(void);

#ifdef __cplusplus
}
#endif

#endif
