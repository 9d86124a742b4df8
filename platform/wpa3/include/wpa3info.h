/*
 * WPA3 SSID library: display names of the VAPs of an OWE transition pair.
 *
 * In OWE transition mode a radio carries two VAPs for one network: an open
 * one that stations see, and a hidden OWE one. The library answers from the
 * WLAN configuration files (see README.md for the keys it reads).
 */
#ifndef WPA3INFO_H
#define WPA3INFO_H

#ifdef __cplusplus
extern "C" {
#endif

/* The WLAN index of the OWE transition partner of VAP wlan_index on radio
 * radio (both 1-based), or 0 when the VAP is not in a transition pair or its
 * configuration cannot be read. */
int wpa3_get_oweindex(int radio, int wlan_index);

/* Replaces the SSID in ssid (a 64-byte buffer holding the VAP's SSID) with
 * the VAP's display name when one is configured; otherwise leaves it. 0 when
 * a name was written, -1 otherwise. */
int wpa3_get_new_ssidname(int radio, int wlan_index, char *ssid);

/* Writes into ssid (len bytes) the display name of the hidden OWE VAP
 * wlan_index, which is the SSID of its partner owe_index. 0 when a name was
 * written, -1 otherwise (ssid is then left as it was). */
int wpa3_owetm_trans_ssidname(int radio, int wlan_index, int owe_index, char *ssid, int len);

#ifdef __cplusplus
}
#endif

#endif
