// The scenario compiler: refusals with line numbers, the clock and the order
// of a roam's events, and the wifi manager's records read back field by field
// through the event tool's field list.
#include "scenario.h"

#include "../common/transcript.h"
#include "record_text.h"

#include <cstring>
#include <string>

#include <gtest/gtest.h>

namespace {

const char *kHeader =
    "ap 02:00:00:00:00:01\n"
    "slots 2\n"
    "vap wlan-1-1 02:00:00:00:00:11 up ssid=Office ssid-profile=office security=WPA2-PSK "
    "sec-profile=office-psk\n"
    "vap wds-1-9 02:00:00:00:00:19 up\n"
    "vap wlan-2-1 02:00:00:00:00:21 down\n";

TEST(Scenario, BadLinesAreRefusedWithTheirNumberAndReason)
{
    transcript::play("e2e/bad-scenarios.txt", {}, [](const std::string &line) {
        const size_t bar = line.find(" | "), bar2 = line.find(" | ", bar + 3);
        const int at = std::stoi(line.substr(0, bar));
        const std::string reason = line.substr(bar + 3, bar2 - bar - 3);
        const std::string text = (at > 0 ? kHeader : "") + transcript::unescape(line.substr(bar2 + 3));
        sim::ScenarioError err;
        EXPECT_FALSE(sim::compile_scenario(text, &err).has_value());
        EXPECT_EQ(err.line, at);
        EXPECT_NE(err.reason.find(reason), std::string::npos) << err.reason;
    });
}

// The order of a roam's events is checked end to end (tests/e2e/cases/events.*).
TEST(Scenario, MacsAreCanonicalQuotedTextsKeptAndClocksChecked)
{
    sim::ScenarioError err;
    auto plan = sim::compile_scenario(
        std::string(kHeader) + "step 0 join\nassoc 3C:00:00:00:00:01 wlan-1-1 ssid=\"Office net\"\n", &err);
    ASSERT_TRUE(plan) << err.line << ": " << err.reason;
    EXPECT_EQ(plan->steps.at(0).actions.at(0).args.at(0), "3c:00:00:00:00:01");
    EXPECT_EQ(plan->steps.at(0).actions.at(0).args.at(2), "Office net");
    EXPECT_EQ(sim::shell_quote("it's"), "'it'\\''s'");

    const struct {
        const char *text;
        long long epoch;  // -1: refused
    } clocks[] = {
        {"2026-03-02 08:00:00", 1772438400}, {"2000-02-29 23:59:59", 951868799},
        {"86400", 86400},                    {"2026-13-01 00:00:00", -1},
        {"2026-03-02 24:00:00", -1},         {"2026-03-02 08:00", -1},
        {"yesterday", -1},                   {"-5", -1},
        {"2026-03-02T08:00:00", -1},
    };
    for (const auto &c : clocks) {
        long long epoch = -1;
        bool ok = sim::parse_clock(c.text, &epoch);
        EXPECT_EQ(ok ? epoch : -1, c.epoch) << c.text;
    }
}

std::string as_json(const std::vector<uint8_t> &bytes, const char *event)
{
    hvUMAC_event_msg_t rec;
    EXPECT_EQ(bytes.size(), sizeof rec);
    memcpy(&rec, bytes.data(), std::min(bytes.size(), sizeof rec));
    return wlan_evt::to_json(rec, *wlan_evt::find_event(event));
}

TEST(Scenario, RecordsCarryTheirFieldsWhereTheDaemonReadsThem)
{
    sim::Station st;
    ASSERT_TRUE(sim::parse_mac("3c:22:fb:10:20:01", &st.mac));
    st.vid = 300;
    st.rssi = -45;
    st.auth = 1;
    st.security = "WPA2-PSK";
    st.ssid = "Office";
    st.tx = 5000000000;
    EXPECT_EQ(as_json(sim::station_record("wlan-1-2", st, {192, 168, 1, 10}), "sta_ip"),
              R"({ "ifname": "wlan-1-2", "subtype": 1, "len": 240, "mac": "3c:22:fb:10:20:01", "vid": 300, )"
              R"("rssi": 50, "authorized": 1, "ssid": "Office", "event_type": "wifi manager", )"
              R"("security": "WPA2-PSK", "tx_bytes": 5000000000, "ip": "192.168.1.10" })");
    EXPECT_EQ(as_json(sim::channel_record("wlan-2-1", 36, -1, 42, 0, 1, 80), "channel_changed"),
              R"({ "ifname": "wlan-2-1", "subtype": 2, "len": 146, "channel": 36, "cw_extoffset": -1, )"
              R"("vht_ch_freq": 42, "band_id": 1, "ch_width": 80 })");
    // a "sta_leave" record reads back as the interface and station it names
    auto leave = sim::decode_leave(sim::station_record("wlan-1-10-long-x", st, {}));
    ASSERT_TRUE(leave);
    EXPECT_EQ(leave->ifname, "wlan-1-10-long-");  // 15 bytes and the terminator
    EXPECT_EQ(leave->mac, st.mac);
}

}  // namespace
