// The WLAN status daemon's entry point: one argument, the access point's own
// MAC address; everything else happens in run.
#include <stdio.h>
#include <string.h>

#include "platform_utils.h"
#include "wlan.h"

namespace {

void usage(FILE *to, const char *prog)
{
    fprintf(to, "usage: %s <access point MAC, xx:xx:xx:xx:xx:xx>\n", prog);
}

void help(const char *prog)
{
    usage(stdout, prog);
    fputs(
        "\n"
        "The WLAN status daemon: records station events in the status database, refreshes\n"
        "station and radio statistics every 50 s, announces departed stations on the bus.\n"
        "It runs until it is stopped; it reads no configuration file of its own.\n"
        "\n"
        "Environment (the CAPWAP settings are read once at start-up, the others when used):\n"
        "  CAPWAP_MODEL_SLOT_NUM   number of radio slots, 0-99 (default 1)\n"
        "  DOT11_ATH_WLANCONFIG    driver station tool (default wlanconfig)\n"
        "  DOT11_ATH_IWPRIV        driver private-request tool (default iwpriv)\n"
        "  HVSH_CLI_BIN            device shell (default /bin/hvsh)\n"
        "  RRM_NETLINK             1 attaches the kernel netlink event channel (default off)\n"
        "  STATUSDB_PATH           status database file (default /tmp/statusdb.sqlite)\n"
        "  STATUSDB_TRACE          file that records every database command (default none)\n"
        "  COMMON_LOG_DIR          folder of the common log files (default /tmp/common_log);\n"
        "                          the daemon's lines go to WLAN_MODULE_DB_LOG there\n"
        "  STA_UBUS_SOCKET         socket of the station-event service (default: the bus's)\n"
        "  WPA3_WLAN_CONF_DIR      WLAN configuration files wlan-N.conf (default /var/halvo/wlan)\n"
        "  HVKIT_SLOT_NUM, HVKIT_HYBRID_MODE, HVKIT_MODEL_FILE\n"
        "                          the model library's slot count and hybrid mode\n"
        "                          (default: CAPWAP_MODEL_SLOT_NUM and 0)\n"
        "The other CAPWAP settings (CW_DEBUG_FILE_PATH, CAPWAP_MODEL_ID, ...) are taken but not\n"
        "used. The bus is always /var/run/ubus/ubus.sock. Developer traces go to\n"
        "/tmp/wlan_module.txt while /tmp/wlan_module_debug exists.\n"
        "\n"
        "Standard output: \"WLAN SLOT = N\" first, then \"[Connect DB]state: connected, status: 0\"\n"
        "once the station-event service is reached: the daemon is running.\n"
        "\n"
        "A start-up step that fails prints one of these lines and ends the daemon with exit\n"
        "status 0, by design (the access point's service manager starts it again):\n"
        "  [run:1015]--init dbcmd Failed-      the status database client library did not open\n"
        "  [run:1020]--init dbcmd Failed-      no database client: is STATUSDB_PATH writable?\n"
        "  [run:1026]--init ch_stat Failed-    slot count outside 0-99, or no memory\n"
        "  [run:N]--init sta library Failed-   the station-event library's event loop failed\n"
        "  run:1034--init ubus socket Failed-  no bus daemon at its socket (common log:\n"
        "                                      \"Unable to connect to ubus.\")\n"
        "A missing or malformed MAC argument prints the usage line and exits with status 2.\n",
        stdout);
}

}  // namespace

int main(int argc, char **argv, char **envp)
{
    // Line-buffered, so each line reaches a pipe whole and in order and
    // none is lost when the process aborts.
    setvbuf(stdout, nullptr, _IOLBF, 0);

    const char *prog = argc > 0 && argv[0] != nullptr ? argv[0] : "rrm";
    if (argc == 2 && (strcmp(argv[1], "--help") == 0 || strcmp(argv[1], "-h") == 0)) {
        help(prog);
        return 0;
    }
    unsigned char mac[6] = {};
    if (argc != 2 || str2mac(argv[1], mac) != 0) {
        usage(stderr, prog);
        return 2;
    }
    run(argc, argv, envp, mac);
    return 0;
}
