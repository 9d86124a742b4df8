#include "store.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include "parser_module.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <vector>

namespace statusdb {

namespace {

// Page cache of one connection, in KiB (SQLite's own default is 2 MiB): a
// process keeps a few connections for its whole life, a command touches a
// few pages, and a connection's cache is dropped anyway whenever another
// connection has written since its last command.
constexpr int kCacheKiB = 32;

// Pages of the file itself are read through a shared mapping of it (up to
// this many bytes) rather than copied into the cache: no read call per page,
// and no private memory. The file only ever grows (nothing here truncates or
// vacuums it), so a mapped page never goes away under a reader.
constexpr long long kMapBytes = 32LL << 20;

// Most table ids a connection remembers.
constexpr std::size_t kKnownTables = 16;

// Bumped when the tables below change shape; a file of an older shape is
// brought up to date when a client first opens it.
constexpr int kSchemaVersion = 2;

constexpr const char *kSchema =
    "CREATE TABLE IF NOT EXISTS db_table("
    "  id INTEGER PRIMARY KEY, name TEXT NOT NULL UNIQUE);"
    "CREATE TABLE IF NOT EXISTS db_key("
    "  id INTEGER PRIMARY KEY, table_id INTEGER NOT NULL, name TEXT NOT NULL,"
    "  UNIQUE(table_id, name));"
    // A key's fields lie together in one tree ordered by name; SEQ numbers
    // them in the order they were first set.
    "CREATE TABLE IF NOT EXISTS db_field("
    "  key_id INTEGER NOT NULL, name TEXT NOT NULL, value TEXT NOT NULL,"
    "  seq INTEGER NOT NULL DEFAULT 0, PRIMARY KEY(key_id, name)) WITHOUT ROWID;"
    // The cloud status record belongs to the platform: it is always there.
    "INSERT OR IGNORE INTO db_table(name) VALUES('Velora');"
    "INSERT OR IGNORE INTO db_key(table_id, name)"
    "  SELECT id, 'velora-status' FROM db_table WHERE name = 'Velora';";

// From the first shape, where every field had a row id of its own (which
// numbered the fields of a key in the order they were first set, too).
constexpr const char *kFromVersion1 =
    "ALTER TABLE db_field RENAME TO db_field_1;"
    "CREATE TABLE db_field("
    "  key_id INTEGER NOT NULL, name TEXT NOT NULL, value TEXT NOT NULL,"
    "  seq INTEGER NOT NULL DEFAULT 0, PRIMARY KEY(key_id, name)) WITHOUT ROWID;"
    "INSERT INTO db_field(key_id, name, value, seq) SELECT key_id, name, value, id FROM db_field_1;"
    "DROP TABLE db_field_1;";

// Statement texts, in the order of Store::Stmt.
constexpr const char *kStatements[] = {
    "BEGIN IMMEDIATE",
    "COMMIT",
    "ROLLBACK",
    "INSERT OR IGNORE INTO db_table(name) VALUES(?1)",
    "SELECT id FROM db_table WHERE name = ?1",
    "INSERT OR IGNORE INTO db_key(table_id, name) VALUES(?1, ?2)",
    "SELECT id FROM db_key WHERE table_id = ?1 AND name = ?2",
    "UPDATE db_field SET value = ?3 WHERE key_id = ?1 AND name = ?2",
    "INSERT OR IGNORE INTO db_field(key_id, name, value, seq) VALUES(?1, ?2, ?3, ?4)",
    "SELECT ifnull(max(seq), 0), count(*) FROM db_field WHERE key_id = ?1",
    "SELECT value FROM db_field WHERE key_id = ?1 AND name = ?2",
    "DELETE FROM db_field WHERE key_id = ?1",
    "DELETE FROM db_key WHERE id = ?1",
    ("SELECT k.name, f.value FROM db_key k JOIN db_field f ON f.key_id = k.id"
     "  WHERE k.table_id = ?1 AND f.name = ?2 ORDER BY k.id"),
};

// Resets a statement and its bindings when the scope ends.
class Reset {
public:
    explicit Reset(sqlite3_stmt *s) : s_(s) {}
    ~Reset()
    {
        sqlite3_reset(s_);
        sqlite3_clear_bindings(s_);
    }
    Reset(const Reset &) = delete;
    Reset &operator=(const Reset &) = delete;

private:
    sqlite3_stmt *s_;
};

void bind_text(sqlite3_stmt *s, int index, std::string_view text)
{
    // Texts are at most kMaxText bytes, so the length fits an int.
    sqlite3_bind_text(s, index, text.data(), static_cast<int>(text.size()), SQLITE_STATIC);
}

std::string_view column_text(sqlite3_stmt *s, int index)
{
    const unsigned char *p = sqlite3_column_text(s, index);
    int n = sqlite3_column_bytes(s, index);
    if (p == nullptr || n <= 0)
        return {""};
    return {reinterpret_cast<const char *>(p), static_cast<std::size_t>(n)};
}

// Copies TEXT into REPLY (CAP bytes), cut if need be, always terminated.
void put_reply(char *reply, std::size_t cap, std::string_view text)
{
    if (cap == 0)
        return;
    std::size_t n = std::min(text.size(), cap - 1);
    if (n > 0)
        std::memcpy(reply, text.data(), n);
    reply[n] = '\0';
}

// A text shown to a person: control characters become '?'.
std::string printable(std::string_view text)
{
    std::string out(text);
    for (char &c : out) {
        unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7f)
            c = '?';
    }
    return out;
}

std::string db_error(sqlite3 *db)
{
    return std::string("database: ") + sqlite3_errmsg(db);
}

}  // namespace

