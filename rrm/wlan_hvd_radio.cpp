// Radio statistics of one slot: transmit power and channel utilisation from
// the driver tools, the MAC counters from the driver itself, and frame, byte
// and error figures from the device shell's interface table and
// "/proc/net/dev".
#include <err.h>
#include <errno.h>
#include <linux/wireless.h>
#include <stdio.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include "conf_init.h"
#include "seam.h"
#include "wlan.h"
#include "wlan_hvd.h"
#include "wlan_hvd_cmd.h"
#include "wlan_hvd_parse.h"

static_assert(SIOCIWFIRSTPRIV + 31 == ATH_IOCTL_GETMACMIB);

namespace {

constexpr size_t kCmdLen = 256;

// The first "/proc/net/wireless" interface line of radio radio_num.
bool wireless_cmd(char *cmd, size_t cap, int radio_num)
{
    return hvd_format(cmd, cap, "cat /proc/net/wireless | sed '1,2d' | grep \".*-%d-.*\" | head -n1", radio_num);
}

// The interface name of a "/proc/net/wireless" line as it goes onto a
// command line: the blanks the file puts before it stay in front (the shell
// takes them as separators), the rest is one shell word.
bool wireless_name_word(const char *ifname, char (&word)[kHvdWordMax])
{
    const size_t blanks = strspn(ifname, " \t");
    if (blanks >= sizeof word)
        return false;
    memcpy(word, ifname, blanks);
    return wlan_ifname_word(word + blanks, sizeof word - blanks, ifname + blanks, false);
}

// Trace of a command line that is not run: too long, or without its tool.
void refused(const char *what)
{
    WLAN_MODULE_DEBUG("[OPEN] %s: %s\n", what, "refused");
}

}  // namespace

int capwapWlanGetDriverTxPower(int radioId, capwapWlanStatis_t *ptr)
{
    char cmd[kCmdLen];
    if (!wireless_cmd(cmd, sizeof cmd, radioId + 1)) {
        refused("wireless interface query");
        return 0;
    }
    std::string storage;
    const std::string *out = hvd_cmd_output(cmd, storage);
    if (out == nullptr)
        return 0;
    HvdText first(*out);
    char line[256];
    if (first.gets(line, sizeof line) == nullptr)
        return 0;
    char ifname[64] = "";
    char word[kHvdWordMax];
    char named[kHvdNamedLineMax];
    if (sscanf(line, "%63[^:]%*s", ifname) != 1 || !wireless_name_word(ifname, word) ||
        !hvd_format_named(named, sizeof named, kCmdLen, ifname, word,
                          "iwlist %s txpower | grep Tx-Power | sed 's/:/=/g' | cut -d '=' -f 2", word)) {
        refused("iwlist txpower");
        return 0;
    }
    FILE *second = rrm_cmd_open(named, "r");
    if (second == nullptr)
        return 0;
    int power = 0;
    if (fgets(line, sizeof line, second) != nullptr && sscanf(line, "%d %*s", &power) == 1)
        ptr->txPower = static_cast<uint32_t>(power);
    rrm_cmd_close(second);
    return 0;
}

int capwapWlanGetDriverCounter(int radioId, capwapWlanStatis_t *ptr)
{
    dot11_mib_mac_count mib;
    memset(&mib, 0, sizeof mib);
    int sock = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (sock < 0) {
        WLAN_MODULE_DEBUG("CAPWAP Event , create socket error !!");
        err(1, "socket");
    }
    char dev[10];
    struct iwreq req;
    memset(&req, 0, sizeof req);
    if (!hvd_format(dev, sizeof dev, "wifi%d", radioId)) {
        close(sock);
        return -1;
    }
    memcpy(req.ifr_name, dev, strlen(dev) + 1);
    req.u.data.pointer = &mib;
    req.u.data.length = sizeof mib;
    if (ioctl(sock, ATH_IOCTL_GETMACMIB, &req) < 0) {
        WLAN_MODULE_DEBUG("Get radio statistics error , ifr %s , ioctl id %d , err %s!!", dev, ATH_IOCTL_GETMACMIB,
                          strerror(errno));
        close(sock);
        return -1;
    }
    ptr->fcsErrCnt = mib.dot11FCSErrorCount;
    ptr->retryCnt = mib.dot11RetryCount;
    close(sock);
    return 0;
}

