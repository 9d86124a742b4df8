#include "daemon_fixture.h"

#include "../common/dbcmd.h"
#include "conf_init.h"
#include "fake_sta_lib.h"
#include "seam.h"
#include "wlan.h"

namespace {

std::string conf_dir;
std::vector<std::string> commands;

FILE *world_cmd_open(const char *command, const char *mode)
{
    commands.emplace_back(command);
    std::string cmd = command;
    const std::string real = "/var/halvo/wlan/";
    for (size_t at = cmd.find(real); at != std::string::npos; at = cmd.find(real))
        cmd.replace(at, real.size(), conf_dir + "/");
    return popen(cmd.c_str(), mode);
}

time_t fixed_now(time_t *out)
{
    if (out != nullptr)
        *out = DaemonTest::kNow;
    return DaemonTest::kNow;
}

}  // namespace

void DaemonTest::SetUp()
{
    dir_ = tmp_.emplace().path;
    conf_dir = dir_ + "/wlan";
    ASSERT_EQ(0, system(("mkdir -p " + conf_dir + " " + dir_ + "/log").c_str()));
    setenv("STATUSDB_PATH", (dir_ + "/status.db").c_str(), 1);
    setenv("STATUSDB_TRACE", (dir_ + "/trace").c_str(), 1);
    setenv("COMMON_LOG_DIR", (dir_ + "/log").c_str(), 1);
    setenv("WPA3_WLAN_CONF_DIR", conf_dir.c_str(), 1);
    unsetenv("HVKIT_SLOT_NUM");
    rrm_seam.cmd_open = world_cmd_open;
    rrm_seam.now = fixed_now;
    commands.clear();
    fake_sta::reset();
    snprintf(wtp_mac_str, sizeof wtp_mac_str, "%s", kApMac);
    CAPWAP_MODEL_SLOT_NUM = const_cast<char *>("1");
    trace_seen_ = 0;
    module = status_count_db_failures(parser_open("dbcmd"));  // refused commands counted

    // The tables start-up makes.
    for (const std::string *t : {&wlan_table_, &sta_table_, &mesh_table_})
        dbcmd({"-a", *t});
}

void DaemonTest::TearDown()
{
    if (capturing_)
        stdout_text();
    rrm_seam_reset();
    CAPWAP_MODEL_SLOT_NUM = const_cast<char *>("1");
    tmp_.reset();
}

Lines DaemonTest::take_trace()
{
    Lines all = proc::lines(dir_ + "/trace");
    Lines fresh(all.begin() + static_cast<long>(std::min(trace_seen_, all.size())), all.end());
    trace_seen_ = all.size();
    return fresh;
}

Lines DaemonTest::take_commands()
{
    return std::exchange(commands, {});
}

Lines DaemonTest::log_lines()
{
    Lines lines = proc::lines(dir_ + "/log/WLAN_MODULE_DB_LOG");
    for (std::string &line : lines)
        if (line.size() > 20)
            line.erase(0, 20);
    return lines;
}

void DaemonTest::write_wlan_conf(int radio, const std::string &text)
{
    std::ofstream out(conf_dir + "/wlan-" + std::to_string(radio) + ".conf");
    out << text;
}

void DaemonTest::capture_stdout()
{
    fflush(stdout);
    ::testing::internal::CaptureStdout();
    capturing_ = true;
}

std::string DaemonTest::stdout_text()
{
    fflush(stdout);
    capturing_ = false;
    return ::testing::internal::GetCapturedStdout();
}
