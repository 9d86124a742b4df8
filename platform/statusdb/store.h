// One connection to the status database file, and the running of commands
// on it. Every command is one transaction: its writes all land or none do.
#ifndef STATUSDB_STORE_H
#define STATUSDB_STORE_H

#include <sys/types.h>

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "command.h"

struct sqlite3;
struct sqlite3_stmt;

namespace statusdb {

// The database file: $STATUSDB_PATH, else kDefaultPath.
inline constexpr const char *kPathVariable = "STATUSDB_PATH";
inline constexpr const char *kDefaultPath = "/tmp/statusdb.sqlite";
const char *database_path();

// How long a command waits for another writer before it gives up.
inline constexpr int kBusyTimeoutMs = 15000;

// Reply texts.
inline constexpr const char *kReplyOk = "OK";
inline constexpr const char *kReplyNone = "N/A";

class Store {
public:
    Store() = default;
    ~Store();
    Store(const Store &) = delete;
    Store &operator=(const Store &) = delete;

    // Opens PATH (creating the file and its tables when new). On failure
    // returns false with the reason in ERROR.
    bool open(const char *path, std::string &error);

    // True when PATH still names the very file this connection has open
    // (not one removed and made anew) and no transaction is left open: the
    // connection may then serve another client.
    bool reusable_for(const char *path) const;
    // True while a transaction is open (never between commands).
    bool in_transaction() const;

    // The path the connection was opened with.
    const std::string &path() const { return path_; }

    // The log size (in pages) at which this connection's commits next ask
    // for a checkpoint; kept by the commit hook (0: the first commit that
    // finds the log long).
    int checkpoint_due = 0;

    // HOOK(ARG, connection, "main", pages in the write-ahead log) runs after
    // every commit, in place of SQLite's own automatic checkpoint.
    void on_commit(int (*hook)(void *, sqlite3 *, const char *, int), void *arg);

    // Copies what the write-ahead log holds into the file, as far as no
    // reader still needs it, without waiting for anyone.
    void checkpoint();

    // Closes the connection without touching any file by its name: the
    // write-ahead log and its index stay where they are (the name may by now
    // belong to a new database that other connections use).
    void retire();

    // Runs CMD and writes its reply into REPLY, at most CAP bytes, always
    // terminated. Returns 0, or -1 when the command was refused (then it
    // changed nothing and the reply is an error text).
    int run(const Command &cmd, char *reply, std::size_t cap);

    // Writes table NAME as aligned columns, one key a row, into OUT.
    // Returns false when there is no such table.
    bool show_table(const char *name, std::string &out);
    // Writes every table with its number of keys into OUT.
    bool show_tables(std::string &out);

private:
    enum Stmt {
        kBegin, kCommit, kRollback,
        kAddTable, kFindTable, kAddKey, kFindKey,
        kUpdateField, kInsertField, kLastSeq, kGetField, kDropFields, kDropKey, kList,
        kStmtCount
    };

    bool prepare_schema(std::string &error);
    // The statement S, prepared on first use; null if it cannot be.
    sqlite3_stmt *stmt(Stmt s);
    // Steps, in an open transaction; false with ERROR set on a refusal.
    bool execute(const Command &cmd, char *reply, std::size_t cap, std::string &error);
    long long find_table(std::string_view name);
    // Id of table NAME as committed before, 0 when not known here.
    long long known_table(std::string_view name) const;
    long long find_key(long long table, std::string_view name);

    sqlite3 *db_ = nullptr;
    sqlite3_stmt *stmts_[kStmtCount] = {};
    std::string path_;
    dev_t dev_ = 0;
    ino_t ino_ = 0;
    // Tables found by this connection's committed commands, and by the one
    // running: a table is never removed and the connection never serves
    // another file, so a committed id stays true.
    std::vector<std::pair<std::string, long long>> known_tables_, seen_tables_;
};

}  // namespace statusdb

#endif
