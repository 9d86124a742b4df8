// The subscription side: the loop, the connection to the station-event
// service and the delivery of its notifications to the subscriber's callbacks.
//
// The loop is libev through its libevent-compatible interface. sub_info_init
// makes it current (event_init), so that the caller can arm the watcher it is
// given with event_set/event_add; subscribe_dispatch runs it. The service's
// connection is one more descriptor watcher on the same loop; when the
// service goes away the connection is dropped and retried on a timer whose
// pause grows from 1 to 30 seconds, while the loop goes on serving the
// caller's watchers. The thread running the loop is the only one of the
// library that enters the bus library (see sta_notify.cpp).

#include <csignal>
#include <cstring>
#include <new>
#include <vector>

#include <event.h>

extern "C" {
#include <libubus.h>
}

#include "sta_internal.h"

namespace {

constexpr int kFirstBackoff = 1;
constexpr int kMaxBackoff = 30;

struct Dispatch {
    struct event_base *base = nullptr;
    sub_info_t *info = nullptr;
    struct ubus_context *ctx = nullptr;
    struct ubus_event_handler handler;
    struct event sock_watch;
    struct event retry_timer;
    bool sock_armed = false;
    bool retry_armed = false;
    bool lost = false;
    bool connected = false;
    bool stop = false;
    int backoff = kFirstBackoff;
};

Dispatch g;
// Watchers handed to callers live for the whole process; this list keeps
// them reachable.
std::vector<struct event *> &caller_watchers()
{
    static auto *list = new std::vector<struct event *>;
    return *list;
}

void on_bus_event(struct ubus_context *, struct ubus_event_handler *, const char *type,
                  struct blob_attr *msg)
{
    if (g.info == nullptr || msg == nullptr)
        return;
    sta_module_msg rec;
    char why[128];
    if (sta_lib_decode(type, blob_data(msg), blob_len(msg), &rec, why, sizeof why) != 0) {
        sta_lib::log_line("dropped a notification (%s): %s", type ? type : "?", why);
        return;
    }
    int t = rec.info.type;
    proc_func cb = g.info->reg_type[t].sub_cb;
    if (cb != nullptr)
        cb(&rec, g.info);
}

void on_connection_lost(struct ubus_context *)
{
    g.lost = true;
}

void schedule_retry();

// Drops the connection; tells the subscriber when it had been up.
void disconnect(const char *why)
{
    if (g.sock_armed) {
        event_del(&g.sock_watch);
        g.sock_armed = false;
    }
    if (g.ctx != nullptr) {
        ubus_free(g.ctx);
        g.ctx = nullptr;
    }
    g.lost = false;
    if (g.connected) {
        g.connected = false;
        sta_lib::log_line("lost the station-event service: %s", why);
        if (g.info != nullptr && g.info->dis_con_cb != nullptr)
            g.info->dis_con_cb("disconnected", -1);
    }
}

void on_readable(int, short, void *)
{
    if (g.ctx == nullptr)
        return;
    g.ctx->sock.cb(&g.ctx->sock, ULOOP_READ);
    if (g.ctx != nullptr && (g.lost || g.ctx->sock.eof)) {
        disconnect("connection closed");
        schedule_retry();
    }
}

// One attempt: connect, subscribe the types that have a callback, watch the
// socket. False when the service cannot be reached.
bool connect_once()
{
    const char *path = sta_lib::socket_path();
    g.ctx = ubus_connect(path);
    if (g.ctx == nullptr)
        return false;
    g.ctx->connection_lost = on_connection_lost;
    g.lost = false;
    memset(&g.handler, 0, sizeof g.handler);
    g.handler.cb = on_bus_event;
    for (int t = 0; t < STA_REG_TYPE_MAX; ++t) {
        if (g.info->reg_type[t].sub_cb == nullptr)
            continue;
        int rc = ubus_register_event_handler(g.ctx, &g.handler, sta_lib_event_name(t));
        if (rc != 0) {
            sta_lib::log_line("cannot subscribe %s: %s", sta_lib_type_name(t),
                              ubus_strerror(rc));
            if (g.ctx->sock.eof || rc == UBUS_STATUS_CONNECTION_FAILED) {
                ubus_free(g.ctx);
                g.ctx = nullptr;
                return false;
            }
        }
    }
    event_set(&g.sock_watch, g.ctx->sock.fd, EV_READ | EV_PERSIST, on_readable, nullptr);
    event_base_set(g.base, &g.sock_watch);
    event_add(&g.sock_watch, nullptr);
    g.sock_armed = true;
    g.connected = true;
    g.backoff = kFirstBackoff;
    if (g.info->con_cb != nullptr)
        g.info->con_cb("connected", 0);
    return true;
}

void on_retry(int, short, void *)
{
    g.retry_armed = false;
    if (connect_once())
        return;
    schedule_retry();
}

void schedule_retry()
{
    if (g.retry_armed || g.stop)
        return;
    int pause = g.backoff;
    g.backoff = g.backoff * 2 > kMaxBackoff ? kMaxBackoff : g.backoff * 2;
    sta_lib::log_line("station-event service unreachable, next attempt in %d s", pause);
    struct timeval tv = {pause, 0};
    evtimer_set(&g.retry_timer, on_retry, nullptr);
    event_base_set(g.base, &g.retry_timer);
    evtimer_add(&g.retry_timer, &tv);
    g.retry_armed = true;
}

// Makes the loop current. libev's default loop reaps every child process on
// SIGCHLD, which would take the exit status away from pclose and waitpid in
// the rest of the process; the previous SIGCHLD disposition is put back, so
// the loop never sees children.
bool ensure_base()
{
    if (g.base != nullptr)
        return true;
    struct sigaction old;
    sigaction(SIGCHLD, nullptr, &old);
    g.base = static_cast<struct event_base *>(event_init());
    sigaction(SIGCHLD, &old, nullptr);
    return g.base != nullptr;
}

}  // namespace

extern "C" int sub_info_init(sub_info_t *info)
{
    if (info == nullptr || !ensure_base())
        return -1;
    info->event_base = g.base;
    if (info->ev != nullptr)
        return 0;
    auto *w = new (std::nothrow) struct event;
    if (w == nullptr)
        return -1;
    memset(w, 0, sizeof *w);
    caller_watchers().push_back(w);
    info->ev = w;
    return 0;
}

extern "C" int subscribe_dispatch(sub_info_t *info)
{
    if (info == nullptr)
        return -1;
    if (g.info != nullptr) {
        sta_lib::log_line("dispatch loop already running");
        return -1;
    }
    if (info->event_base == nullptr && sub_info_init(info) != 0)
        return -1;
    g.info = info;
    g.stop = false;
    g.backoff = kFirstBackoff;
    sta_lib::publisher_attach(g.base);
    if (!connect_once())
        schedule_retry();

    event_base_loop(g.base, 0);

    // Only a stop request, or a loop with nothing left to watch, gets here.
    bool asked = g.stop;
    if (g.retry_armed) {
        evtimer_del(&g.retry_timer);
        g.retry_armed = false;
    }
    g.connected = false;  // leaving on purpose: no disconnection callback
    disconnect("dispatch ended");
    sta_lib::publisher_detach();
    g.info = nullptr;
    g.stop = false;
    if (!asked)
        sta_lib::log_line("dispatch loop ended");
    return asked ? 0 : -1;
}

extern "C" void sta_lib_stop_dispatch(void)
{
    if (g.base == nullptr)
        return;
    g.stop = true;
    event_base_loopexit(g.base, nullptr);
}
