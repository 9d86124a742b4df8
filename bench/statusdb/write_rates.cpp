#include "write_rates.h"

#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "parser_module.h"
#include "store.h"

namespace statusdb_bench {

namespace {

constexpr const char *kTable = "STA_STATISTIC-00:11:22:33:44:55";
constexpr int kKeys = 64;

const char *const kFieldNames[kFields] = {
    "STA_ASSO_FLAG", "IFACE",   "RADIO_ID", "WLAN_INDEX", "SSID",     "SECURITY",
    "AUTHENTICATION", "BAND",   "ASSO_TIME", "STA_IP",    "STA_CHANNEL", "TX_RATE",
    "RX_RATE",        "SIG_RSSI", "CHMODE",  "DOT11_FEATURES", "SSID_PROFILE_NAME", "SEC_PROFILE_NAME",
};

void key_name(int i, char (&out)[32])
{
    std::snprintf(out, sizeof out, "aa:bb:cc:dd:%02x:%02x", (i >> 8) & 0xff, i & 0xff);
}

double per_second(int count, std::chrono::steady_clock::time_point start)
{
    std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    return took.count() > 0 ? count / took.count() : 0.0;
}

bool prepare_keys(parser_module *db)
{
    void *c = db->init_sock(0);
    if (c == nullptr)
        return false;
    char reply[PARSER_REPLY_MAX];
    bool ok = db->gen_cmd(c, reply, "dbctl", "-a", kTable, nullptr) == 0;
    for (int i = 0; ok && i < kKeys; ++i) {
        char key[32];
        key_name(i, key);
        ok = db->gen_cmd(c, reply, "dbctl", "-t", kTable, "-i", key, nullptr) == 0;
    }
    db->close_sock(c, 0);
    return ok;
}

int write_station(parser_module *db, void *c, int i)
{
    char key[32];
    key_name(i % kKeys, key);
    char reply[PARSER_REPLY_MAX];
    return db->gen_cmd(c, reply, "dbctl", "-t", kTable, "-k", key, "-f", "STA_ASSO_FLAG", "-s", "1", "-f", "IFACE",
                       "-s", "wlan-1-1", "-f", "RADIO_ID", "-s", "1", "-f", "WLAN_INDEX", "-s", "1", "-f", "SSID",
                       "-s", "guest", "-f", "SECURITY", "-s", "WPA2-Personal", "-f", "AUTHENTICATION", "-s", "0",
                       "-f", "BAND", "-s", "5GHz", "-f", "ASSO_TIME", "-s", "1700000000", "-f", "STA_IP", "-s",
                       "N/A", "-f", "STA_CHANNEL", "-s", "36", "-f", "TX_RATE", "-s", "866M", "-f", "RX_RATE",
                       "-s", "780M", "-f", "SIG_RSSI", "-s", "-52", "-f", "CHMODE", "-s", "11AC_VHT80", "-f",
                       "DOT11_FEATURES", "-s", "11k/11v", "-f", "SSID_PROFILE_NAME", "-s", "N/A", "-f",
                       "SEC_PROFILE_NAME", "-s", "N/A", nullptr);
}

// A plain SQLite connection to the file, its table and keys made first
// through a client; null on failure.
sqlite3 *open_raw()
{
    parser_module *db = parser_open("dbcmd");
    if (db == nullptr || !prepare_keys(db))
        return nullptr;
    sqlite3 *raw = nullptr;
    if (sqlite3_open_v2(statusdb::database_path(), &raw, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
        sqlite3_close(raw);
        return nullptr;
    }
    sqlite3_busy_timeout(raw, statusdb::kBusyTimeoutMs);
    sqlite3_exec(raw, "PRAGMA synchronous=NORMAL", nullptr, nullptr, nullptr);
    return raw;
}

}  // namespace

double client_command_rate(int count)
{
    parser_module *db = parser_open("dbcmd");
    if (db == nullptr || !prepare_keys(db))
        return -1;
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < count; ++i) {
        void *c = db->init_sock(0);
        if (c == nullptr || write_station(db, c, i) != 0)
            return -1;
        db->close_sock(c, 0);
    }
    return per_second(count, start);
}

double open_client_command_rate(int count)
{
    parser_module *db = parser_open("dbcmd");
    if (db == nullptr || !prepare_keys(db))
        return -1;
    void *c = db->init_sock(0);
    if (c == nullptr)
        return -1;
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < count; ++i) {
        if (write_station(db, c, i) != 0) {
            db->close_sock(c, 0);
            return -1;
        }
    }
    double rate = per_second(count, start);
    db->close_sock(c, 0);
    return rate;
}

