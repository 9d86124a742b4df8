// dbctl: runs one status database command from the command line and prints
// its reply, or prints tables for a person (columns, one key as FIELD=value
// lines) or for a program (JSON).
#include <sqlite3.h>
#include <time.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "command.h"
#include "parser_module.h"
#include "statusdb.h"
#include "store.h"

namespace {

void usage(FILE *out)
{
    std::fprintf(out,
                 "usage: dbctl WORD...                run one command and print its reply\n"
                 "       dbctl --show [TABLE [KEY]]   every table, TABLE as columns, or KEY as\n"
                 "                                    FIELD=value lines (ASSO_TIME also as a date,\n"
                 "                                    STA_IP_ADDR also as an address)\n"
                 "       dbctl --json [TABLE [KEY]]   the same as JSON: {table: {key: {field: value}}}\n"
                 "words: -a T | -t T | -i K | -k K | -f F -s V | -g F | -r K | -f F -l\n"
                 "database file: $%s (default %s)\n",
                 statusdb::kPathVariable, statusdb::kDefaultPath);
}

using Fields = std::vector<std::pair<std::string, std::string>>;

struct Key {
    std::string name;
    Fields fields;
};

struct Table {
    std::string name;
    std::vector<Key> keys;
};

std::string column(sqlite3_stmt *s, int i)
{
    const unsigned char *t = sqlite3_column_text(s, i);
    return t != nullptr ? std::string(reinterpret_cast<const char *>(t),
                                      static_cast<std::size_t>(sqlite3_column_bytes(s, i)))
                        : std::string();
}

// Reads tables straight from the database file, in one read transaction:
// every table (NAME null) or the one named, keys in creation order, each
// key's fields in the order they were first set. False on a read failure.
bool read_tables(const char *name, std::vector<Table> &out)
{
    sqlite3 *db = nullptr;
    if (sqlite3_open_v2(statusdb::database_path(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return false;
    }
    sqlite3_busy_timeout(db, statusdb::kBusyTimeoutMs);
    const char *sql =
        "SELECT t.name, k.name, f.name, f.value FROM db_table t"
        "  LEFT JOIN db_key k ON k.table_id = t.id LEFT JOIN db_field f ON f.key_id = k.id"
        "  WHERE ?1 IS NULL OR t.name = ?1 ORDER BY t.id, k.id, f.seq";
    sqlite3_stmt *s = nullptr;
    bool ok = sqlite3_prepare_v2(db, sql, -1, &s, nullptr) == SQLITE_OK;
    if (ok && name != nullptr)
        sqlite3_bind_text(s, 1, name, -1, SQLITE_TRANSIENT);
    int rc = SQLITE_ROW;
    while (ok && (rc = sqlite3_step(s)) == SQLITE_ROW) {
        std::string table = column(s, 0);
        if (out.empty() || out.back().name != table)
            out.push_back({table, {}});
        if (sqlite3_column_type(s, 1) == SQLITE_NULL)
            continue;
        std::vector<Key> &keys = out.back().keys;
        std::string key = column(s, 1);
        if (keys.empty() || keys.back().name != key)
            keys.push_back({key, {}});
        if (sqlite3_column_type(s, 2) != SQLITE_NULL)
            keys.back().fields.emplace_back(column(s, 2), column(s, 3));
    }
    ok = ok && rc == SQLITE_DONE;
    sqlite3_finalize(s);
    sqlite3_close(db);
    return ok;
}

// JSON string literal; bytes that are no part of valid UTF-8 become \u00XX.
std::string json_text(const std::string &v)
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
            out.append(v, i, n);
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

std::string fields_json(const Fields &fields)
{
    std::string out = "{";
    for (std::size_t i = 0; i < fields.size(); ++i)
        out += (i == 0 ? " " : ", ") + json_text(fields[i].first) + ": " + json_text(fields[i].second);
    return out + (fields.empty() ? "}" : " }");
}

// One key a line, indented by INDENT.
std::string keys_json(const std::vector<Key> &keys, const std::string &indent)
{
    if (keys.empty())
        return "{}";
    std::string out = "{\n";
    for (std::size_t i = 0; i < keys.size(); ++i)
        out += indent + "  " + json_text(keys[i].name) + ": " + fields_json(keys[i].fields) +
               (i + 1 < keys.size() ? ",\n" : "\n");
    return out + indent + "}";
}

// The value as printed in the human view: control characters as \xHH, the
// association time also as a local date, a station address also as a.b.c.d.
std::string human_value(const std::string &field, const std::string &v)
{
    std::string out;
    for (char ch : v) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c == 0x7f) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\x%02x", c);
            out += esc;
        } else {
            out += ch;
        }
    }
    const bool number = !v.empty() && v.size() <= 12 && v.find_first_not_of("0123456789") == std::string::npos;
    if (field == "STA_IP_ADDR" && number && std::strtoll(v.c_str(), nullptr, 10) <= UINT32_MAX) {
        // The address's four bytes, stored as one word in this host's order.
        const auto word = static_cast<uint32_t>(std::strtoll(v.c_str(), nullptr, 10));
        unsigned char b[4];
        std::memcpy(b, &word, sizeof b);
        char ip[24];
        std::snprintf(ip, sizeof ip, " (%u.%u.%u.%u)", b[0], b[1], b[2], b[3]);
        out += ip;
    }
    if (field == "ASSO_TIME" && number) {
        const time_t t = static_cast<time_t>(std::strtoll(v.c_str(), nullptr, 10));
        struct tm tm;
        char date[64];
        if (localtime_r(&t, &tm) != nullptr && strftime(date, sizeof date, "%Y-%m-%d %H:%M:%S %Z", &tm) > 0)
            out += std::string(" (") + date + ")";
    }
    return out;
}

