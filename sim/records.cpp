// The wifi manager's event records the scenario sends, filled in through the
// record's own declaration (wlan_event.h), so they follow its layout.
#include "scenario.h"

#include <algorithm>
#include <cstring>

#include "wlan_event.h"

namespace sim {

static_assert(sizeof(hvUMAC_event_msg_t) == kEventRecordSize);

namespace {

template <size_t N>
void put_text(char (&dst)[N], const std::string &s, size_t cap)
{
    memcpy(dst, s.data(), std::min({s.size(), cap, N}));
}

template <size_t N>
void put_text(uint8_t (&dst)[N], const std::string &s, size_t cap)
{
    memcpy(dst, s.data(), std::min({s.size(), cap, N}));
}

std::vector<uint8_t> bytes_of(const hvUMAC_event_msg_t &rec)
{
    std::vector<uint8_t> b(sizeof rec);
    memcpy(b.data(), &rec, sizeof rec);
    return b;
}

}  // namespace

std::vector<uint8_t> station_record(const std::string &ifname, const Station &st,
                                    const std::array<uint8_t, 4> &ip)
{
    hvUMAC_event_msg_t rec;
    memset(&rec, 0, sizeof rec);
    put_text(rec.ifname, ifname, sizeof rec.ifname - 1);
    rec.subtype = 1;
    rec.len = sizeof rec.u.sta_info;
    hvUMAC_nl_station_info_t &s = rec.u.sta_info;
    s.vid = static_cast<uint16_t>(st.vid);
    memcpy(s.macaddr, st.mac.data(), sizeof s.macaddr);
    s.rssi = static_cast<uint8_t>(st.rssi + 95);  // as the driver gives it
    s.authorized = static_cast<uint8_t>(st.auth);
    put_text(s.ssid, st.ssid, sizeof s.ssid);
    put_text(s.event_type, "wifi manager", sizeof s.event_type - 1);
    put_text(s.security, st.security, sizeof s.security - 1);
    s.tx_bytes = st.tx;
    s.rx_bytes = st.rx;
    static_assert(sizeof s.ipaddr == 4);
    memcpy(&s.ipaddr, ip.data(), 4);  // the address's bytes in order
    return bytes_of(rec);
}

std::vector<uint8_t> channel_record(const std::string &ifname, int channel, int offset,
                                    int vht1, int vht2, int band, int width)
{
    hvUMAC_event_msg_t rec;
    memset(&rec, 0, sizeof rec);
    put_text(rec.ifname, ifname, sizeof rec.ifname - 1);
    rec.subtype = 2;
    rec.len = sizeof rec.u.vap_info;
    hvUMAC_nl_interface_info_t &v = rec.u.vap_info;
    v.channel = static_cast<uint8_t>(channel);
    v.cw_extoffset = static_cast<int8_t>(offset);
    v.vht_ch_freq = static_cast<uint8_t>(vht1);
    v.vht_ch_freq2 = static_cast<uint8_t>(vht2);
    v.band_id = static_cast<int8_t>(band);
    v.ch_width = static_cast<uint16_t>(width);
    return bytes_of(rec);
}

std::optional<LeaveNotice> decode_leave(const std::vector<uint8_t> &bytes)
{
    hvUMAC_event_msg_t rec;
    memset(&rec, 0, sizeof rec);
    if (bytes.empty())
        return std::nullopt;
    memcpy(&rec, bytes.data(), std::min(bytes.size(), sizeof rec));
    LeaveNotice n;
    n.ifname.assign(rec.ifname, strnlen(rec.ifname, sizeof rec.ifname));
    memcpy(n.mac.data(), rec.u.sta_info.macaddr, n.mac.size());
    return n;
}

}  // namespace sim
