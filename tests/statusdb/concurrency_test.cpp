// Several writers at once (threads of this process with their own clients,
// and another process) lose nothing.
#include <unistd.h>

#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "statusdb_fixture.h"

namespace {

using Concurrent = StatusDb;

constexpr int kRounds = 150;

// The key, field and value of writer w's round i.
void names(int w, int i, char (&key)[32], char (&field)[32], char (&value)[32])
{
    std::snprintf(key, sizeof key, "w%d-%03d", w, i);
    std::snprintf(field, sizeof field, "F%d-%03d", w, i);
    std::snprintf(value, sizeof value, "%d", i);
}

// Writer W: each round one key of its own with three fields, and one field
// of its own on the shared key, each in one command on a fresh client.
void writer(parser_module *db, int w)
{
    char reply[PARSER_REPLY_MAX];
    for (int i = 0; i < kRounds; ++i) {
        char key[32], field[32], value[32];
        names(w, i, key, field, value);
        void *c = db->init_sock(static_cast<unsigned>(100 + w));
        if (c == nullptr)
            return;
        db->gen_cmd(c, reply, "dbctl", "-t", "T", "-i", key, "-f", "A", "-s", value, "-f", "B", "-s", value, "-f",
                    "C", "-s", value, nullptr);
        db->gen_cmd(c, reply, "dbctl", "-t", "T", "-k", "shared", "-f", field, "-s", value, nullptr);
        db->close_sock(c, 100);
    }
}

TEST_F(Concurrent, ThreadsAndAProcessWritingAtOnceLoseNoWrite)
{
    ASSERT_EQ(db_->gen_cmd(client_, reply_, "dbctl", "-a", "T", "-i", "shared", nullptr), 0);
    // No connection may be open across fork: the child starts clean.
    db_->close_sock(client_, 0);
    client_ = nullptr;

    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        writer(db_, 2);
        _exit(0);
    }
    std::thread t0(writer, db_, 0);
    std::thread t1(writer, db_, 1);
    t0.join();
    t1.join();
    ASSERT_EQ(proc::wait_exit(child), 0);

    client_ = db_->init_sock(0);
    ASSERT_NE(client_, nullptr);

    for (int w = 0; w < 3; ++w) {
        for (int i = 0; i < kRounds; ++i) {
            char key[32], field[32], value[32];
            names(w, i, key, field, value);
            for (const char *f : {"A", "B", "C"}) {
                ASSERT_EQ(db_->gen_cmd(client_, reply_, "dbctl", "-t", "T", "-k", key, "-g", f, nullptr), 0);
                ASSERT_STREQ(reply_, value) << key << " " << f;
            }
            ASSERT_EQ(db_->gen_cmd(client_, reply_, "dbctl", "-t", "T", "-k", "shared", "-g", field, nullptr), 0);
            ASSERT_STREQ(reply_, value) << field;
        }
    }
    // Every command also reached the trace, one whole line each.
    auto lines = trace_lines();
    EXPECT_EQ(lines.size(), 1u + 3u * 2u * kRounds + 3u * kRounds * 4u);
    for (auto &l : lines)
        ASSERT_EQ(l.rfind("dbctl -", 0), 0u) << l;
}

}  // namespace
