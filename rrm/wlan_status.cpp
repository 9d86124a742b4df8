// The daemon's status: counters since start and the bus object that answers
// them. Counters are relaxed atomics, bumped on whichever thread sees the
// event; the reply reads them on the main thread, so a reply may show one
// counter of an event a moment before another (each is exact on its own).
#include "wlan_status.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include <atomic>
#include <utility>

extern "C" {
#include <libubus.h>
}

#include "common_log.h"
#include "seam.h"
#include "wlan.h"
#include "wlan_hvd_netlink.h"

#ifndef RRM_VERSION
#define RRM_VERSION "0"
#endif

namespace {

using Counter = std::atomic<uint64_t>;

// Names of the station library's message types, by type value; any other
// value counts as "other".
constexpr const char *kStaLibNames[] = {"assoc",   "disassoc", "ip",      "online",
                                        "offline", "claim",    "declaim", "other"};
constexpr unsigned kStaLibOther = sizeof kStaLibNames / sizeof kStaLibNames[0] - 1;
static_assert(kStaLibOther == STA_REG_TYPE_MAX);

// The wifi manager's events the daemon subscribes to, then "other".
constexpr const char *kWifiNames[] = {UBUS_STA_AUTHORIZED, UBUS_STA_IP, UBUS_IF_CHANNEL,
                                      UBUS_IF_SSID, "other"};
constexpr unsigned kWifiOther = sizeof kWifiNames / sizeof kWifiNames[0] - 1;

constexpr const char *kDropNames[DROP_COUNT] = {"too_short",         "bad_ifname", "unknown_ifname",
                                                "slot_out_of_range", "no_record",  "bad_address",
                                                "malformed"};

Counter sta_lib[kStaLibOther + 1];
Counter wifi_events[kWifiOther + 1];
Counter dropped[DROP_COUNT];
Counter counts[COUNT_COUNT];
Counter db_failures;
Counter passes_done;
// The last pass that ended; stored one after the other at its end.
std::atomic<int64_t> last_pass_start;
Counter last_pass_ms;
Counter last_pass_stations;
// Start: the wall clock's second names the run; the monotonic clock
// measures its age, whatever the wall clock does later (an access point often
// sets it after the daemon has started).
std::atomic<int64_t> start_time;
std::atomic<long long> start_ms;

// The pass in progress: only the collection thread touches these.
int64_t pass_start;
long long pass_start_ms;
uint64_t pass_stations;

void bump(Counter &c)
{
    c.fetch_add(1, std::memory_order_relaxed);
}

uint64_t get(const Counter &c)
{
    return c.load(std::memory_order_relaxed);
}

// Database commands go through the client's variadic gen_cmd; the counting
// one collects the words and hands them on with as many trailing nulls as
// it has room for (the client stops reading at the first). The longest
// command, a slot's record, has 77 words; a longer one is refused.
constexpr size_t kMaxWords = 96;
using GenCmd = int (*)(void *, char *, ...);
GenCmd real_gen_cmd;
parser_module counted_module;

template <size_t... I>
int forward(void *client, char *reply, const char *const (&w)[kMaxWords], std::index_sequence<I...>)
{
    return real_gen_cmd(client, reply, w[I]..., static_cast<const char *>(nullptr));
}

int counted_gen_cmd(void *client, char *reply, ...)
{
    const char *w[kMaxWords] = {};
    size_t n = 0;
    bool fits = true;
    va_list ap;
    va_start(ap, reply);
    for (const char *word = va_arg(ap, const char *); word != nullptr; word = va_arg(ap, const char *)) {
        if (n == kMaxWords) {
            fits = false;
            break;
        }
        w[n++] = word;
    }
    va_end(ap);
    if (!fits) {
        printf("database command of more than %zu words, refused\n", kMaxWords);
        bump(db_failures);
        return -1;
    }
    const int rc = forward(client, reply, w, std::make_index_sequence<kMaxWords>());
    if (rc < 0)
        bump(db_failures);
    return rc;
}

// The bus object. Its method answers on the main thread, inside the bus
// library's read handler.
struct blob_buf reply_buf;

int status_method(struct ubus_context *ctx, struct ubus_object *, struct ubus_request_data *req,
                  const char *, struct blob_attr *)
{
    blob_buf_init(&reply_buf, 0);
    status_fill(&reply_buf);
    return ubus_send_reply(ctx, req, reply_buf.head);
}

// The type and object are filled in at each add: the platform's
// UBUS_OBJECT_TYPE names its members out of their order, which C++ refuses.
const struct ubus_method status_methods[] = {UBUS_METHOD_NOARG("status", status_method)};
struct ubus_object_type status_type;
struct ubus_object status_object;

template <size_t N>
void add_table(struct blob_buf *b, const char *name, const char *const (&names)[N], const Counter (&c)[N])
{
    void *t = blobmsg_open_table(b, name);
    for (size_t i = 0; i < N; ++i)
        blobmsg_add_u64(b, names[i], get(c[i]));
    blobmsg_close_table(b, t);
}

}  // namespace

