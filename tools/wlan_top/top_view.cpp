#include "top_view.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace wlan_top {
namespace {

using wlan_view::Num;
using wlan_view::Radio;
using wlan_view::Station;

constexpr double kUnknown = -1;

const std::vector<Column> kStation = {
    {"MAC", 17, 0, false},      {"IP", 15, 3, false},     {"IFACE", 8, 2, false},   {"SSID", 10, 4, false},
    {"SECURITY", 9, 11, false}, {"BAND/CH", 9, 5, false}, {"SIG", 4, 1, true},      {"TXR", 5, 8, true},
    {"RXR", 5, 8, true},        {"TX", 6, 12, true},      {"RX", 6, 12, true},      {"TX/s", 6, 10, true},
    {"RX/s", 6, 10, true},      {"ASSOC", 6, 9, true},    {"FEATURES", 10, 13, false}, {"AUTH", 4, 7, true},
    {"M", 1, 6, false},
};

std::string fit(const std::string &s, int width, bool right)
{
    std::string t = s.size() > static_cast<std::size_t>(width) ? s.substr(0, static_cast<std::size_t>(width)) : s;
    const std::string pad(static_cast<std::size_t>(width) - t.size(), ' ');
    return right ? pad + t : t + pad;
}

std::string n(const Num &v)
{
    return v ? std::to_string(*v) : "-";
}

double d(const Num &v)
{
    return v ? static_cast<double>(*v) : kUnknown;
}

struct Row {
    std::vector<std::string> cells;
    std::vector<double> nums;
};

Row station_row(const Station &s, const Rates &rates, time_t now)
{
    const std::string key = std::string(s.mesh ? "mesh/" : "sta/") + s.mac;
    const double txs = rates.get(key + "/tx"), rxs = rates.get(key + "/rx");
    const std::string band = s.band.empty() ? "-" : s.band.substr(0, s.band.find("GHz"));
    const long long assoc = s.asso_time ? now - *s.asso_time : -1;
    std::string features = s.chmode;
    if (!s.features.empty() && s.features != "N/A")
        features += (features.empty() ? "" : " ") + s.features;
    Row r;
    r.cells = {s.mac,
               s.ip.empty() ? "-" : s.ip,
               s.iface,
               s.ssid,
               s.security,
               band + "/" + n(s.channel),
               n(s.signal),
               s.tx_rate.empty() ? "-" : s.tx_rate,
               s.rx_rate.empty() ? "-" : s.rx_rate,
               s.tx_bytes ? amount(static_cast<double>(*s.tx_bytes)) : "-",
               s.rx_bytes ? amount(static_cast<double>(*s.rx_bytes)) : "-",
               txs < 0 ? "-" : amount(txs),
               rxs < 0 ? "-" : amount(rxs),
               assoc < 0 ? "-" : duration(assoc),
               features.empty() ? "-" : features,
               s.authorized ? (*s.authorized != 0 ? "yes" : "no") : "-",
               s.mesh ? "M" : ""};
    r.nums = {0, 0, 0, 0, 0, d(s.channel), d(s.signal), d(s.tx_kbps), d(s.rx_kbps), d(s.tx_bytes),
              d(s.rx_bytes), txs, rxs, static_cast<double>(assoc), 0, d(s.authorized), s.mesh ? 1.0 : 0.0};
    return r;
}

std::string line_of(const std::vector<std::string> &cells, const std::vector<int> &shown,
                    const std::vector<Column> &cols)
{
    std::string out;
    for (int i : shown) {
        const auto c = static_cast<std::size_t>(i);
        if (!out.empty())
            out += ' ';
        out += fit(cells[c], cols[c].width, cols[c].numeric);
    }
    return out;
}

std::string cut(const std::string &s, int width)
{
    return width > 0 && s.size() > static_cast<std::size_t>(width) ? s.substr(0, static_cast<std::size_t>(width)) : s;
}

// The status item as a number, or -1.
long long status_number(const wlan_view::Snapshot &snap, const char *name)
{
    const wlan_view::StatusItem *i = snap.status_item(name);
    return i != nullptr && i->kind != wlan_view::StatusItem::kText ? i->number : -1;
}

}  // namespace

