// The daemon's outside actions. The command runner is popen-like, with two
// guards that a plain popen lacks: a tool that hangs is ended after a bound
// of time together with everything it started, and its output is bounded in
// memory. Output is collected first and then handed back as a stream, so the
// caller reads it exactly as it would read a pipe.
#include "seam.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include "wlan_hvd.h"

extern char **environ;

unsigned int rrm_cmd_timeout_ms = 30000;
size_t rrm_cmd_output_max = 4u << 20;

namespace {

// A stream handed out by the runner, with the output buffer behind it and
// the command's wait status.
struct OpenCommand {
    FILE *stream;
    char *buf;
    int status;
    OpenCommand *next;
};

pthread_mutex_t g_open_lock = PTHREAD_MUTEX_INITIALIZER;
OpenCommand *g_open;

long long now_ms()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

void short_pause()
{
    struct timespec ts = {0, 5 * 1000 * 1000};
    nanosleep(&ts, nullptr);
}

// Waits for pid until deadline; then ends its process group and reaps it.
// Returns the wait status; *killed tells whether the bound was hit.
int reap(pid_t pid, long long deadline, bool *killed)
{
    int status = 0;
    for (;;) {
        pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid)
            return status;
        if (r < 0 && errno != EINTR)
            return -1;
        if (now_ms() >= deadline)
            break;
        short_pause();
    }
    *killed = true;
    kill(-pid, SIGKILL);
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return -1;
    }
    return status;
}

// Starts "/bin/sh -c command" in a new process group with its standard
// output on a pipe. Returns the child, or -1 with the read end closed.
pid_t start(const char *command, int *read_fd)
{
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return -1;
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attr);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    posix_spawnattr_setpgroup(&attr, 0);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &defaults);

    char sh[] = "/bin/sh";
    char dash_c[] = "-c";
    char *argv[] = {sh, dash_c, const_cast<char *>(command), nullptr};
    pid_t pid = -1;
    int rc = posix_spawn(&pid, sh, &actions, &attr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    close(fds[1]);
    if (rc != 0) {
        close(fds[0]);
        errno = rc;
        return -1;
    }
    *read_fd = fds[0];
    return pid;
}

FILE *real_cmd_open(const char *command, const char *mode)
{
    if (command == nullptr || mode == nullptr || mode[0] != 'r') {
        errno = EINVAL;
        return nullptr;
    }
    int fd = -1;
    pid_t pid = start(command, &fd);
    if (pid < 0)
        return nullptr;

    const long long deadline = now_ms() + rrm_cmd_timeout_ms;
    const size_t max = rrm_cmd_output_max;
    char *buf = nullptr;
    size_t len = 0, cap = 0;
    bool timed_out = false, overflow = false;
    for (;;) {
        long long left = deadline - now_ms();
        if (left <= 0) {
            timed_out = true;
            break;
        }
        struct pollfd p = {fd, POLLIN, 0};
        int n = poll(&p, 1, left > 1000 ? 1000 : static_cast<int>(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            continue;
        char chunk[4096];
        ssize_t got = read(fd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        size_t take = static_cast<size_t>(got);
        if (len + take > max) {
            overflow = true;
            take = max - len;
        }
        if (take > 0) {
            if (len + take > cap) {
                size_t ncap = cap ? cap * 2 : 8192;
                while (ncap < len + take)
                    ncap *= 2;
                char *nbuf = static_cast<char *>(realloc(buf, ncap));
                if (nbuf == nullptr) {
                    overflow = true;
                    continue;
                }
                buf = nbuf;
                cap = ncap;
            }
            memcpy(buf + len, chunk, take);
            len += take;
        }
    }
    close(fd);
    bool killed = timed_out;
    if (timed_out)
        kill(-pid, SIGKILL);
    int status = reap(pid, timed_out ? now_ms() : deadline, &killed);
    if (killed) {
        WLAN_MODULE_DEBUG("command ended after %u ms: %s\n", rrm_cmd_timeout_ms, command);
        len = 0;
    }
    if (overflow)
        WLAN_MODULE_DEBUG("command output cut at %zu bytes: %s\n", max, command);

    FILE *stream = nullptr;
    if (len == 0) {
        free(buf);
        buf = nullptr;
        stream = fopen("/dev/null", "re");
    } else {
        stream = fmemopen(buf, len, "r");
    }
    OpenCommand *rec = static_cast<OpenCommand *>(malloc(sizeof(OpenCommand)));
    if (stream == nullptr || rec == nullptr) {
        if (stream != nullptr)
            fclose(stream);
        free(buf);
        free(rec);
        return nullptr;
    }
    *rec = OpenCommand{stream, buf, status, nullptr};
    pthread_mutex_lock(&g_open_lock);
    rec->next = g_open;
    g_open = rec;
    pthread_mutex_unlock(&g_open_lock);
    return stream;
}

int real_cmd_close(FILE *stream)
{
    if (stream == nullptr)
        return -1;
    OpenCommand *found = nullptr;
    pthread_mutex_lock(&g_open_lock);
    for (OpenCommand **pp = &g_open; *pp != nullptr; pp = &(*pp)->next) {
        if ((*pp)->stream == stream) {
            found = *pp;
            *pp = found->next;
            break;
        }
    }
    pthread_mutex_unlock(&g_open_lock);
    fclose(stream);
    if (found == nullptr)
        return -1;
    int status = found->status;
    free(found->buf);
    free(found);
    return status;
}

// A signal (the bus library's SIGCHLD handler, for one) cuts a pause short;
// the rest is slept.
unsigned int real_sleep(unsigned int seconds)
{
    while (seconds > 0)
        seconds = sleep(seconds);
    return 0;
}
time_t real_now(time_t *out) { return time(out); }

constexpr rrm_seam_ops kRealOps = {real_cmd_open, real_cmd_close, real_sleep, real_now, nullptr, now_ms};

}  // namespace

extern "C" {

rrm_seam_ops rrm_seam = kRealOps;

void rrm_seam_reset(void) { rrm_seam = kRealOps; }

FILE *rrm_cmd_open(const char *command, const char *mode) { return rrm_seam.cmd_open(command, mode); }
int rrm_cmd_close(FILE *stream) { return rrm_seam.cmd_close(stream); }
unsigned int rrm_sleep(unsigned int seconds) { return rrm_seam.sleep_s(seconds); }
time_t rrm_now(time_t *out) { return rrm_seam.now(out); }
long long rrm_mono_ms(void) { return rrm_seam.mono_ms(); }

}
