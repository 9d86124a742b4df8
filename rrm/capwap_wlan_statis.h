/*
 * What the daemon knows about one radio slot: the driver's frame counters,
 * byte counts, error rates, power and utilisation gathered on each collection
 * pass, and the channel of the radio's latest channel event.
 *
 * Record index i is slot i: database key "SLOT-i", radio device "wifi<i>",
 * WLAN interfaces "wlan-<i+1>-<n>".
 */
#ifndef RRM_CAPWAP_WLAN_STATIS_H
#define RRM_CAPWAP_WLAN_STATIS_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct capwapWlanStatis_s {
    uint8_t index;
    uint8_t activate;             /* 1 when a WLAN interface of the radio is up */
    /* Counters in the order of the driver's MAC statistics, with
     * rxFrameCnt added after txFrameCnt. */
    uint32_t txFragCnt;
    uint32_t multicatstTxCnt;
    uint32_t failCnt;
    uint32_t retryCnt;            /* driver retry count */
    uint32_t multiRetryCnt;
    uint32_t frameDuplicateCnt;
    uint32_t rtsSuccessCnt;
    uint32_t rtsFailureCnt;
    uint32_t ackFailureCnt;
    uint32_t rxFragCnt;
    uint32_t multicastRxCnt;
    uint32_t fcsErrCnt;           /* driver bad-checksum count */
    uint32_t txFrameCnt;          /* frames sent over the radio's interfaces */
    uint32_t rxFrameCnt;          /* frames received */
    uint32_t decryptionErrCnt;
    uint32_t discardQosFrameCnt;
    uint32_t assocStationCnt;
    uint32_t qosCfPollsRecCnt;
    uint32_t qosCfPollsUnusedCnt;
    uint32_t qosCfPollsUnusablCnt;
    uint32_t txBytesPerSec;
    uint32_t rxBytesPerSec;
    uint32_t txPower;             /* as the driver tool reports it */
    uint32_t rx_err_rate;         /* percent, 0 to 100 */
    uint32_t tx_err_rate;         /* percent, 0 to 100 */
    /* Channel of the latest channel event. */
    uint8_t dcsChann;
    int8_t extOffset;
    uint8_t vht_ch_freq;
    uint8_t vht_ch_freq2;
    uint64_t txBytes;             /* bytes sent over the radio's interfaces */
    uint64_t rxBytes;             /* bytes received */
    uint32_t chUtil;              /* channel utilisation from the driver */
    uint32_t retryRate;
    uint32_t alertCount;
    uint32_t actionThreshold;
    uint32_t recoveryThreshold;
    uint32_t bandmode;
    int8_t hvUmacBandId;          /* band of the latest channel event; -1 before */
    uint32_t ch_width;            /* 20, 40, 80 or 160 */
} capwapWlanStatis_t;

#ifdef __cplusplus
}
#endif

/* The record is shared between threads member by member and copied whole,
 * so its layout is fixed: natural alignment, 160 bytes. */
#ifdef __cplusplus
#include <cstddef>
#include <type_traits>
static_assert(std::is_trivially_copyable_v<capwapWlanStatis_t>);
static_assert(std::is_standard_layout_v<capwapWlanStatis_t>);
#define CAPWAP_STATIS_OFFSET(m, o) static_assert(offsetof(capwapWlanStatis_t, m) == (o), #m)
#else
#include <stddef.h>
#define CAPWAP_STATIS_OFFSET(m, o) _Static_assert(offsetof(capwapWlanStatis_t, m) == (o), #m)
#endif
CAPWAP_STATIS_OFFSET(index, 0);
CAPWAP_STATIS_OFFSET(activate, 1);
CAPWAP_STATIS_OFFSET(txFragCnt, 4);
CAPWAP_STATIS_OFFSET(multicatstTxCnt, 8);
CAPWAP_STATIS_OFFSET(failCnt, 12);
CAPWAP_STATIS_OFFSET(retryCnt, 16);
CAPWAP_STATIS_OFFSET(multiRetryCnt, 20);
CAPWAP_STATIS_OFFSET(frameDuplicateCnt, 24);
CAPWAP_STATIS_OFFSET(rtsSuccessCnt, 28);
CAPWAP_STATIS_OFFSET(rtsFailureCnt, 32);
CAPWAP_STATIS_OFFSET(ackFailureCnt, 36);
CAPWAP_STATIS_OFFSET(rxFragCnt, 40);
CAPWAP_STATIS_OFFSET(multicastRxCnt, 44);
CAPWAP_STATIS_OFFSET(fcsErrCnt, 48);
CAPWAP_STATIS_OFFSET(txFrameCnt, 52);
CAPWAP_STATIS_OFFSET(rxFrameCnt, 56);
CAPWAP_STATIS_OFFSET(decryptionErrCnt, 60);
CAPWAP_STATIS_OFFSET(discardQosFrameCnt, 64);
CAPWAP_STATIS_OFFSET(assocStationCnt, 68);
CAPWAP_STATIS_OFFSET(qosCfPollsRecCnt, 72);
CAPWAP_STATIS_OFFSET(qosCfPollsUnusedCnt, 76);
CAPWAP_STATIS_OFFSET(qosCfPollsUnusablCnt, 80);
CAPWAP_STATIS_OFFSET(txBytesPerSec, 84);
CAPWAP_STATIS_OFFSET(rxBytesPerSec, 88);
CAPWAP_STATIS_OFFSET(txPower, 92);
CAPWAP_STATIS_OFFSET(rx_err_rate, 96);
CAPWAP_STATIS_OFFSET(tx_err_rate, 100);
CAPWAP_STATIS_OFFSET(dcsChann, 104);
CAPWAP_STATIS_OFFSET(extOffset, 105);
CAPWAP_STATIS_OFFSET(vht_ch_freq, 106);
CAPWAP_STATIS_OFFSET(vht_ch_freq2, 107);
CAPWAP_STATIS_OFFSET(txBytes, 112);
CAPWAP_STATIS_OFFSET(rxBytes, 120);
CAPWAP_STATIS_OFFSET(chUtil, 128);
CAPWAP_STATIS_OFFSET(retryRate, 132);
CAPWAP_STATIS_OFFSET(alertCount, 136);
CAPWAP_STATIS_OFFSET(actionThreshold, 140);
CAPWAP_STATIS_OFFSET(recoveryThreshold, 144);
CAPWAP_STATIS_OFFSET(bandmode, 148);
CAPWAP_STATIS_OFFSET(hvUmacBandId, 152);
CAPWAP_STATIS_OFFSET(ch_width, 156);
#ifdef __cplusplus
static_assert(sizeof(capwapWlanStatis_t) == 160, "capwapWlanStatis_t size");
#else
_Static_assert(sizeof(capwapWlanStatis_t) == 160, "capwapWlanStatis_t size");
#endif
#undef CAPWAP_STATIS_OFFSET

#endif