const char *database_path()
{
    const char *path = getenv(kPathVariable);
    return (path != nullptr && path[0] != '\0') ? path : kDefaultPath;
}

Store::~Store()
{
    for (sqlite3_stmt *&s : stmts_) {
        sqlite3_finalize(s);
        s = nullptr;
    }
    if (db_ != nullptr)
        sqlite3_close(db_);
}

bool Store::open(const char *path, std::string &error)
{
    if (db_ != nullptr) {
        error = "already open";
        return false;
    }
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX;
    int rc = sqlite3_open_v2(path, &db_, flags, nullptr);
    if (rc != SQLITE_OK) {
        error = std::string("cannot open ") + path + ": " + (db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc));
        return false;
    }
    sqlite3_exec(db_, ("PRAGMA cache_size=-" + std::to_string(kCacheKiB)).c_str(), nullptr, nullptr, nullptr);
    sqlite3_exec(db_, ("PRAGMA mmap_size=" + std::to_string(kMapBytes)).c_str(), nullptr, nullptr, nullptr);
    sqlite3_busy_timeout(db_, kBusyTimeoutMs);
    sqlite3_extended_result_codes(db_, 1);
    if (!prepare_schema(error))
        return false;
    struct stat st;
    if (stat(path, &st) != 0) {
        error = std::string("cannot open ") + path + ": it went away";
        return false;
    }
    path_ = path;
    dev_ = st.st_dev;
    ino_ = st.st_ino;
    return true;
}

bool Store::reusable_for(const char *path) const
{
    struct stat st;
    return db_ != nullptr && sqlite3_get_autocommit(db_) != 0 && path_ == path && stat(path, &st) == 0 &&
           st.st_dev == dev_ && st.st_ino == ino_;
}

bool Store::in_transaction() const { return db_ != nullptr && sqlite3_get_autocommit(db_) == 0; }

void Store::on_commit(int (*hook)(void *, sqlite3 *, const char *, int), void *arg)
{
    if (db_ != nullptr)
        sqlite3_wal_hook(db_, hook, arg);
}

