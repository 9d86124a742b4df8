// Names of the message types and the reading of received events.

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" {
#include <libubox/blobmsg.h>
}

#include "common_log.h"
#include "sta_internal.h"

namespace {

constexpr const char *kEventNames[STA_REG_TYPE_MAX] = {
    "stalib.sta_asso",         "stalib.sta_disasso",     "stalib.sta_ip",
    "stalib.netopeer_online",  "stalib.netopeer_offline", "stalib.netopeer_claim",
    "stalib.netopeer_declaim",
};
constexpr const char *kTypeNames[STA_REG_TYPE_MAX] = {
    "STA_ASSO",         "STA_DISASSO",     "STA_IP",          "NETOPEER_ONLINE",
    "NETOPEER_OFFLINE", "NETOPEER_CLAIM", "NETOPEER_DECLAIM",
};

int32_t read_i32(const unsigned char *rec, size_t offset)
{
    int32_t v;
    memcpy(&v, rec + offset, sizeof v);
    return v;
}

bool terminated(const unsigned char *rec, size_t offset, size_t size)
{
    return memchr(rec + offset, '\0', size) != nullptr;
}

void say(char *why, size_t why_len, const char *fmt, ...) __attribute__((format(printf, 3, 4)));
void say(char *why, size_t why_len, const char *fmt, ...)
{
    if (why == nullptr || why_len == 0)
        return;
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(why, why_len, fmt, ap);
    va_end(ap);
}

}  // namespace

namespace sta_lib {

void log_line(const char *fmt, ...)
{
    char line[256];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(line, sizeof line, fmt, ap);
    va_end(ap);
    fprintf(stderr, "sta_lib: %s\n", line);
    common_log("STA_LIB_LOG", 51200, line);
}

const char *socket_path()
{
    const char *p = getenv("STA_UBUS_SOCKET");
    return (p && *p) ? p : nullptr;
}

}  // namespace sta_lib

extern "C" const char *sta_lib_event_name(int type)
{
    return (type >= 0 && type < STA_REG_TYPE_MAX) ? kEventNames[type] : nullptr;
}

extern "C" const char *sta_lib_type_name(int type)
{
    return (type >= 0 && type < STA_REG_TYPE_MAX) ? kTypeNames[type] : "?";
}

extern "C" int sta_lib_decode(const char *event_name, const void *data, size_t len,
                              sta_module_msg *out, char *why, size_t why_len)
{
    if (out == nullptr)
        return -1;
    if (data == nullptr || len == 0 || len > 0x00ffffff) {
        say(why, why_len, "empty event");
        return -1;
    }
    // The parser wants a writable list; work on a copy of the received bytes.
    std::vector<unsigned char> copy(static_cast<const unsigned char *>(data),
                                    static_cast<const unsigned char *>(data) + len);
    static const struct blobmsg_policy policy[1] = {{STA_LIB_ATTR, BLOBMSG_TYPE_UNSPEC}};
    struct blob_attr *tb[1] = {nullptr};
    blobmsg_parse(policy, 1, tb, copy.data(), static_cast<unsigned int>(copy.size()));
    if (tb[0] == nullptr) {
        say(why, why_len, "no record in the event");
        return -1;
    }
    size_t got = blobmsg_data_len(tb[0]);
    if (got != sizeof(sta_module_msg)) {
        say(why, why_len, "record of %zu bytes, not %zu", got, sizeof(sta_module_msg));
        return -1;
    }
    alignas(sta_module_msg) unsigned char rec[sizeof(sta_module_msg)];
    memcpy(rec, blobmsg_data(tb[0]), sizeof rec);

    // Enumerations are checked as plain numbers before the record is used.
    constexpr size_t kInfo = offsetof(sta_module_msg, info);
    int32_t op = read_i32(rec, offsetof(sta_module_msg, op));
    int32_t type = read_i32(rec, kInfo + offsetof(rrm_sta_info, type));
    int32_t status = read_i32(rec, kInfo + offsetof(rrm_sta_info, status));
    if (type < 0 || type >= STA_REG_TYPE_MAX) {
        say(why, why_len, "type %d outside 0 to %d", type, STA_REG_TYPE_MAX - 1);
        return -1;
    }
    if (event_name != nullptr && strcmp(event_name, kEventNames[type]) != 0) {
        say(why, why_len, "type %d carried as another type's event", type);
        return -1;
    }
    if (op != STA_MODULE_NOTIFY && op != STA_MODULE_REG) {
        say(why, why_len, "unknown op %d", op);
        return -1;
    }
    if (status < HAPD_STA_NULLFUNC || status > HAPD_STA_DELETE) {
        say(why, why_len, "unknown station status %d", status);
        return -1;
    }
    struct Text {
        const char *name;
        size_t offset, size;
    };
    static const Text texts[] = {
        {"iface", offsetof(rrm_sta_info, iface), sizeof(rrm_sta_info::iface)},
        {"ssid", offsetof(rrm_sta_info, ssid), sizeof(rrm_sta_info::ssid)},
        {"event_type", offsetof(rrm_sta_info, event_type), sizeof(rrm_sta_info::event_type)},
        {"security", offsetof(rrm_sta_info, security), sizeof(rrm_sta_info::security)},
        {"display_ssid", offsetof(rrm_sta_info, display_ssid),
         sizeof(rrm_sta_info::display_ssid)},
    };
    for (const Text &t : texts) {
        if (!terminated(rec, kInfo + t.offset, t.size)) {
            say(why, why_len, "%s not terminated", t.name);
            return -1;
        }
    }
    memcpy(out, rec, sizeof rec);
    return 0;
}
