// The publishing side. sta_lib_notify never waits for the bus. The bus
// library may be entered by one thread at a time only, so while the
// dispatch loop runs, every message is queued and sent by the loop's own
// thread (woken through a pipe the loop watches); the caller's thread never
// touches the bus. Without a running loop (a tool that only publishes) the
// caller's thread sends the message itself. A message is dropped, with a
// log line, when the queue is full, when the service could not be reached
// on the last attempt (until the next attempt is due), or when sending
// fails.

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>

#include <event.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <unistd.h>

extern "C" {
#include <libubus.h>
}

#include "sta_internal.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kQueueMax = 64;
constexpr int kFirstBackoff = 1;
constexpr int kMaxBackoff = 30;

struct Sender {
    std::mutex mu;                 // everything below but the connection
    std::condition_variable idle;  // queue drained
    std::deque<sta_module_msg> queue;
    bool busy = false;             // a message is being sent
    bool down = false;             // the last connection attempt failed
    Clock::time_point retry_at;    // while down: when to try again
    int backoff = kFirstBackoff;
    unsigned long sent = 0;
    unsigned long dropped = 0;
    bool loop_running = false;
    pthread_t loop_thread;
    int wake[2] = {-1, -1};
    struct event wake_watch;

    std::mutex send_mu;  // held by the one thread sending; guards ctx
    struct ubus_context *ctx = nullptr;
};

// Never destroyed: a loop may run until the process ends.
Sender &sender()
{
    static Sender *s = new Sender;
    return *s;
}

// Called with the lock held.
bool unreachable_now(Sender &s)
{
    return s.down && Clock::now() < s.retry_at;
}

void drop_locked(Sender &s, unsigned long n, const char *why)
{
    s.dropped += n;
    sta_lib::log_line("dropped %lu message%s: %s", n, n == 1 ? "" : "s", why);
}

// Reads what the bus left on the sender's connection (nothing is subscribed
// there, so only the close of a bus that went away), so that a restarted bus
// is reconnected before sending instead of losing the next message.
bool still_connected(struct ubus_context *ctx)
{
    struct pollfd p = {ctx->sock.fd, POLLIN, 0};
    if (poll(&p, 1, 0) > 0)
        ctx->sock.cb(&ctx->sock, ULOOP_READ);
    return !ctx->sock.eof;
}

// A usable connection in s.ctx, or false (everything queued dropped) when
// the service cannot be reached. Called with send_mu held.
bool connection(Sender &s)
{
    if (s.ctx != nullptr && !still_connected(s.ctx)) {
        ubus_free(s.ctx);
        s.ctx = nullptr;
    }
    if (s.ctx == nullptr)
        s.ctx = ubus_connect(sta_lib::socket_path());
    std::lock_guard<std::mutex> lock(s.mu);
    if (s.ctx == nullptr) {
        s.down = true;
        s.retry_at = Clock::now() + std::chrono::seconds(s.backoff);
        s.backoff = s.backoff * 2 > kMaxBackoff ? kMaxBackoff : s.backoff * 2;
        drop_locked(s, s.queue.size() + 1, "station-event service unreachable");
        s.queue.clear();
        return false;
    }
    s.down = false;
    s.backoff = kFirstBackoff;
    return true;
}

// Sends everything queued, in order, on the calling thread: the loop's
// thread, or a caller while no loop runs.
void drain()
{
    Sender &s = sender();
    std::lock_guard<std::mutex> sending(s.send_mu);
    struct blob_buf buf;
    memset(&buf, 0, sizeof buf);
    for (;;) {
        sta_module_msg msg;
        {
            std::lock_guard<std::mutex> lock(s.mu);
            if (s.queue.empty()) {
                s.busy = false;
                s.idle.notify_all();
                break;
            }
            s.busy = true;
            msg = s.queue.front();
            s.queue.pop_front();
        }
        if (!connection(s))
            continue;
        int type = msg.info.type;
        int rc = -1;
        if (blob_buf_init(&buf, 0) == 0 &&
            blobmsg_add_field(&buf, BLOBMSG_TYPE_UNSPEC, STA_LIB_ATTR, &msg, sizeof msg) == 0)
            rc = ubus_send_event(s.ctx, sta_lib_event_name(type), buf.head);
        if (s.ctx->sock.eof || rc == UBUS_STATUS_CONNECTION_FAILED) {
            ubus_free(s.ctx);
            s.ctx = nullptr;
        }
        std::lock_guard<std::mutex> lock(s.mu);
        if (rc == 0) {
            ++s.sent;
        } else {
            char why[96];
            snprintf(why, sizeof why, "%s not sent: %s", sta_lib_type_name(type),
                     rc < 0 ? "out of memory" : ubus_strerror(rc));
            drop_locked(s, 1, why);
        }
    }
    blob_buf_free(&buf);
}

