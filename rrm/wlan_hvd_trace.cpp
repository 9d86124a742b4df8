// The developer trace file of the wlan_hvd unit. Each entry is written under
// an exclusive advisory lock, so the daemon's threads and other processes
// may trace into the same file without interleaving. The wait for the lock
// is bounded (kLockTries pauses of kLockPauseNs, 200 ms in all): an entry
// whose lock cannot be had by then is dropped, so a process holding the
// lock never stalls collection.
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <time.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "seam.h"
#include "wlan_hvd.h"

const char *wlan_debug_file_name = DBG_FILE_NAME;
const char *wlan_debug_flag_name = DBG_FILE_FLAG;

namespace {

constexpr char kBanner[] = "####### Debug file too large, overwrite it #######\n\r";
constexpr int kLockTries = 40;
constexpr long kLockPauseNs = 5 * 1000 * 1000;

// Opens the trace file for appending and reading, creating it if missing.
// The daemon runs as root and the file lives in a world-writable folder, so
// a symbolic link, a file with other names (hard links) or anything but a
// regular file in its place is refused; so is a file of another user, who
// could read the traces.
FILE *open_trace(const char *path)
{
    int fd = open(path, O_RDWR | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0644);
    if (fd < 0)
        return nullptr;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1 || st.st_uid != geteuid()) {
        close(fd);
        return nullptr;
    }
    FILE *f = fdopen(fd, "a+");
    if (f == nullptr)
        close(fd);
    return f;
}

// The exclusive lock within the bound; false when it could not be had.
bool lock_bounded(int fd)
{
    for (int i = 0;; ++i) {
        if (flock(fd, LOCK_EX | LOCK_NB) == 0)
            return true;
        if ((errno != EWOULDBLOCK && errno != EINTR) || i == kLockTries)
            return false;
        struct timespec pause = {0, kLockPauseNs};
        nanosleep(&pause, nullptr);
    }
}

}  // namespace

extern "C" void debug_log_to_file(const char *fmt, ...)
{
    char stamp[64] = "";
    time_t now = rrm_now(nullptr);
    if (ctime_r(&now, stamp) == nullptr)
        stamp[0] = '\0';
    stamp[strcspn(stamp, "\n")] = '\0';

    const char *path = wlan_debug_file_name;
    FILE *f = open_trace(path);
    if (f == nullptr)
        return;
    FILE *locked = f; // the file the lock was taken on
    if (!lock_bounded(fileno(f))) {
        fprintf(stderr, "Error flock log file %s\n", path);
        fclose(f);
        return;
    }
    {
        long size = fseek(f, 0, SEEK_END) == 0 ? ftell(f) : -1;
        if (size > DBG_FILE_SIZE - 1) {
            // The old file stays locked until it is closed; the new one is
            // written without a lock.
            unlink(path);
            FILE *fresh = open_trace(path);
            if (fresh == nullptr) {
                fprintf(stderr, "Error opening log file %s\n", path);
                flock(fileno(locked), LOCK_UN);
                fclose(locked);
                return;
            }
            fputs(kBanner, fresh);
            f = fresh;
        }
        fprintf(f, "[%s]", stamp);
        va_list ap;
        va_start(ap, fmt);
        vfprintf(f, fmt, ap);
        va_end(ap);
    }
    fflush(f);
    flock(fileno(locked), LOCK_UN);
    if (locked != f)
        fclose(locked);
    fclose(f);
}

extern "C" void wlanModuleSetDebugFlag(int flag)
{
    char cmd[32];
    const char *path = wlan_debug_flag_name;
    int n = snprintf(cmd, sizeof cmd, flag == 1 ? "touch %s" : "rm %s", path);
    if (n > 0 && static_cast<size_t>(n) < sizeof cmd) {
        FILE *out = rrm_cmd_open(cmd, "r");
        if (out != nullptr) {
            char sink[64];
            while (fgets(sink, sizeof sink, out) != nullptr) {
            }
            rrm_cmd_close(out);
        }
    }
    fprintf(stderr, flag == 1 ? "%s is created.\n" : "%s is removed.\n", path);
}