// --show / --json with their optional TABLE and KEY. Exit status.
int show(void *client, bool json, const char *table, const char *key)
{
    if (!json && key == nullptr) {
        std::string out;
        if (!statusdb::show(client, table, out)) {
            std::fprintf(stderr, "dbctl: no table '%s'\n", table != nullptr ? table : "");
            return 1;
        }
        if (table == nullptr)
            std::printf("database: %s\n", statusdb::database_path());
        std::fputs(out.c_str(), stdout);
        return 0;
    }
    std::vector<Table> tables;
    if (!read_tables(table, tables)) {
        std::fprintf(stderr, "dbctl: cannot read the status database %s\n", statusdb::database_path());
        return 1;
    }
    if (table != nullptr && tables.empty()) {
        std::fprintf(stderr, "dbctl: no table '%s'\n", table);
        return 1;
    }
    if (key == nullptr) {
        if (table != nullptr) {
            std::printf("%s\n", keys_json(tables[0].keys, "").c_str());
            return 0;
        }
        std::printf("{\n");
        for (std::size_t i = 0; i < tables.size(); ++i)
            std::printf("  %s: %s%s\n", json_text(tables[i].name).c_str(),
                        keys_json(tables[i].keys, "  ").c_str(), i + 1 < tables.size() ? "," : "");
        std::printf("}\n");
        return 0;
    }
    for (const Key &k : tables[0].keys) {
        if (k.name != key)
            continue;
        if (json) {
            std::printf("%s\n", fields_json(k.fields).c_str());
            return 0;
        }
        std::printf("%s\n", human_value("", k.name).c_str());
        for (const auto &[field, value] : k.fields)
            std::printf("%s=%s\n", human_value("", field).c_str(), human_value(field, value).c_str());
        return 0;
    }
    std::fprintf(stderr, "dbctl: no key '%s' in table '%s'\n", key, table);
    return 1;
}

// Prints a list reply: one "KEY<tab>FIELD VALUE" line an entry.
void print_list(const char *reply, std::size_t size)
{
    std::size_t at = 0;
    while (at < size && reply[at] != '\0') {
        const char *key = reply + at;
        std::size_t klen = strnlen(key, size - at);
        at += klen + 1;
        if (at >= size)
            break;
        const char *value = reply + at;
        std::size_t vlen = strnlen(value, size - at);
        at += vlen + 1;
        std::printf("%.*s\t%.*s\n", static_cast<int>(klen), key, static_cast<int>(vlen), value);
    }
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc < 2 || std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0) {
        usage(argc < 2 ? stderr : stdout);
        return argc < 2 ? 2 : 0;
    }
    parser_module *db = parser_open("dbcmd");
    void *client = db ? db->init_sock(0) : nullptr;
    if (client == nullptr) {
        std::fprintf(stderr, "dbctl: cannot open the status database %s\n", statusdb::database_path());
        return 1;
    }

    int status = 0;
    const bool json = std::strcmp(argv[1], "--json") == 0;
    if (json || std::strcmp(argv[1], "--show") == 0) {
        if (argc > 4) {
            usage(stderr);
            status = 2;
        } else {
            status = show(client, json, argc > 2 ? argv[2] : nullptr, argc > 3 ? argv[3] : nullptr);
        }
    } else {
        std::vector<const char *> words{"dbctl"};
        words.insert(words.end(), argv + 1, argv + argc);
        std::vector<char> reply(PARSER_LIST_REPLY_MAX, '\0');
        int rc = statusdb::gen_cmd_words(client, reply.data(), words.size(), words.data());
        if (rc < 0) {
            std::fprintf(stderr, "dbctl: %s\n", reply.data());
            status = 1;
        } else {
            std::vector<std::string_view> views(words.begin(), words.end());
            statusdb::Command cmd;
            std::string error;
            if (statusdb::parse_command(views, cmd, error) && cmd.lists)
                print_list(reply.data(), reply.size());
            else
                std::printf("%s\n", reply.data());
        }
    }
    db->close_sock(client, 0);
    return status;
}