const std::vector<Column> &station_columns()
{
    return kStation;
}

void Rates::update(const wlan_view::Snapshot &snap, const std::vector<Station> &sta, const std::vector<Radio> &radios)
{
    // A pass's counters belong to the pass's start when the daemon says it.
    const long long pass = status_number(snap, "pass.last_start");
    const time_t at = pass > 0 ? static_cast<time_t>(pass) : snap.now;
    std::map<std::string, Seen> next;
    auto see = [&](const std::string &key, const Num &v) {
        if (!v)
            return;
        auto old = seen_.find(key);
        Seen s{*v, at, kUnknown};
        if (old != seen_.end()) {
            s.rate = old->second.rate;
            if (*v == old->second.value)
                s.at = old->second.at;  // unchanged: not a new pass's figure
            else
                s.rate = *v > old->second.value && at > old->second.at
                             ? static_cast<double>(*v - old->second.value) / static_cast<double>(at - old->second.at)
                             : kUnknown;
        }
        next[key] = s;
    };
    for (const Station &s : sta) {
        const std::string key = std::string(s.mesh ? "mesh/" : "sta/") + s.mac;
        see(key + "/tx", s.tx_bytes);
        see(key + "/rx", s.rx_bytes);
    }
    for (const Radio &r : radios) {
        see("radio/" + std::to_string(r.slot) + "/tx", r.tx_bytes);
        see("radio/" + std::to_string(r.slot) + "/rx", r.rx_bytes);
    }
    seen_.swap(next);
}

double Rates::get(const std::string &key) const
{
    auto i = seen_.find(key);
    return i == seen_.end() ? kUnknown : i->second.rate;
}

std::string duration(long long s)
{
    char b[32];
    if (s < 0)
        return "-";
    if (s < 60)
        std::snprintf(b, sizeof b, "%llds", s);
    else if (s < 3600)
        std::snprintf(b, sizeof b, "%lldm%02llds", s / 60, s % 60);
    else if (s < 86400)
        std::snprintf(b, sizeof b, "%lldh%02lldm", s / 3600, s % 3600 / 60);
    else if (s < 10 * 86400)
        std::snprintf(b, sizeof b, "%lldd%02lldh", s / 86400, s % 86400 / 3600);
    else
        std::snprintf(b, sizeof b, "%lldd", s / 86400);
    return b;
}

std::string amount(double v)
{
    char b[32];
    const char *unit = "";
    for (const char *u : {"K", "M", "G", "T", "P"}) {
        if (std::fabs(v) < 1000)
            break;
        v /= 1000;
        unit = u;
    }
    std::snprintf(b, sizeof b, *unit != '\0' ? (std::fabs(v) < 10 ? "%.2f%s" : "%.1f%s") : "%.0f%s", v, unit);
    return b;
}

