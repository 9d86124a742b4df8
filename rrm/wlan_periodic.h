/*
 * The collection loop: every pass refreshes the radio and station statistics
 * in the status database, announces stations the driver lost, and then pauses.
 */
#ifndef RRM_WLAN_PERIODIC_H
#define RRM_WLAN_PERIODIC_H

#ifdef __cplusplus
extern "C" {
#endif

/* Thread body of the collection loop; never returns. */
void *periodic_func(void *arg);

#ifdef __cplusplus
}
#endif

#endif
