// Shared inside the station-event library only.
#ifndef STA_INTERNAL_H
#define STA_INTERNAL_H

#include "sta_lib_ext.h"

namespace sta_lib {

// One line to standard error and to the library's common log.
void log_line(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

// Bus socket of the station-event service: STA_UBUS_SOCKET, or null for the
// bus default.
const char *socket_path();

}  // namespace sta_lib

#endif
