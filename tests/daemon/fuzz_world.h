// A quiet private world for the fuzz targets: status database and common log
// in a temporary folder, no shell commands, standard output discarded.
#ifndef TESTS_DAEMON_FUZZ_WORLD_H
#define TESTS_DAEMON_FUZZ_WORLD_H

#include <stdio.h>
#include <stdlib.h>

#include <string>

#include "seam.h"
#include "wlan.h"

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
    rrm_seam.cmd_open = [](const char *, const char *) -> FILE * { return nullptr; };
    snprintf(wtp_mac_str, sizeof wtp_mac_str, "%s", "00:11:22:33:44:55");
    slot_num = 2;
    ch_stat = init_ch_stat(2);
    if (freopen("/dev/null", "w", stdout) == nullptr)
        abort();

    parser_module *db = parser_open("dbcmd");
    void *client = db->init_sock(0);
    char reply[MAX_BUF_LEN];
    for (const char *prefix : {TABLE_PREFIX, STA_STATISTIC_TABLE_PREFIX,
                               MESH_STA_STATISTIC_TABLE_PREFIX}) {
        char table[WLAN_NAME_LEN];
        snprintf(table, sizeof table, "%s-%s", prefix, wtp_mac_str);
        db->gen_cmd(client, reply, "dbctl", "-a", table, (char *)0);
    }
    db->close_sock(client, 0);
}

#endif
