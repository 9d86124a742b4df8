// A quiet private world for the fuzz targets: status database and common log
// in a temporary folder, two slots and their records, no shell commands, no
// developer traces, standard output discarded.
#ifndef TESTS_DAEMON_FUZZ_WORLD_H
#define TESTS_DAEMON_FUZZ_WORLD_H

#include <stdio.h>
#include <stdlib.h>

#include <string>

#include "../common/dbcmd.h"
#include "seam.h"
#include "wlan.h"
#include "wlan_hvd.h"

inline void fuzz_world_init()
{
    char tmpl[] = "/tmp/rrmfuzzXXXXXX";
    const char *dir = mkdtemp(tmpl);
    if (dir == nullptr)
        abort();
    const std::string d = dir;
    setenv("STATUSDB_PATH", (d + "/status.db").c_str(), 1);
    unsetenv("STATUSDB_TRACE");
    setenv("COMMON_LOG_DIR", d.c_str(), 1);
    setenv("WPA3_WLAN_CONF_DIR", d.c_str(), 1);
    setenv("HVKIT_SLOT_NUM", "2", 1);
    static const std::string no_flag = d + "/no_flag";  // developer traces off
    wlan_debug_flag_name = no_flag.c_str();
    rrm_seam.cmd_open = [](const char *, const char *) -> FILE * { return nullptr; };
    snprintf(wtp_mac_str, sizeof wtp_mac_str, "%s", "00:11:22:33:44:55");
    slot_num = 2;
    ch_stat = init_ch_stat(2);
    if (freopen("/dev/null", "w", stdout) == nullptr)
        abort();

    for (const char *prefix : {TABLE_PREFIX, STA_STATISTIC_TABLE_PREFIX, MESH_STA_STATISTIC_TABLE_PREFIX})
        dbcmd({"-a", std::string(prefix) + "-" + wtp_mac_str});
}

#endif
