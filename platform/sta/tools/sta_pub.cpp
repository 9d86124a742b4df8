// sta_pub: publishes one station-event message, as the station-event service
// would, to every subscriber of its type.
//
//   sta_pub TYPE [options]
//
// TYPE is assoc, disassoc, ip, online, offline, claim or declaim. Every value
// is checked; a bad one is refused with a message and exit status 2. Exit
// status 1 when the message could not be sent.

#include <arpa/inet.h>
#include <getopt.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform_utils.h"
#include "sta_cli.h"
#include "sta_lib_ext.h"

namespace {

void usage(FILE *to)
{
    fprintf(to,
            "usage: sta_pub TYPE [options]\n"
            "  TYPE: assoc disassoc ip online offline claim declaim\n"
            "  --mac MAC          station address      (default 02:00:00:00:00:01)\n"
            "  --iface NAME       interface, 1-16 of [A-Za-z0-9._-] (default wlan-1-1)\n"
            "  --ssid TEXT        SSID, up to 32 bytes (default TestSSID)\n"
            "  --security TEXT    security profile, up to 31 bytes (default WPA2-Personal)\n"
            "  --vid N            VLAN id 0-4095       (default 1)\n"
            "  --auth N           authentication 0-255 (default 1)\n"
            "  --band N           band id -1-2         (default 0)\n"
            "  --rssi N           signal -128-127      (default -45)\n"
            "  --channel N        channel 0-255        (default 6)\n"
            "  --reason N         reason code 0-65535  (default 0)\n"
            "  --ip A.B.C.D       station IPv4 address (default 0.0.0.0)\n"
            "  bus socket: STA_UBUS_SOCKET (default: the bus default)\n");
}

bool valid_iface(const char *s)
{
    size_t n = strlen(s);
    if (n == 0 || n > 16)
        return false;
    for (size_t i = 0; i < n; ++i) {
        char c = s[i];
        if (!(isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '_' || c == '-'))
            return false;
    }
    return true;
}

// Printable text of at most max bytes (no control characters).
bool valid_text(const char *s, size_t max)
{
    size_t n = strlen(s);
    if (n > max)
        return false;
    for (size_t i = 0; i < n; ++i) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        if (c < 0x20 || c == 0x7f)
            return false;
    }
    return true;
}

int refuse(const char *what, const char *value, const char *rule)
{
    fprintf(stderr, "sta_pub: bad %s \"%s\": %s\n", what, value, rule);
    return 2;
}

}  // namespace

