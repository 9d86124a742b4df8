// A private world for the netlink channel's tests: a status database file
// with its command trace, the developer trace file switched on, a datagram
// socket pair standing in for the kernel's socket, a model of two slots and
// four radio records.
#ifndef TESTS_NETLINK_NETLINK_WORLD_H
#define TESTS_NETLINK_NETLINK_WORLD_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "netlink_msgs.h"
#include "wlan_hvd_netlink.h"

class NetlinkTest : public ::testing::Test {
public:
    static constexpr const char *kApMac = "00:11:22:33:44:55";

protected:
    void SetUp() override;
    void TearDown() override;

    // Sends one datagram to the daemon's end of the socket pair and runs the
    // read callback once.
    void feed(const nlmsg::Bytes &datagram);
    // Trace entries written since the last call, from "wlan_module: " on.
    std::vector<std::string> take_traces();
    // Database commands issued since the last call.
    std::vector<std::string> take_commands();
    std::string db_get(const std::string &table, const std::string &key, const std::string &field);
    // A command outside the trace (set-up of keys).
    void db_run(std::vector<std::string> words);

    std::string dir_;
    int sp_[2] = {-1, -1};
    capwapWlanStatis_t stat_[4];
    std::string wlan_table_ = std::string("WLAN-") + kApMac;
    std::string sta_table_ = std::string("STA_STATISTIC-") + kApMac;

private:
    size_t trace_seen_ = 0;
    size_t commands_seen_ = 0;
    std::string trace_file_, flag_file_;
};

#endif