void Store::checkpoint()
{
    if (db_ != nullptr)
        sqlite3_wal_checkpoint_v2(db_, "main", SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
}

void Store::retire()
{
    if (db_ == nullptr)
        return;
    int persist = 1;
    sqlite3_file_control(db_, "main", SQLITE_FCNTL_PERSIST_WAL, &persist);
    for (sqlite3_stmt *&s : stmts_) {
        sqlite3_finalize(s);
        s = nullptr;
    }
    sqlite3_close(db_);
    db_ = nullptr;
}

bool Store::prepare_schema(std::string &error)
{
    auto user_version = [&](int &version) {
        sqlite3_stmt *s = nullptr;
        if (sqlite3_prepare_v2(db_, "PRAGMA user_version", -1, &s, nullptr) != SQLITE_OK)
            return false;
        bool ok = sqlite3_step(s) == SQLITE_ROW;
        if (ok)
            version = sqlite3_column_int(s, 0);
        sqlite3_finalize(s);
        return ok;
    };
    auto exec = [&](const char *sql) { return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK; };

    int version = 0;
    if (!user_version(version)) {
        error = db_error(db_);
        return false;
    }
    if (version != kSchemaVersion) {
        // Several processes may meet a new file at once: the write lock
        // makes one of them create the tables, the others find them.
        if (!exec("PRAGMA journal_mode=WAL") || !exec("BEGIN IMMEDIATE")) {
            error = db_error(db_);
            return false;
        }
        bool ok = user_version(version);
        if (ok && version > kSchemaVersion) {
            exec("ROLLBACK");
            error = "the file is of a newer kind (" + std::to_string(version) + ") than this library knows";
            return false;
        }
        if (ok && version == 1)
            ok = exec(kFromVersion1);
        if (ok && version != kSchemaVersion)
            ok = exec(kSchema) && exec(("PRAGMA user_version=" + std::to_string(kSchemaVersion)).c_str());
        if (ok)
            ok = exec("COMMIT");
        if (!ok) {
            error = db_error(db_);
            exec("ROLLBACK");
            return false;
        }
    }
    // Under the write-ahead log, NORMAL syncs at checkpoints only: a commit
    // is in the log (and in the system's page cache) before the command
    // returns, so a crash of this or any other process loses or tears
    // nothing; only a power loss may take back the last commits, whole.
    exec("PRAGMA synchronous=NORMAL");
    return true;
}

sqlite3_stmt *Store::stmt(Stmt s)
{
    static_assert(sizeof(kStatements) / sizeof(kStatements[0]) == kStmtCount);
    // Prepared on first use: a client lives for a few commands only.
    if (stmts_[s] == nullptr &&
        sqlite3_prepare_v3(db_, kStatements[s], -1, SQLITE_PREPARE_PERSISTENT, &stmts_[s], nullptr) != SQLITE_OK)
        stmts_[s] = nullptr;
    return stmts_[s];
}

// Id of table NAME, 0 when there is none, -1 on a database error.
long long Store::find_table(std::string_view name)
{
    sqlite3_stmt *s = stmt(kFindTable);
    Reset reset(s);
    bind_text(s, 1, name);
    int rc = sqlite3_step(s);
    if (rc == SQLITE_ROW)
        return sqlite3_column_int64(s, 0);
    return rc == SQLITE_DONE ? 0 : -1;
}

// Id of key NAME in TABLE, 0 when there is none, -1 on a database error.
long long Store::find_key(long long table, std::string_view name)
{
    sqlite3_stmt *s = stmt(kFindKey);
    Reset reset(s);
    sqlite3_bind_int64(s, 1, table);
    bind_text(s, 2, name);
    int rc = sqlite3_step(s);
    if (rc == SQLITE_ROW)
        return sqlite3_column_int64(s, 0);
    return rc == SQLITE_DONE ? 0 : -1;
}

long long Store::known_table(std::string_view name) const
{
    for (const auto &[known, id] : known_tables_)
        if (known == name)
            return id;
    return 0;
}

int Store::run(const Command &cmd, char *reply, std::size_t cap)
{
    std::string error;
    bool ok = db_ != nullptr;
    if (!ok)
        error = "no database";
    if (ok) {
        // Every command takes the write lock at its start, so that none has
        // to turn a read lock into a write lock half-way (which another
        // writer could refuse after some steps had run).
        sqlite3_stmt *begin = stmt(kBegin);
        ok = sqlite3_step(begin) == SQLITE_DONE;
        sqlite3_reset(begin);
        if (!ok)
            error = db_error(db_);
    }
    if (ok) {
        seen_tables_.clear();
        ok = execute(cmd, reply, cap, error);
        sqlite3_stmt *end = stmt(ok ? kCommit : kRollback);
        int rc = sqlite3_step(end);
        sqlite3_reset(end);
        if (ok && rc != SQLITE_DONE) {
            error = db_error(db_);
            ok = false;
            sqlite3_stmt *rollback = stmt(kRollback);
            sqlite3_step(rollback);
            sqlite3_reset(rollback);
        }
        for (auto &seen : seen_tables_)
            if (ok && known_tables_.size() < kKnownTables && known_table(seen.first) == 0)
                known_tables_.push_back(std::move(seen));
    }
    if (!ok) {
        put_reply(reply, std::min(cap, std::size_t{PARSER_REPLY_MAX}), "error: " + error);
        return -1;
    }
    if (!cmd.reads)
        put_reply(reply, cap, kReplyOk);
    return 0;
}

bool Store::execute(const Command &cmd, char *reply, std::size_t cap, std::string &error)
{
    long long table = 0;  // 0: the named table does not exist
    long long key = 0;    // 0: the named key does not exist
    std::string_view table_name, key_name;
    // The last number given to a field of KEY, once known (-1: not yet).
    long long last_seq = -1;
    // True when KEY held no field before this command: a field is then new
    // to it unless this command set it already.
    bool fresh = false;

    auto failed = [&]() {
        error = db_error(db_);
        return false;
    };
    auto step_done = [&](sqlite3_stmt *s) { return sqlite3_step(s) == SQLITE_DONE; };

    for (const Step &step : cmd.steps) {
        switch (step.kind) {
        case StepKind::CreateTable: {
            sqlite3_stmt *s = stmt(kAddTable);
            Reset reset(s);
            bind_text(s, 1, step.name);
            if (!step_done(s))
                return failed();
        }
            [[fallthrough]];
        case StepKind::UseTable:
            table_name = step.name;
            table = known_table(step.name);
            if (table == 0) {
                table = find_table(step.name);
                if (table > 0)
                    seen_tables_.emplace_back(step.name, table);
            }
            key = 0;
            if (table < 0)
                return failed();
            break;
        case StepKind::CreateKey: {
            if (table == 0) {
                error = "no table '" + printable(table_name) + "'";
                return false;
            }
            sqlite3_stmt *s = stmt(kAddKey);
            Reset reset(s);
            sqlite3_bind_int64(s, 1, table);
            bind_text(s, 2, step.name);
            if (!step_done(s))
                return failed();
            if (sqlite3_changes(db_) == 1) {  // made now: its id is known, it has no field
                key_name = step.name;
                key = sqlite3_last_insert_rowid(db_);
                last_seq = 0;
                fresh = true;
                break;
            }
        }
            [[fallthrough]];
        case StepKind::UseKey:
            key_name = step.name;
            key = table == 0 ? 0 : find_key(table, step.name);
            last_seq = -1;
            fresh = false;
            if (key < 0)
                return failed();
            break;
        case StepKind::Set: {
            if (table == 0) {
                error = "no table '" + printable(table_name) + "'";
                return false;
            }
            if (key == 0) {
                error = "no key '" + printable(key_name) + "' in table '" + printable(table_name) + "'";
                return false;
            }
            // -1 on a database error, else the number of fields changed.
            auto update = [&]() {
                sqlite3_stmt *s = stmt(kUpdateField);
                Reset reset(s);
                sqlite3_bind_int64(s, 1, key);
                bind_text(s, 2, step.name);
                bind_text(s, 3, step.value);
                return step_done(s) ? sqlite3_changes(db_) : -1;
            };
            if (!fresh) {
                const int changed = update();
                if (changed < 0)
                    return failed();
                if (changed == 1)
                    break;
            }
            // A field the key does not hold yet: it comes after the others.
            if (last_seq < 0) {
                sqlite3_stmt *s = stmt(kLastSeq);
                Reset reset(s);
                sqlite3_bind_int64(s, 1, key);
                if (sqlite3_step(s) != SQLITE_ROW)
                    return failed();
                last_seq = sqlite3_column_int64(s, 0);
                fresh = sqlite3_column_int64(s, 1) == 0;
            }
            sqlite3_stmt *s = stmt(kInsertField);
            Reset reset(s);
            sqlite3_bind_int64(s, 1, key);
            bind_text(s, 2, step.name);
            bind_text(s, 3, step.value);
            sqlite3_bind_int64(s, 4, last_seq + 1);
            if (!step_done(s))
                return failed();
            if (sqlite3_changes(db_) == 1)
                ++last_seq;
            else if (update() < 0)  // a fresh key's field this command set already
                return failed();
            break;
        }
        case StepKind::Get: {
            if (key == 0) {
                put_reply(reply, cap, kReplyNone);
                break;
            }
            sqlite3_stmt *s = stmt(kGetField);
            Reset reset(s);
            sqlite3_bind_int64(s, 1, key);
            bind_text(s, 2, step.name);
            int rc = sqlite3_step(s);
            if (rc == SQLITE_ROW)
                put_reply(reply, cap, column_text(s, 0));
            else if (rc == SQLITE_DONE)
                put_reply(reply, cap, kReplyNone);
            else
                return failed();
            break;
        }
        case StepKind::Remove: {
            if (table == 0) {
                error = "no table '" + printable(table_name) + "'";
                return false;
            }
            long long gone = find_key(table, step.name);
            if (gone < 0)
                return failed();
            if (gone == 0) {
                error = "no key '" + printable(step.name) + "' in table '" + printable(table_name) + "'";
                return false;
            }
            for (Stmt which : {kDropFields, kDropKey}) {
                sqlite3_stmt *s = stmt(which);
                Reset reset(s);
                sqlite3_bind_int64(s, 1, gone);
                if (!step_done(s))
                    return failed();
            }
            key = 0;
            break;
        }
        case StepKind::List: {
            // Entries: the key, then "<field> <value>", each NUL-terminated;
            // an empty text ends the run. Only whole entries go in.
            std::size_t used = 0;
            if (table != 0) {
                sqlite3_stmt *s = stmt(kList);
                Reset reset(s);
                sqlite3_bind_int64(s, 1, table);
                bind_text(s, 2, step.name);
                int rc;
                while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
                    std::string_view k = column_text(s, 0);
                    std::string_view v = column_text(s, 1);
                    std::size_t entry = k.size() + 1 + step.name.size() + 1 + v.size() + 1;
                    if (used + entry + 1 > cap)
                        break;
                    char *p = reply + used;
                    std::memcpy(p, k.data(), k.size());
                    p += k.size();
                    *p++ = '\0';
                    std::memcpy(p, step.name.data(), step.name.size());
                    p += step.name.size();
                    *p++ = ' ';
                    std::memcpy(p, v.data(), v.size());
                    p += v.size();
                    *p++ = '\0';
                    used += entry;
                }
                if (rc != SQLITE_ROW && rc != SQLITE_DONE)
                    return failed();
            }
            if (cap > used)
                reply[used] = '\0';
            break;
        }
        }
    }
    return true;
}

