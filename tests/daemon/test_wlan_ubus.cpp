// Bus intake: channel events and the radio records they update, and the
// interface-name parser (station events: events.txt).
#include <stdlib.h>
#include <string.h>

#include "conf_init.h"
#include "daemon_fixture.h"
#include "fake_sta_lib.h"
#include "wlan.h"
#include "wlan_ubus.h"

namespace {

const unsigned char kSta[6] = {0x10, 0x20, 0x30, 0x40, 0x50, 0x60};

hvUMAC_event_msg_t record(const char *ifname)
{
    hvUMAC_event_msg_t ev;
    memset(&ev, 0, sizeof ev);
    memcpy(ev.ifname, ifname, strnlen(ifname, sizeof ev.ifname));
    memcpy(ev.u.sta_info.macaddr, kSta, 6);
    ev.u.sta_info.authorized = 1;
    ev.u.sta_info.vid = 30;
    memcpy(ev.u.sta_info.security, "WPA2-PSK", 8);
    const unsigned char ip[4] = {10, 0, 0, 7};
    memcpy(&ev.u.sta_info.ipaddr, ip, 4);
    return ev;
}

// One event message: each (name, bytes) pair becomes one attribute.
class Message {
public:
    Message() { blob_buf_init(&buf_, 0); }
    ~Message() { blob_buf_free(&buf_); }
    Message &add(const char *name, const void *data, unsigned int len)
    {
        blobmsg_add_field(&buf_, BLOBMSG_TYPE_UNSPEC, name, data, len);
        return *this;
    }
    Message &add(const char *name, const hvUMAC_event_msg_t &ev)
    {
        return add(name, &ev, sizeof ev);
    }
    void deliver(const char *method) { ubus_event_handle(nullptr, nullptr, method, buf_.head); }

private:
    struct blob_buf buf_ = {};
};

class Intake : public DaemonTest {
protected:
    void SetUp() override
    {
        DaemonTest::SetUp();
        setenv("HVKIT_SLOT_NUM", "2", 1);
        slot_num = 2;
        ch_stat = init_ch_stat(2);
        ASSERT_NE(nullptr, ch_stat);
    }
    void TearDown() override
    {
        free(ch_stat);
        ch_stat = nullptr;
        slot_num = 0;
        DaemonTest::TearDown();
    }
};

TEST_F(Intake, ChannelChangeUpdatesOneSlot)
{
    capwapWlanStatis_t before[2];
    memcpy(before, ch_stat, sizeof before);
    hvUMAC_event_msg_t ev = record("wlan-2-1");
    ev.u.vap_info.channel = 149;
    ev.u.vap_info.cw_extoffset = -1;
    ev.u.vap_info.vht_ch_freq = 155;
    ev.u.vap_info.vht_ch_freq2 = 0;
    ev.u.vap_info.band_id = 1;
    ev.u.vap_info.ch_width = 80;
    Message().add("channel_changed", ev).deliver("channel_changed");
    EXPECT_EQ(149, ch_stat[1].dcsChann);
    EXPECT_EQ(-1, ch_stat[1].extOffset);
    EXPECT_EQ(155, ch_stat[1].vht_ch_freq);
    EXPECT_EQ(0, ch_stat[1].vht_ch_freq2);
    EXPECT_EQ(1, ch_stat[1].hvUmacBandId);
    EXPECT_EQ(80u, ch_stat[1].ch_width);
    EXPECT_EQ(0, memcmp(&before[0], &ch_stat[0], sizeof before[0]));  // slot 1 untouched

    // Radios outside the model or the records: nothing, silently. With more
    // slots on the model than records, the records bound it.
    memcpy(before, ch_stat, sizeof before);
    capture_stdout();
    for (const char *name : {"wlan-3-1", "wlan-0-1", "wlan-99-1", "wlan-x-1"})
        Message().add("channel_changed", record(name)).deliver("channel_changed");
    setenv("HVKIT_SLOT_NUM", "4", 1);
    Message().add("channel_changed", record("wlan-3-1")).deliver("channel_changed");
    EXPECT_EQ(std::string::npos, stdout_text().find("ifi_name"));
    EXPECT_EQ(0, memcmp(before, ch_stat, sizeof before));
    EXPECT_TRUE(take_trace().empty());
}

TEST(ChStat, RecordsMadeAtStartUpAndSlotBounds)
{
    for (int slots : {0, 3, 99}) {
        capwapWlanStatis_t *stat = init_ch_stat(slots);
        ASSERT_NE(nullptr, stat) << slots;
        for (int i = 0; i < slots; ++i)
            EXPECT_TRUE(stat[i].hvUmacBandId == -1 && stat[i].dcsChann == 0 &&
                        stat[i].ch_width == 0u);
        free(stat);
    }
    EXPECT_EQ(nullptr, init_ch_stat(-1));
    EXPECT_EQ(nullptr, init_ch_stat(100));  // beyond the interface-name buffers
}

TEST(InterfaceIdx, Forms)
{
    // Sixteen characters fit the work buffer; a failed parse leaves the
    // outputs alone (-7).
    const struct {
        const char *name;
        int ok, radio, wlan;
    } cases[] = {
        {"wlan-1-3", 1, 1, 3},     {"wds-2-9", 1, 2, 9},   {"pap-1-11", 1, 1, 11},
        {"wlan-1-2-7", 1, 1, 2},   {"a-b-c", 1, 0, 0},     {"wlan-1-123456789", 1, 1, 123456789},
        {"", 0, -7, -7},           {"wlan", 0, -7, -7},    {"wlan-1", 0, -7, -7},
        {"wlan-1-", 0, -7, -7},    {"---", 0, -7, -7},     {"wlan-1-12345678901", 0, -7, -7},
        {nullptr, 0, -7, -7},
    };
    for (const auto &c : cases) {
        int radio = -7, wlan = -7;
        EXPECT_EQ(c.ok, getInterfaceIdx(c.name, &radio, &wlan)) << (c.name ? c.name : "null");
        EXPECT_EQ(c.radio, radio) << (c.name ? c.name : "null");
        EXPECT_EQ(c.wlan, wlan) << (c.name ? c.name : "null");
    }
}

}  // namespace
