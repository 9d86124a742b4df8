// The "dbctl" words through the client's function table: the transcript in
// grammar.txt (each word, missing tables and keys, refused commands), the
// list bound, the members the daemon does not use and the trace.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include <sqlite3.h>

#include "../common/transcript.h"
#include "statusdb.h"
#include "statusdb_fixture.h"

namespace {

using Grammar = StatusDb;

TEST_F(Grammar, FunctionTableAnswersOnlyForDbcmd)
{
    EXPECT_EQ(parser_open("dbcmd"), db_);
    for (const char *name : {static_cast<const char *>(nullptr), "", "dbcmdx"})
        EXPECT_EQ(parser_open(name), nullptr) << (name ? name : "(null)");

    // The members the daemon does not use are there and answer failure.
    char buf[16];
    EXPECT_EQ(db_->handle(client_, buf, sizeof buf), -1);
    EXPECT_EQ(db_->get_id(client_), -1);
    EXPECT_EQ(db_->parser(client_, "dbctl", buf, sizeof buf), -1);
    EXPECT_EQ(db_->get_addr(client_), nullptr);
    EXPECT_EQ(db_->handle_tlv(client_, buf, sizeof buf), -1);
    EXPECT_EQ(db_->comm_server(client_), -1);

    // Clients of every id the daemon uses, all open at once.
    void *more[] = {db_->init_sock(100), db_->init_sock(101), db_->init_sock(102)};
    for (void *c : more) {
        ASSERT_NE(c, nullptr);
        EXPECT_EQ(db_->gen_cmd(c, reply_, "dbctl", "-a", "T", nullptr), 0);
        EXPECT_EQ(db_->close_sock(c, 100), 0);
    }
    EXPECT_EQ(db_->close_sock(nullptr, 0), -1);

    // A database file that cannot be opened gives no client.
    setenv("STATUSDB_PATH", (dir_ + "/no-such-folder/status.db").c_str(), 1);
    EXPECT_EQ(db_->init_sock(0), nullptr);
    setenv("STATUSDB_PATH", dir_.c_str(), 1);  // a folder, not a file
    EXPECT_EQ(db_->init_sock(0), nullptr);
}

// The commands of grammar.txt, in order, on this test's new database.
TEST_F(Grammar, Transcript)
{
    std::vector<char> reply(PARSER_LIST_REPLY_MAX);
    transcript::play("statusdb/grammar.txt", {}, [&](const std::string &line) {
        const std::size_t arrow = line.find(" => ");
        const std::vector<std::string> words = transcript::words(line.substr(0, arrow));
        std::vector<const char *> argv;
        for (const std::string &w : words)
            argv.push_back(w.c_str());
        std::istringstream want(line.substr(arrow + 4));
        int status = 0;
        want >> status;
        std::string text;
        std::getline(want, text);
        text.erase(0, 1);
        std::fill(reply.begin(), reply.end(), 'Z');
        EXPECT_EQ(statusdb::gen_cmd_words(client_, reply.data(), argv.size(), argv.data()), status);
        std::string got = reply.data();  // a list: texts up to the empty one
        for (const char *p = reply.data(); words.back() == "-l" && *p != '\0';) {
            p += strlen(p) + 1;
            if (*p != '\0')
                got += std::string("|") + p;
        }
        EXPECT_TRUE(status == 0 || got.rfind("error: ", 0) == 0) << got;
        if (!text.empty() && text[0] == '~') {
            EXPECT_NE(got.find(text.substr(1)), std::string::npos) << got;
        } else {
            EXPECT_EQ(got, text);
        }
    });
}

TEST_F(Grammar, ListNeverPassesItsBoundAndHoldsWholeEntries)
{
    ASSERT_EQ(db_->gen_cmd(client_, reply_, "dbctl", "-a", "BIG", nullptr), 0);
    // 400 keys of 180 bytes an entry: 72 kB in all. 256 entries would fill
    // the bound exactly, leaving no room for the closing empty text.
    const std::string value(168, 'v');
    std::vector<std::string> words{"dbctl", "-t", "BIG"};
    for (int i = 0; i < 400; ++i) {
        char key[32];
        std::snprintf(key, sizeof key, "key-%04d", i);
        words.insert(words.end(), {"-i", key, "-f", "F", "-s", value});
    }
    // In commands of 100 keys: a command holds at most 1024 words.
    for (std::size_t start = 3; start < words.size(); start += 600) {
        std::vector<const char *> part{"dbctl", "-t", "BIG"};
        for (std::size_t i = start; i < std::min(words.size(), start + 600); ++i)
            part.push_back(words[i].c_str());
        ASSERT_EQ(statusdb::gen_cmd_words(client_, reply_, part.size(), part.data()), 0) << reply_;
    }

    std::vector<char> list(PARSER_LIST_REPLY_MAX + 64, 'Z');
    ASSERT_EQ(db_->gen_cmd(client_, list.data(), "dbctl", "-t", "BIG", "-f", "F", "-l", nullptr), 0);
    EXPECT_EQ(list[PARSER_LIST_REPLY_MAX], 'Z');  // nothing past the bound

    std::size_t at = 0, entries = 0;
    const std::size_t entry_size = 9 + 2 + value.size() + 1;  // "key-0000\0" "F " value "\0"
    while (list[at] != '\0') {
        char key[32];
        std::snprintf(key, sizeof key, "key-%04zu", entries);
        ASSERT_STREQ(&list[at], key);
        at += std::strlen(&list[at]) + 1;
        ASSERT_EQ(std::string(&list[at]), "F " + value);
        at += std::strlen(&list[at]) + 1;
        ++entries;
        ASSERT_LT(at, std::size_t{PARSER_LIST_REPLY_MAX});
    }
    // As many whole entries as fit with the closing empty text, no fewer.
    EXPECT_EQ(entries, (PARSER_LIST_REPLY_MAX - 1) / entry_size);
    EXPECT_LE(at + 1, std::size_t{PARSER_LIST_REPLY_MAX});
}

TEST_F(Grammar, CommandsBeyondTheTranscript)
{
    ASSERT_EQ(db_->gen_cmd(client_, reply_, "dbctl", "-a", "T", "-i", "k", "-f", "A", "-s", "1", nullptr), 0);
    // More words than a command may hold.
    std::vector<const char *> many{"dbctl", "-t", "T"};
    while (many.size() < 1100)
        many.insert(many.end(), {"-k", "k"});
    EXPECT_EQ(statusdb::gen_cmd_words(client_, reply_, many.size(), many.data()), -1);
    EXPECT_NE(std::strstr(reply_, "too many words"), nullptr) << reply_;

    // No client, no reply buffer, a closed client.
    EXPECT_EQ(db_->gen_cmd(nullptr, reply_, "dbctl", "-a", "T9", nullptr), -1);
    EXPECT_STREQ(reply_, "error: no client");
    EXPECT_EQ(db_->gen_cmd(client_, nullptr, "dbctl", "-a", "T9", nullptr), -1);

    // Nothing above touched the database.
    EXPECT_EQ(db_->gen_cmd(client_, reply_, "dbctl", "-t", "T", "-k", "k", "-g", "A", nullptr), 0);
    EXPECT_STREQ(reply_, "1");
    EXPECT_EQ(db_->gen_cmd(client_, reply_, "dbctl", "-t", "T9", "-i", "k", nullptr), -1);
}

TEST_F(Grammar, TraceRecordsEveryCommandInOrder)
{
    db_->gen_cmd(client_, reply_, "dbctl", "-a", "T", nullptr);
    db_->gen_cmd(client_, reply_, "dbctl", "-t", "T", "-i", "k", "-f", "SSID", "-s", "my net", "-f", "E", "-s", "",
                 nullptr);
    db_->gen_cmd(client_, reply_, "dbctl", "-t", "T", "-k", "k", "-f", "Q", "-s", "a\"b\\c\nd", nullptr);
    db_->gen_cmd(client_, reply_, "bogus", nullptr);
    void *other = db_->init_sock(102);
    db_->gen_cmd(other, reply_, "dbctl", "-t", "T", "-k", "k", "-g", "SSID", nullptr);
    db_->close_sock(other, 100);

    auto lines = trace_lines();
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[0], "dbctl -a T");
    EXPECT_EQ(lines[1], "dbctl -t T -i k -f SSID -s \"my net\" -f E -s \"\"");
    EXPECT_EQ(lines[2], "dbctl -t T -k k -f Q -s \"a\\\"b\\\\c\\nd\"");
    EXPECT_EQ(lines[3], "bogus");
    EXPECT_EQ(lines[4], "dbctl -t T -k k -g SSID");
}

