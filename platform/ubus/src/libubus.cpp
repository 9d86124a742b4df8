// Bus client library: connects to the bus daemon, registers event
// handlers, sends events, publishes objects and serves their method calls,
// looks objects up and calls their methods, and reads what arrives when its
// descriptor record's callback is called from the caller's own event loop.
//
// Requests are synchronous: a request is written whole, then the socket is
// polled until the daemon's STATUS with the same (seq, peer) arrives (or a
// method call's time runs out). Event deliveries and method calls that
// arrive meanwhile are queued and handed to their handlers before the
// request returns; so a call to an object of the same connection can only
// time out.
//
// Like the platform's library, the client keeps process-wide state: one
// message buffer (`g_buf`) that every request, registration, event send and
// automatic status reply re-initialises and fills, and that ubus_free
// frees; and every connect initialises the process's event loop (signal
// dispositions included, see uloop.cpp). So only one thread at a time may be
// inside this library, whatever connection it uses.

#include <libubus.h>

#include "ubus_client_internal.h"
#include "wire.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <deque>
#include <functional>
#include <new>
#include <type_traits>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

namespace {

using Bytes = std::vector<uint8_t>;

// The library's one message buffer.
struct blob_buf g_buf;

struct Impl {
	struct ubus_context ctx;
	std::vector<struct ubus_object *> objects;   // published, by object
	std::vector<struct ubus_object *> event_objects; // those of event handlers
	Bytes rx;               // received bytes not yet taken as messages
	size_t discard = 0;     // bytes still to skip of a refused message
	std::deque<Bytes> pending; // deliveries received while a request waited
};

Impl *impl_of(struct ubus_context *ctx)
{
	return reinterpret_cast<Impl *>(reinterpret_cast<char *>(ctx) - offsetof(Impl, ctx));
}

static_assert(std::is_standard_layout_v<struct ubus_context>);
using ubus_wire::be32_at;
using ubus_wire::envelope_policy;
using ubus_wire::pad4;

// One whole received message: header decoded, root attribute in `bytes`
// (starting at offset 8 of the wire message).
struct Msg {
	struct ubus_msghdr hdr;
	Bytes bytes;
	struct blob_attr *tb[UBUS_ATTR_MAX];

