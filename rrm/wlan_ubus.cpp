// Bus intake: subscribes to the wifi manager's events, watches the bus
// socket on the station library's loop, and turns the four events acted on
// into recorder calls or channel updates of the per-slot radio records.
// Also the one door to the bus for other threads (rrm_bus_do).
#include <errno.h>
#include <event.h>
#include <fcntl.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "common_log.h"
#include "hvkit.h"
#include "wlan.h"
#include "wlan_ubus.h"

const struct blobmsg_policy wifimgr_notify_policy[__UBUS_NOTIFY_MAX] = {
    {UBUS_STA_JOIN, BLOBMSG_TYPE_UNSPEC}, /* STAINFO_JOIN_CMD */
    {UBUS_STA_LEAVE, BLOBMSG_TYPE_UNSPEC}, /* STAINFO_LEAVE_CMD */
    {UBUS_STA_AUTHORIZED, BLOBMSG_TYPE_UNSPEC}, /* STAINFO_AUTHORIZED_CMD */
    {UBUS_STA_DHCP_SNIFFER, BLOBMSG_TYPE_UNSPEC}, /* STAINFO_DHCP_SNIFFER_CMD */
    {UBUS_STA_UPLINK_CONNECTED, BLOBMSG_TYPE_UNSPEC}, /* STAINFO_UPLINK_CONNECTED_CMD */
    {UBUS_STA_UPLINK_DISCONNECTED, BLOBMSG_TYPE_UNSPEC}, /* STAINFO_UPLINK_DISCONNECTED_CMD */
    {UBUS_STA_IP, BLOBMSG_TYPE_UNSPEC}, /* STAINFO_IP_CMD */
    {UBUS_STA_ACTIVITY_CHANGE_IND, BLOBMSG_TYPE_UNSPEC}, /* STAINFO_ACTIVITY_CHANGE_IND_CMD */
    {UBUS_STA_DHCP, BLOBMSG_TYPE_UNSPEC}, /* STAINFO_DHCP_CMD */
    {UBUS_STA_DNS, BLOBMSG_TYPE_UNSPEC}, /* STAINFO_DNS_CMD */
    {UBUS_IF_CHANNEL, BLOBMSG_TYPE_UNSPEC}, /* INTERFACE_CHANNEL_CMD */
    {UBUS_IF_SSID, BLOBMSG_TYPE_UNSPEC}, /* INTERFACE_SSID_CMD */
    {UBUS_IF_SECURITY, BLOBMSG_TYPE_UNSPEC}, /* INTERFACE_SECURITY_CMD */
    {UBUS_IF_ROLE, BLOBMSG_TYPE_UNSPEC}, /* INTERFACE_ROLE_CMD */
    {UBUS_IF_VAP_DELETE, BLOBMSG_TYPE_UNSPEC}, /* INTERFACE_VAP_DELETE_CMD */
    {UBUS_IF_VAP_CREATE, BLOBMSG_TYPE_UNSPEC}, /* INTERFACE_VAP_CREATE_CMD */
    {UBUS_COM_BCNRPT, BLOBMSG_TYPE_UNSPEC}, /* COMMON_BCNRPT_CMD */
    {UBUS_COM_NEIGHBOR_REQ, BLOBMSG_TYPE_UNSPEC}, /* COMMON_NEIGHBOR_REQ_CMD */
    {UBUS_COM_MONITOR_PROBE, BLOBMSG_TYPE_UNSPEC}, /* COMMON_MONITOR_PROBE_CMD */
    {UBUS_COM_BSTM_RESP, BLOBMSG_TYPE_UNSPEC}, /* COMMON_BSTM_RESP_CMD */
    {UBUS_COM_DFS_CAC_EXPIRED, BLOBMSG_TYPE_UNSPEC}, /* COMMON_DFS_CAC_EXPIRED_CMD */
    {UBUS_COM_DFS_RADAR_DETECT, BLOBMSG_TYPE_UNSPEC}, /* COMMON_DFS_RADAR_DETECT_CMD */
    {UBUS_COM_DFS_NOL_TIMEOUT, BLOBMSG_TYPE_UNSPEC}, /* COMMON_DFS_NOL_TIMEOUT_CMD */
    {UBUS_COM_SMESH_INFO, BLOBMSG_TYPE_UNSPEC}, /* COMMON_SMESH_INFO_CMD */
    {UBUS_COM_SMESH_WBS_FOUND, BLOBMSG_TYPE_UNSPEC}, /* COMMON_SMESH_WBS_FOUND_CMD */
    {UBUS_WIFIMGR_DEBUG, BLOBMSG_TYPE_INT32}, /* WIFIMGR_DEBUG_CMD */
    {UBUS_IF_SETUP_RADIO, BLOBMSG_TYPE_UNSPEC}, /* INTERFACE_SETUP_RADIO_CMD */
    {UBUS_UTILITY_DENY_NSS_ACCEL, BLOBMSG_TYPE_UNSPEC}, /* UTILITY_DENY_NSS_ACCEL_CMD */
    {UBUS_UTILITY_RESET, BLOBMSG_TYPE_UNSPEC}, /* UTILITY_RESET_CMD */
    {UBUS_UTILITY_REBOOT, BLOBMSG_TYPE_UNSPEC}, /* UTILITY_REBOOT_CMD */
    {UBUS_UTILITY_BB_PANIC, BLOBMSG_TYPE_UNSPEC}, /* UTILITY_BB_PANIC_CMD */
    {UBUS_MESH_DYNAMIC_VLAN, BLOBMSG_TYPE_UNSPEC}, /* MESH_DYNAMIC_VLAN_CMD */
};
static_assert(sizeof wifimgr_notify_policy / sizeof wifimgr_notify_policy[0] == 32);
static_assert(MESH_DYNAMIC_VLAN_CMD == 31 && INTERFACE_SSID_CMD == 11 &&
              INTERFACE_CHANNEL_CMD == 10 && STAINFO_IP_CMD == 6 && STAINFO_AUTHORIZED_CMD == 2);

