// Common log: one file per log name in the log folder, restarted when full.

#include "common_log.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include <fcntl.h>
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

// Opens the log file and locks it; reopens when another writer restarted the
// file between our open and our lock.
int open_locked(const std::string &path)
{
    for (int attempt = 0; attempt < 5; ++attempt) {
        int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
        if (fd < 0)
            return -1;
        while (flock(fd, LOCK_EX) < 0) {
            if (errno != EINTR) {
                close(fd);
                return -1;
            }
        }
        struct stat by_fd, by_path;
        if (fstat(fd, &by_fd) == 0 && stat(path.c_str(), &by_path) == 0 &&
            by_fd.st_ino == by_path.st_ino && by_fd.st_dev == by_path.st_dev)
            return fd;
        close(fd);
    }
    return -1;
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

    int fd = open_locked(path);
    if (fd < 0) {
        make_dirs(dir);
        fd = open_locked(path);
        if (fd < 0)
            return -1;
    }
    struct stat st;
    if (max_size > 0 && fstat(fd, &st) == 0 && st.st_size > 0 &&
        static_cast<unsigned long long>(st.st_size) + line.size() >
            static_cast<unsigned long long>(max_size)) {
        // Keep one older copy and start afresh. We hold the lock on the old
        // file, so no other writer appends to it meanwhile; writers waiting
        // on it notice the rename and reopen.
        std::string old = path + ".1";
        if (rename(path.c_str(), old.c_str()) == 0) {
            int nfd = open_locked(path);
            close(fd);
            if (nfd < 0)
                return -1;
            fd = nfd;
        }
    }
    bool ok = write_all(fd, line);
    close(fd);
    return ok ? 0 : -1;
}
