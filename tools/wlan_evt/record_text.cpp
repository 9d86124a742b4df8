#include "record_text.h"

#include <arpa/inet.h>

#include <cerrno>
#include <cinttypes>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace wlan_evt {

namespace {

enum class Kind { Text, Mac, U8, S8, U16, U64, Ip, BtmFlag, RrmFlag };

struct Field {
    const char *name;
    Kind kind;
    size_t off;  // offset in the record
    size_t size; // bytes of the member (texts: the most a value may take)
    const char *help;
    size_t len_off = 0; // a length byte set with the text, 0 for none
};

#define AT(member) offsetof(hvUMAC_event_msg_t, member)
#define SIZE(member) sizeof(((hvUMAC_event_msg_t *)nullptr)->member)
#define STA(m) AT(u.sta_info.m), SIZE(u.sta_info.m)
#define VAP(m) AT(u.vap_info.m), SIZE(u.vap_info.m)

const Field kHeader[] = {
    {"ifname", Kind::Text, AT(ifname), SIZE(ifname), "interface, e.g. wlan-1-2"},
    {"subtype", Kind::U16, AT(subtype), SIZE(subtype), "default 1, sta_leave 7, interface records 2"},
    {"len", Kind::U16, AT(len), SIZE(len), "default the record's size (240 or 146)"},
};

const Field kStation[] = {
    {"mac", Kind::Mac, STA(macaddr), "station address"},
    {"vid", Kind::U16, STA(vid), "VLAN id"},
    {"isBTMSupported", Kind::BtmFlag, 0, 1, ""},
    {"isRRMSupported", Kind::RrmFlag, 0, 1, ""},
    {"rssi", Kind::U8, STA(rssi), "signal as the driver gives it (dBm + 95)"},
    {"authorized", Kind::U8, STA(authorized), "0 or 1"},
    {"is_reassoc", Kind::U8, STA(is_reassoc), ""},
    {"auth_alg", Kind::U8, STA(auth_alg), ""},
    {"ssid", Kind::Text, STA(ssid), ""},
    {"event_code", Kind::U16, STA(event_code), ""},
    {"reason_code", Kind::U16, STA(reason_code), ""},
    {"event_type", Kind::Text, STA(event_type), ""},
    {"reassoc_ap", Kind::Mac, STA(reassoc_ap), ""},
    {"security", Kind::Text, STA(security), "e.g. WPA2-PSK"},
    {"tx_bytes", Kind::U64, STA(tx_bytes), ""},
    {"rx_bytes", Kind::U64, STA(rx_bytes), ""},
    {"ip", Kind::Ip, STA(ipaddr), "IPv4 address a.b.c.d"},
    {"activity", Kind::U8, STA(activity), ""},
    {"num_of_supp_class", Kind::U8, STA(num_of_supp_class), ""},
};

const Field kInterface[] = {
    {"status", Kind::U8, VAP(status), ""},
    {"mac", Kind::Mac, VAP(macaddr), "interface address"},
    {"cause", Kind::Text, VAP(cause), ""},
    {"channel", Kind::U8, VAP(channel), ""},
    {"cw_extoffset", Kind::S8, VAP(cw_extoffset), "secondary channel offset"},
    {"vht_ch_freq", Kind::U8, VAP(vht_ch_freq), ""},
    {"vht_ch_freq2", Kind::U8, VAP(vht_ch_freq2), ""},
    {"ssid", Kind::Text, VAP(ssid), "sets ssid_len too", AT(u.vap_info.ssid_len)},
    {"ssid_len", Kind::U8, VAP(ssid_len), ""},
    {"security", Kind::Text, VAP(security), "sets security_len too", AT(u.vap_info.security_len)},
    {"security_len", Kind::U8, VAP(security_len), ""},
    {"wlan_role", Kind::U8, VAP(wlan_role), ""},
    {"is_hv1x", Kind::U8, VAP(is_hv1x), ""},
    {"band_id", Kind::S8, VAP(band_id), "-1 unknown, 0 2.4 GHz, 1 5 GHz, 2 6 GHz"},
    {"ch_width", Kind::U16, VAP(ch_width), "channel width in MHz"},
};

#undef STA
#undef VAP

// Subtypes as the wifi manager and this daemon set them.
const EventKind kEvents[] = {
    {UBUS_STA_AUTHORIZED, Shape::Station, 1, {"ifname", "mac", nullptr}},
    {UBUS_STA_IP, Shape::Station, 1, {"ifname", "mac", "ip"}},
    {UBUS_STA_LEAVE, Shape::Station, 7, {"ifname", "mac", nullptr}},
    {UBUS_IF_CHANNEL, Shape::Interface, 2, {"ifname", "channel", nullptr}},
    {UBUS_IF_SSID, Shape::Interface, 2, {"ifname", nullptr, nullptr}},
};

template <size_t N>
std::vector<const Field *> pointers(const Field (&fields)[N])
{
    std::vector<const Field *> v;
    for (const Field &f : fields)
        v.push_back(&f);
    return v;
}

std::vector<const Field *> fields_of(Shape shape)
{
    std::vector<const Field *> v = pointers(kHeader);
    for (const Field *f : shape == Shape::Station ? pointers(kStation) : pointers(kInterface))
        v.push_back(f);
    return v;
}

bool parse_unsigned(const char *s, uint64_t max, uint64_t *out)
{
    if (*s < '0' || *s > '9')
        return false;
    char *end = nullptr;
    errno = 0;
    unsigned long long v = strtoull(s, &end, 10);
    if (errno != 0 || *end != '\0' || v > max)
        return false;
    *out = v;
    return true;
}

bool parse_signed(const char *s, long lo, long hi, long *out)
{
    if (*s != '-' && (*s < '0' || *s > '9'))
        return false;
    char *end = nullptr;
    errno = 0;
    long v = strtol(s, &end, 10);
    if (errno != 0 || *end != '\0' || v < lo || v > hi)
        return false;
    *out = v;
    return true;
}

bool parse_mac(const char *s, uint8_t out[6])
{
    for (int i = 0; i < 6; ++i) {
        unsigned v = 0;
        for (int d = 0; d < 2; ++d) {
            const char c = *s++;
            int x = c >= '0' && c <= '9' ? c - '0'
                    : c >= 'a' && c <= 'f' ? c - 'a' + 10
                    : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                           : -1;
            if (x < 0)
                return false;
            v = v * 16 + static_cast<unsigned>(x);
        }
        out[i] = static_cast<uint8_t>(v);
        if (*s++ != (i < 5 ? ':' : '\0'))
            return false;
    }
    return true;
}

std::string range_error(const Field &f, const char *text, const char *range)
{
    return "--" + std::string(f.name) + ": '" + text + "' is not " + range;
}

template <typename T>
void put(hvUMAC_event_msg_t &rec, size_t off, T v)
{
    memcpy(reinterpret_cast<unsigned char *>(&rec) + off, &v, sizeof v);
}

template <typename T>
T get(const hvUMAC_event_msg_t &rec, size_t off)
{
    T v;
    memcpy(&v, reinterpret_cast<const unsigned char *>(&rec) + off, sizeof v);
    return v;
}

std::string mac_text(const unsigned char *m)
{
    char b[18];
    snprintf(b, sizeof b, "%02x:%02x:%02x:%02x:%02x:%02x", m[0], m[1], m[2], m[3], m[4], m[5]);
    return b;
}

// The field's value as JSON; empty when the field is zero or empty.
std::string value_json(const hvUMAC_event_msg_t &rec, const Field &f)
{
    const auto *bytes = reinterpret_cast<const unsigned char *>(&rec) + f.off;
    char num[32];
    switch (f.kind) {
    case Kind::Text: {
        const size_t n = strnlen(reinterpret_cast<const char *>(bytes), f.size);
        return n == 0 ? "" : json_quote(reinterpret_cast<const char *>(bytes), n);
    }
    case Kind::Mac:
    case Kind::Ip: {
        const size_t n = f.kind == Kind::Mac ? 6 : 4;
        bool zero = true;
        for (size_t i = 0; i < n; ++i)
            zero = zero && bytes[i] == 0;
        if (zero)
            return "";
        if (f.kind == Kind::Mac) {
            // Appended piece by piece: GCC 12's optimiser reports a false
            // overlap for a chain of string additions here.
            std::string quoted(1, '"');
            quoted += mac_text(bytes);
            quoted += '"';
            return quoted;
        }
        snprintf(num, sizeof num, "\"%u.%u.%u.%u\"", bytes[0], bytes[1], bytes[2], bytes[3]);
        return num;
    }
    case Kind::BtmFlag:
        return rec.u.sta_info.isBTMSupported ? "1" : "";
    case Kind::RrmFlag:
        return rec.u.sta_info.isRRMSupported ? "1" : "";
    case Kind::U8:
        snprintf(num, sizeof num, "%u", unsigned{get<uint8_t>(rec, f.off)});
        break;
    case Kind::S8:
        snprintf(num, sizeof num, "%d", int{get<int8_t>(rec, f.off)});
        break;
    case Kind::U16:
        snprintf(num, sizeof num, "%u", unsigned{get<uint16_t>(rec, f.off)});
        break;
    case Kind::U64:
        snprintf(num, sizeof num, "%" PRIu64, get<uint64_t>(rec, f.off));
        break;
    }
    return strcmp(num, "0") == 0 ? "" : num;
}

} // namespace