namespace {

struct ubus_context *ctx = nullptr;
struct ubus_event_handler wifi_listener;

// The subscription record's watcher on the bus socket, and the timer that
// brings a lost connection back.
struct event *bus_watcher = nullptr;
struct event_base *bus_loop = nullptr;
struct event reconnect_timer;
int reconnect_delay_s = 0;
constexpr int kReconnectFirst = 1;
constexpr int kReconnectMax = 30;

constexpr const char *kHandler = "ubus_event_handle";

void wlan_log(const char *text)
{
    char log[WLAN_LOG_LEN];
    snprintf(log, sizeof log, "%s", text);
    common_log(WLAN_MODULE_DB_LOG, WLAN_MODULE_DB_COUNT, log);
}

void watch_bus_socket()
{
    event_set(bus_watcher, ctx->sock.fd, EV_READ | EV_PERSIST, wlanModuleUbusHandleWrapper,
              nullptr);
    if (bus_loop != nullptr)
        event_base_set(bus_loop, bus_watcher);
    event_add(bus_watcher, nullptr);
}

void reconnect(int, short, void *);
void note_connection_lost(struct ubus_context *c);

void schedule_reconnect()
{
    struct timeval tv = {reconnect_delay_s, 0};
    evtimer_set(&reconnect_timer, reconnect, nullptr);
    if (bus_loop != nullptr)
        event_base_set(bus_loop, &reconnect_timer);
    event_add(&reconnect_timer, &tv);
}

// The bus went away: stop watching the dead socket (a closed socket stays
// readable and would spin the loop), drop the connection and try again later.
void connection_lost()
{
    event_del(bus_watcher);
    ubus_free(ctx);
    ctx = nullptr;
    reconnect_delay_s = kReconnectFirst;
    wlan_log("ubus connection lost, reconnecting");
    schedule_reconnect();
}

void reconnect(int, short, void *)
{
    ctx = ubus_connect(nullptr);
    if (ctx == nullptr) {
        reconnect_delay_s = reconnect_delay_s * 2 > kReconnectMax ? kReconnectMax
                                                                  : reconnect_delay_s * 2;
        schedule_reconnect();
        return;
    }
    ctx->connection_lost = note_connection_lost;
    memset(&wifi_listener, 0, sizeof wifi_listener);
    ubus_event_register();
    status_object_add(ctx);
    status_count(COUNT_BUS_RECONNECT);
    watch_bus_socket();
    wlan_log("ubus connection restored, events registered again");
}

// The library reports a lost connection from inside its read handler; the
// connection is only released once the handler has returned.
void note_connection_lost(struct ubus_context *c)
{
    c->sock.eof = true;
}

// The record an event attribute carries, copied out of the message. False
// (with a message) when the attribute is too short to hold one.
bool event_record(struct blob_attr *attr, hvUMAC_event_msg_t *out)
{
    const size_t len = blobmsg_data_len(attr);
    if (len < sizeof *out) {
        status_drop(DROP_TOO_SHORT);
        printf("in %s, event record of %zu bytes is too short, dropped\n", kHandler, len);
        return false;
    }
    memcpy(out, blobmsg_get_string(attr), sizeof *out);
    return true;
}

// The event's interface name, when it is terminated inside its field and
// has the three-piece form.
bool event_interface(const hvUMAC_event_msg_t &emsg, char (&ifname)[sizeof emsg.ifname],
                     int *radioIndex, int *vapIndex)
{
    if (strnlen(emsg.ifname, sizeof emsg.ifname) == sizeof emsg.ifname)
        return false;
    memcpy(ifname, emsg.ifname, sizeof ifname);
    return getInterfaceIdx(ifname, radioIndex, vapIndex) == 1;
}

void station_authorized(struct blob_attr *attr)
{
    int radioIndex = 0;
    int vapIndex = 0;
    hvUMAC_event_msg_t emsg;
    char ifname[sizeof emsg.ifname];
    if (!event_record(attr, &emsg))
        return;
    if (!event_interface(emsg, ifname, &radioIndex, &vapIndex)) {
        status_drop(DROP_BAD_IFNAME);
        printf("in %s, invalid interface name\n", kHandler);
        return;
    }
    if (hvkit_get_current_model_slotnum() < radioIndex)
        return status_drop(DROP_SLOT_OUT_OF_RANGE);
    oxwlan_req_data oxwlan_req;
    memset(&oxwlan_req, 0, sizeof oxwlan_req);
    oxwlan_event_convert(&emsg, STAINFO_AUTHORIZED_CMD, &oxwlan_req);
    sta_event_process(STA_AUTHORIZED, &oxwlan_req, ifname, nullptr, BAND_ID_UNKNOWN);
}

void station_ip(struct blob_attr *attr)
{
    int radioIndex = 0;
    int vapIndex = 0;
    hvUMAC_event_msg_t emsg;
    char ifname[sizeof emsg.ifname];
    if (!event_record(attr, &emsg))
        return;
    if (!event_interface(emsg, ifname, &radioIndex, &vapIndex)) {
        status_drop(DROP_BAD_IFNAME);
        printf("in %s,ifi_name is NULL !!!", kHandler);
        fflush(stdout);
        return;
    }
    // The record with its extra data: the address word directly behind it.
    constexpr size_t kBlock = sizeof(oxwlan_event) + sizeof(uint32_t);
    auto *block = static_cast<unsigned char *>(calloc(1, kBlock));
    if (block == nullptr)
        return;
    auto *envelope = reinterpret_cast<oxwlan_event *>(block);
    oxwlan_event_convert(&emsg, STAINFO_IP_CMD, &envelope->data);
    envelope->data.hdr.len = sizeof(oxwlan_req_data);
    envelope->data.hdr.ext_len = sizeof(uint32_t);
    memcpy(block + offsetof(oxwlan_event, data) + envelope->data.hdr.len,
           &emsg.u.sta_info.ipaddr, sizeof(uint32_t));
    sta_event_process(STA_IP_ADDR, &envelope->data, ifname, nullptr, BAND_ID_UNKNOWN);
    free(block);
}

void channel_changed(struct blob_attr *attr)
{
    int radioIndex = 0;
    int vapIndex = 0;
    hvUMAC_event_msg_t emsg;
    char ifname[sizeof emsg.ifname];
    if (!event_record(attr, &emsg))
        return;
    if (!event_interface(emsg, ifname, &radioIndex, &vapIndex)) {
        status_drop(DROP_BAD_IFNAME);
        printf("in %s, ifi_name is NULL\n", kHandler);
        return;
    }
    // The radio must exist on the model and have a record.
    if (hvkit_get_current_model_slotnum() < radioIndex || radioIndex < 1)
        return status_drop(DROP_SLOT_OUT_OF_RANGE);
    if (ch_stat == nullptr || radioIndex > slot_num)
        return status_drop(DROP_SLOT_OUT_OF_RANGE);
    capwapWlanStatis_t &slot = ch_stat[radioIndex - 1];
    const hvUMAC_nl_interface_info_t &vap = emsg.u.vap_info;
    ch_member_store<uint8_t>(slot.dcsChann, vap.channel);
    ch_member_store<int8_t>(slot.extOffset, vap.cw_extoffset);
    ch_member_store<uint8_t>(slot.vht_ch_freq, vap.vht_ch_freq);
    ch_member_store<uint8_t>(slot.vht_ch_freq2, vap.vht_ch_freq2);
    ch_member_store<int8_t>(slot.hvUmacBandId, vap.band_id);
    ch_member_store<uint32_t>(slot.ch_width, vap.ch_width);
}

// Who may touch the bus: the bus library keeps process-wide state (one
// message buffer that every send, registration and automatic reply uses,
// and that freeing any connection frees), so only the main thread, the one
// running the station library's loop, ever enters it. Another thread hands
// its bus work over: it posts the action, wakes the loop with a byte on a
// pipe the loop watches, and waits until the main thread has run it. The
// main thread never waits for another thread, so this cannot deadlock; a
// poster only waits as long as the main thread is busy (at start-up, until
// the loop runs; in a slow bus call, until it returns).
struct BusDoor {
    pthread_mutex_t mu = PTHREAD_MUTEX_INITIALIZER;
    pthread_cond_t changed = PTHREAD_COND_INITIALIZER;
    bool open = false;        // the loop watches the pipe
    pthread_t owner;          // the main thread
    bool taken = false;       // a poster owns the slot
    void (*fn)(void *) = nullptr;
    void *arg = nullptr;
    unsigned long posted = 0;
    unsigned long done = 0;
    int wake[2] = {-1, -1};
    struct event watch;
};
BusDoor door;

void door_knock(int fd, short, void *)
{
    char bytes[16];
    while (read(fd, bytes, sizeof bytes) > 0) {
    }
    pthread_mutex_lock(&door.mu);
    while (door.fn != nullptr) {
        void (*fn)(void *) = door.fn;
        void *arg = door.arg;
        door.fn = nullptr;
        pthread_mutex_unlock(&door.mu);
        fn(arg);
        pthread_mutex_lock(&door.mu);
        ++door.done;
        pthread_cond_broadcast(&door.changed);
    }
    pthread_mutex_unlock(&door.mu);
}

// Arms the door on the main thread's loop; without it every caller runs
// its bus work itself (a process with one bus user, as in the tests).
void door_open(struct event_base *loop)
{
    if (pipe2(door.wake, O_CLOEXEC | O_NONBLOCK) != 0) {
        wlan_log("no bus hand-over pipe");
        return;
    }
    event_set(&door.watch, door.wake[0], EV_READ | EV_PERSIST, door_knock, nullptr);
    if (loop != nullptr)
        event_base_set(loop, &door.watch);
    event_add(&door.watch, nullptr);
    pthread_mutex_lock(&door.mu);
    door.owner = pthread_self();
    door.open = true;
    pthread_mutex_unlock(&door.mu);
}

}  // namespace

