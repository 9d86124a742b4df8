/*
 * Bus client library: connection, event subscription and event sending.
 *
 * The connection record's `sock` member is an event-loop descriptor
 * record: whoever watches `sock.fd` for readability calls
 * `sock.cb(&ctx->sock, ULOOP_READ)`, which reads the waiting messages and
 * runs the event handlers. When the bus goes away `sock.eof` becomes true,
 * nothing more is read, and `connection_lost` (when set) is called at the
 * end of every such call; the watcher should then be stopped.
 */
#ifndef __LIBUBUS_H
#define __LIBUBUS_H

#ifdef __cplusplus
extern "C" {
#endif

#include <libubox/avl.h>
#include <libubox/list.h>
#include <libubox/blobmsg.h>
#include <libubox/uloop.h>
#include <stdint.h>
#include "ubusmsg.h"
#include "ubus_common.h"

#define UBUS_MAX_NOTIFY_PEERS	16

struct ubus_context;
struct ubus_msg_src;
struct ubus_object;
struct ubus_request;
struct ubus_request_data;
struct ubus_event_handler;

struct ubus_msghdr_buf {
	struct ubus_msghdr hdr;
	struct blob_attr *data;
};

typedef int (*ubus_handler_t)(struct ubus_context *ctx, struct ubus_object *obj,
			      struct ubus_request_data *req,
			      const char *method, struct blob_attr *msg);
typedef void (*ubus_state_handler_t)(struct ubus_context *ctx, struct ubus_object *obj);
typedef void (*ubus_event_handler_t)(struct ubus_context *ctx, struct ubus_event_handler *ev,
				     const char *type, struct blob_attr *msg);

struct ubus_method {
	const char *name;
	ubus_handler_t handler;

	unsigned long mask;
	unsigned long tags;
	const struct blobmsg_policy *policy;
	int n_policy;
};

struct ubus_object_type {
	const char *name;
	uint32_t id;

	const struct ubus_method *methods;
	int n_methods;
};

struct ubus_object {
	struct avl_node avl;

	const char *name;
	uint32_t id;

	const char *path;
	struct ubus_object_type *type;

	ubus_state_handler_t subscribe_cb;
	bool has_subscribers;

	const struct ubus_method *methods;
	int n_methods;
};

struct ubus_event_handler {
	struct ubus_object obj;

	ubus_event_handler_t cb;
};

struct ubus_context {
	struct list_head requests;
	struct avl_tree objects;
	struct list_head pending;

	struct uloop_fd sock;
	struct uloop_timeout pending_timer;

	uint32_t local_id;
	uint16_t request_seq;
	bool cancel_poll;
	int stack_depth;

	void (*connection_lost)(struct ubus_context *ctx);
	void (*monitor_cb)(struct ubus_context *ctx, uint32_t seq, struct blob_attr *data);

	struct ubus_msghdr_buf msgbuf;
	uint32_t msgbuf_data_len;
	int msgbuf_reduction_counter;

	union {
		struct {
			struct list_head auto_subscribers;
			struct ubus_event_handler auto_subscribe_event_handler;
		};
		struct {
			ubus_handler_t request_handler;
		};
	};
};

struct ubus_request_data {
	uint32_t object;
	uint32_t peer;
	uint16_t seq;

	bool acl_checked;
	int fd;
	int req_fd;
	bool deferred;
};

/* Connects to the bus at `path` (NULL: the default socket). NULL on failure. */
struct ubus_context *ubus_connect(const char *path);

/* Closes the connection and releases the record. Sends nothing. */
void ubus_free(struct ubus_context *ctx);

const char *ubus_strerror(int error);

int ubus_remove_object(struct ubus_context *ctx, struct ubus_object *obj);

/*
 * Asks for the events matching `pattern` (an exact name, or a prefix
 * ending in '*'). The first call for a handler adds its object to the bus.
 * 0, or a UBUS_STATUS_* code.
 */
int ubus_register_event_handler(struct ubus_context *ctx,
				struct ubus_event_handler *ev,
				const char *pattern);

static inline int ubus_unregister_event_handler(struct ubus_context *ctx,
						struct ubus_event_handler *ev)
{
	return ubus_remove_object(ctx, &ev->obj);
}

/* Sends event `id` whose payload is the attribute list inside `data`. */
int ubus_send_event(struct ubus_context *ctx, const char *id,
		    struct blob_attr *data);

/*
 * Asks the bus for a copy of every message it sends and receives; each
 * copy goes to ctx->monitor_cb (seq: the copy's number, data: its root
 * attribute). Only for privileged clients.
 */
int ubus_monitor_start(struct ubus_context *ctx);
int ubus_monitor_stop(struct ubus_context *ctx);

/* For callers that drive the connection themselves. */
static inline void ubus_handle_event(struct ubus_context *ctx)
{
	ctx->sock.cb(&ctx->sock, ULOOP_READ);
}

#ifdef __cplusplus
}
#endif

#endif