Screen layout(const wlan_view::Snapshot &snap, const Rates &rates, const ViewState &state, int width, int height)
{
    Screen sc;
    auto add = [&](const std::string &s, bool heading = false) {
        if (heading)
            sc.reverse.push_back(static_cast<int>(sc.lines.size()));
        sc.lines.push_back(cut(s, width));
    };
    std::vector<std::string> problems = snap.problems;
    const std::vector<Station> all = wlan_view::stations(snap, &problems);
    const std::vector<Radio> radios = wlan_view::radios(snap, &problems);

    std::string head = "wlan_top  AP " + (snap.ap_mac.empty() ? std::string("?") : snap.ap_mac) + "  ";
    if (snap.status_ok) {
        const long long last = status_number(snap, "pass.last_start");
        head += "daemon up " + duration(status_number(snap, "uptime")) + ", last pass " +
                (last > 0 ? duration(snap.now - last) + " ago" : std::string("not yet")) + ", " +
                std::to_string(std::max(0LL, status_number(snap, "pass.done"))) + " passes";
    } else {
        head += "daemon not answering";
    }
    add(head);
    const std::size_t max_problems = height > 0 ? 3 : problems.size();
    for (std::size_t i = 0; i < problems.size() && i < max_problems; ++i)
        add("! " + problems[i]);

    add("RADIO    CH/WIDTH  TXPOWER  UTIL    TX/s    RX/s  TXERR  RXERR  UP  VAPS", true);
    for (const Radio &r : radios) {
        char b[160];
        const double tx = rates.get("radio/" + std::to_string(r.slot) + "/tx");
        const double rx = rates.get("radio/" + std::to_string(r.slot) + "/rx");
        std::snprintf(b, sizeof b, "%-8s %8s %8s %4s%% %7s %7s %5s%% %5s%% %3s  %zu",
                      wlan_view::radio_name(r.slot + 1).c_str(), (n(r.channel) + "/" + n(r.width)).c_str(),
                      (n(r.tx_power) + "dBm").c_str(), n(r.ch_util).c_str(), tx < 0 ? "-" : amount(tx).c_str(),
                      rx < 0 ? "-" : amount(rx).c_str(), n(r.tx_err_rate).c_str(), n(r.rx_err_rate).c_str(),
                      r.up ? (*r.up != 0 ? "yes" : "no") : "-", r.vaps.size());
        add(b);
    }

    // Columns by priority until the width is used up, shown in screen order.
    std::vector<int> order(kStation.size());
    for (std::size_t i = 0; i < order.size(); ++i)
        order[i] = static_cast<int>(i);
    std::stable_sort(order.begin(), order.end(), [](int a, int b) {
        return kStation[static_cast<std::size_t>(a)].priority < kStation[static_cast<std::size_t>(b)].priority;
    });
    std::vector<int> shown;
    int used = 0;
    for (int i : order) {
        const int w = kStation[static_cast<std::size_t>(i)].width + (used > 0 ? 1 : 0);
        if (width > 0 && used + w > width)
            continue;
        used += w;
        shown.push_back(i);
    }
    std::sort(shown.begin(), shown.end());

    std::vector<Row> rows;
    for (const Station &s : all) {
        if (!state.filter.empty() && s.mac.find(state.filter) == std::string::npos &&
            s.ip.find(state.filter) == std::string::npos && s.ssid.find(state.filter) == std::string::npos)
            continue;
        rows.push_back(station_row(s, rates, snap.now));
    }
    const auto col = static_cast<std::size_t>(state.sort_column);
    std::stable_sort(rows.begin(), rows.end(), [&](const Row &a, const Row &b) {
        const bool less = kStation[col].numeric ? a.nums[col] < b.nums[col] : a.cells[col] < b.cells[col];
        const bool more = kStation[col].numeric ? b.nums[col] < a.nums[col] : b.cells[col] < a.cells[col];
        return state.sort_descending ? more : less;
    });

    const std::size_t events = height > 0 ? std::min<std::size_t>(snap.events.size(), 4) : snap.events.size();
    add("");
    add("STATIONS " + std::to_string(rows.size()) + (state.filter.empty() ? "" : " matching \"" + state.filter + "\"") +
        " of " + std::to_string(all.size()) + ", sorted by " + kStation[col].title +
        (state.sort_descending ? " (descending)" : ""));
    std::vector<std::string> titles;
    for (const Column &c : kStation)
        titles.push_back(c.title);
    add(line_of(titles, shown, kStation), true);
    // What is left above the events and the key line.
    std::size_t room = rows.size();
    if (height > 0) {
        const long fixed = static_cast<long>(sc.lines.size() + 2 + events);
        room = static_cast<std::size_t>(std::max(0L, height - fixed));
    }
    for (std::size_t i = 0; i < rows.size() && i < room; ++i)
        add(line_of(rows[i].cells, shown, kStation));
    if (rows.size() > room)
        sc.lines.back() = cut("... " + std::to_string(rows.size() - room + 1) + " more", width);
    add("LAST EVENTS", true);
    for (std::size_t i = snap.events.size() - events; i < snap.events.size(); ++i)
        add(snap.events[i]);
    sc.problems = std::move(problems);
    return sc;
}

