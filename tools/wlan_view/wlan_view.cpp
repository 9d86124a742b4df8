// The status database, the common log and the typed views of wlan_view.h.
#include "wlan_view.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace wlan_view {
namespace {

constexpr const char *kStaPrefix = "STA_STATISTIC-";
constexpr const char *kMeshPrefix = "MESH_STA_STATISTIC-";
constexpr const char *kWlanPrefix = "WLAN-";
constexpr const char *kLogName = "WLAN_MODULE_DB_LOG";
// A reader waits this long for a writer that holds the file exclusively.
constexpr int kBusyMs = 1000;
// Fields a station key usually has (room reserved for them at once).
constexpr std::size_t kFieldsPerKey = 24;
// The common log is read from its end, at most this much.
constexpr long kLogTail = 16 * 1024;

std::string env_or(const char *name, const char *fallback)
{
    const char *v = getenv(name);
    return v != nullptr && v[0] != '\0' ? v : fallback;
}

std::string column(sqlite3_stmt *s, int i)
{
    const unsigned char *t = sqlite3_column_text(s, i);
    return t != nullptr ? std::string(reinterpret_cast<const char *>(t),
                                      static_cast<std::size_t>(sqlite3_column_bytes(s, i)))
                        : std::string();
}

// Reads the three tables of the access point in the open read transaction.
bool read_rows(sqlite3 *db, Snapshot &snap, std::string &error)
{
    sqlite3_stmt *s = nullptr;
    auto fail = [&] {
        error = sqlite3_errmsg(db);
        sqlite3_finalize(s);
        return false;
    };
    if (snap.ap_mac.empty()) {
        if (sqlite3_prepare_v2(db, "SELECT substr(name, 6) FROM db_table WHERE name LIKE 'WLAN-%' ORDER BY id LIMIT 1",
                               -1, &s, nullptr) != SQLITE_OK)
            return fail();
        int rc = sqlite3_step(s);
        if (rc == SQLITE_ROW)
            snap.ap_mac = column(s, 0);
        else if (rc != SQLITE_DONE)
            return fail();
        sqlite3_finalize(s);
        s = nullptr;
    }
    const std::string names[3] = {kStaPrefix + snap.ap_mac, kMeshPrefix + snap.ap_mac, kWlanPrefix + snap.ap_mac};
    std::vector<Key> *lists[3] = {&snap.sta, &snap.mesh, &snap.wlan};
    bool *have[3] = {&snap.have_sta, &snap.have_mesh, &snap.have_wlan};
    // Per table, keys in name order and each key's fields in name order: the
    // order of the indexes, so nothing is sorted.
    const char *sql =
        "SELECT k.name, f.name, f.value, k.id FROM db_table t JOIN db_key k ON k.table_id = t.id"
        "  JOIN db_field f ON f.key_id = k.id WHERE t.name = ?1 ORDER BY k.name, f.name";
    const char *exists = "SELECT 1 FROM db_table WHERE name = ?1";
    for (int i = 0; i < 3; ++i) {
        for (const char *q : {exists, sql}) {
            if (sqlite3_prepare_v2(db, q, -1, &s, nullptr) != SQLITE_OK)
                return fail();
            sqlite3_bind_text(s, 1, names[i].c_str(), -1, SQLITE_STATIC);
            int rc;
            sqlite3_int64 last_key = -1;
            while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
                *have[i] = true;
                if (q == exists)
                    continue;
                std::vector<Key> &keys = *lists[i];
                // A key's rows come together: its name is read once, at its first.
                if (const sqlite3_int64 id = sqlite3_column_int64(s, 3); keys.empty() || id != last_key) {
                    last_key = id;
                    keys.push_back({column(s, 0), {}});
                    keys.back().fields.reserve(kFieldsPerKey);
                }
                keys.back().fields.emplace_back(column(s, 1), column(s, 2));
            }
            if (rc != SQLITE_DONE)
                return fail();
            sqlite3_finalize(s);
            s = nullptr;
        }
    }
    for (int i = 0; i < 3; ++i)
        if (!*have[i] && !snap.ap_mac.empty())
            snap.problems.push_back("no table " + names[i] + " in the status database yet");
    if (snap.ap_mac.empty())
        snap.problems.push_back("no WLAN table in the status database yet");
    return true;
}

