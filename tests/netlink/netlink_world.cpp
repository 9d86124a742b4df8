#include "netlink_world.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "conf_init.h"
#include "fake_sta.h"
#include "parser_module.h"
#include "wlan.h"
#include "wlan_hvd.h"

namespace {

std::vector<std::string> read_lines(const std::string &path)
{
    std::vector<std::string> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// A database client outside the command trace.
template <typename F>
void untraced(const std::string &trace, F body)
{
    unsetenv("STATUSDB_TRACE");
    parser_module *db = parser_open("dbcmd");
    void *client = db->init_sock(0);
    body(db, client);
    db->close_sock(client, 0);
    setenv("STATUSDB_TRACE", trace.c_str(), 1);
}

}  // namespace

void NetlinkTest::SetUp()
{
    char tmpl[] = "/tmp/rrmnetlinkXXXXXX";
    ASSERT_NE(nullptr, mkdtemp(tmpl));
    dir_ = tmpl;
    setenv("STATUSDB_PATH", (dir_ + "/status.db").c_str(), 1);
    setenv("STATUSDB_TRACE", (dir_ + "/commands").c_str(), 1);
    setenv("HVKIT_SLOT_NUM", "2", 1);
    CAPWAP_MODEL_SLOT_NUM = const_cast<char *>("2");
    snprintf(wtp_mac_str, sizeof wtp_mac_str, "%s", kApMac);

    trace_file_ = dir_ + "/wlan_module.txt";
    flag_file_ = dir_ + "/wlan_module_debug";
    wlan_debug_file_name = trace_file_.c_str();
    wlan_debug_flag_name = flag_file_.c_str();
    FILE *flag = fopen(flag_file_.c_str(), "w");
    ASSERT_NE(nullptr, flag);
    fclose(flag);

    ASSERT_EQ(0, socketpair(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0, sp_));
    memset(stat_, 0, sizeof stat_);
    for (capwapWlanStatis_t &s : stat_)
        s.hvUmacBandId = -1;
    fake_sta::reset();

    db_run({"dbctl", "-a", wlan_table_, "-i", "SLOT-0"});
    db_run({"dbctl", "-t", wlan_table_, "-i", "SLOT-1"});
    db_run({"dbctl", "-a", sta_table_});
}

void NetlinkTest::TearDown()
{
    for (int &fd : sp_) {
        if (fd >= 0)
            close(fd);
        fd = -1;
    }
    wlan_debug_file_name = DBG_FILE_NAME;
    wlan_debug_flag_name = DBG_FILE_FLAG;
    CAPWAP_MODEL_SLOT_NUM = const_cast<char *>("1");
    unsetenv("HVKIT_SLOT_NUM");
    unsetenv("STATUSDB_TRACE");
    ASSERT_EQ(0, system(("rm -rf '" + dir_ + "'").c_str()));
}

void NetlinkTest::feed(const nlmsg::Bytes &datagram)
{
    ASSERT_EQ(static_cast<ssize_t>(datagram.size()), send(sp_[1], datagram.data(), datagram.size(), 0));
    wlan_action_hvd(sp_[0], 1 /* readable */, stat_);
}

std::vector<std::string> NetlinkTest::take_traces()
{
    std::vector<std::string> all = read_lines(trace_file_);
    std::vector<std::string> fresh;
    for (size_t i = trace_seen_; i < all.size(); ++i) {
        size_t at = all[i].find("wlan_module: ");
        fresh.push_back(at == std::string::npos ? all[i] : all[i].substr(at));
    }
    trace_seen_ = all.size();
    return fresh;
}

std::vector<std::string> NetlinkTest::take_commands()
{
    std::vector<std::string> all = read_lines(dir_ + "/commands");
    std::vector<std::string> fresh(all.begin() + static_cast<long>(std::min(commands_seen_, all.size())),
                                   all.end());
    commands_seen_ = all.size();
    return fresh;
}

std::string NetlinkTest::db_get(const std::string &table, const std::string &key,
                                const std::string &field)
{
    char reply[MAX_BUF_LEN] = {};
    untraced(dir_ + "/commands", [&](parser_module *db, void *client) {
        db->gen_cmd(client, reply, "dbctl", "-t", table.c_str(), "-k", key.c_str(), "-g",
                    field.c_str(), (char *)0);
    });
    return reply;
}

void NetlinkTest::db_run(std::vector<std::string> words)
{
    // The commands used here have at most six words.
    ASSERT_LE(words.size(), 6u);
    words.resize(6);
    char reply[MAX_BUF_LEN] = {};
    untraced(dir_ + "/commands", [&](parser_module *db, void *client) {
        const char *w[6];
        for (size_t i = 0; i < 6; ++i)
            w[i] = words[i].empty() ? nullptr : words[i].c_str();
        db->gen_cmd(client, reply, w[0], w[1], w[2], w[3], w[4], w[5], (char *)0);
    });
}
