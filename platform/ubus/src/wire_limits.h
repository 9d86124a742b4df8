// Limits shared by the bus daemon, the client library and the tool.
#ifndef UBUS_WIRE_LIMITS_H
#define UBUS_WIRE_LIMITS_H

#include <stddef.h>

// Largest message payload (padded root length, header excluded).
#define UBUS_WIRE_MAX_MSGLEN 1048576u
// Size of the message header plus the root attribute's header word.
#define UBUS_WIRE_PREFIX_LEN 12u
// Socket used when no path is given.
#define UBUS_WIRE_DEFAULT_SOCKET "/var/run/ubus/ubus.sock"

#endif
