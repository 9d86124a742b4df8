// A private world for one daemon unit test: a status database file with its
// command trace, a common-log folder, WLAN configuration files, a fixed
// clock, and shell commands that read the configuration files of this world.
#ifndef TESTS_DAEMON_DAEMON_FIXTURE_H
#define TESTS_DAEMON_DAEMON_FIXTURE_H

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "../common/proc.h"

using Lines = std::vector<std::string>;

class DaemonTest : public ::testing::Test {
public:
    static constexpr const char *kApMac = "00:11:22:33:44:55";
    static constexpr long kNow = 1700000000;

protected:
    void SetUp() override;
    void TearDown() override;

    // Lines of the database command trace written since the last call.
    Lines take_trace();
    // Every shell command run since the last call.
    Lines take_commands();
    // Lines of the wlan unit's common log (time stamps cut off).
    Lines log_lines();
    // Writes the WLAN configuration file of a radio.
    void write_wlan_conf(int radio, const std::string &text);
    // Starts capturing standard output; stdout_text() ends it.
    void capture_stdout();
    std::string stdout_text();

    std::optional<proc::TempDir> tmp_;
    std::string dir_;
    std::string sta_table_ = std::string("STA_STATISTIC-") + kApMac;
    std::string mesh_table_ = std::string("MESH_STA_STATISTIC-") + kApMac;
    std::string wlan_table_ = std::string("WLAN-") + kApMac;

private:
    size_t trace_seen_ = 0;
    bool capturing_ = false;
};

#endif
