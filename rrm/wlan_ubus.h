/*
 * Bus intake: the wifi manager's events over ubus, watched on the station
 * library's event loop (the bus library's own loop is not used).
 */
#ifndef RRM_WLAN_UBUS_H
#define RRM_WLAN_UBUS_H

extern "C" {
#include <libubus.h>
}

#include "wlan_event.h"

/* The 32 wifi-manager event names, indexed by the *_CMD constants. */
extern const struct blobmsg_policy wifimgr_notify_policy[__UBUS_NOTIFY_MAX];

/* Registers the one event handler for "sta_authorized", "sta_ip",
 * "channel_changed" and "ssid", stopping at the first name refused. */
void ubus_event_register(void);

/* Read callback of the bus socket's watcher; the arguments are unused. */
void wlanModuleUbusHandleWrapper(int fd, short event, void *arg);

/* Handles one wifi-manager event. */
void ubus_event_handle(struct ubus_context *ctx, struct ubus_event_handler *ev,
                       const char *method, struct blob_attr *msg);

#endif
