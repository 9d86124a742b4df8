// The publishing side. sta_lib_notify only copies the message into a short
// queue; a sender thread with a bus connection of its own sends it, so the
// caller's loop never waits for the bus. A message is dropped, with a log
// line, when the queue is full, when the service could not be reached on the
// last attempt (until the next attempt is due), or when sending fails.

#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

#include <poll.h>

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
    std::mutex mu;
    std::condition_variable wake;  // work queued
    std::condition_variable idle;  // queue drained
    std::deque<sta_module_msg> queue;
    bool started = false;
    bool busy = false;           // a message is being sent
    bool down = false;           // the last connection attempt failed
    Clock::time_point retry_at;  // while down: when to try again
    int backoff = kFirstBackoff;
    unsigned long sent = 0;
    unsigned long dropped = 0;
};

// Never destroyed: the sender thread runs for the life of the process.
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

void sender_main()
{
    // Signals are for the other threads; a write to a closed bus socket must
    // not end the process either.
    sigset_t all;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, nullptr);

    Sender &s = sender();
    struct ubus_context *ctx = nullptr;
    struct blob_buf buf;
    memset(&buf, 0, sizeof buf);

    for (;;) {
        sta_module_msg msg;
        {
            std::unique_lock<std::mutex> lock(s.mu);
            s.busy = false;
            if (s.queue.empty())
                s.idle.notify_all();
            s.wake.wait(lock, [&] { return !s.queue.empty(); });
            s.busy = true;
            if (ctx != nullptr && !still_connected(ctx)) {
                ubus_free(ctx);
                ctx = nullptr;
            }
            if (ctx == nullptr) {
                lock.unlock();
                ctx = ubus_connect(sta_lib::socket_path());
                lock.lock();
                if (ctx == nullptr) {
                    s.down = true;
                    s.retry_at = Clock::now() + std::chrono::seconds(s.backoff);
                    s.backoff = s.backoff * 2 > kMaxBackoff ? kMaxBackoff : s.backoff * 2;
                    drop_locked(s, s.queue.size(), "station-event service unreachable");
                    s.queue.clear();
                    continue;
                }
                s.down = false;
                s.backoff = kFirstBackoff;
            }
            msg = s.queue.front();
            s.queue.pop_front();
        }

        int type = msg.info.type;
        int rc = -1;
        if (blob_buf_init(&buf, 0) == 0 &&
            blobmsg_add_field(&buf, BLOBMSG_TYPE_UNSPEC, STA_LIB_ATTR, &msg, sizeof msg) == 0)
            rc = ubus_send_event(ctx, sta_lib_event_name(type), buf.head);
        bool gone = ctx->sock.eof || rc == UBUS_STATUS_CONNECTION_FAILED;

        std::lock_guard<std::mutex> lock(s.mu);
        if (rc == 0) {
            ++s.sent;
        } else {
            char why[96];
            snprintf(why, sizeof why, "%s not sent: %s", sta_lib_type_name(type),
                     rc < 0 ? "out of memory" : ubus_strerror(rc));
            drop_locked(s, 1, why);
        }
        if (gone) {
            ubus_free(ctx);
            ctx = nullptr;
        }
    }
}

// Called with the lock held.
bool start_locked(Sender &s)
{
    if (s.started)
        return true;
    try {
        std::thread(sender_main).detach();
    } catch (...) {
        sta_lib::log_line("cannot start the sender thread");
        return false;
    }
    s.started = true;
    return true;
}

}  // namespace

extern "C" int sta_lib_check_ch(void *)
{
    Sender &s = sender();
    std::lock_guard<std::mutex> lock(s.mu);
    if (!start_locked(s))
        return -1;
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
    std::lock_guard<std::mutex> lock(s.mu);
    if (type < 0 || type >= STA_REG_TYPE_MAX) {
        drop_locked(s, 1, "type outside 0 to 6");
        return -1;
    }
    if (!start_locked(s)) {
        drop_locked(s, 1, "no sender");
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
    s.wake.notify_one();
    return 0;
}

extern "C" int sta_lib_flush(int timeout_ms)
{
    Sender &s = sender();
    std::unique_lock<std::mutex> lock(s.mu);
    if (!s.started)
        return 0;
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