const EventKind *find_event(std::string_view name)
{
    for (const EventKind &e : kEvents)
        if (name == e.name)
            return &e;
    return nullptr;
}

hvUMAC_event_msg_t blank_record(const EventKind &event)
{
    hvUMAC_event_msg_t rec;
    memset(&rec, 0, sizeof rec);
    rec.subtype = event.subtype;
    rec.len = event.shape == Shape::Station ? sizeof rec.u.sta_info : sizeof rec.u.vap_info;
    return rec;
}

std::string set_field(hvUMAC_event_msg_t &rec, const EventKind &event, std::string_view name,
                      const char *text)
{
    std::string key(name);
    for (char &c : key)
        if (c == '-')
            c = '_';
    const Field *field = nullptr;
    for (const Field *f : fields_of(event.shape))
        if (key == f->name)
            field = f;
    if (field == nullptr)
        return std::string(event.name) + " has no field --" + std::string(name) +
               " (wlan_evt --help lists them)";
    const Field &f = *field;
    uint64_t u = 0;
    long s = 0;
    switch (f.kind) {
    case Kind::Text: {
        const size_t n = strlen(text);
        if (n > f.size)
            return "--" + key + ": at most " + std::to_string(f.size) + " bytes";
        for (size_t i = 0; i < n; ++i)
            if (static_cast<unsigned char>(text[i]) < 0x20 || text[i] == 0x7f)
                return "--" + key + ": control characters are not allowed";
        auto *dst = reinterpret_cast<unsigned char *>(&rec) + f.off;
        memset(dst, 0, f.size);
        memcpy(dst, text, n);
        if (f.len_off != 0)
            put<uint8_t>(rec, f.len_off, static_cast<uint8_t>(n));
        return "";
    }
    case Kind::Mac: {
        uint8_t m[6];
        if (!parse_mac(text, m))
            return range_error(f, text, "a MAC address xx:xx:xx:xx:xx:xx");
        memcpy(reinterpret_cast<unsigned char *>(&rec) + f.off, m, sizeof m);
        return "";
    }
    case Kind::Ip: {
        struct in_addr a;
        if (inet_pton(AF_INET, text, &a) != 1)
            return range_error(f, text, "an IPv4 address a.b.c.d");
        memcpy(reinterpret_cast<unsigned char *>(&rec) + f.off, &a, 4);
        return "";
    }
    case Kind::BtmFlag:
    case Kind::RrmFlag:
        if (!parse_unsigned(text, 1, &u))
            return range_error(f, text, "0 or 1");
        if (f.kind == Kind::BtmFlag)
            rec.u.sta_info.isBTMSupported = u & 1;
        else
            rec.u.sta_info.isRRMSupported = u & 1;
        return "";
    case Kind::U8:
        if (!parse_unsigned(text, UINT8_MAX, &u))
            return range_error(f, text, "a number from 0 to 255");
        put<uint8_t>(rec, f.off, static_cast<uint8_t>(u));
        return "";
    case Kind::S8:
        if (!parse_signed(text, INT8_MIN, INT8_MAX, &s))
            return range_error(f, text, "a number from -128 to 127");
        put<int8_t>(rec, f.off, static_cast<int8_t>(s));
        return "";
    case Kind::U16:
        if (!parse_unsigned(text, UINT16_MAX, &u))
            return range_error(f, text, "a number from 0 to 65535");
        put<uint16_t>(rec, f.off, static_cast<uint16_t>(u));
        return "";
    case Kind::U64:
        if (!parse_unsigned(text, UINT64_MAX, &u))
            return range_error(f, text, "a number from 0 to 18446744073709551615");
        put<uint64_t>(rec, f.off, u);
        return "";
    }
    return "";
}

