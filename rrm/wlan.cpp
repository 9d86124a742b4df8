// Start-up and the life of the main thread: names and tables made from the
// access point's MAC address, the database client, the per-slot radio
// records, the bus listener, the collection thread, and finally the
// station-event library's dispatch loop.
#include <pthread.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "common_log.h"
#include "conf_init.h"
#include "platform_utils.h"
#include "wlan.h"
#include "wlan_hvd_netlink.h"

#include "wlan_periodic.h"

char wtp_mac_str[WLAN_MAC_STR_LEN];
int slot_num;
char table_name[WLAN_NAME_LEN];
char table_name_sta[WLAN_NAME_LEN];
char mesh_table_name[WLAN_NAME_LEN];
parser_module *module;
capwapWlanStatis_t *ch_stat;

void getWtpMac(char *str)
{
    memcpy(str, wtp_mac_str, sizeof wtp_mac_str);
}

void wlan_fatal_at(const char *unit, int line)
{
    printf("%s:%d\n", unit, line);
    fflush(stdout);
    abort();
}

void connect_proc(const char *state, int status)
{
    printf("[Connect DB]state: %s, status: %d\n", state != nullptr ? state : "", status);
}

void disconnect_proc(const char *state, int status)
{
    printf("[Disconnect DB]state: %s, status: %d\n", state != nullptr ? state : "", status);
}

capwapWlanStatis_t *init_ch_stat(int n)
{
    if (n < 0 || n > WLAN_SLOT_MAX)
        return nullptr;
    // At least one record, so that a model without slots still gets a valid
    // (unused) array.
    auto *stat = static_cast<capwapWlanStatis_t *>(calloc(n > 0 ? n : 1, sizeof(capwapWlanStatis_t)));
    if (stat == nullptr)
        return nullptr;
    for (int i = 0; i < n; ++i)
        stat[i].hvUmacBandId = -1;
    return stat;
}

// SIGTERM and SIGINT end the daemon with their default action. The bus
// library takes over each of them that is still at its default on every
// connect, including the station library's own reconnects, and turns it into
// a flag of a loop the daemon never runs. So the daemon holds both from the
// start with a handler of its own, which puts the default back and raises
// the signal again (both calls are async-signal-safe).
static void end_by_default(int sig)
{
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = SIG_DFL;
    sigaction(sig, &sa, nullptr);
    raise(sig);
}

static void hold_stop_signals(void)
{
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = end_by_default;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
}

void rrm_sta_notify(sta_module_msg *sta_msg)
{
    sta_lib_check_ch(nullptr);
    sta_lib_notify(sta_msg);
}

void *run(int argc, char **argv, char **envp, void *arg)
{
    char msg[MAX_BUF_LEN];
    sub_info_t sub_info;
    char mac_str[WLAN_MAC_STR_LEN];
    char log[WLAN_LOG_LEN];
    char key_name[WLAN_NAME_LEN];
    pthread_t timer;
    void *client_fd = nullptr;

    hold_stop_signals();
    status_started();
    do_initenv_initialization();

    snprintf(log, sizeof log, "%s", "WLAN MODULE START !");
    common_log(WLAN_MODULE_DB_LOG, WLAN_MODULE_DB_COUNT, log);

    mac2str(static_cast<const unsigned char *>(arg), mac_str);

    snprintf(table_name, sizeof table_name, "%s-%s", TABLE_PREFIX, mac_str);
    snprintf(table_name_sta, sizeof table_name_sta, "%s-%s", STA_STATISTIC_TABLE_PREFIX, mac_str);
    snprintf(mesh_table_name, sizeof mesh_table_name, "%s-%s", MESH_STA_STATISTIC_TABLE_PREFIX,
             mac_str);

    memcpy(wtp_mac_str, mac_str, sizeof wtp_mac_str);

    init_title(argc, argv, envp, "wlan module: ");
    set_title("%s starting...", mac_str);

    slot_num = atoi(CAPWAP_MODEL_SLOT_NUM);
    printf("WLAN SLOT = %d\n", slot_num);

    // The numbers in the four start-up failure lines below (1015, 1020, 1026,
    // 1034) are part of those lines' fixed wording, not source lines: they
    // stay as they are wherever the lines move, and are not __LINE__.
    module = parser_open("dbcmd");
    if (module == nullptr) {
        printf("[%s:%d]--init dbcmd Failed-\n", "run", 1015);
        return nullptr;
    }
    module = status_count_db_failures(module);

    client_fd = module->init_sock(0);
    if (client_fd == nullptr) {
        printf("[%s:%d]--init dbcmd Failed-\n", "run", 1020);
        return nullptr;
    }

    ch_stat = init_ch_stat(slot_num);
    if (ch_stat == nullptr) {
        printf("[%s:%d]--init ch_stat Failed-\n", "run", 1026);
        return nullptr;
    }

    memset(&sub_info, 0, sizeof sub_info);
    if (sub_info_init(&sub_info) != 0 || sub_info.ev == nullptr) {
        printf("[%s:%d]--init sta library Failed-\n", "run", __LINE__);
        return nullptr;
    }

    if (ubus_evt_attach(&sub_info) != 0) {
        printf("%s:%d--init ubus socket Failed-\n", "run", 1034);
        return nullptr;
    }

    // The kernel event channel stays off unless RRM_NETLINK=1 asks for it;
    // a kernel without the family leaves the daemon on the bus channel alone.
    netlink_evt_attach_if_enabled(&sub_info);

    // A thread that cannot start leaves a daemon that records events but
    // collects no statistics.
    if (pthread_create(&timer, nullptr, periodic_func, nullptr) != 0)
        printf("collection thread not started\n");

    msg[0] = '\0';
    module->gen_cmd(client_fd, msg, "dbctl", "-a", table_name, (char *)0);
    module->gen_cmd(client_fd, msg, "dbctl", "-a", table_name_sta, (char *)0);
    module->gen_cmd(client_fd, msg, "dbctl", "-a", mesh_table_name, (char *)0);
    for (int i = 0; i < slot_num; ++i) {
        snprintf(key_name, sizeof key_name, "%s-%d", KEY_PREFIX, i);
        module->gen_cmd(client_fd, msg, "dbctl", "-t", table_name, "-i", key_name, (char *)0);
    }
    module->close_sock(client_fd, 0);

    snprintf(sub_info.mac_str, sizeof sub_info.mac_str, "%s", mac_str);
    sub_info.con_cb = connect_proc;
    sub_info.dis_con_cb = disconnect_proc;
    sub_info.reg_type[STA_ASSO].sub_cb = sta_evt_proc;
    sub_info.reg_type[STA_DISASSO].sub_cb = sta_evt_proc;
    sub_info.reg_type[NETOPEER_ONLINE].sub_cb = sta_evt_proc;
    sub_info.reg_type[NETOPEER_OFFLINE].sub_cb = sta_evt_proc;
    sub_info.reg_type[NETOPEER_CLAIM].sub_cb = sta_evt_proc;
    sub_info.reg_type[NETOPEER_DECLAIM].sub_cb = sta_evt_proc;

    subscribe_dispatch(&sub_info);
    return nullptr;
}
