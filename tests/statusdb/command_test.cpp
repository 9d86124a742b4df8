// The "dbctl" words through the client's function table: each word, the
// decisions about missing tables and keys, and refused commands.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "statusdb.h"
#include "statusdb_fixture.h"

namespace {

using Grammar = StatusDb;

TEST_F(Grammar, FunctionTableAnswersOnlyForDbcmd)
{
    EXPECT_EQ(parser_open("dbcmd"), db_);
    EXPECT_EQ(parser_open("dbcmdx"), nullptr);
    EXPECT_EQ(parser_open(""), nullptr);
    EXPECT_EQ(parser_open(nullptr), nullptr);

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

TEST_F(Grammar, NewDatabaseHoldsThePlatformStatusRecord)
{
    EXPECT_EQ(db_->gen_cmd(client_, reply_, "dbctl", "-t", "Velora", "-k", "velora-status", "-f", "status", "-s",
                           "online", nullptr),
              0);
    EXPECT_EQ(db_->gen_cmd(client_, reply_, "dbctl", "-t", "Velora", "-k", "velora-status", "-g", "status",
                           nullptr),
              0);
    EXPECT_STREQ(reply_, "online");
}

TEST_F(Grammar, CreateSetGetAndRemove)
{
    ASSERT_EQ(db_->gen_cmd(client_, reply_, "dbctl", "-a", "WLAN-00:11:22:33:44:55", nullptr), 0);
    EXPECT_STREQ(reply_, "OK");
    ASSERT_EQ(db_->gen_cmd(client_, reply_, "dbctl", "-t", "WLAN-00:11:22:33:44:55", "-i", "SLOT-0", nullptr), 0);
    ASSERT_EQ(db_->gen_cmd(client_, reply_, "dbctl", "-t", "WLAN-00:11:22:33:44:55", "-k", "SLOT-0", "-f",
                           "CHANNEL", "-s", "36", "-f", "TX_POWER", "-s", "20", "-f", "EMPTY", "-s", "", nullptr),
              0);

    auto get = [&](const char *table, const char *key, const char *field) {
        EXPECT_EQ(db_->gen_cmd(client_, reply_, "dbctl", "-t", table, "-k", key, "-g", field, nullptr), 0);
        return std::string(reply_);
    };
    EXPECT_EQ(get("WLAN-00:11:22:33:44:55", "SLOT-0", "CHANNEL"), "36");
    EXPECT_EQ(get("WLAN-00:11:22:33:44:55", "SLOT-0", "TX_POWER"), "20");
    EXPECT_EQ(get("WLAN-00:11:22:33:44:55", "SLOT-0", "EMPTY"), "");
    // Missing field, key and table all read as "N/A".
    EXPECT_EQ(get("WLAN-00:11:22:33:44:55", "SLOT-0", "NOPE"), "N/A");
    EXPECT_EQ(get("WLAN-00:11:22:33:44:55", "SLOT-9", "CHANNEL"), "N/A");
    EXPECT_EQ(get("NO-TABLE", "SLOT-0", "CHANNEL"), "N/A");

    // Setting again replaces; creating again changes nothing.
    ASSERT_EQ(db_->gen_cmd(client_, reply_, "dbctl", "-t", "WLAN-00:11:22:33:44:55", "-k", "SLOT-0", "-f",
                           "CHANNEL", "-s", "149", nullptr),
              0);
    EXPECT_EQ(db_->gen_cmd(client_, reply_, "dbctl", "-a", "WLAN-00:11:22:33:44:55", nullptr), 0);
    EXPECT_EQ(db_->gen_cmd(client_, reply_, "dbctl", "-t", "WLAN-00:11:22:33:44:55", "-i", "SLOT-0", nullptr), 0);
    EXPECT_EQ(get("WLAN-00:11:22:33:44:55", "SLOT-0", "CHANNEL"), "149");
    EXPECT_EQ(get("WLAN-00:11:22:33:44:55", "SLOT-0", "TX_POWER"), "20");

    // Removing takes the fields along: a key made again starts empty.
    ASSERT_EQ(db_->gen_cmd(client_, reply_, "dbctl", "-t", "WLAN-00:11:22:33:44:55", "-r", "SLOT-0", nullptr), 0);
    EXPECT_EQ(get("WLAN-00:11:22:33:44:55", "SLOT-0", "CHANNEL"), "N/A");
    ASSERT_EQ(db_->gen_cmd(client_, reply_, "dbctl", "-t", "WLAN-00:11:22:33:44:55", "-i", "SLOT-0", nullptr), 0);
    EXPECT_EQ(get("WLAN-00:11:22:33:44:55", "SLOT-0", "CHANNEL"), "N/A");
    // Removing what is not there is refused.
    EXPECT_EQ(db_->gen_cmd(client_, reply_, "dbctl", "-t", "WLAN-00:11:22:33:44:55", "-r", "SLOT-7", nullptr), -1);
    EXPECT_EQ(db_->gen_cmd(client_, reply_, "dbctl", "-t", "NO-TABLE", "-r", "SLOT-0", nullptr), -1);
}

TEST_F(Grammar, WritesToMissingKeysOrTablesCreateNothing)
{
    ASSERT_EQ(db_->gen_cmd(client_, reply_, "dbctl", "-a", "STA", nullptr), 0);
    // A stray address event for a station never recorded: no ghost record.
    EXPECT_EQ(db_->gen_cmd(client_, reply_, "dbctl", "-t", "STA", "-k", "aa:bb:cc:dd:ee:ff", "-f", "STA_IP", "-s",
                           "10.0.0.2", nullptr),
              -1);
    EXPECT_EQ(std::strncmp(reply_, "error: ", 7), 0) << reply_;
    EXPECT_NE(std::strstr(reply_, "aa:bb:cc:dd:ee:ff"), nullptr) << reply_;
    EXPECT_EQ(db_->gen_cmd(client_, reply_, "dbctl", "-t", "NOPE", "-k", "k", "-f", "F", "-s", "v", nullptr), -1);
    EXPECT_EQ(db_->gen_cmd(client_, reply_, "dbctl", "-t", "NOPE", "-i", "k", nullptr), -1);

    char list[PARSER_LIST_REPLY_MAX];
    ASSERT_EQ(db_->gen_cmd(client_, list, "dbctl", "-t", "STA", "-f", "STA_IP", "-l", nullptr), 0);
    EXPECT_EQ(list[0], '\0');
    ASSERT_EQ(db_->gen_cmd(client_, list, "dbctl", "-t", "NOPE", "-f", "STA_IP", "-l", nullptr), 0);
    EXPECT_EQ(list[0], '\0');
}

TEST_F(Grammar, ListGivesKeysHoldingTheFieldInCreationOrder)
{
    ASSERT_EQ(db_->gen_cmd(client_, reply_, "dbctl", "-a", "STA", nullptr), 0);
    // Created out of name order; the middle one lacks the field.
    for (const char *k : {"cc:00:00:00:00:03", "aa:00:00:00:00:01", "bb:00:00:00:00:02"})
        ASSERT_EQ(db_->gen_cmd(client_, reply_, "dbctl", "-t", "STA", "-i", k, nullptr), 0);
    ASSERT_EQ(db_->gen_cmd(client_, reply_, "dbctl", "-t", "STA", "-k", "cc:00:00:00:00:03", "-f", "IFACE", "-s",
                           "wlan-1-1", nullptr),
              0);
    ASSERT_EQ(db_->gen_cmd(client_, reply_, "dbctl", "-t", "STA", "-k", "bb:00:00:00:00:02", "-f", "IFACE", "-s",
                           "wds-2-9", "-f", "OTHER", "-s", "x", nullptr),
              0);

    char list[PARSER_LIST_REPLY_MAX];
    std::memset(list, 'Z', sizeof list);
    ASSERT_EQ(db_->gen_cmd(client_, list, "dbctl", "-t", "STA", "-f", "IFACE", "-l", nullptr), 0);
    const char expected[] = "cc:00:00:00:00:03\0IFACE wlan-1-1\0bb:00:00:00:00:02\0IFACE wds-2-9\0";
    ASSERT_EQ(std::memcmp(list, expected, sizeof expected), 0);  // the final NUL is the empty text
    EXPECT_EQ(list[sizeof expected], 'Z');
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

TEST_F(Grammar, OneCommandIsOneTransaction)
{
    ASSERT_EQ(db_->gen_cmd(client_, reply_, "dbctl", "-a", "T", nullptr), 0);
    ASSERT_EQ(db_->gen_cmd(client_, reply_, "dbctl", "-t", "T", "-i", "k", "-f", "A", "-s", "1", nullptr), 0);

    // The last step fails: the earlier ones, even a new table and key, vanish.
    EXPECT_EQ(db_->gen_cmd(client_, reply_, "dbctl", "-a", "T2", "-t", "T", "-i", "new", "-k", "k", "-f", "A",
                           "-s", "2", "-k", "missing", "-f", "B", "-s", "3", nullptr),
              -1);
    // A removal followed by a write to a missing key is undone as well.
    EXPECT_EQ(db_->gen_cmd(client_, reply_, "dbctl", "-t", "T", "-r", "k", "-k", "gone", "-f", "A", "-s", "0",
                           nullptr),
              -1);
    // A command refused for its shape runs nothing.
    EXPECT_EQ(db_->gen_cmd(client_, reply_, "dbctl", "-t", "T", "-k", "k", "-f", "A", "-s", "9", "-f", "B", nullptr),
              -1);

    EXPECT_EQ(db_->gen_cmd(client_, reply_, "dbctl", "-t", "T", "-k", "k", "-g", "A", nullptr), 0);
    EXPECT_STREQ(reply_, "1");
    EXPECT_EQ(db_->gen_cmd(client_, reply_, "dbctl", "-t", "T", "-k", "new", "-g", "A", nullptr), 0);
    EXPECT_STREQ(reply_, "N/A");
    EXPECT_EQ(db_->gen_cmd(client_, reply_, "dbctl", "-t", "T", "-i", "x", "-f", "A", "-s", "1", nullptr), 0);
    EXPECT_EQ(db_->gen_cmd(client_, reply_, "dbctl", "-t", "T2", "-i", "x", nullptr), -1);  // T2 was undone
}

TEST_F(Grammar, BadCommandsAreRefusedWithAReasonAndChangeNothing)
{
    ASSERT_EQ(db_->gen_cmd(client_, reply_, "dbctl", "-a", "T", "-i", "k", "-f", "A", "-s", "1", nullptr), 0);
    const std::string long_text(300, 'x');
    struct Case {
        std::vector<const char *> words;
        const char *reason;
    } cases[] = {
        {{"dbctlx", "-a", "T9"}, "starts with 'dbctl'"},
        {{"-a", "T9"}, "starts with 'dbctl'"},
        {{"dbctl"}, "nothing to do"},
        {{"dbctl", "-a"}, "missing table name"},
        {{"dbctl", "-a", ""}, "empty table name"},
        {{"dbctl", "-z", "T"}, "unknown word '-z'"},
        {{"dbctl", "-t", "T", "-k", "k", "-s", "2"}, "needs '-f'"},
        {{"dbctl", "-t", "T", "-k", "k", "-f", "A"}, "needs '-s' or '-l'"},
        {{"dbctl", "-t", "T", "-k", "k", "-f", "A", "-x", "2"}, "needs '-s' or '-l'"},
        {{"dbctl", "-i", "k"}, "needs a table"},
        {{"dbctl", "-t", "T", "-g", "A"}, "needs a key"},
        {{"dbctl", "-t", "T", "-f", "A", "-s", "1"}, "needs a key"},
        {{"dbctl", "-t", "T", "-k", "k", "-g", "A", "-g", "A"}, "only one"},
        {{"dbctl", "-t", "T", "-k", "k", "-f", "A", "-s", long_text.c_str()}, "too long"},
        {{"dbctl", "-t", long_text.c_str()}, "too long"},
    };
    for (auto &c : cases) {
        std::memset(reply_, 'Z', sizeof reply_);
        EXPECT_EQ(statusdb::gen_cmd_words(client_, reply_, c.words.size(), c.words.data()), -1);
        ASSERT_NE(std::memchr(reply_, '\0', sizeof reply_), nullptr);
        EXPECT_EQ(std::strncmp(reply_, "error: ", 7), 0) << reply_;
        EXPECT_NE(std::strstr(reply_, c.reason), nullptr) << reply_;
    }

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

}  // namespace