double raw_upsert_rate(int count)
{
    sqlite3 *raw = open_raw();
    if (raw == nullptr)
        return -1;

    // The key ids, looked up once: the raw rate is the upsert alone.
    long long ids[kKeys] = {};
    sqlite3_stmt *find = nullptr, *upsert = nullptr, *begin = nullptr, *commit = nullptr;
    bool ok = sqlite3_prepare_v2(raw,
                                 "SELECT k.id FROM db_key k JOIN db_table t ON k.table_id = t.id"
                                 " WHERE t.name = ?1 AND k.name = ?2",
                                 -1, &find, nullptr) == SQLITE_OK &&
              sqlite3_prepare_v2(raw,
                                 "INSERT INTO db_field(key_id, name, value) VALUES(?1, ?2, ?3)"
                                 " ON CONFLICT(key_id, name) DO UPDATE SET value = excluded.value",
                                 -1, &upsert, nullptr) == SQLITE_OK &&
              sqlite3_prepare_v2(raw, "BEGIN IMMEDIATE", -1, &begin, nullptr) == SQLITE_OK &&
              sqlite3_prepare_v2(raw, "COMMIT", -1, &commit, nullptr) == SQLITE_OK;
    for (int i = 0; ok && i < kKeys; ++i) {
        char key[32];
        key_name(i, key);
        sqlite3_bind_text(find, 1, kTable, -1, SQLITE_STATIC);
        sqlite3_bind_text(find, 2, key, -1, SQLITE_TRANSIENT);
        ok = sqlite3_step(find) == SQLITE_ROW;
        if (ok)
            ids[i] = sqlite3_column_int64(find, 0);
        sqlite3_reset(find);
    }

    const char *values[kFields] = {"1",   "wlan-1-1", "1",    "1",          "guest", "WPA2-Personal",
                                   "0",   "5GHz",     "1700000000", "N/A", "36",    "866M",
                                   "780M", "-52",     "11AC_VHT80", "11k/11v", "N/A", "N/A"};
    double rate = -1;
    if (ok) {
        auto start = std::chrono::steady_clock::now();
        for (int i = 0; ok && i < count; ++i) {
            ok = sqlite3_step(begin) == SQLITE_DONE;
            sqlite3_reset(begin);
            for (int f = 0; ok && f < kFields; ++f) {
                sqlite3_bind_int64(upsert, 1, ids[i % kKeys]);
                sqlite3_bind_text(upsert, 2, kFieldNames[f], -1, SQLITE_STATIC);
                sqlite3_bind_text(upsert, 3, values[f], -1, SQLITE_STATIC);
                ok = sqlite3_step(upsert) == SQLITE_DONE;
                sqlite3_reset(upsert);
            }
            ok = ok && sqlite3_step(commit) == SQLITE_DONE;
            sqlite3_reset(commit);
        }
        if (ok)
            rate = per_second(count, start);
    }
    for (sqlite3_stmt *s : {find, upsert, begin, commit})
        sqlite3_finalize(s);
    sqlite3_close(raw);
    return rate;
}

double raw_association_rate(int count)
{
    sqlite3 *raw = open_raw();
    if (raw == nullptr)
        return -1;
    sqlite3_stmt *table = nullptr, *key = nullptr, *field = nullptr, *begin = nullptr, *commit = nullptr;
    bool ok = sqlite3_prepare_v2(raw, "SELECT id FROM db_table WHERE name = ?1", -1, &table, nullptr) == SQLITE_OK &&
              sqlite3_prepare_v2(raw, "INSERT INTO db_key(table_id, name) VALUES(?1, ?2)", -1, &key, nullptr) ==
                  SQLITE_OK &&
              sqlite3_prepare_v2(raw, "INSERT INTO db_field(key_id, name, value, seq) VALUES(?1, ?2, ?3, ?4)", -1,
                                 &field, nullptr) == SQLITE_OK &&
              sqlite3_prepare_v2(raw, "BEGIN IMMEDIATE", -1, &begin, nullptr) == SQLITE_OK &&
              sqlite3_prepare_v2(raw, "COMMIT", -1, &commit, nullptr) == SQLITE_OK;
    long long table_id = 0;
    if (ok) {
        sqlite3_bind_text(table, 1, kTable, -1, SQLITE_STATIC);
        ok = sqlite3_step(table) == SQLITE_ROW;
        table_id = sqlite3_column_int64(table, 0);
    }
    auto step = [&](sqlite3_stmt *s) {
        bool done = sqlite3_step(s) == SQLITE_DONE;
        sqlite3_reset(s);
        return done;
    };
    double rate = -1;
    if (ok) {
        auto start = std::chrono::steady_clock::now();
        for (int i = 0; ok && i < count; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "02:00:00:%02x:%02x:%02x", (i >> 16) & 0xff, (i >> 8) & 0xff, i & 0xff);
            sqlite3_bind_int64(key, 1, table_id);
            sqlite3_bind_text(key, 2, name, -1, SQLITE_STATIC);
            ok = step(begin) && step(key) && step(commit) && step(begin);
            const long long id = sqlite3_last_insert_rowid(raw);
            for (int f = 0; ok && f < kFields; ++f) {
                sqlite3_bind_int64(field, 1, id);
                sqlite3_bind_text(field, 2, kFieldNames[f], -1, SQLITE_STATIC);
                sqlite3_bind_text(field, 3, name, -1, SQLITE_STATIC);
                sqlite3_bind_int(field, 4, f + 1);
                ok = step(field);
            }
            ok = ok && step(commit);
        }
        if (ok)
            rate = per_second(count, start);
    }
    for (sqlite3_stmt *s : {table, key, field, begin, commit})
        sqlite3_finalize(s);
    sqlite3_close(raw);
    return rate;
}

void self_memory_kib(long *rss, long *anon)
{
    *rss = *anon = -1;
    FILE *f = std::fopen("/proc/self/status", "r");
    if (f == nullptr)
        return;
    char line[256];
    while (std::fgets(line, sizeof line, f) != nullptr) {
        if (std::strncmp(line, "VmRSS:", 6) == 0)
            *rss = std::atol(line + 6);
        else if (std::strncmp(line, "RssAnon:", 8) == 0)
            *anon = std::atol(line + 8);
    }
    std::fclose(f);
}

}  // namespace statusdb_bench