std::string json(const wlan_view::Snapshot &snap, std::vector<std::string> &problems)
{
    using wlan_view::json_text;
    const std::vector<Station> sta = wlan_view::stations(snap, &problems);
    const std::vector<Radio> radios = wlan_view::radios(snap, &problems);
    auto num = [](const Num &v) { return v ? std::to_string(*v) : std::string("null"); };
    std::string o = "{\n  \"ap_mac\": " + json_text(snap.ap_mac) + ",\n  \"time\": " + std::to_string(snap.now) +
                    ",\n  \"daemon\": ";
    if (snap.status_ok) {
        o += "{";
        for (std::size_t i = 0; i < snap.status.size(); ++i) {
            const wlan_view::StatusItem &s = snap.status[i];
            o += (i ? ", " : " ") + json_text(s.name) + ": " +
                 (s.kind == wlan_view::StatusItem::kText   ? json_text(s.text)
                  : s.kind == wlan_view::StatusItem::kBool ? (s.number ? "true" : "false")
                                                           : std::to_string(s.number));
        }
        o += " }";
    } else {
        o += "null";
    }
    o += ",\n  \"radios\": [";
    for (std::size_t i = 0; i < radios.size(); ++i) {
        const Radio &r = radios[i];
        o += std::string(i ? "," : "") + "\n    { \"slot\": " + std::to_string(r.slot) +
             ", \"radio\": " + json_text(wlan_view::radio_name(r.slot + 1)) + ", \"up\": " + num(r.up) +
             ", \"channel\": " + num(r.channel) + ", \"width\": " + num(r.width) +
             ", \"tx_power\": " + num(r.tx_power) + ", \"ch_util\": " + num(r.ch_util) +
             ", \"tx_bytes\": " + num(r.tx_bytes) + ", \"rx_bytes\": " + num(r.rx_bytes) +
             ", \"tx_bytes_per_sec\": " + num(r.tx_bytes_per_sec) + ", \"rx_bytes_per_sec\": " +
             num(r.rx_bytes_per_sec) + ", \"tx_err_rate\": " + num(r.tx_err_rate) + ", \"rx_err_rate\": " +
             num(r.rx_err_rate) + " }";
    }
    o += radios.empty() ? "],\n  \"stations\": [" : "\n  ],\n  \"stations\": [";
    for (std::size_t i = 0; i < sta.size(); ++i) {
        const Station &s = sta[i];
        o += std::string(i ? "," : "") + "\n    { \"mac\": " + json_text(s.mac) +
             ", \"mesh\": " + (s.mesh ? "true" : "false") + ", \"ip\": " + json_text(s.ip) +
             ", \"ifname\": " + json_text(s.iface) + ", \"ssid\": " + json_text(s.ssid) +
             ", \"security\": " + json_text(s.security) + ", \"band\": " + json_text(s.band) +
             ", \"channel\": " + num(s.channel) + ", \"signal\": " + num(s.signal) +
             ", \"tx_rate\": " + json_text(s.tx_rate) + ", \"rx_rate\": " + json_text(s.rx_rate) +
             ", \"tx_bytes\": " + num(s.tx_bytes) + ", \"rx_bytes\": " + num(s.rx_bytes) +
             ", \"associated_at\": " + num(s.asso_time) + ", \"chmode\": " + json_text(s.chmode) +
             ", \"features\": " + json_text(s.features) + ", \"authorized\": " + num(s.authorized) + " }";
    }
    o += sta.empty() ? "],\n  \"events\": [" : "\n  ],\n  \"events\": [";
    for (std::size_t i = 0; i < snap.events.size(); ++i)
        o += std::string(i ? "," : "") + "\n    " + json_text(snap.events[i]);
    o += snap.events.empty() ? "],\n  \"problems\": [" : "\n  ],\n  \"problems\": [";
    for (std::size_t i = 0; i < problems.size(); ++i)
        o += std::string(i ? ", " : "") + json_text(problems[i]);
    return o + "]\n}\n";
}

}  // namespace wlan_top
