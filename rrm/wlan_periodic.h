/*
 * The collection loop: every pass refreshes the station tables and the WLAN
 * table of the status database from the driver, announces the stations the
 * driver no longer lists, and then pauses 50 seconds.
 */
#ifndef RRM_WLAN_PERIODIC_H
#define RRM_WLAN_PERIODIC_H

#ifdef __cplusplus
extern "C" {
#endif

/* Size of the reply buffer of a list command. */
#define WLAN_LIST_BUF_LEN 46080

/* Pause between passes, in seconds, whatever the management mode. */
#define COLLECT_CLOUD_MODE_INTERVAL 50
#define COLLECT_NORMAL_INTERVAL 50

/* Thread body of the collection loop; never returns. */
void *periodic_func(void *arg);

/* One pass of the loop, without its pause. */
void wlan_collect_pass(void);

/* The pause that ends every pass. */
void system_sleep(void);

/* Sends one bus event named ubus_type whose only attribute, also named
 * ubus_type, carries the 640-byte wifi-manager record at buf unchanged. A
 * fresh bus connection is made for the call; when none can be made the
 * daemon logs it and ends (abort). Returns 0. Runs on the main thread only
 * (the collection thread hands it over with rrm_bus_do). */
int ubus_sta_notify(const void *buf, const char *ubus_type);

#ifdef __cplusplus
}
#endif

#endif