void bad_number(std::vector<std::string> *problems, const char *table, const std::string &key,
                std::string_view field, const std::string &value)
{
    if (problems != nullptr)
        problems->push_back(std::string(table) + " " + key + ": " + std::string(field) + " \"" + value +
                            "\" is not a number");
}

// The field as a number; absent stays empty, a text that is no number too
// (and is named in PROBLEMS).
Num num(const Key &k, std::string_view field, const char *table, std::vector<std::string> *problems)
{
    const std::string *v = k.get(field);
    if (v == nullptr || *v == "N/A")
        return std::nullopt;
    Num n = parse_int(*v);
    if (!n)
        bad_number(problems, table, k.name, field, *v);
    return n;
}

std::string text(const Key &k, std::string_view field)
{
    const std::string *v = k.get(field);
    return v != nullptr ? *v : std::string();
}

}  // namespace

const std::string *Key::get(std::string_view field) const
{
    // The fields are in name order (byte order, as SQLite's index keeps them).
    auto it = std::lower_bound(fields.begin(), fields.end(), field,
                               [](const auto &f, std::string_view name) { return f.first < name; });
    return it != fields.end() && it->first == field ? &it->second : nullptr;
}

const StatusItem *Snapshot::status_item(std::string_view name) const
{
    for (const StatusItem &i : status)
        if (i.name == name)
            return &i;
    return nullptr;
}

void read_tables(const Options &opt, Snapshot &snap)
{
    snap.db_path = opt.db_path.empty() ? env_or("STATUSDB_PATH", "/tmp/statusdb.sqlite") : opt.db_path;
    snap.ap_mac = opt.ap_mac;
    const std::string where = "status database " + snap.db_path + ": ";
    // A missing file is told apart before SQLite is asked (which could not
    // say more than "unable to open").
    if (access(snap.db_path.c_str(), R_OK) != 0) {
        snap.problems.push_back(where + std::strerror(errno));
        return;
    }
    sqlite3 *db = nullptr;
    std::string error;
    bool ok = sqlite3_open_v2(snap.db_path.c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr) == SQLITE_OK;
    if (ok) {
        sqlite3_busy_timeout(db, kBusyMs);
        // Pages read through a shared mapping of the file: no copies.
        sqlite3_exec(db, "PRAGMA mmap_size=33554432", nullptr, nullptr, nullptr);
        // One read transaction for the three tables, ended before returning.
        ok = sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr) == SQLITE_OK && read_rows(db, snap, error);
        sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    }
    if (!ok) {
        if (error.empty())
            error = db != nullptr ? sqlite3_errmsg(db) : "out of memory";
        if (error.find("no such table") != std::string::npos)
            error = "not a status database (" + error + ")";
        snap.problems.push_back(where + error);
        snap.sta.clear();
        snap.mesh.clear();
        snap.wlan.clear();
    }
    snap.db_ok = ok;
    sqlite3_close(db);
}

void read_events(const Options &opt, Snapshot &snap)
{
    if (opt.event_lines == 0)
        return;
    const std::string path = (opt.log_dir.empty() ? env_or("COMMON_LOG_DIR", "/tmp/common_log") : opt.log_dir) +
                             "/" + kLogName;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return;  // no log yet: nothing happened
    std::string tail(static_cast<std::size_t>(kLogTail), '\0');
    const off_t end = lseek(fd, 0, SEEK_END);
    const off_t from = end > kLogTail ? end - kLogTail : 0;
    const ssize_t n = end >= 0 ? pread(fd, tail.data(), tail.size(), from) : -1;
    close(fd);
    tail.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    std::vector<std::string> lines;
    std::size_t at = 0;
    if (from > 0)  // the first piece is the end of a line cut in two
        at = tail.find('\n') == std::string::npos ? tail.size() : tail.find('\n') + 1;
    while (at < tail.size()) {
        std::size_t nl = tail.find('\n', at);
        if (nl == std::string::npos)
            nl = tail.size();
        if (nl > at)
            lines.push_back(tail.substr(at, nl - at));
        at = nl + 1;
    }
    const std::size_t first = lines.size() > opt.event_lines ? lines.size() - opt.event_lines : 0;
    snap.events.assign(lines.begin() + static_cast<long>(first), lines.end());
}

