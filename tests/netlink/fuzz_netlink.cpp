// Arbitrary datagrams through the kernel event channel's read callback, over
// a socket pair standing in for the kernel's socket. Events that pass the
// checks reach the radio records, the status database (a private file) and
// the station-event library (answered in-process).
#include <stdint.h>
#include <sys/socket.h>

#include "../daemon/fuzz_world.h"
#include "conf_init.h"
#include "wlan_hvd_netlink.h"

namespace {

int g_sp[2] = {-1, -1};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz_world_init();
    CAPWAP_MODEL_SLOT_NUM = const_cast<char *>("1");
    dbcmd({"-t", std::string(TABLE_PREFIX) + "-" + wtp_mac_str, "-i", "SLOT-0"});
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
    wlan_action_hvd(g_sp[0], 1, ch_stat);
    return 0;
}