bool Store::show_tables(std::string &out)
{
    sqlite3_stmt *s = nullptr;
    const char *sql =
        "SELECT t.name, (SELECT COUNT(*) FROM db_key k WHERE k.table_id = t.id) FROM db_table t ORDER BY t.id";
    if (db_ == nullptr || sqlite3_prepare_v2(db_, sql, -1, &s, nullptr) != SQLITE_OK)
        return false;
    std::vector<std::pair<std::string, std::string>> rows;
    while (sqlite3_step(s) == SQLITE_ROW)
        rows.emplace_back(printable(column_text(s, 0)), std::to_string(sqlite3_column_int64(s, 1)));
    sqlite3_finalize(s);
    std::size_t width = 5;
    for (auto &r : rows)
        width = std::max(width, r.first.size());
    out += "TABLE" + std::string(width - 5 + 2, ' ') + "KEYS\n";
    for (auto &r : rows)
        out += r.first + std::string(width - r.first.size() + 2, ' ') + r.second + "\n";
    return true;
}

bool Store::show_table(const char *name, std::string &out)
{
    if (db_ == nullptr)
        return false;
    long long table = find_table(name);
    if (table <= 0)
        return false;

    // Columns: field names by the first key holding them, then by when they
    // were first set there.
    std::vector<std::string> columns{"KEY"};
    std::map<std::string, std::size_t, std::less<>> column_of;
    std::vector<std::vector<std::string>> rows;
    std::map<long long, std::size_t> row_of;

    sqlite3_stmt *s = nullptr;
    const char *sql_columns =
        "SELECT f.name FROM db_field f JOIN db_key k ON f.key_id = k.id WHERE k.table_id = ?1"
        "  GROUP BY f.name ORDER BY MIN(f.key_id * 4294967296 + f.seq)";
    const char *sql_keys = "SELECT id, name FROM db_key WHERE table_id = ?1 ORDER BY id";
    const char *sql_values =
        "SELECT f.key_id, f.name, f.value FROM db_field f JOIN db_key k ON f.key_id = k.id WHERE k.table_id = ?1";

    if (sqlite3_prepare_v2(db_, sql_columns, -1, &s, nullptr) != SQLITE_OK)
        return false;
    sqlite3_bind_int64(s, 1, table);
    while (sqlite3_step(s) == SQLITE_ROW) {
        std::string c(column_text(s, 0));
        column_of.emplace(c, columns.size());
        columns.push_back(printable(c));
    }
    sqlite3_finalize(s);

    if (sqlite3_prepare_v2(db_, sql_keys, -1, &s, nullptr) != SQLITE_OK)
        return false;
    sqlite3_bind_int64(s, 1, table);
    while (sqlite3_step(s) == SQLITE_ROW) {
        row_of.emplace(sqlite3_column_int64(s, 0), rows.size());
        std::vector<std::string> row(columns.size(), "-");
        row[0] = printable(column_text(s, 1));
        rows.push_back(std::move(row));
    }
    sqlite3_finalize(s);

    if (sqlite3_prepare_v2(db_, sql_values, -1, &s, nullptr) != SQLITE_OK)
        return false;
    sqlite3_bind_int64(s, 1, table);
    while (sqlite3_step(s) == SQLITE_ROW) {
        auto r = row_of.find(sqlite3_column_int64(s, 0));
        auto c = column_of.find(column_text(s, 1));
        if (r == row_of.end() || c == column_of.end())
            continue;
        std::string_view v = column_text(s, 2);
        rows[r->second][c->second] = v.empty() ? "\"\"" : printable(v);
    }
    sqlite3_finalize(s);

    std::vector<std::size_t> width(columns.size());
    for (std::size_t c = 0; c < columns.size(); ++c) {
        width[c] = columns[c].size();
        for (auto &row : rows)
            width[c] = std::max(width[c], row[c].size());
    }
    auto line = [&](const std::vector<std::string> &cells) {
        std::string text;
        for (std::size_t c = 0; c < cells.size(); ++c) {
            text += cells[c];
            if (c + 1 < cells.size())
                text += std::string(width[c] - cells[c].size() + 2, ' ');
        }
        out += text + "\n";
    };
    out += printable(name) + " (" + std::to_string(rows.size()) + (rows.size() == 1 ? " key)\n" : " keys)\n");
    line(columns);
    for (auto &row : rows)
        line(row);
    return true;
}

}  // namespace statusdb
