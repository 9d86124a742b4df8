// One station-library association for the benchmarks: station I (its MAC
// FIRST:00 and I's four bytes), on one of 16 VAPs of two radios.
#ifndef BENCH_ASSOCIATION_H
#define BENCH_ASSOCIATION_H

#include <stdio.h>
#include <string.h>

#include "wlan.h"

inline sta_module_msg bench_association(int i, unsigned char first)
{
    sta_module_msg m;
    memset(&m, 0, sizeof m);
    m.op = STA_MODULE_NOTIFY;
    m.info.type = STA_ASSO;
    const unsigned char mac[6] = {first, 0x00, static_cast<unsigned char>(i >> 24), static_cast<unsigned char>(i >> 16),
                                  static_cast<unsigned char>(i >> 8), static_cast<unsigned char>(i)};
    memcpy(m.info.mac, mac, 6);
    snprintf(m.info.iface, sizeof m.info.iface, "wlan-%d-%d", 1 + i % 2, 1 + i % 8);
    snprintf(m.info.ssid, sizeof m.info.ssid, "%s", "BenchNet");
    snprintf(m.info.security, sizeof m.info.security, "%s", "WPA2-PSK");
    m.info.vid = 1;
    m.info.authentication = 1;
    m.info.band_id = BAND_ID_5G;
    m.info.rssi = 40;
    m.info.channel = 36;
    return m;
}

#endif