int main(int argc, char **argv)
{
    sta_cli::hold_stop_signals();
    enum { O_MAC = 1, O_IFACE, O_SSID, O_SECURITY, O_VID, O_AUTH, O_BAND, O_RSSI, O_CHANNEL,
           O_REASON, O_IP, O_HELP };
    static const struct option opts[] = {
        {"mac", required_argument, nullptr, O_MAC},
        {"iface", required_argument, nullptr, O_IFACE},
        {"ssid", required_argument, nullptr, O_SSID},
        {"security", required_argument, nullptr, O_SECURITY},
        {"vid", required_argument, nullptr, O_VID},
        {"auth", required_argument, nullptr, O_AUTH},
        {"band", required_argument, nullptr, O_BAND},
        {"rssi", required_argument, nullptr, O_RSSI},
        {"channel", required_argument, nullptr, O_CHANNEL},
        {"reason", required_argument, nullptr, O_REASON},
        {"ip", required_argument, nullptr, O_IP},
        {"help", no_argument, nullptr, O_HELP},
        {nullptr, 0, nullptr, 0},
    };

    sta_module_msg msg;
    memset(&msg, 0, sizeof msg);
    rrm_sta_info &i = msg.info;
    const uint8_t def_mac[6] = {0x02, 0, 0, 0, 0, 0x01};
    memcpy(i.mac, def_mac, 6);
    snprintf(i.iface, sizeof i.iface, "%s", "wlan-1-1");
    snprintf(i.ssid, sizeof i.ssid, "%s", "TestSSID");
    snprintf(i.security, sizeof i.security, "%s", "WPA2-Personal");
    i.vid = 1;
    i.authentication = 1;
    i.band_id = 0;
    i.rssi = -45;
    i.channel = 6;

    int opt;
    long v = 0;
    while ((opt = getopt_long(argc, argv, "h", opts, nullptr)) != -1) {
        switch (opt) {
        case O_MAC:
            if (str2mac(optarg, i.mac) != 0)
                return refuse("mac", optarg, "six hex octets joined by ':' or '-'");
            break;
        case O_IFACE:
            if (!valid_iface(optarg))
                return refuse("iface", optarg, "1 to 16 of letters, digits, '.', '_', '-'");
            snprintf(i.iface, sizeof i.iface, "%s", optarg);
            break;
        case O_SSID:
            if (!valid_text(optarg, sizeof i.ssid - 1))
                return refuse("ssid", optarg, "up to 32 bytes, no control characters");
            snprintf(i.ssid, sizeof i.ssid, "%s", optarg);
            snprintf(i.display_ssid, sizeof i.display_ssid, "%s", optarg);
            break;
        case O_SECURITY:
            if (!valid_text(optarg, sizeof i.security - 1))
                return refuse("security", optarg, "up to 31 bytes, no control characters");
            snprintf(i.security, sizeof i.security, "%s", optarg);
            break;
        case O_VID:
            if (!sta_cli::parse_long(optarg, 0, 4095, &v))
                return refuse("vid", optarg, "a number from 0 to 4095");
            i.vid = static_cast<int32_t>(v);
            break;
        case O_AUTH:
            if (!sta_cli::parse_long(optarg, 0, 255, &v))
                return refuse("auth", optarg, "a number from 0 to 255");
            i.authentication = static_cast<int32_t>(v);
            break;
        case O_BAND:
            if (!sta_cli::parse_long(optarg, -1, 2, &v))
                return refuse("band", optarg, "-1 (unknown), 0 (2.4 GHz), 1 (5 GHz) or 2 (6 GHz)");
            i.band_id = static_cast<int32_t>(v);
            break;
        case O_RSSI:
            if (!sta_cli::parse_long(optarg, -128, 127, &v))
                return refuse("rssi", optarg, "a number from -128 to 127");
            i.rssi = static_cast<int32_t>(v);
            break;
        case O_CHANNEL:
            if (!sta_cli::parse_long(optarg, 0, 255, &v))
                return refuse("channel", optarg, "a number from 0 to 255");
            i.channel = static_cast<int32_t>(v);
            break;
        case O_REASON:
            if (!sta_cli::parse_long(optarg, 0, 65535, &v))
                return refuse("reason", optarg, "a number from 0 to 65535");
            i.reason_code = static_cast<int32_t>(v);
            break;
        case O_IP: {
            struct in_addr a;
            if (inet_pton(AF_INET, optarg, &a) != 1)
                return refuse("ip", optarg, "a dotted IPv4 address");
            i.ipAddr = a.s_addr;
            break;
        }
        case O_HELP:
        case 'h':
            usage(stdout);
            return 0;
        default:
            usage(stderr);
            return 2;
        }
    }
    if (optind + 1 != argc) {
        fprintf(stderr, "sta_pub: give exactly one message type\n");
        usage(stderr);
        return 2;
    }
    int type = sta_cli::type_from_word(argv[optind]);
    if (type < 0)
        return refuse("type", argv[optind],
                      "one of assoc disassoc ip online offline claim declaim");
    msg.op = STA_MODULE_NOTIFY;
    i.type = static_cast<enum reg_type>(type);
    i.status = type == STA_ASSO      ? HAPD_STA_ASSOC
               : type == STA_DISASSO ? HAPD_STA_DISASSOC
                                     : HAPD_STA_NULLFUNC;

    sta_lib_check_ch(nullptr);
    if (sta_lib_notify(&msg) != 0 || sta_lib_flush(5000) != 0) {
        fprintf(stderr, "sta_pub: message not sent\n");
        return 1;
    }
    unsigned long sent = 0;
    sta_lib_counts(&sent, nullptr);
    if (sent != 1) {
        fprintf(stderr, "sta_pub: message not sent\n");
        return 1;
    }
    return 0;
}
