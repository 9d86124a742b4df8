// Hooks into the bus client library for tests and fuzzing: a connection
// record over an already connected descriptor (no greeting expected), and
// a handler or an object attached under a given object id without asking
// the bus.
#ifndef UBUS_CLIENT_INTERNAL_H
#define UBUS_CLIENT_INTERNAL_H

#include <libubus.h>

#ifdef __cplusplus
extern "C" {
#endif

struct ubus_context *ubus_client_adopt_fd(int fd, uint32_t local_id);
void ubus_client_attach_handler(struct ubus_context *ctx, struct ubus_event_handler *ev, uint32_t id);
void ubus_client_attach_object(struct ubus_context *ctx, struct ubus_object *obj, uint32_t id);

#ifdef __cplusplus
}
#endif

#endif
