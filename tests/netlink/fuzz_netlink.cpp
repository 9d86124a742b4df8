// Arbitrary datagrams through the kernel event channel's read callback, over
// a socket pair standing in for the kernel's socket. Events that pass the
// checks reach the radio records, the status database (a private file) and
// the station-event library (answered in-process).
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include "conf_init.h"
#include "parser_module.h"
#include "wlan.h"
#include "wlan_hvd.h"
#include "wlan_hvd_netlink.h"

namespace {

int g_sp[2] = {-1, -1};
capwapWlanStatis_t g_stat[2];

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    char tmpl[] = "/tmp/fuzznetlinkXXXXXX";
    if (mkdtemp(tmpl) == nullptr)
        abort();
    static char db_path[64];
    snprintf(db_path, sizeof db_path, "%s/status.db", tmpl);
    setenv("STATUSDB_PATH", db_path, 1);
    unsetenv("STATUSDB_TRACE");
    setenv("HVKIT_SLOT_NUM", "2", 1);
    CAPWAP_MODEL_SLOT_NUM = const_cast<char *>("1");
    snprintf(wtp_mac_str, sizeof wtp_mac_str, "%s", "00:11:22:33:44:55");
    // Traces off: the flag file does not exist.
    static char flag[64];
    snprintf(flag, sizeof flag, "%s/no_flag", tmpl);
    wlan_debug_flag_name = flag;

    parser_module *db = parser_open("dbcmd");
    void *client = db->init_sock(0);
    char reply[MAX_BUF_LEN];
    db->gen_cmd(client, reply, "dbctl", "-a", "WLAN-00:11:22:33:44:55", "-i", "SLOT-0", (char *)0);
    db->gen_cmd(client, reply, "dbctl", "-a", "STA_STATISTIC-00:11:22:33:44:55", (char *)0);
    db->close_sock(client, 0);

    if (socketpair(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0, g_sp) != 0)
        abort();
    int big = 1 << 16;
    setsockopt(g_sp[1], SOL_SOCKET, SO_SNDBUF, &big, sizeof big);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // Longer datagrams are cut to the reader's limit by the socket.
    if (size > 4096)
        size = 4096;
    if (send(g_sp[1], data, size, 0) != static_cast<ssize_t>(size))
        return 0;
    wlan_action_hvd(g_sp[0], 1, g_stat);
    return 0;
}
