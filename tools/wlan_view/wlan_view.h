// What wlan_top and wlan_metrics read, read once for both: the access
// point's station, mesh-station and radio tables from the status database
// (in one read transaction, on a read-only connection closed again before
// the call returns), the daemon's counters from its bus object, and the last
// lines of the common log. Nothing here ever writes.
#ifndef WLAN_VIEW_H
#define WLAN_VIEW_H

#include <signal.h>
#include <time.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace wlan_view {

using Fields = std::vector<std::pair<std::string, std::string>>;

// One key of a table with its fields, in name order.
struct Key {
    std::string name;
    Fields fields;
    // The field's text, or null when the key does not hold it.
    const std::string *get(std::string_view field) const;
};

// One value of the daemon's status reply, named by its path ("uptime",
// "pass.last_start", "dropped.too_short").
struct StatusItem {
    enum Kind { kText, kNumber, kBool };
    std::string name;
    Kind kind = kNumber;
    std::string text;
    long long number = 0;
};

// Where to read from. Empty texts take the defaults the daemon uses.
struct Options {
    std::string db_path;      // $STATUSDB_PATH, else /tmp/statusdb.sqlite
    std::string ap_mac;       // the access point whose tables are read: the first found
    std::string bus_socket;   // the bus's default socket
    std::string log_dir;      // $COMMON_LOG_DIR, else /tmp/common_log
    int status_timeout_ms = 500;
    std::size_t event_lines = 8;
    bool status = true;       // ask the daemon
};

// The options both tools take for where to read: --db FILE, --ap MAC and
// -s SOCKET. True (and I moved past the value) when ARGV[I] is one of them
// and has its value.
bool take_source_option(Options &opt, int argc, char **argv, int &i);

// Everything read at one moment.
struct Snapshot {
    time_t taken = 0;
    std::string db_path, ap_mac;
    bool db_ok = false;                  // the database was read
    bool have_sta = false, have_mesh = false, have_wlan = false;
    std::vector<Key> sta, mesh, wlan;    // keys in name order
    bool status_ok = false;              // the daemon answered
    std::vector<StatusItem> status;
    // The time by the daemon's clock (its start time plus its uptime, or its
    // last pass's start if later) when it answered, else by this process's:
    // the clock the tables' times are of.
    time_t now = 0;
    std::vector<std::string> events;     // the last common-log lines, oldest first
    std::vector<std::string> problems;   // one line each: what could not be read

    const StatusItem *status_item(std::string_view name) const;
};

Snapshot take(const Options &opt);

// The pieces of take(), for tests and benchmarks.
void read_tables(const Options &opt, Snapshot &snap);
void read_status(const Options &opt, Snapshot &snap);
void read_events(const Options &opt, Snapshot &snap);

// --- typed views of the rows ---------------------------------------------

using Num = std::optional<long long>;

struct Station {
    bool mesh = false;
    std::string mac, iface, ssid, security, band, chmode, features;
    std::string ip;                // a.b.c.d, empty while none is known
    std::string tx_rate, rx_rate;  // as the driver prints them (144M)
    Num radio, channel, signal, tx_bytes, rx_bytes, asso_time, authorized, vid;
    Num tx_kbps, rx_kbps;          // the rate texts as kbit/s
    bool profiles_done = false;    // STA_ASSO_FLAG is 0: security and profiles final
    std::string ssid_profile, sec_profile;
};

struct Radio {
    int slot = 0;
    Num up, channel, width, ext_offset, vht1, vht2, tx_power, ch_util;
    Num tx_frames, rx_frames, tx_bytes_per_sec, rx_bytes_per_sec, tx_bytes, rx_bytes;
    Num rx_err_rate, tx_err_rate, fcs_errors, retries;
    std::vector<std::pair<std::string, std::string>> vaps;  // interface, BSS address
};

// The rows as typed views. A field that is present but not a number is left
// out of the view and named in PROBLEMS (when given).
std::vector<Station> stations(const Snapshot &snap, std::vector<std::string> *problems);
std::vector<Radio> radios(const Snapshot &snap, std::vector<std::string> *problems);

// "wifi<slot>" for radio number R (1-based, as interface names count).
std::string radio_name(long long r);

// A decimal integer (optional sign), the whole text.
Num parse_int(std::string_view text);
// A PHY rate text (144M, 6.5M, 1G, 300K, 54) as kbit/s; a bare number is Mbit/s.
Num parse_rate_kbps(std::string_view text);
// The station address as the tables hold it (its four bytes as one word in
// this host's order, signed or not) as a.b.c.d; empty for 0.
std::string ip_text(long long word);

// A JSON string literal; bytes that are not valid UTF-8 become \u00XX.
std::string json_text(std::string_view v);

// SIGINT and SIGTERM: set FLAG (when given) and otherwise end the process
// as their default action would. Installed before any bus connection, so
// the bus library leaves them alone.
void on_stop_signals(volatile sig_atomic_t *flag);

}  // namespace wlan_view

#endif