// A file of the first layout (a row id per field, which ordered a key's
// fields) is brought to the present one by the first client, order and all;
// a file of a layout newer than the library is refused.
TEST_F(Grammar, OlderFilesAreBroughtUpToDateNewerOnesRefused)
{
    const std::string old_file = dir_ + "/old.db", new_file = dir_ + "/new.db";
    const char *first_layout =
        "PRAGMA journal_mode=WAL; PRAGMA user_version=1;"
        "CREATE TABLE db_table(id INTEGER PRIMARY KEY, name TEXT NOT NULL UNIQUE);"
        "CREATE TABLE db_key(id INTEGER PRIMARY KEY, table_id INTEGER NOT NULL, name TEXT NOT NULL,"
        "  UNIQUE(table_id, name));"
        "CREATE TABLE db_field(id INTEGER PRIMARY KEY, key_id INTEGER NOT NULL, name TEXT NOT NULL,"
        "  value TEXT NOT NULL, UNIQUE(key_id, name));"
        "INSERT INTO db_table VALUES(1, 'T'); INSERT INTO db_key VALUES(1, 1, 'k');"
        "INSERT INTO db_field VALUES(7, 1, 'A', 'a'), (5, 1, 'Z', 'z');";
    for (const auto &[file, sql] : {std::pair{old_file, first_layout}, std::pair{new_file, "PRAGMA user_version=3;"}}) {
        sqlite3 *h = nullptr;
        ASSERT_EQ(sqlite3_open(file.c_str(), &h), SQLITE_OK);
        EXPECT_EQ(sqlite3_exec(h, sql, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(h);
        sqlite3_close(h);
    }
    setenv("STATUSDB_PATH", old_file.c_str(), 1);
    void *c = db_->init_sock(0);
    ASSERT_NE(c, nullptr);
    const char *words[] = {"dbctl", "-t", "T", "-k", "k", "-f", "B", "-s", "b", "-f", "A", "-s", "A"};
    EXPECT_EQ(statusdb::gen_cmd_words(c, reply_, std::size(words), words), 0);
    std::string out;
    ASSERT_TRUE(statusdb::show(c, "T", out));
    EXPECT_EQ(out, "T (1 key)\nKEY  Z  A  B\nk    z  A  b\n");
    db_->close_sock(c, 0);
    setenv("STATUSDB_PATH", new_file.c_str(), 1);
    EXPECT_EQ(db_->init_sock(0), nullptr);
}

}  // namespace
