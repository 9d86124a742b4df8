// Shared inside the station-event library only.
#ifndef STA_INTERNAL_H
#define STA_INTERNAL_H

#include "sta_lib_ext.h"

struct event_base;

namespace sta_lib {

// One line to standard error and to the library's common log.
void log_line(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

// Bus socket of the station-event service: STA_UBUS_SOCKET, or null for the
// bus default.
const char *socket_path();

// The dispatch loop on the calling thread starts (attach) or has ended
// (detach): while it runs, messages are sent by that thread only.
void publisher_attach(struct event_base *base);
void publisher_detach();

}  // namespace sta_lib

#endif
