// What wlan_top shows, apart from the terminal: the header, the radio and
// station tables as columns that drop out by priority when the screen is
// narrow, sorting and filtering, the per-second rates between passes, and
// the plain-text and JSON snapshots.
#ifndef WLAN_TOP_VIEW_H
#define WLAN_TOP_VIEW_H

#include <map>
#include <string>
#include <vector>

#include "wlan_view.h"

namespace wlan_top {

struct Column {
    const char *title;
    int width;
    int priority;  // 0 is kept longest
    bool numeric;
};

// The station table's columns, in screen order.
const std::vector<Column> &station_columns();

// Bytes per second between the last two collection passes, from the byte
// counters of two snapshots (the daemon's last pass start when it answers,
// else when the change was seen).
class Rates {
public:
    void update(const wlan_view::Snapshot &snap, const std::vector<wlan_view::Station> &sta,
                const std::vector<wlan_view::Radio> &radios);
    // Bytes/s for KEY ("sta/<mac>/tx", "radio/<slot>/rx"), negative when unknown.
    double get(const std::string &key) const;

private:
    struct Seen {
        long long value;
        time_t at;
        double rate;
    };
    std::map<std::string, Seen> seen_;
};

struct Screen {
    std::vector<std::string> lines;  // one string a screen line, at most WIDTH wide
    std::vector<int> reverse;        // the lines shown as headings
    std::vector<std::string> problems;  // the snapshot's and its fields' problems
};

struct ViewState {
    int sort_column = 0;  // index into station_columns()
    bool sort_descending = false;
    std::string filter;   // part of a MAC, IP or SSID
};

// Lays out SNAP on WIDTH columns (0: every column) and at most HEIGHT lines
// (0: no limit; the station table gets what the other parts leave).
Screen layout(const wlan_view::Snapshot &snap, const Rates &rates, const ViewState &state, int width, int height);

// The snapshot as one JSON object; its fields' problems are added to PROBLEMS.
std::string json(const wlan_view::Snapshot &snap, std::vector<std::string> &problems);

// "1h02m", "3d04h", "45s".
std::string duration(long long seconds);
// "52.0K", "6.50G" (powers of 1000), "812".
std::string amount(double v);

}  // namespace wlan_top

#endif
