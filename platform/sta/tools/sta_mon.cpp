// sta_mon: prints every message published through the station-event service,
// field by field, one block a message.
//
//   sta_mon [-c COUNT] [-t TYPE[,TYPE...]]
//
// -c ends after COUNT messages; -t limits the subscription to the named types
// (assoc, disassoc, ip, online, offline, claim, declaim). The bus socket is
// STA_UBUS_SOCKET, or the bus default.

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <unistd.h>

#include "sta_cli.h"
#include "sta_lib_ext.h"

namespace {

long g_left = -1;  // messages still to print; -1: no end

const char *status_name(int s)
{
    static const char *const names[] = {"HAPD_STA_NULLFUNC", "HAPD_STA_ASSOC",
                                        "HAPD_STA_DISASSOC", "HAPD_STA_AUTH",
                                        "HAPD_STA_DEAUTH",   "HAPD_STA_NEW",
                                        "HAPD_STA_DELETE"};
    return (s >= 0 && s <= 6) ? names[s] : "?";
}

std::string mac_text(const uint8_t *m)
{
    char b[18];
    snprintf(b, sizeof b, "%02x:%02x:%02x:%02x:%02x:%02x", m[0], m[1], m[2], m[3], m[4], m[5]);
    return b;
}

// Texts are printed within their fields, control characters escaped.
std::string text(const char *p, size_t size)
{
    std::string out;
    for (size_t i = 0; i < size && p[i] != '\0'; ++i) {
        unsigned char c = static_cast<unsigned char>(p[i]);
        if (c < 0x20 || c == 0x7f || c == '\\') {
            char esc[8];
            snprintf(esc, sizeof esc, "\\x%02x", c);
            out += esc;
        } else {
            out.push_back(static_cast<char>(c));
        }
    }
    return out;
}

void print_msg(sta_module_msg *m, void *)
{
    const rrm_sta_info &i = m->info;
    char ip[INET_ADDRSTRLEN] = "";
    struct in_addr a;
    a.s_addr = i.ipAddr;  // already in network byte order
    inet_ntop(AF_INET, &a, ip, sizeof ip);
    printf("message %s\n", sta_lib_type_name(i.type));
    printf("  op: %s\n", m->op == STA_MODULE_REG ? "STA_MODULE_REG" : "STA_MODULE_NOTIFY");
    printf("  type: %d\n", static_cast<int>(i.type));
    printf("  mac: %s\n", mac_text(i.mac).c_str());
    printf("  iface: %s\n", text(i.iface, sizeof i.iface).c_str());
    printf("  ssid: %s\n", text(i.ssid, sizeof i.ssid).c_str());
    printf("  ipAddr: %s\n", ip);
    printf("  vid: %d\n", i.vid);
    printf("  reason_code: %d\n", i.reason_code);
    printf("  authentication: %d\n", i.authentication);
    printf("  status: %s\n", status_name(i.status));
    printf("  event_type: %s\n", text(i.event_type, sizeof i.event_type).c_str());
    printf("  auth_alg: %d\n", i.auth_alg);
    printf("  reassoc: %d\n", i.reassoc);
    printf("  reassoc_ap: %s\n", mac_text(i.reassoc_ap).c_str());
    printf("  security: %s\n", text(i.security, sizeof i.security).c_str());
    printf("  display_ssid: %s\n", text(i.display_ssid, sizeof i.display_ssid).c_str());
    printf("  band_id: %d\n", i.band_id);
    printf("  rssi: %d\n", i.rssi);
    printf("  channel: %d\n", i.channel);
    printf("end\n");
    fflush(stdout);
    if (g_left > 0 && --g_left == 0)
        sta_lib_stop_dispatch();
}

void on_connect(const char *state, int status)
{
    printf("# %s (%d)\n", state, status);
    fflush(stdout);
}

void usage(FILE *to)
{
    fprintf(to,
            "usage: sta_mon [-c COUNT] [-t TYPE[,TYPE...]]\n"
            "  TYPE: assoc disassoc ip online offline claim declaim (default: all)\n"
            "  bus socket: STA_UBUS_SOCKET (default: the bus default)\n");
}

}  // namespace

int main(int argc, char **argv)
{
    sta_cli::hold_stop_signals();
    bool want[STA_REG_TYPE_MAX] = {};
    bool any = false;
    int opt;
    while ((opt = getopt(argc, argv, "c:t:h")) != -1) {
        switch (opt) {
        case 'c': {
            long n = 0;
            if (!sta_cli::parse_long(optarg, 1, 1000000, &n)) {
                fprintf(stderr, "sta_mon: bad count \"%s\": a number from 1 to 1000000\n",
                        optarg);
                return 2;
            }
            g_left = n;
            break;
        }
        case 't': {
            std::string list = optarg;
            size_t pos = 0;
            while (pos <= list.size()) {
                size_t comma = list.find(',', pos);
                std::string word = list.substr(pos, comma == std::string::npos ? std::string::npos
                                                                                 : comma - pos);
                int t = sta_cli::type_from_word(word.c_str());
                if (t < 0) {
                    fprintf(stderr, "sta_mon: unknown type \"%s\"\n", word.c_str());
                    usage(stderr);
                    return 2;
                }
                want[t] = true;
                any = true;
                if (comma == std::string::npos)
                    break;
                pos = comma + 1;
            }
            break;
        }
        case 'h':
            usage(stdout);
            return 0;
        default:
            usage(stderr);
            return 2;
        }
    }
    if (optind != argc) {
        usage(stderr);
        return 2;
    }

    static sub_info_t info;
    if (sub_info_init(&info) != 0) {
        fprintf(stderr, "sta_mon: cannot prepare the subscription\n");
        return 1;
    }
    snprintf(info.mac_str, sizeof info.mac_str, "%s", "sta_mon");
    info.con_cb = on_connect;
    info.dis_con_cb = on_connect;
    for (int t = 0; t < STA_REG_TYPE_MAX; ++t)
        info.reg_type[t].sub_cb = (!any || want[t]) ? print_msg : nullptr;
    return subscribe_dispatch(&info) == 0 ? 0 : 1;
}
