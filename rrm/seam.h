/*
 * The daemon's outside actions, in one narrow place.
 *
 * Every shell command, pause, clock read and departure send goes through the
 * function pointers below. Production code leaves them at their defaults,
 * which call the real thing; tests replace them to observe the exact command
 * texts and to feed canned driver and shell output.
 *
 * Database commands already go through the status database client's function
 * table, and library notifications through the station-event library, so they
 * need no entry here.
 */
#ifndef RRM_SEAM_H
#define RRM_SEAM_H

#include <stddef.h>
#include <stdio.h>
#include <time.h>

#ifdef __cplusplus
extern "C" {
#endif

struct rrm_seam_ops {
    /* Start one shell command and return a stream of its standard output
     * (mode "r"), or null when it could not be started. Always paired with
     * cmd_close. */
    FILE *(*cmd_open)(const char *command, const char *mode);
    /* Close a stream from cmd_open; returns the command's wait status or -1. */
    int (*cmd_close)(FILE *stream);
    /* Pause the calling thread for a number of seconds. */
    unsigned int (*sleep_s)(unsigned int seconds);
    /* Wall clock, as time(). */
    time_t (*now)(time_t *out);
    /* Socket of the bus for the departure notifications; null means the
     * bus's default socket. */
    const char *bus_path;
    /* Monotonic clock in milliseconds, for durations. */
    long long (*mono_ms)(void);
};

/* The default command runner starts "/bin/sh -c <command>" in a process
 * group of its own and collects its output before handing it back as a
 * stream. A command still running after rrm_cmd_timeout_ms is ended with its
 * whole group and counts as one that printed nothing; output past
 * rrm_cmd_output_max bytes is dropped. Only mode "r" is offered. */
extern unsigned int rrm_cmd_timeout_ms;
extern size_t rrm_cmd_output_max;

/* The ops in force. Tests may overwrite members; rrm_seam_reset restores the
 * real ones. */
extern struct rrm_seam_ops rrm_seam;
void rrm_seam_reset(void);

/* Convenience wrappers used by the daemon's code. */
FILE *rrm_cmd_open(const char *command, const char *mode);
int rrm_cmd_close(FILE *stream);
unsigned int rrm_sleep(unsigned int seconds);
time_t rrm_now(time_t *out);
long long rrm_mono_ms(void);

#ifdef __cplusplus
}
#endif

#endif