	void parse()
	{
		auto *root = reinterpret_cast<struct blob_attr *>(bytes.data() + sizeof(struct ubus_msghdr));
		blob_parse_untrusted(root, bytes.size() - sizeof(struct ubus_msghdr), tb, envelope_policy,
				     UBUS_ATTR_MAX);
	}
	uint16_t seq() const { return be16_to_cpu(hdr.seq); }
	uint32_t peer() const { return be32_to_cpu(hdr.peer); }
};

// Writes the whole buffer set, waiting for room when the socket is full.
bool write_all(int fd, const struct iovec *iov_in, int cnt)
{
	struct iovec iov[2];
	std::copy(iov_in, iov_in + cnt, iov);
	int first = 0;
	while (first < cnt) {
		struct msghdr mh = {};
		mh.msg_iov = iov + first;
		mh.msg_iovlen = static_cast<decltype(mh.msg_iovlen)>(cnt - first);
		ssize_t n = sendmsg(fd, &mh, MSG_NOSIGNAL);
		if (n < 0) {
			if (errno == EINTR)
				continue;
			if (errno == EAGAIN || errno == EWOULDBLOCK) {
				struct pollfd p = {fd, POLLOUT, 0};
				if (poll(&p, 1, -1) < 0 && errno != EINTR)
					return false;
				continue;
			}
			return false;
		}
		size_t left = static_cast<size_t>(n);
		while (first < cnt && left >= iov[first].iov_len) {
			left -= iov[first].iov_len;
			first++;
		}
		if (first < cnt) {
			iov[first].iov_base = static_cast<char *>(iov[first].iov_base) + left;
			iov[first].iov_len -= left;
		}
	}
	return true;
}

bool send_msg(Impl *im, uint8_t type, uint16_t seq, uint32_t peer, const struct blob_attr *root)
{
	const size_t len = blob_raw_len(root);
	if (len - sizeof(struct blob_attr) > UBUS_WIRE_MAX_MSGLEN)
		return false;
	struct ubus_msghdr hdr = {};
	hdr.version = 0;
	hdr.type = type;
	hdr.seq = cpu_to_be16(seq);
	hdr.peer = cpu_to_be32(peer);
	struct iovec iov[2] = {{&hdr, sizeof(hdr)}, {const_cast<struct blob_attr *>(root), len}};
	return write_all(im->ctx.sock.fd, iov, 2);
}

// Reads what the socket holds (one read of up to a chunk). False when the
// connection is gone.
bool read_some(Impl *im)
{
	constexpr size_t kChunk = 16384;
	for (;;) {
		const size_t old = im->rx.size();
		im->rx.resize(old + kChunk);
		ssize_t n = recv(im->ctx.sock.fd, im->rx.data() + old, kChunk, 0);
		const int err = errno;
		if (n > 0) {
			const size_t got = static_cast<size_t>(n);
			const size_t skip = std::min(got, im->discard);
			im->discard -= skip;
			im->rx.erase(im->rx.begin() + static_cast<ptrdiff_t>(old),
				     im->rx.begin() + static_cast<ptrdiff_t>(old + skip));
			im->rx.resize(old + got - skip);
			return true;
		}
		im->rx.resize(old);
		if (n == 0)
			return false;
		if (err == EINTR)
			continue;
		return err == EAGAIN || err == EWOULDBLOCK;
	}
}

// Takes the next whole message out of the receive buffer. Messages the
// daemon should never send (wrong version, oversized) are skipped whole;
// a length below the header size leaves the stream unusable.
enum class Take { none, msg, broken };

Take take_msg(Impl *im, Msg &out)
{
	for (;;) {
		if (im->discard)
			return Take::none;
		if (im->rx.size() < UBUS_WIRE_PREFIX_LEN)
			return Take::none;
		const uint8_t *p = im->rx.data();
		const size_t len = be32_at(p + 8) & BLOB_ATTR_LEN_MASK;
		if (len < sizeof(struct blob_attr))
			return Take::broken;
		const size_t total = sizeof(struct ubus_msghdr) + len;
		if (p[0] != 0 || pad4(len) > UBUS_WIRE_MAX_MSGLEN) {
			const size_t have = std::min(total, im->rx.size());
			im->rx.erase(im->rx.begin(), im->rx.begin() + static_cast<ptrdiff_t>(have));
			im->discard = total - have;
			continue;
		}
		if (im->rx.size() < total)
			return Take::none;
		memcpy(&out.hdr, p, sizeof(out.hdr));
		out.bytes.assign(p, p + total);
		im->rx.erase(im->rx.begin(), im->rx.begin() + static_cast<ptrdiff_t>(total));
		out.parse();
		return Take::msg;
	}
}

void mark_lost(Impl *im)
{
	im->ctx.sock.eof = true;
}

struct ubus_object *find_object(Impl *im, uint32_t id)
{
	for (auto *o : im->objects)
		if (o->id == id)
			return o;
	return nullptr;
}

bool is_event_object(Impl *im, struct ubus_object *obj)
{
	return std::find(im->event_objects.begin(), im->event_objects.end(), obj) != im->event_objects.end();
}

void forget_object(Impl *im, struct ubus_object *obj)
{
	auto &os = im->objects;
	os.erase(std::remove(os.begin(), os.end(), obj), os.end());
	auto &es = im->event_objects;
	es.erase(std::remove(es.begin(), es.end(), obj), es.end());
}

void send_status(Impl *im, uint16_t seq, uint32_t peer, int status, uint32_t objid)
{
	if (im->ctx.sock.eof)
		return;
	struct blob_buf &b = g_buf;
	if (blob_buf_init(&b, 0) == 0) {
		blob_put_int32(&b, UBUS_ATTR_STATUS, static_cast<uint32_t>(status));
		blob_put_int32(&b, UBUS_ATTR_OBJID, objid);
		if (!send_msg(im, UBUS_MSG_STATUS, seq, peer, b.head))
			mark_lost(im);
	}
}

// Serves one method call of a published object: the handler of the method
// named (the first match; a method without a name takes every call) gets
// the arguments unchecked, and its return value is the call's status
// unless it deferred the request.
int call_method(Impl *im, struct ubus_object *obj, Msg &m, struct ubus_request_data &req)
{
	const char *method = blob_get_string(m.tb[UBUS_ATTR_METHOD]);
	const struct ubus_method *found = nullptr;
	for (int i = 0; obj->methods && i < obj->n_methods && !found; i++)
		if (!obj->methods[i].name || !strcmp(obj->methods[i].name, method))
			found = &obj->methods[i];
	if (!found || !found->handler)
		return UBUS_STATUS_METHOD_NOT_FOUND;
	if (!m.tb[UBUS_ATTR_DATA])
		return UBUS_STATUS_INVALID_ARGUMENT;
	if (m.tb[UBUS_ATTR_USER] && m.tb[UBUS_ATTR_GROUP]) {
		req.acl.user = blob_get_string(m.tb[UBUS_ATTR_USER]);
		req.acl.group = blob_get_string(m.tb[UBUS_ATTR_GROUP]);
		req.acl.object = obj->name;
	}
	im->ctx.stack_depth++;
	const int ret = found->handler(&im->ctx, obj, &req, method, m.tb[UBUS_ATTR_DATA]);
	im->ctx.stack_depth--;
	return ret;
}

// Hands one event delivery or method call to its object and answers it.
// Like the platform's library, an unknown object or a missing method name
// is answered before the reply's address is known: with seq, peer and
// object id 0, which the bus drops.
void dispatch_invoke(Impl *im, Msg &m)
{
	if (!m.tb[UBUS_ATTR_OBJID])
		return;
	const uint32_t objid = blob_get_u32(m.tb[UBUS_ATTR_OBJID]);
	struct ubus_object *obj = find_object(im, objid);
	const bool no_reply = m.tb[UBUS_ATTR_NO_REPLY] && blob_get_u8(m.tb[UBUS_ATTR_NO_REPLY]);
	if (!obj || !m.tb[UBUS_ATTR_METHOD]) {
		if (!no_reply)
			send_status(im, 0, 0, obj ? UBUS_STATUS_INVALID_ARGUMENT : UBUS_STATUS_NOT_FOUND, 0);
		return;
	}
	struct ubus_request_data req = {};
	req.object = objid;
	req.peer = m.peer();
	req.seq = m.seq();
	req.fd = -1;
	req.req_fd = -1;
	int ret = UBUS_STATUS_OK;
	if (!is_event_object(im, obj)) {
		ret = call_method(im, obj, m, req);
	} else if (!m.tb[UBUS_ATTR_DATA]) {
		ret = UBUS_STATUS_INVALID_ARGUMENT;
	} else {
		auto *ev = container_of(obj, struct ubus_event_handler, obj);
		if (ev->cb) {
			im->ctx.stack_depth++;
			ev->cb(&im->ctx, ev, blob_get_string(m.tb[UBUS_ATTR_METHOD]), m.tb[UBUS_ATTR_DATA]);
			im->ctx.stack_depth--;
		}
	}
	if (!no_reply && !req.deferred)
		send_status(im, req.seq, req.peer, ret, objid);
}

// Hands queued deliveries to their handlers. A request made from inside a
// handler leaves what it queued to the outermost caller, so handlers that
// send do not nest ever deeper.
// Hands a monitor copy to the connection's monitor callback.
void dispatch_monitor(Impl *im, Msg &m)
{
	if (!im->ctx.monitor_cb)
		return;
	auto *root = reinterpret_cast<struct blob_attr *>(m.bytes.data() + sizeof(struct ubus_msghdr));
	im->ctx.stack_depth++;
	im->ctx.monitor_cb(&im->ctx, m.seq(), root);
	im->ctx.stack_depth--;
}

void dispatch(Impl *im, Msg &m)
{
	if (m.hdr.type == UBUS_MSG_INVOKE)
		dispatch_invoke(im, m);
	else if (m.hdr.type == UBUS_MSG_MONITOR)
		dispatch_monitor(im, m);
}

bool is_dispatched(uint8_t type)
{
	return type == UBUS_MSG_INVOKE || type == UBUS_MSG_MONITOR;
}

void dispatch_pending(Impl *im)
{
	if (im->ctx.stack_depth > 0)
		return;
	while (!im->pending.empty() && !im->ctx.sock.eof) {
		Msg m;
		memcpy(&m.hdr, im->pending.front().data(), sizeof(m.hdr));
		m.bytes = std::move(im->pending.front());
		im->pending.pop_front();
		m.parse();
		dispatch(im, m);
	}
}

void call_lost(Impl *im)
{
	if (im->ctx.sock.eof && im->ctx.connection_lost)
		im->ctx.connection_lost(&im->ctx);
}

int64_t now_ms()
{
	struct timespec ts;
	clock_gettime(CLOCK_MONOTONIC, &ts);
	return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

using DataFn = std::function<void(Msg &)>;

// Sends one request and waits for its STATUS, handing each DATA reply
// before it to `on_data`. With a `timeout_ms` above 0 the wait ends there
// with TIMEOUT; replies that come later match nothing and are dropped.
int sync_request(Impl *im, uint8_t type, uint32_t peer, struct blob_buf *b, const DataFn &on_data,
		 int timeout_ms = 0)
{
	struct ubus_context *ctx = &im->ctx;
	if (ctx->sock.eof)
		return UBUS_STATUS_INVALID_ARGUMENT;
	const uint16_t seq = ++ctx->request_seq;
	if (!send_msg(im, type, seq, peer, b->head)) {
		if (errno == EPIPE || errno == ECONNRESET)
			mark_lost(im);
		return UBUS_STATUS_INVALID_ARGUMENT;
	}
	const int64_t deadline = timeout_ms > 0 ? now_ms() + timeout_ms : 0;
	int status = -1;
	while (status < 0) {
		Msg m;
		Take t;
		while (status < 0 && (t = take_msg(im, m)) == Take::msg) {
			const uint8_t mtype = m.hdr.type;
			if ((mtype == UBUS_MSG_STATUS || mtype == UBUS_MSG_DATA) && m.seq() == seq && m.peer() == peer) {
				if (mtype == UBUS_MSG_DATA) {
					if (on_data) {
						ctx->stack_depth++;
						on_data(m);
						ctx->stack_depth--;
					}
				} else {
					status = m.tb[UBUS_ATTR_STATUS]
							 ? static_cast<int>(blob_get_u32(m.tb[UBUS_ATTR_STATUS]))
							 : UBUS_STATUS_INVALID_ARGUMENT;
				}
			} else if (is_dispatched(mtype)) {
				im->pending.push_back(std::move(m.bytes));
			}
		}
		if (status >= 0)
			break;
		if (t == Take::broken) {
			mark_lost(im);
			status = UBUS_STATUS_CONNECTION_FAILED;
			break;
		}
		int wait = -1;
		if (deadline) {
			const int64_t left = deadline - now_ms();
			if (left <= 0) {
				status = UBUS_STATUS_TIMEOUT;
				break;
			}
			wait = static_cast<int>(left);
		}
		struct pollfd p = {ctx->sock.fd, POLLIN, 0};
		const int n = poll(&p, 1, wait);
		if (n < 0 && errno != EINTR) {
			mark_lost(im);
			status = UBUS_STATUS_CONNECTION_FAILED;
			break;
		}
		if (n <= 0)
			continue;
		if (!read_some(im)) {
			mark_lost(im);
			status = UBUS_STATUS_CONNECTION_FAILED;
			break;
		}
	}
	if (ctx->sock.eof) {
		call_lost(im);
		return UBUS_STATUS_CONNECTION_FAILED;
	}
	// Whole messages read along with the answer would not make the socket
	// readable again: take them now.
	Msg rest;
	Take t;
	while ((t = take_msg(im, rest)) == Take::msg) {
		if (is_dispatched(rest.hdr.type))
			im->pending.push_back(std::move(rest.bytes));
	}
	if (t == Take::broken) {
		mark_lost(im);
		call_lost(im);
	}
	dispatch_pending(im);
	return status;
}

// The descriptor callback: reads what is waiting and runs the handlers.
void sock_cb(struct uloop_fd *u, unsigned int /*events*/)
{
	auto *ctx = reinterpret_cast<struct ubus_context *>(reinterpret_cast<char *>(u) -
							     offsetof(struct ubus_context, sock));
	Impl *im = impl_of(ctx);
	if (!ctx->sock.eof) {
		dispatch_pending(im);
		if (!read_some(im))
			mark_lost(im);
		Msg m;
		Take t;
		while (!ctx->sock.eof && (t = take_msg(im, m)) != Take::none) {
			if (t == Take::broken) {
				mark_lost(im);
				break;
			}
			if (is_dispatched(m.hdr.type)) {
				dispatch(im, m);
				dispatch_pending(im);
			}
		}
	}
	call_lost(im);
}

Impl *new_impl(int fd)
{
	Impl *im = new (std::nothrow) Impl();
	if (!im)
		return nullptr;
	INIT_LIST_HEAD(&im->ctx.requests);
	INIT_LIST_HEAD(&im->ctx.pending);
	im->ctx.sock.fd = fd;
	im->ctx.sock.cb = sock_cb;
	return im;
}

// A connect interrupted by a signal goes on in the background: wait for
// its outcome.
bool connect_finished(int fd)
{
	if (errno != EINTR)
		return false;
	struct pollfd p = {fd, POLLOUT, 0};
	while (poll(&p, 1, -1) < 0)
		if (errno != EINTR)
			return false;
	int err = 0;
	socklen_t len = sizeof(err);
	return getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err == 0;
}

bool read_full(int fd, uint8_t *p, size_t n)
{
	while (n) {
		ssize_t r = read(fd, p, n);
		if (r < 0 && errno == EINTR)
			continue;
		if (r <= 0)
			return false;
		p += r;
		n -= static_cast<size_t>(r);
	}
	return true;
}

// Connects to the bus at `path` and takes its greeting: the non-blocking
// descriptor, or -1; `id_out` gets the client id.
int open_bus(const char *path, uint32_t &id_out)
{
	if (!path)
		path = UBUS_WIRE_DEFAULT_SOCKET;
	struct sockaddr_un sun = {};
	sun.sun_family = AF_UNIX;
	if (strlen(path) >= sizeof(sun.sun_path))
		return -1;
	memcpy(sun.sun_path, path, strlen(path) + 1);

	int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
	if (fd < 0)
		return -1;
	if (connect(fd, reinterpret_cast<struct sockaddr *>(&sun), sizeof(sun)) < 0 && !connect_finished(fd)) {
		close(fd);
		return -1;
	}
	uint8_t hello[UBUS_WIRE_PREFIX_LEN];
	struct ubus_msghdr hdr;
	if (!read_full(fd, hello, sizeof(hello))) {
		close(fd);
		return -1;
	}
	memcpy(&hdr, hello, sizeof(hdr));
	const size_t len = be32_at(hello + 8) & BLOB_ATTR_LEN_MASK;
	const uint32_t id = be32_to_cpu(hdr.peer);
	if (hdr.version != 0 || hdr.type != UBUS_MSG_HELLO || len < sizeof(struct blob_attr) ||
	    pad4(len) > UBUS_WIRE_MAX_MSGLEN || id <= 1) {
		close(fd);
		return -1;
	}
	std::vector<uint8_t> rest(len - sizeof(struct blob_attr));
	if (!rest.empty() && !read_full(fd, rest.data(), rest.size())) {
		close(fd);
		return -1;
	}
	int fl = fcntl(fd, F_GETFL);
	if (fl < 0 || fcntl(fd, F_SETFL, fl | O_NONBLOCK) < 0) {
		close(fd);
		return -1;
	}
	id_out = id;
	return fd;
}

} // namespace

extern "C" {

struct ubus_context *ubus_connect(const char *path)
{
	uloop_init();
	uint32_t id = 0;
	const int fd = open_bus(path, id);
	if (fd < 0)
		return nullptr;
	Impl *im = new_impl(fd);
	if (!im) {
		close(fd);
		return nullptr;
	}
	im->ctx.local_id = id;
	return &im->ctx;
}

struct ubus_context *ubus_client_adopt_fd(int fd, uint32_t local_id)
{
	Impl *im = new_impl(fd);
	if (!im)
		return nullptr;
	im->ctx.local_id = local_id;
	return &im->ctx;
}

void ubus_client_attach_handler(struct ubus_context *ctx, struct ubus_event_handler *ev, uint32_t id)
{
	ev->obj.id = id;
	impl_of(ctx)->objects.push_back(&ev->obj);
	impl_of(ctx)->event_objects.push_back(&ev->obj);
}

void ubus_client_attach_object(struct ubus_context *ctx, struct ubus_object *obj, uint32_t id)
{
	obj->id = id;
	impl_of(ctx)->objects.push_back(obj);
}

void ubus_free(struct ubus_context *ctx)
{
	if (!ctx)
		return;
	Impl *im = impl_of(ctx);
	if (ctx->sock.fd >= 0)
		close(ctx->sock.fd);
	delete im;
	blob_buf_free(&g_buf);
}

const char *ubus_strerror(int error)
{
	static const char *const texts[__UBUS_STATUS_LAST] = {
		"Success",
		"Invalid command",
		"Invalid argument",
		"Method not found",
		"Not found",
		"No response",
		"Permission denied",
		"Request timed out",
		"Operation not supported",
		"Unknown error",
		"Connection failed",
		"Out of memory",
		"Parsing message data failed",
		"System error",
	};
	static thread_local char unknown[32];
	if (error >= 0 && error < __UBUS_STATUS_LAST)
		return texts[error];
	snprintf(unknown, sizeof(unknown), "Unknown error: %d", error);
	return unknown;
}

int ubus_register_event_handler(struct ubus_context *ctx, struct ubus_event_handler *ev, const char *pattern)
{
	if (!ctx || !ev)
		return UBUS_STATUS_INVALID_ARGUMENT;
	Impl *im = impl_of(ctx);
	struct blob_buf &b = g_buf;
	int ret = UBUS_STATUS_OK;

	if (!ev->obj.id) {
		if (!!ev->obj.name != !!ev->obj.type)
			return UBUS_STATUS_INVALID_ARGUMENT;
		if (blob_buf_init(&b, 0) != 0)
			return UBUS_STATUS_NO_MEMORY;
		if (ev->obj.name)
			blob_put_string(&b, UBUS_ATTR_OBJPATH, ev->obj.name);
		uint32_t id = 0;
		ret = sync_request(im, UBUS_MSG_ADD_OBJECT, 0, &b, [&id](Msg &m) {
			if (m.tb[UBUS_ATTR_OBJID])
				id = blob_get_u32(m.tb[UBUS_ATTR_OBJID]);
		});
		if (ret == UBUS_STATUS_OK && !id)
			ret = UBUS_STATUS_NO_DATA;
		if (ret != UBUS_STATUS_OK) {
			return ret;
		}
		ev->obj.id = id;
		im->objects.push_back(&ev->obj);
		im->event_objects.push_back(&ev->obj);
	}

	if (blob_buf_init(&b, 0) != 0) {
		return UBUS_STATUS_NO_MEMORY;
	}
	blob_put_int32(&b, UBUS_ATTR_OBJID, UBUS_SYSTEM_OBJECT_EVENT);
	blob_put_string(&b, UBUS_ATTR_METHOD, "register");
	void *data = blob_nest_start(&b, UBUS_ATTR_DATA);
	blobmsg_add_u32(&b, "object", ev->obj.id);
	if (pattern)
		blobmsg_add_string(&b, "pattern", pattern);
	blob_nest_end(&b, data);
	ret = sync_request(im, UBUS_MSG_INVOKE, UBUS_SYSTEM_OBJECT_EVENT, &b, nullptr);
	return ret;
}

int ubus_send_event(struct ubus_context *ctx, const char *id, struct blob_attr *data)
{
	if (!ctx || !id || !data)
		return UBUS_STATUS_INVALID_ARGUMENT;
	Impl *im = impl_of(ctx);
	struct blob_buf &b = g_buf;
	if (blob_buf_init(&b, 0) != 0)
		return UBUS_STATUS_NO_MEMORY;
	int ret = UBUS_STATUS_INVALID_ARGUMENT;
	blob_put_int32(&b, UBUS_ATTR_OBJID, UBUS_SYSTEM_OBJECT_EVENT);
	blob_put_string(&b, UBUS_ATTR_METHOD, "send");
	void *nest = blob_nest_start(&b, UBUS_ATTR_DATA);
	if (nest && blobmsg_add_string(&b, "id", id) == 0 &&
	    blobmsg_add_field(&b, BLOBMSG_TYPE_TABLE, "data", blob_data(data),
			      static_cast<unsigned int>(blob_len(data))) == 0) {
		blob_nest_end(&b, nest);
		if (blob_len(b.head) <= UBUS_WIRE_MAX_MSGLEN)
			ret = sync_request(im, UBUS_MSG_INVOKE, UBUS_SYSTEM_OBJECT_EVENT, &b, nullptr);
	}
	return ret;
}

static int monitor_call(struct ubus_context *ctx, const char *method)
{
	if (!ctx)
		return UBUS_STATUS_INVALID_ARGUMENT;
	struct blob_buf &b = g_buf;
	if (blob_buf_init(&b, 0) != 0)
		return UBUS_STATUS_NO_MEMORY;
	blob_put_int32(&b, UBUS_ATTR_OBJID, UBUS_SYSTEM_OBJECT_MONITOR);
	blob_put_string(&b, UBUS_ATTR_METHOD, method);
	void *data = blob_nest_start(&b, UBUS_ATTR_DATA);
	blob_nest_end(&b, data);
	const int ret = sync_request(impl_of(ctx), UBUS_MSG_INVOKE, UBUS_SYSTEM_OBJECT_MONITOR, &b, nullptr);
	return ret;
}

int ubus_monitor_start(struct ubus_context *ctx)
{
	return monitor_call(ctx, "add");
}

int ubus_monitor_stop(struct ubus_context *ctx)
{
	return monitor_call(ctx, "remove");
}

int ubus_remove_object(struct ubus_context *ctx, struct ubus_object *obj)
{
	if (!ctx || !obj)
		return UBUS_STATUS_INVALID_ARGUMENT;
	Impl *im = impl_of(ctx);
	struct blob_buf &b = g_buf;
	if (blob_buf_init(&b, 0) != 0)
		return UBUS_STATUS_NO_MEMORY;
	blob_put_int32(&b, UBUS_ATTR_OBJID, obj->id);
	// The DATA answer takes the object off the connection; a type id comes
	// with it when this was the type's last object on the bus.
	bool removed = false;
	int ret = sync_request(im, UBUS_MSG_REMOVE_OBJECT, 0, &b, [&](Msg &m) {
		if (!m.tb[UBUS_ATTR_OBJID])
			return;
		removed = true;
		obj->id = 0;
		forget_object(im, obj);
		if (m.tb[UBUS_ATTR_OBJTYPE] && obj->type)
			obj->type->id = 0;
	});
	if (ret == UBUS_STATUS_OK && !removed)
		ret = UBUS_STATUS_NO_DATA;
	return ret;
}

// The signature of a type: one table per method, one entry per announced
// argument holding its blobmsg type number.
static bool put_signature(struct blob_buf *b, const struct ubus_object_type *type)
{
	void *sig = blob_nest_start(b, UBUS_ATTR_SIGNATURE);
	if (!sig)
		return false;
	for (int i = 0; type->methods && i < type->n_methods; i++) {
		const struct ubus_method &m = type->methods[i];
		void *tbl = blobmsg_open_table(b, m.name);
		if (!tbl)
			return false;
		for (int j = 0; m.policy && j < m.n_policy; j++) {
			if (m.mask && !(m.mask & (1ul << j)))
				continue;
			if (blobmsg_add_u32(b, m.policy[j].name, m.policy[j].type) != 0)
				return false;
		}
		blobmsg_close_table(b, tbl);
	}
	blob_nest_end(b, sig);
	return true;
}

// Adds one object; `anonymous` forces an object without path and type (an
// event handler's).
static int add_object(Impl *im, struct ubus_object *obj, bool anonymous)
{
	struct blob_buf &b = g_buf;
	if (blob_buf_init(&b, 0) != 0)
		return UBUS_STATUS_NO_MEMORY;
	if (!anonymous && obj->name && obj->type) {
		blob_put_string(&b, UBUS_ATTR_OBJPATH, obj->name);
		if (obj->type->id)
			blob_put_int32(&b, UBUS_ATTR_OBJTYPE, obj->type->id);
		else if (!put_signature(&b, obj->type))
			return UBUS_STATUS_INVALID_ARGUMENT;
	}
	uint32_t id = 0;
	int ret = sync_request(im, UBUS_MSG_ADD_OBJECT, 0, &b, [&](Msg &m) {
		if (!m.tb[UBUS_ATTR_OBJID])
			return;
		id = blob_get_u32(m.tb[UBUS_ATTR_OBJID]);
		if (m.tb[UBUS_ATTR_OBJTYPE] && obj->type && !anonymous)
			obj->type->id = blob_get_u32(m.tb[UBUS_ATTR_OBJTYPE]);
	});
	if (ret != UBUS_STATUS_OK)
		return ret;
	if (!id)
		return UBUS_STATUS_NO_DATA;
	obj->id = id;
	if (std::find(im->objects.begin(), im->objects.end(), obj) == im->objects.end())
		im->objects.push_back(obj);
	return UBUS_STATUS_OK;
}

int ubus_add_object(struct ubus_context *ctx, struct ubus_object *obj)
{
	if (!ctx || !obj)
		return UBUS_STATUS_INVALID_ARGUMENT;
	return add_object(impl_of(ctx), obj, false);
}

int ubus_reconnect(struct ubus_context *ctx, const char *path)
{
	if (!ctx)
		return UBUS_STATUS_INVALID_ARGUMENT;
	Impl *im = impl_of(ctx);
	uint32_t id = 0;
	const int fd = open_bus(path, id);
	if (fd < 0)
		return UBUS_STATUS_CONNECTION_FAILED;
	if (ctx->sock.fd >= 0)
		close(ctx->sock.fd);
	ctx->sock.fd = fd;
	ctx->sock.eof = false;
	ctx->sock.error = false;
	ctx->local_id = id;
	im->rx.clear();
	im->discard = 0;
	im->pending.clear();
	// Every object comes back under a new id, its type's signature sent
	// again; event registrations are left to the application.
	const std::vector<struct ubus_object *> objs = im->objects;
	for (struct ubus_object *o : objs)
		if (o->type)
			o->type->id = 0;
	for (struct ubus_object *o : objs) {
		o->id = 0;
		add_object(im, o, is_event_object(im, o));
	}
	return UBUS_STATUS_OK;
}

static int do_lookup(Impl *im, const char *path, const DataFn &on_data)
{
	struct blob_buf &b = g_buf;
	if (blob_buf_init(&b, 0) != 0)
		return UBUS_STATUS_NO_MEMORY;
	if (path)
		blob_put_string(&b, UBUS_ATTR_OBJPATH, path);
	return sync_request(im, UBUS_MSG_LOOKUP, 0, &b, on_data);
}

int ubus_lookup(struct ubus_context *ctx, const char *path, ubus_lookup_handler_t cb, void *priv)
{
	if (!ctx)
		return UBUS_STATUS_INVALID_ARGUMENT;
	return do_lookup(impl_of(ctx), path, [&](Msg &m) {
		if (!cb || !m.tb[UBUS_ATTR_OBJID] || !m.tb[UBUS_ATTR_OBJPATH] || !m.tb[UBUS_ATTR_OBJTYPE])
			return;
		struct ubus_object_data d = {};
		d.id = blob_get_u32(m.tb[UBUS_ATTR_OBJID]);
		d.type_id = blob_get_u32(m.tb[UBUS_ATTR_OBJTYPE]);
		d.path = blob_get_string(m.tb[UBUS_ATTR_OBJPATH]);
		d.signature = m.tb[UBUS_ATTR_SIGNATURE];
		cb(ctx, &d, priv);
	});
}

int ubus_lookup_id(struct ubus_context *ctx, const char *path, uint32_t *id)
{
	if (!ctx || !path || !id)
		return UBUS_STATUS_INVALID_ARGUMENT;
	return do_lookup(impl_of(ctx), path, [id](Msg &m) {
		if (m.tb[UBUS_ATTR_OBJID])
			*id = blob_get_u32(m.tb[UBUS_ATTR_OBJID]);
	});
}

int ubus_invoke_fd(struct ubus_context *ctx, uint32_t obj, const char *method, struct blob_attr *msg,
		   ubus_data_handler_t cb, void *priv, int timeout, int fd)
{
	if (!ctx || !method)
		return UBUS_STATUS_INVALID_ARGUMENT;
	if (fd >= 0)
		return UBUS_STATUS_NOT_SUPPORTED;
	Impl *im = impl_of(ctx);
	struct blob_buf &b = g_buf;
	if (blob_buf_init(&b, 0) != 0)
		return UBUS_STATUS_NO_MEMORY;
	blob_put_int32(&b, UBUS_ATTR_OBJID, obj);
	blob_put_string(&b, UBUS_ATTR_METHOD, method);
	if (!blob_put(&b, UBUS_ATTR_DATA, msg ? blob_data(msg) : nullptr, msg ? static_cast<unsigned int>(blob_len(msg)) : 0))
		return UBUS_STATUS_INVALID_ARGUMENT;
	struct ubus_request req = {};
	INIT_LIST_HEAD(&req.list);
	INIT_LIST_HEAD(&req.pending);
	req.peer = obj;
	req.seq = static_cast<uint16_t>(ctx->request_seq + 1);
	req.data_cb = cb;
	req.fd = -1;
	req.ctx = ctx;
	req.priv = priv;
	return sync_request(im, UBUS_MSG_INVOKE, obj, &b, [&req](Msg &m) {
		if (req.data_cb && m.tb[UBUS_ATTR_DATA])
			req.data_cb(&req, UBUS_MSG_DATA, m.tb[UBUS_ATTR_DATA]);
	}, timeout);
}

int ubus_send_reply(struct ubus_context *ctx, struct ubus_request_data *req, struct blob_attr *msg)
{
	if (!ctx || !req || !msg)
		return UBUS_STATUS_INVALID_ARGUMENT;
	Impl *im = impl_of(ctx);
	struct blob_buf &b = g_buf;
	if (blob_buf_init(&b, 0) != 0)
		return UBUS_STATUS_NO_MEMORY;
	blob_put_int32(&b, UBUS_ATTR_OBJID, req->object);
	if (!blob_put(&b, UBUS_ATTR_DATA, blob_data(msg), static_cast<unsigned int>(blob_len(msg))))
		return UBUS_STATUS_INVALID_ARGUMENT;
	if (ctx->sock.eof || !send_msg(im, UBUS_MSG_DATA, req->seq, req->peer, b.head))
		return UBUS_STATUS_NO_DATA;
	return UBUS_STATUS_OK;
}

void ubus_complete_deferred_request(struct ubus_context *ctx, struct ubus_request_data *req, int ret)
{
	if (!ctx || !req)
		return;
	send_status(impl_of(ctx), req->seq, req->peer, ret, req->object);
}

} // extern "C"