int capwapWlanGetDriverStatistic(int radioId, capwapWlanStatis_t *ptr)
{
    const int radio_num = radioId + 1;
    ptr->activate = 0;
    float rx_err_sum = 0.0f, tx_err_sum = 0.0f;

    char cmd[100];
    hvd_format(cmd, sizeof cmd, "/bin/hvsh -p 110 -e \"%s\"", "show interface wlan status");
    std::string storage;
    const std::string *out = hvd_cmd_output(cmd, storage);
    if (out == nullptr) {
        WLAN_MODULE_DEBUG("[OPEN] %s: %s\n", cmd, strerror(errno));
        return -2;
    }
    HvdText table(*out);
    char line[255];
    int lines = 0;
    while (table.gets(line, sizeof line) != nullptr) {
        line[strcspn(line, "\n")] = '\0';
        WLAN_MODULE_DEBUG("show interface wlan status buf %s\n\r", line);
        if (++lines <= 2)
            continue;
        hvd_wlan_status_line(line, radio_num, ptr);
        WLAN_MODULE_DEBUG("txFrameCnt %d , rxFrameCnt %d , txBytesPerSec %d , rxBytesPerSec %d\n\r",
                          static_cast<int>(ptr->txFrameCnt), static_cast<int>(ptr->rxFrameCnt),
                          static_cast<int>(ptr->txBytesPerSec), static_cast<int>(ptr->rxBytesPerSec));
    }
    if (lines == 0)
        WLAN_MODULE_DEBUG("Excute cmd : %s , error!!\n\r", cmd);

    hvd_format(cmd, sizeof cmd, "/bin/cat /proc/net/dev");
    out = hvd_cmd_output(cmd, storage);
    if (out == nullptr) {
        WLAN_MODULE_DEBUG("[OPEN] %s: %s\n", cmd, strerror(errno));
        return -2;
    }
    char prefix[32];
    hvd_format(prefix, sizeof prefix, "wlan-%d-", radio_num);
    hvd_netdev_values v{};
    bool first = true;
    HvdText dev(*out);
    while (dev.gets(line, sizeof line) != nullptr) {
        if (first) {
            first = false;
            continue;
        }
        if (!hvd_netdev_line(line, radio_num, &v))
            continue;
        WLAN_MODULE_DEBUG("parser = %s %llu %d %d %d %d %d %d %d %llu %d %d\n\r", prefix, v.rx_bytes,
                          v.rx_packets, v.rx_errs, v.rx_drop, v.rx_fifo, v.rx_frame, v.rx_compressed,
                          v.rx_multicast, v.tx_bytes, v.tx_packets, v.tx_errs);
        rx_err_sum += static_cast<float>(v.rx_errs);
        tx_err_sum += static_cast<float>(v.tx_errs);
        ptr->txBytes += v.tx_bytes;
        ptr->rxBytes += v.rx_bytes;
    }

    ptr->rx_err_rate = hvd_err_rate(ptr->rxFrameCnt, rx_err_sum);
    ptr->tx_err_rate = hvd_err_rate(ptr->txFrameCnt, tx_err_sum);
    return 0;
}

int capwapWlanGetDriverChUtil(int radioId, capwapWlanStatis_t *ptr)
{
    int util = 0;
    char cmd[kCmdLen];
    if (!wireless_cmd(cmd, sizeof cmd, radioId + 1)) {
        ptr->chUtil = 0;
        refused("wireless interface query");
        return -1;
    }
    std::string storage;
    const std::string *out = hvd_cmd_output(cmd, storage);
    if (out == nullptr) {
        ptr->chUtil = 0;
        WLAN_MODULE_DEBUG("[OPEN] %s: %s\n", cmd, strerror(errno));
        return -1;
    }
    HvdText first(*out);
    char line[128];
    if (first.gets(line, sizeof line) == nullptr)
        return 0;
    char ifname[16] = "";
    char word[kHvdWordMax];
    char named[kHvdNamedLineMax];
    FILE *second = nullptr;
    if (sscanf(line, "%15[^:]%*s", ifname) == 1 && hvd_tool_ok(DOT11_ATH_IWPRIV) && wireless_name_word(ifname, word) &&
        hvd_format_named(named, sizeof named, kCmdLen, ifname, word,
                         "LD_LIBRARY_PATH=/usr/local/lib %s %s get_chutil | awk -F\":\" '{printf $2}'",
                         DOT11_ATH_IWPRIV, word))
        second = rrm_cmd_open(named, "r");
    if (second == nullptr) {
        ptr->chUtil = 0;
        WLAN_MODULE_DEBUG("Interface didn't exist \n");
        return -1;
    }
    int result = 0;
    if (fgets(line, sizeof line, second) != nullptr) {
        if (sscanf(line, "%d", &util) != 1)
            util = 0;
        ptr->chUtil = static_cast<uint32_t>(util);
    } else {
        ptr->chUtil = 0;
        result = -1;
    }
    rrm_cmd_close(second);
    return result;
}

void retrieve_wlan_stat(int radioId, capwapWlanStatis_t *ptr)
{
    capwapWlanGetDriverTxPower(radioId, ptr);
    capwapWlanGetDriverCounter(radioId, ptr);
    capwapWlanGetDriverStatistic(radioId, ptr);
    capwapWlanGetDriverChUtil(radioId, ptr);
}
