/*
 * Bus client library: connection, event subscription and event sending,
 * named objects with methods, lookup and method calls.
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
typedef void (*ubus_data_handler_t)(struct ubus_request *req,
				    int type, struct blob_attr *msg);
typedef void (*ubus_fd_handler_t)(struct ubus_request *req, int fd);
typedef void (*ubus_complete_handler_t)(struct ubus_request *req, int ret);

/* What a lookup reports of one object (valid during the callback only). */
struct ubus_object_data {
	uint32_t id;
	uint32_t type_id;
	const char *path;
	struct blob_attr *signature;
};

typedef void (*ubus_lookup_handler_t)(struct ubus_context *ctx,
				      struct ubus_object_data *obj,
				      void *priv);

/*
 * Initialisers of a type and of its methods. As in the platform's header,
 * the designators of UBUS_OBJECT_TYPE and UBUS_METHOD_MASK are not in
 * member order, which C accepts and C++ refuses: C++ code fills those in
 * by hand.
 */
#define UBUS_OBJECT_TYPE(_name, _methods)				\
	{ .name = _name, .id = 0,					\
	  .n_methods = ARRAY_SIZE(_methods), .methods = _methods }

#define __UBUS_METHOD_NOARG(_name, _handler, _tags)			\
	.name = _name, .handler = _handler, .tags = _tags

#define __UBUS_METHOD(_name, _handler, _policy, _tags)			\
	__UBUS_METHOD_NOARG(_name, _handler, _tags),			\
	.policy = _policy, .n_policy = ARRAY_SIZE(_policy)

/* A method whose arguments are described by a blobmsg policy array. */
#define UBUS_METHOD(_name, _handler, _policy)				\
	{ __UBUS_METHOD(_name, _handler, _policy, 0) }
#define UBUS_METHOD_TAG(_name, _handler, _policy, _tags)		\
	{ __UBUS_METHOD(_name, _handler, _policy, _tags) }
/* Only the policy entries whose bit is set in _mask are announced. */
#define UBUS_METHOD_MASK(_name, _handler, _policy, _mask)		\
	{ __UBUS_METHOD(_name, _handler, _policy, 0), .mask = _mask }
#define UBUS_METHOD_NOARG(_name, _handler)				\
	{ __UBUS_METHOD_NOARG(_name, _handler, 0) }
#define UBUS_METHOD_TAG_NOARG(_name, _handler, _tags)			\
	{ __UBUS_METHOD_NOARG(_name, _handler, _tags) }

#define UBUS_TAG_STATUS		(1ul << 0)
#define UBUS_TAG_ADMIN		(1ul << 1)
#define UBUS_TAG_PRIVATE	(1ul << 2)

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

/* The caller's identity, as the bus daemon names it. */
struct ubus_acl_key {
	const char *user;
	const char *group;
	const char *object;
};

/* One method call received: object id, the caller's client id and seq. */
struct ubus_request_data {
	uint32_t object;
	uint32_t peer;
	uint16_t seq;

	struct ubus_acl_key acl;

	/* internal use */
	bool deferred;
	int fd;
	int req_fd;
};

/* One request made: replies are matched on (seq, peer). */
struct ubus_request {
	struct list_head list;

	struct list_head pending;
	int status_code;
	bool status_msg;
	bool blocked;
	bool cancelled;
	bool notify;

	uint32_t peer;
	uint16_t seq;

	ubus_data_handler_t raw_data_cb;
	ubus_data_handler_t data_cb;
	ubus_fd_handler_t fd_cb;
	ubus_complete_handler_t complete_cb;

	int fd;

	struct ubus_context *ctx;
	void *priv;
};

/* Connects to the bus at `path` (NULL: the default socket). NULL on failure. */
struct ubus_context *ubus_connect(const char *path);

/* Closes the connection and releases the record. Sends nothing. */
void ubus_free(struct ubus_context *ctx);

/*
 * Opens a new connection for `ctx` (after its old one was lost) and adds
 * every object of the context again, under new ids. Event registrations
 * are not renewed: register the handlers again. 0 or a UBUS_STATUS_* code.
 */
int ubus_reconnect(struct ubus_context *ctx, const char *path);

const char *ubus_strerror(int error);

/*
 * Publishes `obj` (name = its path, type = its method signature; both
 * NULL for an anonymous object). Fills in obj->id and, the first time a
 * type is sent, type->id. 0, 2 for a path already in use, 5 without id.
 */
int ubus_add_object(struct ubus_context *ctx, struct ubus_object *obj);
int ubus_remove_object(struct ubus_context *ctx, struct ubus_object *obj);

/*
 * Lists the typed objects whose path is `path` (or starts with it when it
 * ends in '*'; NULL: all), calling `cb` for each. 0, 4 when none matched.
 */
int ubus_lookup(struct ubus_context *ctx, const char *path,
		ubus_lookup_handler_t cb, void *priv);
/* The id of the object at `path`; *id is left alone when none is listed. */
int ubus_lookup_id(struct ubus_context *ctx, const char *path, uint32_t *id);

/*
 * Calls `method` of object `obj` with the arguments in `msg` (a blob root:
 * its payload is sent). `cb` gets each reply's DATA attribute. Waits at
 * most `timeout` ms (0: no limit): 7 when it runs out, 10 when the
 * connection is lost; otherwise the status the object answered.
 */
int ubus_invoke_fd(struct ubus_context *ctx, uint32_t obj, const char *method,
		   struct blob_attr *msg, ubus_data_handler_t cb, void *priv,
		   int timeout, int fd);

static inline int
ubus_invoke(struct ubus_context *ctx, uint32_t obj, const char *method,
	    struct blob_attr *msg, ubus_data_handler_t cb, void *priv,
	    int timeout)
{
	return ubus_invoke_fd(ctx, obj, method, msg, cb, priv, timeout, -1);
}

/* Sends one reply (the payload of `msg`) to a method call. 0, or 5. */
int ubus_send_reply(struct ubus_context *ctx, struct ubus_request_data *req,
		    struct blob_attr *msg);

/*
 * Keeps a method call open past its handler: `new_req` takes it over; the
 * handler's return value is then ignored. Later replies go through
 * ubus_send_reply(ctx, new_req, ...), and the call is ended with
 * ubus_complete_deferred_request(ctx, new_req, status).
 */
static inline void ubus_defer_request(struct ubus_context *ctx,
				      struct ubus_request_data *req,
				      struct ubus_request_data *new_req)
{
	(void) ctx;
	memcpy(new_req, req, sizeof(*req));
	req->deferred = true;
}

void ubus_complete_deferred_request(struct ubus_context *ctx,
				    struct ubus_request_data *req, int ret);

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
