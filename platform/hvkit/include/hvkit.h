/*
 * Model library: facts about the access point's hardware model.
 */
#ifndef HVKIT_H
#define HVKIT_H

#ifdef __cplusplus
extern "C" {
#endif

/* Number of radio slots of this model (0 or more). */
int hvkit_get_current_model_slotnum(void);

/* Hybrid mode of the WLAN hardware: 0 when off, otherwise the mode number. */
int hvkit_wlan_get_hybridmode(void);

#ifdef __cplusplus
}
#endif

#endif
