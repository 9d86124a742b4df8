// Stand-ins for the outside world of the collection code: a shell whose
// commands answer canned output, an in-memory status database that records
// every command, a bus sender that keeps the records it was given, and a
// private folder for the trace file.
#ifndef TESTS_COLLECTION_FAKES_H
#define TESTS_COLLECTION_FAKES_H

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "parser_module.h"

using Words = std::vector<std::string>;

// The shell: command text -> output. A command not on the list starts and
// prints nothing; one listed in `unstartable` cannot be started.
struct FakeShell {
    std::map<std::string, std::string> out;
    std::vector<std::string> unstartable;
    std::vector<std::string> ran;
    int open_streams = 0;
};

// The status database: tables of keys (in creation order) with fields.
struct FakeDb {
    std::map<std::string, std::vector<std::pair<std::string, std::map<std::string, std::string>>>> tables;
    std::vector<Words> commands;
    int open_clients = 0;
    // When set, the reply of every list command (raw bytes, copied as is).
    std::string raw_list_reply;
    bool use_raw_list = false;

    void put(const std::string &table, const std::string &key, const std::string &field, const std::string &value);
    std::string get(const std::string &table, const std::string &key, const std::string &field) const;
    // The commands that write ("-s") or read ("-g") since the last call.
    std::vector<Words> take();
};

extern FakeShell *g_shell;
extern FakeDb *g_db;
extern parser_module g_fake_module;

class CollectionTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Commands run since the last call.
    std::vector<std::string> take_commands();
    std::string trace_text() const;
    void enable_trace(bool on);

    FakeShell shell_;
    FakeDb db_;
    std::string dir_;
    std::string trace_file_, trace_flag_;
};

std::string read_file(const std::string &path);

#endif
