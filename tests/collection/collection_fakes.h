// Stand-ins for the outside world of the collection code: a shell whose
// commands answer canned output, an in-memory status database that records
// every command, and a private folder for the trace file.
#ifndef TESTS_COLLECTION_FAKES_H
#define TESTS_COLLECTION_FAKES_H

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "../common/proc.h"
#include "parser_module.h"

using Words = std::vector<std::string>;

// The tables of the access point 00:11:22:33:44:55, and the driver's listing.
inline const std::string kSta = "STA_STATISTIC-00:11:22:33:44:55";
inline const std::string kMesh = "MESH_STA_STATISTIC-00:11:22:33:44:55";
inline const std::string kWlan = "WLAN-00:11:22:33:44:55";
inline const std::string kList11 = "wlanconfig wlan-1-1 list sta limited 2>/dev/null";
inline const std::string kHeader = "ADDR AID CHAN TXRATE RXRATE RSSI MINRSSI MAXRSSI TX RX BANDCAP ACAPS MODE\n";

// The shell: command text -> output. A command not on the list starts and
// prints nothing; one listed in `unstartable` cannot be started. With
// `real` set, every command runs through /bin/sh instead (still noted).
struct FakeShell {
    std::map<std::string, std::string> out;
    std::vector<std::string> unstartable;
    std::vector<std::string> ran;
    int open_streams = 0;
    bool real = false;
};

// The status database: tables of keys (in creation order) with fields, and
// every command given to it.
struct FakeDb {
    using Row = std::pair<std::string, std::map<std::string, std::string>>;
    std::map<std::string, std::vector<Row>> tables;
    std::vector<Words> commands;
    int open_clients = 0;
    std::string raw_list_reply;  // when set, the reply of every list command, copied as is

    void put(const std::string &table, const std::string &key, const std::string &field, const std::string &value);
    std::string get(const std::string &table, const std::string &key, const std::string &field) const;
    std::vector<Words> take();  // the commands since the last call
};

class CollectionTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    std::vector<std::string> take_commands();  // shell commands since the last call
    std::string trace_text() const;
    void enable_trace(bool on);

    FakeShell shell_;
    FakeDb db_;
    proc::TempDir tmp_;  // removed with its files
    std::string dir_ = tmp_.path, trace_file_ = tmp_.file("trace.txt"), trace_flag_ = tmp_.file("trace.flag");
};

#endif
