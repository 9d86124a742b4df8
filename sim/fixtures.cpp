// What the access point's tools print, rendered from the model: the driver's
// station listings, the radio answers, /proc/net files, the device shell's
// tables and the WLAN configuration files.
#include "scenario.h"

#include <algorithm>
#include <cstdio>
#include <sstream>

namespace sim {

std::map<std::string, std::string> render_fixtures(const Model &m)
{
    std::map<std::string, std::string> f;
    auto radio_ch = [&](const std::string &iface) {
        auto it = m.radios.find(radio_of(iface));
        return it == m.radios.end() ? 0 : it->second.channel;
    };

    // The driver's station listing, one file per interface.
    const std::string head =
        "ADDR              AID CHAN TXRATE RXRATE SNR MINSNR MAXSNR TXBYTES RXBYTES CAPS FLAGS MODE\n";
    std::map<std::string, std::string> listing;
    for (const Vap &v : m.vaps)
        listing[v.name] = head;
    int aid = 1;
    for (const Station &s : m.stations) {
        if (s.iface.empty())
            continue;
        if (!listing.count(s.iface))
            listing[s.iface] = head;
        int ch = s.channel ? s.channel : radio_ch(s.iface);
        std::ostringstream l;
        l << mac_text(s.mac) << " " << aid++ << " " << ch << " " << s.txrate << " " << s.rxrate
          << " " << s.snr << " " << s.snr << " " << s.snr << " " << s.tx << " " << s.rx << " "
          << s.bandcap << " WME " << s.mode << "\n";
        listing[s.iface] += l.str();
    }
    for (const auto &[name, text] : listing)
        f["driver/" + name] = text;

    // The active VAP list and the per-interface radio answers.
    std::string vaps, wireless =
        "Inter-| sta-|   Quality        |   Discarded packets               | Missed | WE\n"
        " face | tus | link level noise |  nwid  crypt   frag  retry   misc | beacon | 22\n";
    std::string dev =
        "Inter-|   Receive                                                |  Transmit\n"
        " face |bytes    packets errs drop fifo frame compressed multicast|bytes    packets errs drop fifo colls carrier compressed\n"
        "    lo:       0       0    0    0    0     0          0         0        0       0    0    0    0     0       0          0\n";
    std::string status =
        "Index Interface       Status  TxFrames   RxFrames   Retries    TxBps      RxBps\n"
        "----- --------------- ------- ---------- ---------- ---------- ---------- ----------\n";
    int idx = 1;
    for (const Vap &v : m.vaps) {
        if (v.up)
            vaps += v.name + "\n";
        int r = radio_of(v.name);
        auto it = m.radios.find(r);
        Radio rd = it == m.radios.end() ? Radio{} : it->second;
        f["iwlist/" + v.name] = v.name + "  Current Tx-Power=" + std::to_string(rd.txpower) +
                                " dBm  (in driver units)\n";
        f["iwpriv/" + v.name] = v.name + "  get_chutil:" + std::to_string(rd.chutil) + "\n";
        char line[256];
        snprintf(line, sizeof line, " %s: 0000   %d.  -%d.  -95.  0 0 0 0 0 0\n", v.name.c_str(),
                 v.up ? 70 : 0, v.up ? 40 : 0);
        wireless += line;
        const Counters &c = v.counters;
        snprintf(line, sizeof line,
                 "%*s: %llu %llu %llu 0 0 0 0 0 %llu %llu %llu 0 0 0 0 0\n", 6, v.name.c_str(),
                 static_cast<unsigned long long>(c.rx_bytes),
                 static_cast<unsigned long long>(c.rx_frames),
                 static_cast<unsigned long long>(c.rx_errs),
                 static_cast<unsigned long long>(c.tx_bytes),
                 static_cast<unsigned long long>(c.tx_frames),
                 static_cast<unsigned long long>(c.tx_errs));
        dev += line;
        snprintf(line, sizeof line, "%-5d %-15s %-7s %-10llu %-10llu %-10d %-10llu %-10llu\n",
                 idx++, v.name.c_str(), v.up ? "Up" : "Down",
                 static_cast<unsigned long long>(c.tx_frames),
                 static_cast<unsigned long long>(c.rx_frames), 0,
                 static_cast<unsigned long long>(c.tx_bps),
                 static_cast<unsigned long long>(c.rx_bps));
        status += line;

        std::string cfg = v.name + " configuration\n";
        if (!v.ssid.empty())
            cfg += "  SSID: " + v.ssid + "\n";
        if (!v.ssid_profile.empty())
            cfg += "  SSID_profile: " + v.ssid_profile + "\n";
        if (!v.security.empty())
            cfg += "  Security: " + v.security + "\n";
        if (!v.sec_profile.empty())
            cfg += "  Security_profile: " + v.sec_profile + "\n";
        f["hvsh/config/" + v.name] = cfg;
    }
    f["vaps"] = vaps;
    f["proc_net_wireless"] = wireless;
    f["proc_net_dev"] = dev;
    f["hvsh/wlan_status"] = status;

    std::string info = "Wireless station information\n";
    for (const Station &s : m.stations) {
        if (s.iface.empty() && s.ip.empty())
            continue;
        info += "Station " + mac_text(s.mac) + "\n";
        info += "  Interface     : " + (s.iface.empty() ? std::string("-") : s.iface) + "\n";
        info += "  IPv4 Address  : " + (s.ip.empty() ? std::string("0.0.0.0") : s.ip) + "\n";
        info += "  Signal        : " + std::to_string(s.snr - 95) + " dBm\n";
    }
    f["hvsh/station_info"] = info;

    for (int r = 1; r <= std::max(m.slots, 1); ++r) {
        std::string d = "WDS slot" + std::to_string(r) + " detail\n";
        auto it = m.wds.find(r);
        if (it != m.wds.end()) {
            const Wds &x = it->second;
            if (!x.ssid.empty())
                d += "  WDS_SSID:" + x.ssid + "\n";
            if (!x.profile.empty())
                d += "  WDS_profile:" + x.profile + "\n";
            if (!x.security.empty())
                d += "  Security:" + x.security + "\n";
            if (!x.sec_profile.empty())
                d += "  Security_profile:" + x.sec_profile + "\n";
        }
        f["hvsh/wds/slot" + std::to_string(r)] = d;
    }
    for (int r = 1; r <= std::max(m.slots, 1); ++r) {
        std::string c;
        auto it = m.conf.find(r);
        if (it != m.conf.end())
            for (const auto &l : it->second)
                c += l + "\n";
        f["halvo/wlan-" + std::to_string(r) + ".conf"] = c;
    }
    for (const auto &[r, lines] : m.conf) {
        std::string c;
        for (const auto &l : lines)
            c += l + "\n";
        f["halvo/wlan-" + std::to_string(r) + ".conf"] = c;
    }
    return f;
}

}  // namespace sim
