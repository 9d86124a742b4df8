// Families follow the naming of the Wi-Fi collectors of node_exporter on
// OpenWrt (wifi_stations, wifi_station_signal_dbm, ...): labels radio,
// ifname and mac; units in the name; texts as labels of _info gauges set to
// 1; percentages as 0-1 _ratio gauges; counters only for values that only
// grow. A station's series carry only labels that stay the same while it is
// associated.
#include "exposition.h"

#include <charconv>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <map>
#include <set>

namespace wlan_metrics {
namespace {

using wlan_view::Num;
using wlan_view::Radio;
using wlan_view::Station;

class Out {
public:
    void family(const std::string &name, const char *type, const char *help)
    {
        s_ += "# HELP " + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
    }
    // LABELS: name, value pairs.
    void sample(const std::string &name, std::initializer_list<std::pair<const char *, std::string>> labels,
                double v)
    {
        sample(name, label_text(labels), v);
    }
    // LABELS as label_text() made them.
    void sample(const std::string &name, const std::string &labels, double v)
    {
        s_ += name;
        s_ += labels;
        char num[40] = " ";
        // Whole numbers (nearly all) without the floating-point formatter.
        if (v == std::trunc(v) && std::fabs(v) < 1e15) {
            char *end = std::to_chars(num + 1, num + sizeof num - 1, static_cast<long long>(v)).ptr;
            *end++ = '\n';
            s_.append(num, static_cast<std::size_t>(end - num));
            return;
        }
        std::snprintf(num, sizeof num, " %.15g\n", v);
        s_ += num;
    }
    static std::string label_text(std::initializer_list<std::pair<const char *, std::string>> labels)
    {
        std::string s;
        char sep = '{';
        for (const auto &[k, val] : labels) {
            s += sep;
            s += k;
            s += "=\"";
            for (char c : val) {
                if (c == '\\' || c == '"')
                    s += '\\';
                if (c == '\n')
                    s += "\\n";
                else
                    s += c;
            }
            s += '"';
            sep = ',';
        }
        return sep == ',' ? s + "}" : s;
    }
    std::string &text() { return s_; }
    void reserve(std::size_t n) { s_.reserve(n); }

private:
    std::string s_;
};

struct StationFamily {
    const char *suffix, *type, *help;
    Num Station::*field;
    double scale = 1;
};

constexpr StationFamily kStationFamilies[] = {
    {"signal_dbm", "gauge", "Signal of the station as last recorded (SIG_RSSI).", &Station::signal},
    {"channel", "gauge", "Channel the station was last seen on (STA_CHANNEL).", &Station::channel},
    {"transmit_phy_rate_bytes_per_second", "gauge", "Transmit PHY rate to the station (TX_RATE).",
     &Station::tx_kbps, 125},
    {"receive_phy_rate_bytes_per_second", "gauge", "Receive PHY rate from the station (RX_RATE).",
     &Station::rx_kbps, 125},
    {"transmit_bytes_total", "counter", "Bytes sent to the station in this association (TX).", &Station::tx_bytes},
    {"receive_bytes_total", "counter", "Bytes received from the station in this association (RX).",
     &Station::rx_bytes},
    {"associated_timestamp_seconds", "gauge", "When the station associated, seconds since the Epoch (ASSO_TIME).",
     &Station::asso_time},
    {"authorized", "gauge", "1 when the station is authorised (AUTHENTICATION).", &Station::authorized},
    {"vlan_id", "gauge", "VLAN of the station (VID).", &Station::vid},
};

struct RadioFamily {
    const char *suffix, *type, *help;
    Num Radio::*field;
    double scale;
};

constexpr RadioFamily kRadioFamilies[] = {
    {"up", "gauge", "1 when at least one WLAN interface of the radio is up (ACTIVATE).", &Radio::up, 1},
    {"channel", "gauge", "Channel last reported for the radio (DCS_CHANNEL).", &Radio::channel, 1},
    {"channel_width_megahertz", "gauge", "Channel width last reported (CH_WIDTH).", &Radio::width, 1},
    {"secondary_channel_offset", "gauge", "Secondary channel offset last reported (EXT_OFFSET).", &Radio::ext_offset,
     1},
    {"vht_center_channel", "gauge", "First VHT channel value last reported (VHT_CH_FREQ).", &Radio::vht1, 1},
    {"vht_center_channel2", "gauge", "Second VHT channel value last reported (VHT_CH_FREQ2).", &Radio::vht2, 1},
    {"transmit_power_dbm", "gauge", "Transmit power as the driver reports it (TX_POWER).", &Radio::tx_power, 1},
    {"channel_utilization_ratio", "gauge", "Channel utilisation, 0 to 1 (CH_UTIL).", &Radio::ch_util, 0.01},
    {"transmit_error_ratio", "gauge", "Transmit errors per frame, 0 to 1 (TX_ERR_RATE).", &Radio::tx_err_rate, 0.01},
    {"receive_error_ratio", "gauge", "Receive errors per frame, 0 to 1 (RX_ERR_RATE).", &Radio::rx_err_rate, 0.01},
    {"transmit_bytes_total", "counter", "Bytes sent over the radio's WLAN interfaces (TX_FRAME_BYTES).",
     &Radio::tx_bytes, 1},
    {"receive_bytes_total", "counter", "Bytes received over the radio's WLAN interfaces (RX_FRAME_BYTES).",
     &Radio::rx_bytes, 1},
    {"transmit_bytes_per_second", "gauge", "Transmit bytes per second of the radio (TX_BYTE_PER_SEC).",
     &Radio::tx_bytes_per_sec, 1},
    {"receive_bytes_per_second", "gauge", "Receive bytes per second of the radio (RX_BYTE_PER_SEC).",
     &Radio::rx_bytes_per_sec, 1},
    // 32-bit values the daemon prints signed: they wrap, so they are gauges.
    {"transmit_frames", "gauge", "Frames sent, as a 32-bit signed count (TX_FRAME_CNT).", &Radio::tx_frames, 1},
    {"receive_frames", "gauge", "Frames received, as a 32-bit signed count (RX_FRAME_CNT).", &Radio::rx_frames, 1},
    {"fcs_errors", "gauge", "Frames received with a bad checksum, 32-bit signed (FCS_ERR_CNT).", &Radio::fcs_errors,
     1},
    {"retries", "gauge", "Retransmissions, 32-bit signed (RETRY_CNT).", &Radio::retries, 1},
};

// A numeric status item exported under a metric name.
struct DaemonFamily {
    const char *item, *name, *type, *help;
    double scale;
};

constexpr DaemonFamily kDaemonFamilies[] = {
    {"start_time", "wlan_daemon_start_time_seconds", "gauge", "When the daemon started, seconds since the Epoch.", 1},
    {"netlink", "wlan_daemon_netlink_attached", "gauge", "1 when the kernel netlink channel is attached.", 1},
    {"slots", "wlan_daemon_slots", "gauge", "Radio slots the daemon collects.", 1},
    {"stations.written", "wlan_daemon_station_writes_total", "counter", "Station records written.", 1},
    {"stations.removed", "wlan_daemon_station_removals_total", "counter", "Station records removed.", 1},
    {"stations.roams", "wlan_daemon_roams_total", "counter", "Roams between this access point's interfaces.", 1},
    {"pass.done", "wlan_daemon_passes_total", "counter", "Collection passes finished.", 1},
    {"pass.last_start", "wlan_daemon_last_pass_timestamp_seconds", "gauge",
     "When the last collection pass started, seconds since the Epoch (0: none yet).", 1},
    {"pass.last_duration_ms", "wlan_daemon_last_pass_duration_seconds", "gauge", "How long the last pass took.",
     0.001},
    {"pass.last_stations", "wlan_daemon_last_pass_stations", "gauge", "Stations the last pass refreshed.", 1},
    {"departures", "wlan_daemon_departures_total", "counter", "\"sta_leave\" announcements sent.", 1},
    {"db_failures", "wlan_daemon_database_failures_total", "counter", "Database commands that failed.", 1},
    {"bus_reconnects", "wlan_daemon_bus_reconnects_total", "counter", "Reconnections to the bus.", 1},
};

// Open-ended status tables: one series per member, the member's name a label.
struct DaemonTable {
    const char *prefix, *name, *label, *help;
};

constexpr DaemonTable kDaemonTables[] = {
    {"sta_lib.", "wlan_daemon_station_library_messages_total", "type", "Station-library messages by type."},
    {"wifi_events.", "wlan_daemon_wifi_events_total", "event", "Wifi-manager bus events by name."},
    {"dropped.", "wlan_daemon_dropped_events_total", "reason", "Events dropped, by reason."},
};

std::string radio_of(const Station &s)
{
    return s.radio ? wlan_view::radio_name(*s.radio) : "";
}

void station_families(Out &o, const std::vector<Station> &all, bool mesh)
{
    const std::string p = mesh ? "wifi_mesh_station_" : "wifi_station_";
    std::vector<const Station *> list;
    for (const Station &s : all)
        if (s.mesh == mesh)
            list.push_back(&s);
    o.family(p + "info", "gauge", "Set at association: SSID and band of the station.");
    for (const Station *s : list)
        o.sample(p + "info", {{"radio", radio_of(*s)}, {"ifname", s->iface}, {"mac", s->mac}, {"ssid", s->ssid},
                              {"band", s->band}},
                 1);
    o.family(p + "capability_info", "gauge",
             "Band capability and 802.11 features the driver reports; from the first pass on.");
    for (const Station *s : list)
        if (!s->chmode.empty() && !s->features.empty())
            o.sample(p + "capability_info", {{"radio", radio_of(*s)}, {"ifname", s->iface}, {"mac", s->mac},
                                             {"chmode", s->chmode}, {"features", s->features}},
                     1);
    o.family(p + "profile_info", "gauge", "Security and profiles, once the profile lookup has recorded them.");
    for (const Station *s : list)
        if (s->profiles_done)
            o.sample(p + "profile_info", {{"radio", radio_of(*s)}, {"ifname", s->iface}, {"mac", s->mac},
                                          {"security", s->security}, {"ssid_profile", s->ssid_profile},
                                          {"security_profile", s->sec_profile}},
                     1);
    std::vector<std::string> labels;
    for (const Station *s : list)
        labels.push_back(Out::label_text({{"radio", radio_of(*s)}, {"ifname", s->iface}, {"mac", s->mac}}));
    for (const StationFamily &f : kStationFamilies) {
        const std::string name = p + f.suffix;
        o.family(name, f.type, f.help);
        for (std::size_t i = 0; i < list.size(); ++i)
            if (const Num &v = list[i]->*f.field)
                o.sample(name, labels[i], static_cast<double>(*v) * f.scale);
    }
}

}  // namespace

std::string exposition(const wlan_view::Snapshot &snap, bool with_stations, std::vector<std::string> *problems)
{
    Out o;
    const std::vector<Station> sta = wlan_view::stations(snap, problems);
    // About 1250 bytes a station with every family, a few KiB for the rest.
    o.reserve(8192 + (with_stations ? 1300 : 64) * sta.size());
    const std::vector<Radio> radios = wlan_view::radios(snap, problems);

    o.family("wlan_database_up", "gauge", "1 when the status database was read.");
    o.sample("wlan_database_up", {}, snap.db_ok ? 1 : 0);
    o.family("wlan_daemon_up", "gauge", "1 when the daemon answered its status call.");
    o.sample("wlan_daemon_up", {}, snap.status_ok ? 1 : 0);

    // Stations per interface: every known interface, an empty one as 0.
    std::map<std::string, std::pair<std::string, long long>> ifaces;  // ifname -> radio, count
    for (const Radio &r : radios)
        for (const auto &[ifname, bssid] : r.vaps)
            ifaces[ifname].first = wlan_view::radio_name(r.slot + 1);
    for (const Station &s : sta) {
        auto &e = ifaces[s.iface];
        e.first = radio_of(s);
        ++e.second;
    }
    o.family("wifi_stations", "gauge", "Stations associated per interface (mesh links included).");
    for (const auto &[ifname, e] : ifaces)
        o.sample("wifi_stations", {{"radio", e.first}, {"ifname", ifname}}, static_cast<double>(e.second));
    o.family("wifi_interface_info", "gauge", "BSS address of each WLAN interface (VAP_n_MAC).");
    for (const Radio &r : radios)
        for (const auto &[ifname, bssid] : r.vaps)
            o.sample("wifi_interface_info",
                     {{"radio", wlan_view::radio_name(r.slot + 1)}, {"ifname", ifname}, {"mac", bssid}}, 1);

    for (const RadioFamily &f : kRadioFamilies) {
        const std::string name = std::string("wifi_radio_") + f.suffix;
        o.family(name, f.type, f.help);
        for (const Radio &r : radios)
            if (const Num &v = r.*f.field)
                o.sample(name, {{"radio", wlan_view::radio_name(r.slot + 1)}}, static_cast<double>(*v) * f.scale);
    }

    if (with_stations) {
        station_families(o, sta, false);
        station_families(o, sta, true);
    }

    if (snap.status_ok) {
        o.family("wlan_daemon_info", "gauge", "The daemon's version and access point address.");
        const wlan_view::StatusItem *version = snap.status_item("version");
        const wlan_view::StatusItem *ap = snap.status_item("ap_mac");
        o.sample("wlan_daemon_info", {{"version", version ? version->text : ""}, {"mac", ap ? ap->text : ""}}, 1);
        for (const DaemonFamily &f : kDaemonFamilies) {
            const wlan_view::StatusItem *i = snap.status_item(f.item);
            if (i == nullptr || i->kind == wlan_view::StatusItem::kText)
                continue;
            o.family(f.name, f.type, f.help);
            o.sample(f.name, {}, static_cast<double>(i->number) * f.scale);
        }
        for (const DaemonTable &t : kDaemonTables) {
            o.family(t.name, "counter", t.help);
            const std::string prefix = t.prefix;
            for (const wlan_view::StatusItem &i : snap.status)
                if (i.name.rfind(prefix, 0) == 0 && i.kind == wlan_view::StatusItem::kNumber)
                    o.sample(t.name, {{t.label, i.name.substr(prefix.size())}}, static_cast<double>(i.number));
        }
    }
    return std::move(o.text());
}

}  // namespace wlan_metrics
