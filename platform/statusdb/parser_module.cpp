// The status database client: its function table and its clients.
#include "parser_module.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sqlite3.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <string_view>
#include <vector>

#include "command.h"
#include "statusdb.h"
#include "store.h"

namespace statusdb {

namespace {

constexpr std::uint32_t kClientMagic = 0x53444243;  // "SDBC"

struct Client {
    std::uint32_t magic = kClientMagic;
    unsigned int id = 0;
    int trace_fd = -1;
    pid_t pid = 0;  // the process that opened the client
    std::unique_ptr<Store> store;
};

// Connections of finished clients, kept for the next client of the same
// process: a new client then costs no open, no schema check and no prepared
// statement, and the file's write-ahead log stays alive between clients
// (the last connection to close would otherwise checkpoint and delete it).
// A kept connection serves one client at a time and is never shared
// between two clients open at once. The pool belongs to one process: a
// child after fork finds its parent's connections and never uses or
// closes them (their locks and log state are the parent's).
constexpr std::size_t kPoolMax = 3;

// Checkpoints (copying the log back into the file, with its syncs) are off
// the clients' path: a commit that leaves kCheckpointPages or more in the
// log wakes a helper thread of the process, which checkpoints with an idle
// kept connection without waiting for any reader or writer (the log starts
// from its beginning again once it has been copied whole). Should the log still
// reach kInlineCheckpointPages (no helper could be started, or writes come
// faster than it copies), the committing client checkpoints itself, as
// SQLite would; the log stays within about that many pages.
constexpr int kCheckpointPages = 1000;
constexpr int kInlineCheckpointPages = 4000;

struct Pool {
    std::mutex lock;
    pid_t pid = 0;
    std::vector<std::unique_ptr<Store>> idle;
    std::vector<Store *> abandoned;  // inherited through fork: never touched

