// Common log: one file per log name in the log folder, restarted when full.

#include "common_log.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>

#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr const char *kDefaultDir = "/tmp/common_log";
constexpr size_t kMaxText = 1024;  // longer texts are cut

// A log name becomes a file name: one path component of plain characters.
bool valid_name(const char *name)
{
    if (name == nullptr || name[0] == '\0' || name[0] == '.')
        return false;
    size_t n = 0;
    for (const char *p = name; *p; ++p, ++n) {
        unsigned char c = static_cast<unsigned char>(*p);
        if (c == '/' || c < 0x20 || c == 0x7f)
            return false;
    }
    return n <= 200;
}

const char *log_dir()
{
    const char *d = getenv("COMMON_LOG_DIR");
    return (d && d[0]) ? d : kDefaultDir;
}

// Creates the folder and its parents; existing ones are fine.
void make_dirs(const std::string &dir)
{
    std::string part;
    part.reserve(dir.size());
    for (size_t i = 0; i < dir.size(); ++i) {
        part.push_back(dir[i]);
        if ((dir[i] == '/' && i > 0) || i + 1 == dir.size())
            mkdir(part.c_str(), 0755);
    }
}

std::string make_line(const char *text)
{
    char stamp[32];
    time_t now = time(nullptr);
    struct tm tmv;
    localtime_r(&now, &tmv);
    size_t n = strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S ", &tmv);
    std::string line(stamp, n);
    if (text) {
        size_t len = strnlen(text, kMaxText);
        while (len > 0 && (text[len - 1] == '\n' || text[len - 1] == '\r'))
            --len;
        for (size_t i = 0; i < len; ++i) {
            unsigned char c = static_cast<unsigned char>(text[i]);
            line.push_back((c < 0x20 || c == 0x7f) ? ' ' : static_cast<char>(c));
        }
    }
    line.push_back('\n');
    return line;
}

bool write_all(int fd, const std::string &s)
{
    size_t off = 0;
    while (off < s.size()) {
        ssize_t w = write(fd, s.data() + off, s.size() - off);
        if (w < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        off += static_cast<size_t>(w);
    }
    return true;
}

// Log files stay open between lines (one slot a log name): a line costs a
// lock, a look at the name and a write, not an open and a close. The slots
// belong to the process; the mutex serialises its threads.
struct OpenLog {
    std::string path;
    int fd = -1;
    dev_t dev = 0;
    ino_t ino = 0;
};
constexpr size_t kOpenLogs = 8;

struct OpenLogs {
    std::mutex lock;
    OpenLog slot[kOpenLogs];
    size_t next = 0;
};

void forget(OpenLog &log)
{
    if (log.fd >= 0)
        close(log.fd);
    log.fd = -1;
}

// Made once and never destroyed (a thread may log while the process ends).
OpenLogs &open_logs()
{
    static OpenLogs *logs = [] {
        auto *made = new OpenLogs;
        // A child after fork shares the parent's open files, and with them
        // their locks: it opens its own. Nor may it find the mutex held by
        // a thread it does not have.
        pthread_atfork([] { open_logs().lock.lock(); }, [] { open_logs().lock.unlock(); },
                       [] {
                           OpenLogs &l = open_logs();
                           for (OpenLog &log : l.slot)
                               forget(log);
                           l.lock.unlock();
                       });
        return made;
    }();
    return *logs;
}

// The slot of PATH (a new one when it has none).
OpenLog &slot_of(OpenLogs &logs, const std::string &path)
{
    for (OpenLog &log : logs.slot)
        if (log.path == path)
            return log;
    OpenLog &log = logs.slot[logs.next];
    logs.next = (logs.next + 1) % kOpenLogs;
    forget(log);
    log.path = path;
    return log;
}

// Opens the file of LOG when it is not open; false when it cannot be.
bool open_file(OpenLog &log)
{
    if (log.fd >= 0)
        return true;
    log.fd = open(log.path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    struct stat st;
    if (log.fd < 0 || fstat(log.fd, &st) != 0) {
        forget(log);
        return false;
    }
    log.dev = st.st_dev;
    log.ino = st.st_ino;
    return true;
}

// Locks the file of LOG against other processes, reopening it first when
// another writer has restarted it meanwhile; ST gets the file's state.
// False (nothing locked) when it cannot be opened.
bool lock_current(OpenLog &log, struct stat &st)
{
    for (int attempt = 0; attempt < 5; ++attempt) {
        if (!open_file(log))
            return false;
        while (flock(log.fd, LOCK_EX) < 0) {
            if (errno != EINTR) {
                forget(log);
                return false;
            }
        }
        if (stat(log.path.c_str(), &st) == 0 && st.st_ino == log.ino && st.st_dev == log.dev)
            return true;
        forget(log);  // closing it lets the lock go
    }
    return false;
}

}  // namespace

extern "C" int common_log(const char *log_name, int max_size, const char *text)
{
    if (!valid_name(log_name))
        return -1;
    std::string dir = log_dir();
    std::string path = dir + "/" + log_name;
    if (path.size() >= PATH_MAX)
        return -1;
    std::string line = make_line(text);

    OpenLogs &logs = open_logs();
    std::lock_guard<std::mutex> hold(logs.lock);
    OpenLog &log = slot_of(logs, path);
    struct stat st;
    if (!lock_current(log, st)) {
        make_dirs(dir);
        if (!lock_current(log, st))
            return -1;
    }
    if (max_size > 0 && st.st_size > 0 &&
        static_cast<unsigned long long>(st.st_size) + line.size() > static_cast<unsigned long long>(max_size)) {
        // Keep one older copy and start afresh. We hold the lock on the old
        // file, so no other writer appends to it meanwhile; writers waiting
        // on it notice the rename and reopen.
        std::string old = path + ".1";
        if (rename(path.c_str(), old.c_str()) == 0) {
            forget(log);
            if (!lock_current(log, st))
                return -1;
        }
    }
    bool ok = write_all(log.fd, line);
    flock(log.fd, LOCK_UN);
    return ok ? 0 : -1;
}
