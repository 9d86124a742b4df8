// The radio records made at start-up and the interface-name parser (the bus
// intake itself: events.txt).
#include <gtest/gtest.h>
#include <stdlib.h>

#include <tuple>

#include "wlan.h"
#include "wlan_ubus.h"

namespace {

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
        const int ok = getInterfaceIdx(c.name, &radio, &wlan);
        EXPECT_EQ((std::tuple{c.ok, c.radio, c.wlan}), (std::tuple{ok, radio, wlan})) << (c.name ? c.name : "null");
    }
}

}  // namespace