void rrm_bus_do(void (*fn)(void *), void *arg)
{
    pthread_mutex_lock(&door.mu);
    if (!door.open || pthread_equal(door.owner, pthread_self())) {
        pthread_mutex_unlock(&door.mu);
        fn(arg);
        return;
    }
    while (door.taken)
        pthread_cond_wait(&door.changed, &door.mu);
    door.taken = true;
    door.fn = fn;
    door.arg = arg;
    const unsigned long ticket = ++door.posted;
    const char c = 'b';
    while (write(door.wake[1], &c, 1) < 0 && errno == EINTR) {
    }
    while (door.done < ticket)
        pthread_cond_wait(&door.changed, &door.mu);
    door.taken = false;
    pthread_cond_broadcast(&door.changed);
    pthread_mutex_unlock(&door.mu);
}

int ubus_evt_attach(void *sub_info)
{
    ctx = ubus_connect(nullptr);
    if (ctx == nullptr) {
        wlan_log("Unable to connect to ubus.");
        return -1;
    }
    ctx->connection_lost = note_connection_lost;
    ubus_event_register();
    status_object_add(ctx);
    bus_watcher = static_cast<struct event *>(static_cast<sub_info_t *>(sub_info)->ev);
    bus_loop = static_cast<struct event_base *>(static_cast<sub_info_t *>(sub_info)->event_base);
    watch_bus_socket();
    door_open(bus_loop);
    return 0;
}

