/*
 * Pause shim of the simulated access point, preloaded into the daemon.
 *
 * Every pause of at least SIM_PAUSE_MIN seconds (default 10) made through
 * sleep, nanosleep or clock_nanosleep is held until the simulator releases
 * it, so that each collection pass runs exactly when a test or the demo asks
 * for it. The daemon's own code is unchanged: it still asks for its full
 * pause, and without SIM_PAUSE_DIR in the environment this shim passes every
 * call through.
 *
 * Protocol, in the folder named by SIM_PAUSE_DIR:
 *   paused   written by the shim: the number of held pauses entered so far
 *   release  written by the simulator: pauses numbered up to this one may end
 * A daemon started again numbers its pauses on from the last one entered.
 * A pause numbered n ends as soon as "release" holds a number >= n.
 *
 * The scenario clock: with SIM_CLOCK_FILE in the environment, time() answers
 * the number of seconds since the Epoch that the file holds (the simulator
 * moves it along the scenario's timeline), so recorded times are those of
 * the scenario. A missing or unreadable file gives the real time.
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <limits.h>
#include <poll.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

static pthread_mutex_t counter_lock = PTHREAD_MUTEX_INITIALIZER;
static unsigned long entered;
static int counted;

static const char *pause_dir(void)
{
    const char *d = getenv("SIM_PAUSE_DIR");
    return (d && d[0]) ? d : NULL;
}

static long min_seconds(void)
{
    const char *s = getenv("SIM_PAUSE_MIN");
    if (s && s[0]) {
        char *end = NULL;
        long v = strtol(s, &end, 10);
        if (end && *end == '\0' && v >= 1)
            return v;
    }
    return 10;
}

static unsigned long read_number(const char *path)
{
    char buf[32] = {0};
    FILE *f = fopen(path, "re");
    if (!f)
        return 0;
    size_t n = fread(buf, 1, sizeof buf - 1, f);
    fclose(f);
    buf[n] = '\0';
    return strtoul(buf, NULL, 10);
}

static void write_number(const char *dir, const char *name, unsigned long v)
{
    char tmp[PATH_MAX], final_path[PATH_MAX];
    if (snprintf(tmp, sizeof tmp, "%s/.%s.%ld", dir, name, (long)getpid()) >= (int)sizeof tmp ||
        snprintf(final_path, sizeof final_path, "%s/%s", dir, name) >= (int)sizeof final_path)
        return;
    FILE *f = fopen(tmp, "we");
    if (!f)
        return;
    fprintf(f, "%lu\n", v);
    if (fclose(f) == 0)
        rename(tmp, final_path);
    else
        unlink(tmp);
}

/* Holds the caller until the simulator releases this pause. */
static void hold(const char *dir)
{
    char release[PATH_MAX];
    if (snprintf(release, sizeof release, "%s/release", dir) >= (int)sizeof release)
        return;
    pthread_mutex_lock(&counter_lock);
    /* A daemon started again goes on counting from its predecessor's last
     * pause, so the simulator's release number keeps its meaning. */
    if (!counted) {
        char paused[PATH_MAX];
        if (snprintf(paused, sizeof paused, "%s/paused", dir) < (int)sizeof paused)
            entered = read_number(paused);
        counted = 1;
    }
    unsigned long mine = ++entered;
    write_number(dir, "paused", mine);
    pthread_mutex_unlock(&counter_lock);
    while (read_number(release) < mine)
        poll(NULL, 0, 10);
}

time_t time(time_t *out)
{
    const char *path = getenv("SIM_CLOCK_FILE");
    time_t now = (time_t)-1;
    if (path && path[0]) {
        char buf[32] = {0};
        FILE *f = fopen(path, "re");
        if (f) {
            size_t n = fread(buf, 1, sizeof buf - 1, f);
            fclose(f);
            buf[n] = '\0';
            char *end = NULL;
            long long v = strtoll(buf, &end, 10);
            if (end != buf && v >= 0)
                now = (time_t)v;
        }
    }
    if (now == (time_t)-1) {
        struct timespec ts;
        if (clock_gettime(CLOCK_REALTIME, &ts) == 0)
            now = ts.tv_sec;
    }
    if (out)
        *out = now;
    return now;
}

unsigned int sleep(unsigned int seconds)
{
    const char *dir = pause_dir();
    if (dir && (long)seconds >= min_seconds()) {
        hold(dir);
        return 0;
    }
    unsigned int (*real)(unsigned int) = (unsigned int (*)(unsigned int))dlsym(RTLD_NEXT, "sleep");
    return real ? real(seconds) : 0;
}

int nanosleep(const struct timespec *req, struct timespec *rem)
{
    const char *dir = pause_dir();
    if (dir && req && req->tv_sec >= min_seconds()) {
        hold(dir);
        if (rem)
            memset(rem, 0, sizeof *rem);
        return 0;
    }
    int (*real)(const struct timespec *, struct timespec *) =
        (int (*)(const struct timespec *, struct timespec *))dlsym(RTLD_NEXT, "nanosleep");
    if (!real) {
        errno = ENOSYS;
        return -1;
    }
    return real(req, rem);
}

int clock_nanosleep(clockid_t clock, int flags, const struct timespec *req, struct timespec *rem)
{
    const char *dir = pause_dir();
    if (dir && req && !(flags & TIMER_ABSTIME) && req->tv_sec >= min_seconds()) {
        hold(dir);
        if (rem)
            memset(rem, 0, sizeof *rem);
        return 0;
    }
    int (*real)(clockid_t, int, const struct timespec *, struct timespec *) =
        (int (*)(clockid_t, int, const struct timespec *, struct timespec *))dlsym(
            RTLD_NEXT, "clock_nanosleep");
    return real ? real(clock, flags, req, rem) : ENOSYS;
}