Snapshot take(const Options &opt)
{
    Snapshot snap;
    snap.taken = time(nullptr);
    read_tables(opt, snap);
    snap.now = snap.taken;
    if (opt.status)
        read_status(opt, snap);
    // The daemon's clock may not be this process's (a simulation's clock
    // runs ahead, say): its start and uptime, or its last pass if later.
    const StatusItem *start = snap.status_item("start_time"), *up = snap.status_item("uptime");
    const StatusItem *pass = snap.status_item("pass.last_start");
    if (snap.status_ok && start != nullptr && up != nullptr && start->number > 0)
        snap.now = static_cast<time_t>(std::max(start->number + up->number, pass != nullptr ? pass->number : 0));
    read_events(opt, snap);
    return snap;
}

std::string radio_name(long long r)
{
    return "wifi" + std::to_string(r - 1);
}

Num parse_int(std::string_view t)
{
    std::size_t i = !t.empty() && (t[0] == '-' || t[0] == '+') ? 1 : 0;
    if (i == t.size() || t.size() > 20)
        return std::nullopt;
    unsigned long long v = 0;
    for (std::size_t j = i; j < t.size(); ++j) {
        if (t[j] < '0' || t[j] > '9' || v > (~0ULL >> 1) / 10)
            return std::nullopt;
        v = v * 10 + static_cast<unsigned>(t[j] - '0');
    }
    if (v > static_cast<unsigned long long>(INT64_MAX))
        return std::nullopt;
    const auto s = static_cast<long long>(v);
    return t[0] == '-' ? -s : s;
}

Num parse_rate_kbps(std::string_view t)
{
    double scale = 1000;
    if (!t.empty() && (t.back() == 'K' || t.back() == 'M' || t.back() == 'G')) {
        scale = t.back() == 'K' ? 1 : t.back() == 'M' ? 1e3 : 1e6;
        t.remove_suffix(1);
    }
    const std::string s(t);
    if (s.empty() || s.size() > 12 || s.find_first_not_of("0123456789.") != std::string::npos)
        return std::nullopt;
    char *end = nullptr;
    const double v = std::strtod(s.c_str(), &end);
    if (end != s.c_str() + s.size() || !std::isfinite(v))
        return std::nullopt;
    return std::llround(v * scale);
}