    // The checkpoint helper, and what wakes it (made anew for the helper of
    // a child after fork: the parent's may count waiters that the child
    // does not have).
    std::condition_variable *wake = nullptr;
    pid_t helper = 0;        // the process whose helper runs
    std::string wanted;      // a database to checkpoint; empty when none
};

std::atomic<pid_t> self_pid{0};

// Made once and never destroyed: another thread may still be running a
// command while the process ends.
Pool &pool()
{
    static Pool *p = [] {
        // Before SQLite's first use in the process (refused, harmlessly,
        // when the program used it first): a connection's page cache takes
        // its pages one at a time instead of setting aside twenty at once,
        // 80 KiB a connection that a small status database never fills.
        sqlite3_config(SQLITE_CONFIG_PAGECACHE, nullptr, 0, 0);
        auto *made = new Pool;
        // A fork while another thread holds the lock must not leave the
        // child's copy locked.
        pthread_atfork([] { pool().lock.lock(); }, [] { pool().lock.unlock(); },
                       [] {
                           self_pid.store(getpid(), std::memory_order_relaxed);
                           pool().lock.unlock();
                       });
        return made;
    }();
    return *p;
}

// This process's id: asked of the system once, and again in a child after
// fork (by the pool's fork handler, set up before the first answer).
pid_t this_process()
{
    pid_t self = self_pid.load(std::memory_order_relaxed);
    if (self == 0) {
        pool();
        self = getpid();
        self_pid.store(self, std::memory_order_relaxed);
    }
    return self;
}

// Under the pool's lock: forgets connections inherited from a parent.
void adopt(Pool &p, pid_t self)
{
    if (p.pid == self)
        return;
    for (auto &s : p.idle)
        p.abandoned.push_back(s.release());
    p.idle.clear();
    p.pid = self;
}

// A kept connection to PATH, or null.
std::unique_ptr<Store> take_idle(const char *path, pid_t self)
{
    Pool &p = pool();
    std::vector<std::unique_ptr<Store>> stale;
    std::unique_ptr<Store> found;
    {
        std::lock_guard<std::mutex> hold(p.lock);
        adopt(p, self);
        while (found == nullptr && !p.idle.empty()) {
            std::unique_ptr<Store> s = std::move(p.idle.back());
            p.idle.pop_back();
            if (s->reusable_for(path))
                found = std::move(s);
            else
                stale.push_back(std::move(s));
        }
    }
    for (auto &s : stale)
        s->retire();
    return found;
}

void give_back(std::unique_ptr<Store> s, pid_t self);

int committed(void *arg, sqlite3 *db, const char *, int pages);

// A new connection to PATH, with the checkpoint hook; null on failure.
std::unique_ptr<Store> open_store(const char *path, std::string &error)
{
    std::unique_ptr<Store> s(new (std::nothrow) Store);
    if (s == nullptr) {
        error = "out of memory";
        return nullptr;
    }
    if (!s->open(path, error))
        return nullptr;
    s->on_commit(committed, s.get());
    return s;
}

void checkpoint_helper(std::condition_variable *wake)
{
    Pool &p = pool();
    std::unique_lock<std::mutex> hold(p.lock);
    for (;;) {
        wake->wait(hold, [&] { return !p.wanted.empty(); });
        std::string path;
        path.swap(p.wanted);
        hold.unlock();
        const pid_t self = this_process();
        // Only with a kept connection: the helper adds none of its own (a
        // later commit asks again).
        std::unique_ptr<Store> s = take_idle(path.c_str(), self);
        if (s != nullptr) {
            s->checkpoint();
            give_back(std::move(s), self);
        }
        hold.lock();
    }
}

// Asks the helper to checkpoint PATH, starting it first in this process;
// false when it cannot be started.
bool want_checkpoint(const std::string &path)
{
    Pool &p = pool();
    std::lock_guard<std::mutex> hold(p.lock);
    const pid_t self = this_process();
    if (p.helper != self) {
        // The helper takes no signal: the program's threads keep them all.
        sigset_t all, old;
        sigfillset(&all);
        pthread_sigmask(SIG_SETMASK, &all, &old);
        auto *wake = new (std::nothrow) std::condition_variable;
        bool started = wake != nullptr;
        try {
            if (started)
                std::thread(checkpoint_helper, wake).detach();
        } catch (const std::system_error &) {
            started = false;
        }
        pthread_sigmask(SIG_SETMASK, &old, nullptr);
        if (!started) {
            delete wake;
            return false;
        }
        p.wake = wake;
        p.helper = self;
    }
    if (p.wanted.empty()) {  // else the helper has been woken already
        p.wanted = path;
        p.wake->notify_one();
    }
    return true;
}

// A log that is still long after a checkpoint is one that writers kept
// adding to while it was copied (it starts afresh only once a transaction
// begins with all of it copied): a connection asks again only after the log
// has grown by another kCheckpointPages pages, not at every commit, which
// would copy a few pages at a time, each time with its syncs.
int committed(void *arg, sqlite3 *db, const char *, int pages)
{
    Store *s = static_cast<Store *>(arg);
    if (pages < kCheckpointPages)
        s->checkpoint_due = kCheckpointPages;
    bool inline_checkpoint = pages >= kInlineCheckpointPages;
    if (!inline_checkpoint && pages >= s->checkpoint_due) {
        inline_checkpoint = !want_checkpoint(s->path());
        s->checkpoint_due = pages + kCheckpointPages;
    }
    if (inline_checkpoint)
        sqlite3_wal_checkpoint_v2(db, "main", SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
    return SQLITE_OK;
}

void give_back(std::unique_ptr<Store> s, pid_t self)
{
    Pool &p = pool();
    {
        std::lock_guard<std::mutex> hold(p.lock);
        adopt(p, self);
        if (p.idle.size() < kPoolMax) {
            p.idle.push_back(std::move(s));
            return;
        }
    }
    s->retire();
}

Client *as_client(void *handle)
{
    auto *c = static_cast<Client *>(handle);
    return (c != nullptr && c->magic == kClientMagic) ? c : nullptr;
}

bool safe_trace_char(unsigned char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           std::strchr("-_.:/@%+=,", c) != nullptr;
}

void append_word(std::string &line, std::string_view w)
{
    bool plain = !w.empty();
    for (char c : w)
        plain = plain && safe_trace_char(static_cast<unsigned char>(c));
    if (plain) {
        line += w;
        return;
    }
    line += '"';
    for (char c : w) {
        unsigned char u = static_cast<unsigned char>(c);
        switch (c) {
        case '"': line += "\\\""; break;
        case '\\': line += "\\\\"; break;
        case '\n': line += "\\n"; break;
        case '\r': line += "\\r"; break;
        case '\t': line += "\\t"; break;
        default:
            if (u < 0x20 || u == 0x7f) {
                char hex[8];
                std::snprintf(hex, sizeof hex, "\\x%02x", u);
                line += hex;
            } else {
                line += c;
            }
        }
    }
    line += '"';
}

void trace(Client *c, std::size_t count, const char *const *words)
{
    if (c->trace_fd < 0)
        return;
    // One write per line, so lines of concurrent writers never mix.
    std::string line = trace_line(count, words) + "\n";
    const char *p = line.data();
    std::size_t left = line.size();
    while (left > 0) {
        ssize_t n = write(c->trace_fd, p, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        p += n;
        left -= static_cast<std::size_t>(n);
    }
}

// --- the function table -------------------------------------------------

int unsupported_handle(void *, void *, unsigned int) { return -1; }
int unsupported_get_id(void *) { return -1; }
int unsupported_parser(void *, const char *, char *, unsigned int) { return -1; }
void *unsupported_get_addr(void *) { return nullptr; }
int unsupported_handle_tlv(void *, const void *, unsigned int) { return -1; }
int unsupported_comm_server(void *) { return -1; }

void *init_sock(unsigned int id)
{
    auto *c = new (std::nothrow) Client;
    if (c == nullptr)
        return nullptr;
    c->id = id;
    c->pid = this_process();
    const char *path = database_path();
    c->store = take_idle(path, c->pid);
    if (c->store == nullptr) {
        std::string error;
        c->store = open_store(path, error);
        if (c->store == nullptr) {
            std::fprintf(stderr, "statusdb: %s\n", error.c_str());
            delete c;
            return nullptr;
        }
    }
    const char *trace_path = getenv(kTraceVariable);
    if (trace_path != nullptr && trace_path[0] != '\0') {
        c->trace_fd = ::open(trace_path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
        if (c->trace_fd < 0)
            std::fprintf(stderr, "statusdb: cannot open the command trace %s: %s\n", trace_path,
                         std::strerror(errno));
    }
    return c;
}

int close_sock(void *handle, unsigned int)
{
    Client *c = as_client(handle);
    if (c == nullptr)
        return -1;
    if (c->trace_fd >= 0)
        ::close(c->trace_fd);
    c->magic = 0;
    const pid_t self = this_process();
    if (c->pid != self) {
        // Opened by the parent before fork: its connection is not ours.
        Pool &p = pool();
        std::lock_guard<std::mutex> hold(p.lock);
        p.abandoned.push_back(c->store.release());
    } else if (c->store->in_transaction()) {
        c->store->retire();
    } else {
        give_back(std::move(c->store), self);
    }
    delete c;
    return 0;
}

int gen_cmd(void *handle, char *reply, ...)
{
    std::vector<const char *> words;
    va_list ap;
    va_start(ap, reply);
    // One word more than allowed is enough to refuse the command; the rest
    // are not read.
    for (const char *w; words.size() <= kMaxWords && (w = va_arg(ap, const char *)) != nullptr;)
        words.push_back(w);
    va_end(ap);
    return gen_cmd_words(handle, reply, words.size(), words.data());
}

parser_module dbcmd_module = {
    unsupported_handle,
    unsupported_get_id,
    unsupported_parser,
    unsupported_get_addr,
    init_sock,
    unsupported_handle_tlv,
    unsupported_comm_server,
    close_sock,
    gen_cmd,
};

}  // namespace

std::string trace_line(std::size_t count, const char *const *words)
{
    std::string line;
    for (std::size_t i = 0; i < count; ++i) {
        if (i > 0)
            line += ' ';
        append_word(line, words[i] ? words[i] : "");
    }
    return line;
}

int gen_cmd_words(void *handle, char *reply, std::size_t count, const char *const *words)
{
    if (reply == nullptr)
        return -1;
    Client *c = as_client(handle);
    if (c == nullptr) {
        std::snprintf(reply, PARSER_REPLY_MAX, "%s", "error: no client");
        return -1;
    }
    trace(c, count, words);

    std::vector<std::string_view> views;
    views.reserve(count);
    for (std::size_t i = 0; i < count; ++i)
        views.emplace_back(words[i] ? words[i] : "");
    Command cmd;
    std::string error;
    if (!parse_command(views, cmd, error)) {
        std::snprintf(reply, PARSER_REPLY_MAX, "error: %s", error.c_str());
        return -1;
    }
    return c->store->run(cmd, reply, cmd.lists ? PARSER_LIST_REPLY_MAX : PARSER_REPLY_MAX);
}

bool show(void *handle, const char *name, std::string &out)
{
    Client *c = as_client(handle);
    if (c == nullptr)
        return false;
    return name == nullptr ? c->store->show_tables(out) : c->store->show_table(name, out);
}

}  // namespace statusdb

extern "C" parser_module *parser_open(const char *name)
{
    if (name == nullptr || std::strcmp(name, "dbcmd") != 0)
        return nullptr;
    return &statusdb::dbcmd_module;
}