void ubus_event_register(void)
{
    static const char *const names[] = {UBUS_STA_AUTHORIZED, UBUS_STA_IP, UBUS_IF_CHANNEL,
                                        UBUS_IF_SSID};
    wifi_listener.cb = ubus_event_handle;
    for (const char *name : names) {
        if (ubus_register_event_handler(ctx, &wifi_listener, name) != 0) {
            printf("register event %s failed\n", name);
            break;
        }
    }
}

void wlanModuleUbusHandleWrapper(int fd, short event, void *arg)
{
    (void)fd;
    (void)event;
    (void)arg;
    if (ctx == nullptr) {
        wlan_log("ubus_ handle is null");
        return;
    }
    if (ctx->sock.cb == nullptr) {
        wlan_log("ubus_ callback is null");
        return;
    }
    ctx->connection_lost = note_connection_lost;
    ctx->sock.cb(&ctx->sock, ULOOP_READ);
    if (ctx->sock.eof)
        connection_lost();
}

void ubus_event_handle(struct ubus_context *ctx_, struct ubus_event_handler *ev,
                       const char *method, struct blob_attr *msg)
{
    (void)ctx_;
    (void)ev;
    struct blob_attr *tb[__UBUS_NOTIFY_MAX];
    memset(tb, 0, sizeof tb);
    if (msg != nullptr)
        blobmsg_parse(wifimgr_notify_policy, __UBUS_NOTIFY_MAX, tb, blob_data(msg),
                      static_cast<unsigned int>(blob_len(msg)));
    printf("ubus event handler, method=%s\n", method != nullptr ? method : "");
    status_wifi_event(method);

    if (tb[STAINFO_AUTHORIZED_CMD] != nullptr)
        station_authorized(tb[STAINFO_AUTHORIZED_CMD]);
    else if (tb[STAINFO_IP_CMD] != nullptr)
        station_ip(tb[STAINFO_IP_CMD]);
    else if (tb[INTERFACE_CHANNEL_CMD] != nullptr)
        channel_changed(tb[INTERFACE_CHANNEL_CMD]);
    else if (tb[INTERFACE_SSID_CMD] != nullptr)
        sta_event_process(STA_INTERFACE_SSID, nullptr, nullptr, nullptr, BAND_ID_UNKNOWN);
    else
        status_drop(DROP_NO_RECORD);
}