void on_wake(int fd, short, void *)
{
    char bytes[64];
    while (read(fd, bytes, sizeof bytes) > 0) {
    }
    drain();
}

}  // namespace

namespace sta_lib {

void publisher_attach(struct event_base *base)
{
    Sender &s = sender();
    std::lock_guard<std::mutex> lock(s.mu);
    if (s.wake[0] < 0 && pipe2(s.wake, O_CLOEXEC | O_NONBLOCK) != 0) {
        log_line("no wake-up pipe: messages are sent by their caller");
        return;
    }
    event_set(&s.wake_watch, s.wake[0], EV_READ | EV_PERSIST, on_wake, nullptr);
    event_base_set(base, &s.wake_watch);
    event_add(&s.wake_watch, nullptr);
    s.loop_thread = pthread_self();
    s.loop_running = true;
    if (!s.queue.empty()) {
        char c = 'q';
        (void)!write(s.wake[1], &c, 1);
    }
}

void publisher_detach()
{
    Sender &s = sender();
    {
        std::lock_guard<std::mutex> lock(s.mu);
        if (!s.loop_running)
            return;
        s.loop_running = false;
        event_del(&s.wake_watch);
    }
    drain();
}

}  // namespace sta_lib

extern "C" int sta_lib_check_ch(void *)
{
    Sender &s = sender();
    std::lock_guard<std::mutex> lock(s.mu);
    return unreachable_now(s) ? -1 : 0;
}

extern "C" int sta_lib_notify(sta_module_msg *msg)
{
    if (msg == nullptr)
        return -1;
    sta_module_msg copy;
    memcpy(&copy, msg, sizeof copy);
    int32_t type;
    memcpy(&type, reinterpret_cast<const unsigned char *>(&copy) +
                      offsetof(sta_module_msg, info) + offsetof(rrm_sta_info, type),
           sizeof type);

    Sender &s = sender();
    {
        std::lock_guard<std::mutex> lock(s.mu);
        if (type < 0 || type >= STA_REG_TYPE_MAX) {
            drop_locked(s, 1, "type outside 0 to 6");
            return -1;
        }
        if (unreachable_now(s)) {
            drop_locked(s, 1, "station-event service unreachable");
            return -1;
        }
        if (s.queue.size() >= kQueueMax) {
            drop_locked(s, 1, "send queue full");
            return -1;
        }
        s.queue.push_back(copy);
        if (s.loop_running) {
            // A full pipe already holds a wake-up.
            char c = 'q';
            (void)!write(s.wake[1], &c, 1);
            return 0;
        }
    }
    drain();
    return 0;
}

extern "C" int sta_lib_flush(int timeout_ms)
{
    Sender &s = sender();
    std::unique_lock<std::mutex> lock(s.mu);
    if (s.loop_running && pthread_equal(s.loop_thread, pthread_self())) {
        // The loop's own thread cannot wait for itself: it sends now.
        lock.unlock();
        drain();
        return 0;
    }
    bool done = s.idle.wait_for(lock, std::chrono::milliseconds(timeout_ms < 0 ? 0 : timeout_ms),
                                [&] { return s.queue.empty() && !s.busy; });
    return done ? 0 : -1;
}

extern "C" void sta_lib_counts(unsigned long *sent, unsigned long *dropped)
{
    Sender &s = sender();
    std::lock_guard<std::mutex> lock(s.mu);
    if (sent)
        *sent = s.sent;
    if (dropped)
        *dropped = s.dropped;
}
