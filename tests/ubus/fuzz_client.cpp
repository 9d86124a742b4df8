// Fuzz target: the bytes a daemon might send, read by the client library,
// first as the answers to a request and then by the read callback, which
// hands events to a handler and method calls to an object (6210aced).

#include <libubus.h>

#include "ubus_client_internal.h"

#include <cstdint>
#include <cstring>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

void on_event(struct ubus_context *, struct ubus_event_handler *, const char *type, struct blob_attr *msg)
{
	static const struct blobmsg_policy pol[2] = {{"sta_leave", BLOBMSG_TYPE_UNSPEC}, {"ifname", BLOBMSG_TYPE_STRING}};
	struct blob_attr *tb[2];
	volatile size_t sink = strlen(type);
	if (blobmsg_parse(pol, 2, tb, blob_data(msg), static_cast<unsigned>(blob_len(msg))) == 0)
		sink = sink + (tb[0] ? blobmsg_data_len(tb[0]) : 0) + (tb[1] ? strlen(blobmsg_get_string(tb[1])) : 0);
	(void)sink;
}

int on_call(struct ubus_context *ctx, struct ubus_object *, struct ubus_request_data *req, const char *,
	    struct blob_attr *msg)
{
	static const struct blobmsg_policy pol = {"name", BLOBMSG_TYPE_STRING};
	struct blob_attr *name;
	blobmsg_parse(&pol, 1, &name, blob_data(msg), static_cast<unsigned>(blob_len(msg)));
	if (name && blobmsg_get_string(name)[0] == 'd') {
		static struct ubus_request_data later;
		ubus_defer_request(ctx, req, &later);
		ubus_complete_deferred_request(ctx, &later, 0);
	}
	return ubus_send_reply(ctx, req, msg);
}

void on_monitor(struct ubus_context *, uint32_t, struct blob_attr *msg)
{
	static const struct blob_attr_info info[3] = {
		{BLOB_ATTR_INT32, 0, 0, nullptr}, {BLOB_ATTR_INT32, 0, 0, nullptr}, {BLOB_ATTR_INT8, 0, 0, nullptr}};
	struct blob_attr *tb[3];
	blob_parse_untrusted(msg, blob_raw_len(msg), tb, info, 3);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	if (size > 65536)
		return 0;
	int sv[2];
	if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) < 0)
		return 0;
	int big = 1 << 20;
	setsockopt(sv[1], SOL_SOCKET, SO_SNDBUF, &big, sizeof(big));
	setsockopt(sv[0], SOL_SOCKET, SO_RCVBUF, &big, sizeof(big));
	if (write(sv[1], data, size) < 0) // blocking: all of it, the buffers being larger
		size = 0;
	shutdown(sv[1], SHUT_WR);
	fcntl(sv[0], F_SETFL, fcntl(sv[0], F_GETFL) | O_NONBLOCK);

	struct ubus_context *ctx = ubus_client_adopt_fd(sv[0], 0x4ce4ed7e);
	static struct ubus_event_handler h;
	h = {};
	h.cb = on_event;
	ubus_client_attach_handler(ctx, &h, 0x91ac7294);
	ctx->monitor_cb = on_monitor;
	static const struct ubus_method methods[] = {UBUS_METHOD_NOARG("get", on_call)};
	static struct ubus_object obj;
	obj = {};
	obj.methods = methods;
	obj.n_methods = 1;
	ubus_client_attach_object(ctx, &obj, 0x6210aced);

	struct blob_buf b = {};
	blob_buf_init(&b, 0);
	blobmsg_add_string(&b, "k", "v");
	ubus_send_event(ctx, "sta_leave", b.head);
	blob_buf_free(&b);
	for (int i = 0; i < 64 && !ctx->sock.eof; i++)
		ctx->sock.cb(&ctx->sock, ULOOP_READ);
	ubus_free(ctx);
	close(sv[1]);
	return 0;
}