std::string ip_text(long long word)
{
    const auto w = static_cast<uint32_t>(word);
    if (w == 0)
        return "";
    unsigned char b[4];
    std::memcpy(b, &w, sizeof b);
    char ip[20];
    std::snprintf(ip, sizeof ip, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
    return ip;
}

std::vector<Station> stations(const Snapshot &snap, std::vector<std::string> *problems)
{
    std::vector<Station> out;
    for (int mesh = 0; mesh < 2; ++mesh) {
        const char *table = mesh ? "MESH_STA_STATISTIC" : "STA_STATISTIC";
        for (const Key &k : mesh ? snap.mesh : snap.sta) {
            Station s;
            s.mesh = mesh == 1;
            s.mac = k.name;
            s.iface = text(k, "IFACE");
            s.ssid = text(k, "SSID");
            s.security = text(k, "SECURITY");
            s.band = text(k, "BAND");
            s.chmode = text(k, "CHMODE");
            s.features = text(k, "DOT11_FEATURES");
            s.tx_rate = text(k, "TX_RATE");
            s.rx_rate = text(k, "RX_RATE");
            s.ssid_profile = text(k, "SSID_PROFILE_NAME");
            s.sec_profile = text(k, "SEC_PROFILE_NAME");
            s.profiles_done = text(k, "STA_ASSO_FLAG") == "0";
            s.radio = num(k, "RADIO_ID", table, problems);
            s.channel = num(k, "STA_CHANNEL", table, problems);
            s.signal = num(k, "SIG_RSSI", table, problems);
            s.tx_bytes = num(k, "TX", table, problems);
            s.rx_bytes = num(k, "RX", table, problems);
            s.asso_time = num(k, "ASSO_TIME", table, problems);
            s.authorized = num(k, "AUTHENTICATION", table, problems);
            s.vid = num(k, "VID", table, problems);
            if (Num ip = num(k, "STA_IP_ADDR", table, problems))
                s.ip = ip_text(*ip);
            auto rate = [&](const std::string &t, Num &kbps, const char *field) {
                if (t.empty())
                    return;
                kbps = parse_rate_kbps(t);
                if (!kbps)
                    bad_number(problems, table, k.name, field, t);
            };
            rate(s.tx_rate, s.tx_kbps, "TX_RATE");
            rate(s.rx_rate, s.rx_kbps, "RX_RATE");
            out.push_back(std::move(s));
        }
    }
    return out;
}

std::vector<Radio> radios(const Snapshot &snap, std::vector<std::string> *problems)
{
    std::vector<Radio> out;
    const char *t = "WLAN";
    for (const Key &k : snap.wlan) {
        Radio r;
        if (k.name.rfind("SLOT-", 0) != 0 || !parse_int(k.name.substr(5)))
            continue;
        r.slot = static_cast<int>(*parse_int(k.name.substr(5)));
        r.up = num(k, "ACTIVATE", t, problems);
        r.channel = num(k, "DCS_CHANNEL", t, problems);
        r.width = num(k, "CH_WIDTH", t, problems);
        r.ext_offset = num(k, "EXT_OFFSET", t, problems);
        r.vht1 = num(k, "VHT_CH_FREQ", t, problems);
        r.vht2 = num(k, "VHT_CH_FREQ2", t, problems);
        r.tx_power = num(k, "TX_POWER", t, problems);
        r.ch_util = num(k, "CH_UTIL", t, problems);
        r.tx_frames = num(k, "TX_FRAME_CNT", t, problems);
        r.rx_frames = num(k, "RX_FRAME_CNT", t, problems);
        r.tx_bytes_per_sec = num(k, "TX_BYTE_PER_SEC", t, problems);
        r.rx_bytes_per_sec = num(k, "RX_BYTE_PER_SEC", t, problems);
        r.tx_bytes = num(k, "TX_FRAME_BYTES", t, problems);
        r.rx_bytes = num(k, "RX_FRAME_BYTES", t, problems);
        r.rx_err_rate = num(k, "RX_ERR_RATE", t, problems);
        r.tx_err_rate = num(k, "TX_ERR_RATE", t, problems);
        r.fcs_errors = num(k, "FCS_ERR_CNT", t, problems);
        r.retries = num(k, "RETRY_CNT", t, problems);
        for (int m = 0; m < 8; ++m) {
            const std::string *mac = k.get("VAP_" + std::to_string(m) + "_MAC");
            if (mac != nullptr && !mac->empty() && *mac != "00:00:00:00:00:00")
                r.vaps.emplace_back("wlan-" + std::to_string(r.slot + 1) + "-" + std::to_string(m + 1), *mac);
        }
        out.push_back(std::move(r));
    }
    return out;
}

bool take_source_option(Options &opt, int argc, char **argv, int &i)
{
    if (i + 1 >= argc)
        return false;
    const std::string_view a = argv[i];
    std::string *into = a == "--db" ? &opt.db_path : a == "--ap" ? &opt.ap_mac : a == "-s" ? &opt.bus_socket : nullptr;
    if (into == nullptr)
        return false;
    *into = argv[++i];
    return true;
}

std::string json_text(std::string_view v)
{
    std::string out = "\"";
    for (std::size_t i = 0; i < v.size();) {
        const auto c = static_cast<unsigned char>(v[i]);
        std::size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        for (std::size_t j = 1; n > 1 && j < n; ++j)
            if (i + j >= v.size() || (static_cast<unsigned char>(v[i + j]) >> 6) != 2)
                n = 0;
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (n == 1 && c >= 0x20 && c != 0x7f) {
            out += static_cast<char>(c);
        } else if (n > 1) {
            out.append(v.substr(i, n));
            i += n;
            continue;
        } else {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04x", c);
            out += esc;
        }
        ++i;
    }
    return out + "\"";
}

namespace {
volatile sig_atomic_t *stop_flag = nullptr;

void on_stop(int sig)
{
    if (stop_flag != nullptr && *stop_flag == 0) {
        *stop_flag = sig;
        return;
    }
    signal(sig, SIG_DFL);
    raise(sig);
}
}  // namespace

void on_stop_signals(volatile sig_atomic_t *flag)
{
    stop_flag = flag;
    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sa_handler = on_stop;  // no SA_RESTART: a waiting call returns EINTR
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
}

}  // namespace wlan_view