void status_sta_lib(uint32_t type)
{
    bump(sta_lib[type < kStaLibOther ? type : kStaLibOther]);
}

void status_wifi_event(const char *name)
{
    unsigned i = 0;
    while (i < kWifiOther && (name == nullptr || strcmp(name, kWifiNames[i]) != 0))
        ++i;
    bump(wifi_events[i]);
}

void status_drop(StatusDrop why, bool happened)
{
    if (happened && why < DROP_COUNT)
        bump(dropped[why]);
}

void status_count(StatusCount what, bool happened)
{
    if (happened && what < COUNT_COUNT)
        bump(counts[what]);
}

void status_pass_begin(void)
{
    pass_start = static_cast<int64_t>(rrm_now(nullptr));
    pass_start_ms = rrm_mono_ms();
    pass_stations = 0;
}

void status_pass_station(void)
{
    ++pass_stations;
}

void status_pass_end(void)
{
    const long long ms = rrm_mono_ms() - pass_start_ms;
    last_pass_start.store(pass_start, std::memory_order_relaxed);
    last_pass_ms.store(ms > 0 ? static_cast<uint64_t>(ms) : 0, std::memory_order_relaxed);
    last_pass_stations.store(pass_stations, std::memory_order_relaxed);
    bump(passes_done);
}

void status_started(void)
{
    start_time.store(static_cast<int64_t>(rrm_now(nullptr)), std::memory_order_relaxed);
    start_ms.store(rrm_mono_ms(), std::memory_order_relaxed);
}

// The first table counted is copied once (start-up, before the collection
// thread); later modules of the same client share the copy.
parser_module *status_count_db_failures(parser_module *db)
{
    if (db == nullptr || db == &counted_module)
        return db;
    if (real_gen_cmd == nullptr) {
        counted_module = *db;
        counted_module.gen_cmd = counted_gen_cmd;
        real_gen_cmd = db->gen_cmd;
    }
    return db->gen_cmd == real_gen_cmd ? &counted_module : db;
}

void status_object_add(struct ubus_context *ctx)
{
    // A new connection knows neither the object nor its type: both are
    // added afresh, under new ids.
    memset(&status_type, 0, sizeof status_type);
    status_type.name = "wlan_module";
    status_type.methods = status_methods;
    status_type.n_methods = static_cast<int>(ARRAY_SIZE(status_methods));
    memset(&status_object, 0, sizeof status_object);
    status_object.name = status_type.name;
    status_object.type = &status_type;
    status_object.methods = status_methods;
    status_object.n_methods = status_type.n_methods;
    const int rc = ubus_add_object(ctx, &status_object);
    if (rc != 0) {
        char log[WLAN_LOG_LEN];
        snprintf(log, sizeof log, "ubus object %s not added: %s", status_object.name, ubus_strerror(rc));
        common_log(WLAN_MODULE_DB_LOG, WLAN_MODULE_DB_COUNT, log);
    }
}

void status_fill(struct blob_buf *b)
{
    const int64_t started = start_time.load(std::memory_order_relaxed);
    const long long age_ms = started != 0 ? rrm_mono_ms() - start_ms.load(std::memory_order_relaxed) : 0;
    blobmsg_add_string(b, "version", RRM_VERSION);
    blobmsg_add_string(b, "ap_mac", wtp_mac_str);
    blobmsg_add_u32(b, "slots", static_cast<uint32_t>(slot_num));
    blobmsg_add_u64(b, "start_time", static_cast<uint64_t>(started));
    blobmsg_add_u64(b, "uptime", static_cast<uint64_t>(age_ms > 0 ? age_ms / 1000 : 0));
    blobmsg_add_u8(b, "netlink", netlink_evt_fd() >= 0);
    add_table(b, "sta_lib", kStaLibNames, sta_lib);
    add_table(b, "wifi_events", kWifiNames, wifi_events);
    add_table(b, "dropped", kDropNames, dropped);
    void *t = blobmsg_open_table(b, "stations");
    blobmsg_add_u64(b, "written", get(counts[COUNT_STATION_WRITTEN]));
    blobmsg_add_u64(b, "removed", get(counts[COUNT_STATION_REMOVED]));
    blobmsg_add_u64(b, "roams", get(counts[COUNT_ROAM]));
    blobmsg_close_table(b, t);
    t = blobmsg_open_table(b, "pass");
    blobmsg_add_u64(b, "done", get(passes_done));
    blobmsg_add_u64(b, "last_start", static_cast<uint64_t>(last_pass_start.load(std::memory_order_relaxed)));
    blobmsg_add_u64(b, "last_duration_ms", get(last_pass_ms));
    blobmsg_add_u64(b, "last_stations", get(last_pass_stations));
    blobmsg_close_table(b, t);
    blobmsg_add_u64(b, "departures", get(counts[COUNT_DEPARTURE]));
    blobmsg_add_u64(b, "db_failures", get(db_failures));
    blobmsg_add_u64(b, "bus_reconnects", get(counts[COUNT_BUS_RECONNECT]));
}