std::string to_json(const hvUMAC_event_msg_t &rec, const EventKind &event)
{
    std::string out = "{ ";
    for (const Field &f : kHeader) {
        std::string v = value_json(rec, f);
        if (v.empty())
            v = f.kind == Kind::Text ? "\"\"" : "0";
        out += (&f == kHeader ? "\"" : ", \"") + std::string(f.name) + "\": " + v;
    }
    for (const Field *f : event.shape == Shape::Station ? pointers(kStation) : pointers(kInterface)) {
        const std::string v = value_json(rec, *f);
        if (!v.empty())
            out += ", \"" + std::string(f->name) + "\": " + v;
    }
    return out + " }";
}

std::string json_quote(const char *s, size_t len)
{
    std::string out = "\"";
    for (size_t i = 0; i < len; ++i) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c >= 0x7f) {
            char esc[8];
            snprintf(esc, sizeof esc, "\\u%04x", c);
            out += esc;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

void print_fields(FILE *to)
{
    const struct {
        const char *title;
        std::vector<const Field *> fields;
    } shapes[] = {
        {"every event", pointers(kHeader)},
        {"sta_authorized, sta_ip, sta_leave (station record)", pointers(kStation)},
        {"channel_changed, ssid (interface record)", pointers(kInterface)},
    };
    for (const auto &shape : shapes) {
        fprintf(to, "fields of %s:\n", shape.title);
        for (const Field *f : shape.fields) {
            const char *kind = "";
            switch (f->kind) {
            case Kind::Text: kind = "TEXT"; break;
            case Kind::Mac: kind = "MAC"; break;
            case Kind::Ip: kind = "A.B.C.D"; break;
            case Kind::S8: kind = "-128..127"; break;
            case Kind::U8: kind = "0..255"; break;
            case Kind::U16: kind = "0..65535"; break;
            case Kind::U64: kind = "0..2^64-1"; break;
            case Kind::BtmFlag:
            case Kind::RrmFlag: kind = "0|1"; break;
            }
            std::string arg = std::string("--") + f->name + " " + kind;
            std::string note = f->help;
            if (f->kind == Kind::Text)
                note = "up to " + std::to_string(f->size) + " bytes" + (note.empty() ? "" : "; " + note);
            fprintf(to, "  %-32s %s\n", arg.c_str(), note.c_str());
        }
    }
}

} // namespace wlan_evt
