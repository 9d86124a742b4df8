// Reading received events: every malformed record is refused with a reason
// and nothing outside the received bytes is read.

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

extern "C" {
#include <libubox/blobmsg.h>
}

#include "sta_lib_ext.h"

namespace {

sta_module_msg sample()
{
    sta_module_msg m;
    memset(&m, 0, sizeof m);
    m.op = STA_MODULE_NOTIFY;
    const uint8_t mac[6] = {0x02, 0x11, 0x22, 0x33, 0x44, 0x55};
    memcpy(m.info.mac, mac, 6);
    strcpy(m.info.iface, "wlan-1-1");
    strcpy(m.info.ssid, "Guest");
    m.info.type = STA_ASSO;
    m.info.status = HAPD_STA_ASSOC;
    m.info.rssi = -45;
    return m;
}

// The event's attribute list with one attribute of the given bytes.
std::vector<unsigned char> event_of(const void *rec, size_t len, const char *attr = STA_LIB_ATTR)
{
    struct blob_buf b;
    memset(&b, 0, sizeof b);
    blob_buf_init(&b, 0);
    blobmsg_add_field(&b, BLOBMSG_TYPE_UNSPEC, attr, rec, static_cast<unsigned int>(len));
    const unsigned char *d = static_cast<const unsigned char *>(blob_data(b.head));
    std::vector<unsigned char> out(d, d + blob_len(b.head));
    blob_buf_free(&b);
    return out;
}

int decode(const char *name, const std::vector<unsigned char> &ev, sta_module_msg *out,
           std::string *why)
{
    char buf[128] = "";
    int rc = sta_lib_decode(name, ev.data(), ev.size(), out, buf, sizeof buf);
    *why = buf;
    return rc;
}

constexpr size_t kType = offsetof(sta_module_msg, info) + offsetof(rrm_sta_info, type);
constexpr size_t kStatus = offsetof(sta_module_msg, info) + offsetof(rrm_sta_info, status);

}  // namespace

// Delivery of a good record, whole, is checked over the bus (sta_bus_test).
TEST(StaCodec, MalformedRecordsAreRefusedWithAReason)
{
    sta_module_msg out;
    std::string why;
    const sta_module_msg m = sample();
    auto with_i32 = [&](size_t offset, int32_t v) {
        sta_module_msg b = m;
        memcpy(reinterpret_cast<unsigned char *>(&b) + offset, &v, sizeof v);
        return event_of(&b, sizeof b);
    };
    std::vector<unsigned char> big(sizeof m + 1, 0);
    memcpy(big.data(), &m, sizeof m);
    const struct {
        const char *what, *name;
        std::vector<unsigned char> ev;
        const char *reason_part;
    } cases[] = {
        {"one byte short", "stalib.sta_asso", event_of(&m, sizeof m - 1), "271 bytes"},
        {"one byte long", "stalib.sta_asso", event_of(big.data(), big.size()), ""},
        {"empty record", "stalib.sta_asso", event_of(&m, 0), ""},
        {"another attribute", "stalib.sta_asso", event_of(&m, sizeof m, "other"), "no record"},
        {"type -1", nullptr, with_i32(kType, -1), "outside"},
        {"type 7", nullptr, with_i32(kType, 7), "outside"},
        {"type 1000", nullptr, with_i32(kType, 1000), "outside"},
        {"type of another event", "stalib.sta_disasso", event_of(&m, sizeof m), ""},
        {"unknown op", nullptr, with_i32(0, 5), ""},
        {"unknown status", nullptr, with_i32(kStatus, 7), ""},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(decode(c.name, c.ev, &out, &why), -1) << c.what;
        EXPECT_NE(why.find(c.reason_part), std::string::npos) << c.what << ": " << why;
    }
    EXPECT_EQ(sta_lib_decode("stalib.sta_asso", nullptr, 0, &out, nullptr, 0), -1);
    // The control: the same record unchanged is read, with or without a name.
    EXPECT_EQ(decode("stalib.sta_asso", event_of(&m, sizeof m), &out, &why), 0) << why;
    EXPECT_EQ(decode(nullptr, event_of(&m, sizeof m), &out, &why), 0) << why;
    // Names of types outside the table.
    EXPECT_EQ(sta_lib_event_name(-1), nullptr);
    EXPECT_EQ(sta_lib_event_name(STA_REG_TYPE_MAX), nullptr);
    EXPECT_STREQ(sta_lib_type_name(99), "?");
}

TEST(StaCodec, TextsMustEndWithinTheirFields)
{
    sta_module_msg out;
    std::string why;
    struct Field {
        const char *name;
        size_t offset, size;
    } fields[] = {
        {"iface", offsetof(rrm_sta_info, iface), 17},
        {"ssid", offsetof(rrm_sta_info, ssid), 33},
        {"event_type", offsetof(rrm_sta_info, event_type), 64},
        {"security", offsetof(rrm_sta_info, security), 32},
        {"display_ssid", offsetof(rrm_sta_info, display_ssid), 64},
    };
    for (const Field &f : fields) {
        sta_module_msg m = sample();
        unsigned char *p = reinterpret_cast<unsigned char *>(&m.info) + f.offset;
        memset(p, 'A', f.size);
        EXPECT_EQ(decode(nullptr, event_of(&m, sizeof m), &out, &why), -1) << f.name;
        EXPECT_NE(why.find(f.name), std::string::npos) << why;
        // Full to the last byte but one is fine.
        p[f.size - 1] = '\0';
        EXPECT_EQ(decode(nullptr, event_of(&m, sizeof m), &out, &why), 0) << f.name;
    }
}
