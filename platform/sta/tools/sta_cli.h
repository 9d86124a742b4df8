// Command-line helpers shared by the station-event tools.
#ifndef STA_CLI_H
#define STA_CLI_H

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include "sta.h"

namespace sta_cli {

// A whole decimal number in [lo, hi].
inline bool parse_long(const char *s, long lo, long hi, long *out)
{
    if (s == nullptr || *s == '\0')
        return false;
    char *end = nullptr;
    errno = 0;
    long v = strtol(s, &end, 10);
    if (errno != 0 || *end != '\0' || v < lo || v > hi)
        return false;
    *out = v;
    return true;
}

// Message type from its command-line word, -1 when unknown.
inline int type_from_word(const char *w)
{
    static const char *const words[STA_REG_TYPE_MAX] = {"assoc",   "disassoc", "ip",     "online",
                                                        "offline", "claim",    "declaim"};
    for (int t = 0; t < STA_REG_TYPE_MAX; ++t)
        if (strcmp(w, words[t]) == 0)
            return t;
    return -1;
}

// SIGTERM and SIGINT end the tool with their default action, although every
// bus connect takes over the ones still at their default: a handler of the
// tool's own puts the default back and raises the signal again.
inline void end_by_default(int sig)
{
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = SIG_DFL;
    sigaction(sig, &sa, nullptr);
    raise(sig);
}

inline void hold_stop_signals()
{
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = end_by_default;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
}

}  // namespace sta_cli

#endif
