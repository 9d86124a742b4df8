// ubus: the bus tool. `list` shows the objects on the bus (with -v their
// methods), `call` calls a method with a JSON object as its arguments and
// prints the replies, `wait_for` waits until objects are there, `listen`
// prints the events matching the given patterns, `send` sends an event
// with a JSON object as its data, and `send-raw` sends an event whose one
// attribute carries a file's bytes unchanged (the way the wifi manager
// sends its fixed-size records).

#include <libubus.h>

#include "json.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <poll.h>
#include <time.h>
#include <unistd.h>

namespace {

volatile sig_atomic_t g_stop = 0;
bool g_raw_hex = false;
bool g_simple = false;
bool g_verbose = false;

void on_signal(int)
{
	g_stop = 1;
}

int usage(const char *prog)
{
	fprintf(stderr,
		"Usage: %s [<options>] <command> [arguments...]\n"
		"Options:\n"
		" -s <socket>:\t\tSet the unix domain socket to connect to\n"
		" -t <timeout>:\t\tSet the timeout (in seconds) for a command to complete\n"
		" -S:\t\t\tUse simplified output (for scripts)\n"
		" -x:\t\t\tPrint raw (untyped) event values as hex strings\n"
		" -m <type>:\t\tMonitor only this message type (repeatable)\n"
		" -M <r|t>:\t\tMonitor only messages received (r) or sent (t) by the bus\n"
		"\n"
		"Commands:\n"
		" - list [<path>]\t\t\tList objects\n"
		" - call <path> <method> [<message>]\tCall an object method\n"
		" - wait_for <object> [<object>...]\tWait for multiple objects to appear on ubus\n"
		" - listen [<path>...]\t\t\tListen for events\n"
		" - send <type> [<message>]\t\tSend an event\n"
		" - send-raw <type> <file> [<name>]\tSend an event whose one attribute\n"
		"\t\t\t\t\t<name> (default <type>) holds the file's bytes\n"
		" - monitor\t\t\t\tMonitor bus traffic\n"
		"\n",
		prog);
	return 254;
}

void on_event(struct ubus_context *, struct ubus_event_handler *, const char *type, struct blob_attr *msg)
{
	const std::string body = ubusjson::format_list(blob_data(msg), blob_len(msg), false, g_raw_hex);
	const std::string name = ubusjson::quote(type, strlen(type));
	printf("{ %s: %s }\n", name.c_str(), body.c_str());
	fflush(stdout);
}

double now()
{
	struct timespec ts;
	clock_gettime(CLOCK_MONOTONIC, &ts);
	return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

void serve(struct ubus_context *ctx, int timeout);

// -v list: a method's arguments with the names of their types.
void print_method(struct blob_attr *m)
{
	// Appended piece by piece: g++ 12 at -O2 takes "literal" + std::string&&
	// for an overlapping copy (-Wrestrict).
	std::string line = "\t";
	line += ubusjson::quote(blobmsg_name(m), strlen(blobmsg_name(m)));
	line += ":{";
	bool first = true;
	struct blob_attr *arg;
	size_t rem;
	if (blobmsg_type(m) == BLOBMSG_TYPE_TABLE) {
		blobmsg_for_each_attr(arg, m, rem) {
			if (!blobmsg_check_attr_len(arg, false, rem))
				break;
			const char *type = "(unknown)";
			if (blobmsg_type(arg) == BLOBMSG_TYPE_INT32) {
				switch (blobmsg_get_u32(arg)) {
				case BLOBMSG_TYPE_BOOL: type = "Boolean"; break;
				case BLOBMSG_TYPE_INT32: type = "Integer"; break;
				case BLOBMSG_TYPE_STRING: type = "String"; break;
				case BLOBMSG_TYPE_ARRAY: type = "Array"; break;
				case BLOBMSG_TYPE_TABLE: type = "Table"; break;
				default: break;
				}
			}
			line += first ? "" : ",";
			line += ubusjson::quote(blobmsg_name(arg), strlen(blobmsg_name(arg)));
			line += ":\"";
			line += type;
			line += "\"";
			first = false;
		}
	}
	printf("%s}\n", line.c_str());
}

void on_object(struct ubus_context *, struct ubus_object_data *obj, void *)
{
	if (!g_verbose || g_simple) {
		printf("%s\n", obj->path);
		return;
	}
	printf("'%s' @%08x\n", obj->path, obj->id);
	struct blob_attr *m;
	size_t rem;
	if (obj->signature)
		blob_for_each_attr(m, obj->signature, rem)
			if (blobmsg_check_attr_len(m, false, rem) && blob_is_extended(m))
				print_method(m);
}

int cmd_list(struct ubus_context *ctx, const std::vector<std::string> &args)
{
	if (args.size() > 1)
		return -1;
	const int ret = ubus_lookup(ctx, args.empty() ? nullptr : args[0].c_str(), on_object, nullptr);
	fflush(stdout);
	return ret;
}

void on_reply(struct ubus_request *, int, struct blob_attr *msg)
{
	const std::string json = g_simple ? ubusjson::format_list(blob_data(msg), blob_len(msg), false)
					  : ubusjson::format_indented(blob_data(msg), blob_len(msg));
	printf("%s\n", json.c_str());
	fflush(stdout);
}

// A failed call: in scripts (standard error not a terminal) the whole
// command is repeated in the message and the status is 256 - n.
int call_failed(const std::vector<std::string> &args, int n)
{
	if (g_simple)
		return n;
	if (isatty(STDERR_FILENO)) {
		fprintf(stderr, "Command failed: %s\n", ubus_strerror(n));
		return n;
	}
	std::string cmd = "ubus call ";
	for (const std::string &a : args)
		cmd += a + " ";
	fprintf(stderr, "Command failed: %s(%s)\n", cmd.c_str(), ubus_strerror(n));
	// A status beyond the known ones wraps around to a small one, which is
	// reported once more in short.
	const int code = (256 - n) & 0xff;
	if (code > 0 && code < __UBUS_STATUS_LAST)
		fprintf(stderr, "Command failed: %s\n", ubus_strerror(code));
	return code;
}

int cmd_call(struct ubus_context *ctx, int timeout, const std::vector<std::string> &args)
{
	if (args.size() < 2 || args.size() > 3)
		return -1;
	struct blob_buf b = {};
	blob_buf_init(&b, 0);
	int ret;
	uint32_t id = 0;
	if (args.size() == 3 && !ubusjson::add_object(&b, args[2])) {
		ret = call_failed(args, UBUS_STATUS_PARSE_ERROR);
	} else if ((ret = ubus_lookup_id(ctx, args[0].c_str(), &id)) != 0) {
		if (!g_simple)
			fprintf(stderr, "Command failed: %s\n", ubus_strerror(ret));
	} else if ((ret = ubus_invoke(ctx, id, args[1].c_str(), b.head, on_reply, nullptr, timeout * 1000)) != 0) {
		ret = call_failed(args, ret);
	}
	blob_buf_free(&b);
	return ret;
}

// wait_for: the names still missing.
std::vector<std::string> g_missing;

void tick_off(const char *path)
{
	for (size_t i = 0; i < g_missing.size(); i++)
		if (g_missing[i] == path)
			g_missing.erase(g_missing.begin() + static_cast<ptrdiff_t>(i--));
	if (g_missing.empty())
		g_stop = 1;
}

void on_listed(struct ubus_context *, struct ubus_object_data *obj, void *)
{
	tick_off(obj->path);
}

void on_object_added(struct ubus_context *, struct ubus_event_handler *, const char *, struct blob_attr *msg)
{
	static const struct blobmsg_policy pol = {"path", BLOBMSG_TYPE_STRING};
	struct blob_attr *path;
	if (blobmsg_parse(&pol, 1, &path, blob_data(msg), static_cast<unsigned int>(blob_len(msg))) == 0 && path)
		tick_off(blobmsg_get_string(path));
}

int cmd_wait_for(struct ubus_context *ctx, int timeout, const std::vector<std::string> &args)
{
	if (args.empty())
		return -1;
	static struct ubus_event_handler added;
	added = {};
	added.cb = on_object_added;
	g_missing = args;
	int ret = ubus_register_event_handler(ctx, &added, "ubus.object.add");
	if (!ret)
		ret = ubus_lookup(ctx, nullptr, on_listed, nullptr);
	if (ret)
		return ret;
	if (!g_missing.empty() && timeout > 0)
		serve(ctx, timeout);
	return g_missing.empty() ? 0 : UBUS_STATUS_TIMEOUT;
}

int cmd_listen(struct ubus_context *ctx, int timeout, bool simple, const std::vector<std::string> &patterns)
{
	static struct ubus_event_handler listener;
	listener = {};
	listener.cb = on_event;
	std::vector<std::string> pats = patterns;
	if (pats.empty())
		pats.push_back("*");
	for (const std::string &p : pats) {
		const int ret = ubus_register_event_handler(ctx, &listener, p.c_str());
		if (ret) {
			if (!simple)
				fprintf(stderr, "Error while registering for event '%s': %s\n", p.c_str(),
					ubus_strerror(ret));
			return 255;
		}
	}
	serve(ctx, timeout);
	return 0;
}

// Monitor type filter (bit per message type; all when none given) and
// direction filter ('r' received by the bus, 't' sent by it, 0 both).
unsigned g_monitor_types = 0;
char g_monitor_dir = 0;

const char *type_name(unsigned type)
{
	static const char *const names[] = {"hello", "status", "data", "ping", "lookup", "invoke",
					    "add_object", "remove_object", "subscribe", "unsubscribe", "notify"};
	return type < sizeof(names) / sizeof(names[0]) ? names[type] : nullptr;
}

int type_by_name(const char *name)
{
	for (unsigned t = 0; type_name(t); t++)
		if (!strcmp(type_name(t), name))
			return static_cast<int>(t);
	return -1;
}

// Compact JSON of a copied message's envelope attributes.
std::string envelope_json(struct blob_attr *data)
{
	static const struct blob_attr_info policy[UBUS_ATTR_MAX] = {
		{BLOB_ATTR_UNSPEC, 0, 0, nullptr}, {BLOB_ATTR_INT32, 0, 0, nullptr}, {BLOB_ATTR_STRING, 0, 0, nullptr},
		{BLOB_ATTR_INT32, 0, 0, nullptr},  {BLOB_ATTR_STRING, 0, 0, nullptr}, {BLOB_ATTR_INT32, 0, 0, nullptr},
		{BLOB_ATTR_NESTED, 0, 0, nullptr}, {BLOB_ATTR_NESTED, 0, 0, nullptr}, {BLOB_ATTR_INT32, 0, 0, nullptr},
		{BLOB_ATTR_INT8, 0, 0, nullptr},   {BLOB_ATTR_INT8, 0, 0, nullptr},   {BLOB_ATTR_NESTED, 0, 0, nullptr},
		{BLOB_ATTR_STRING, 0, 0, nullptr}, {BLOB_ATTR_STRING, 0, 0, nullptr},
	};
	static const char *const keys[UBUS_ATTR_MAX] = {nullptr,     "status", "objpath", "objid",  "method",
							"objtype",   "signature", "data", nullptr,  "active",
							"no_reply",  nullptr,  "user",    "group"};
	struct blob_attr *tb[UBUS_ATTR_MAX];
	blob_parse_untrusted(data, blob_raw_len(data), tb, policy, UBUS_ATTR_MAX);
	std::string out = "{";
	char num[32];
	for (int i = 0; i < UBUS_ATTR_MAX; i++) {
		if (!keys[i] || !tb[i])
			continue;
		if (out.size() > 1)
			out += ',';
		out += ubusjson::quote(keys[i], strlen(keys[i]));
		out += ':';
		switch (policy[i].type) {
		case BLOB_ATTR_INT32:
			snprintf(num, sizeof(num), "%d", static_cast<int>(blob_get_int32(tb[i])));
			out += num;
			break;
		case BLOB_ATTR_INT8:
			snprintf(num, sizeof(num), "%d", blob_get_u8(tb[i]));
			out += num;
			break;
		case BLOB_ATTR_STRING:
			out += ubusjson::quote(blob_get_string(tb[i]), strlen(blob_get_string(tb[i])));
			break;
		default:
			out += ubusjson::format_list(blob_data(tb[i]), blob_len(tb[i]), false, g_raw_hex);
			break;
		}
	}
	return out + "}";
}

void on_monitor(struct ubus_context *, uint32_t, struct blob_attr *msg)
{
	static const struct blob_attr_info policy[UBUS_MONITOR_MAX] = {
		{BLOB_ATTR_INT32, 0, 0, nullptr}, {BLOB_ATTR_INT32, 0, 0, nullptr}, {BLOB_ATTR_INT8, 0, 0, nullptr},
		{BLOB_ATTR_INT32, 0, 0, nullptr}, {BLOB_ATTR_INT32, 0, 0, nullptr}, {BLOB_ATTR_NESTED, 0, 0, nullptr},
	};
	struct blob_attr *tb[UBUS_MONITOR_MAX];
	blob_parse_untrusted(msg, blob_raw_len(msg), tb, policy, UBUS_MONITOR_MAX);
	if (!tb[UBUS_MONITOR_CLIENT] || !tb[UBUS_MONITOR_PEER] || !tb[UBUS_MONITOR_SEND] || !tb[UBUS_MONITOR_TYPE] ||
	    !tb[UBUS_MONITOR_DATA]) {
		fprintf(stderr, "Invalid monitor msg\n");
		return;
	}
	const bool send = blob_get_u8(tb[UBUS_MONITOR_SEND]) != 0;
	const uint32_t type = blob_get_u32(tb[UBUS_MONITOR_TYPE]);
	if (g_monitor_dir == 'r' && send)
		return;
	if (g_monitor_dir == 't' && !send)
		return;
	if (g_monitor_types && (type >= 32 || !(g_monitor_types & (1u << type))))
		return;
	char tname[16];
	const char *name = type_name(type);
	if (!name) {
		snprintf(tname, sizeof(tname), "%u", type);
		name = tname;
	}
	const std::string body = envelope_json(tb[UBUS_MONITOR_DATA]);
	printf("%s %08x #%08x %14s: %s\n", send ? "->" : "<-", blob_get_u32(tb[UBUS_MONITOR_CLIENT]),
	       blob_get_u32(tb[UBUS_MONITOR_PEER]), name, body.c_str());
	fflush(stdout);
}

// Serves the connection until the time-out (0: none) or a signal.
void serve(struct ubus_context *ctx, int timeout)
{
	const double end = timeout > 0 ? now() + timeout : 0;
	while (!g_stop) {
		int wait_ms = -1;
		if (timeout > 0) {
			const double left = end - now();
			if (left <= 0)
				break;
			wait_ms = static_cast<int>(left * 1000) + 1;
		}
		// Once the bus is gone the socket is no longer watched; the tool
		// waits for its time-out or a signal.
		struct pollfd p = {ctx->sock.eof ? -1 : ctx->sock.fd, POLLIN, 0};
		const int n = poll(&p, 1, wait_ms);
		if (n < 0 && errno != EINTR)
			break;
		if (n > 0 && (p.revents & (POLLIN | POLLHUP | POLLERR)))
			ctx->sock.cb(&ctx->sock, ULOOP_READ);
	}
}

int cmd_monitor(struct ubus_context *ctx, int timeout)
{
	ctx->monitor_cb = on_monitor;
	const int ret = ubus_monitor_start(ctx);
	if (ret) {
		fprintf(stderr, "Command failed: %s\n", ubus_strerror(ret));
		return ret;
	}
	serve(ctx, timeout);
	if (!ctx->sock.eof)
		ubus_monitor_stop(ctx);
	return 0;
}

int finish_send(struct ubus_context *ctx, const char *type, struct blob_buf *b)
{
	const int ret = ubus_send_event(ctx, type, b->head);
	if (ret) {
		fprintf(stderr, "Command failed: %s\n", ubus_strerror(ret));
		return ret;
	}
	return 0;
}

int cmd_send(struct ubus_context *ctx, const std::vector<std::string> &args)
{
	if (args.empty() || args.size() > 2)
		return -1;
	struct blob_buf b = {};
	blob_buf_init(&b, 0);
	int ret;
	if (args.size() == 2 && !ubusjson::add_object(&b, args[1])) {
		fprintf(stderr, "Command failed: %s\n", ubus_strerror(UBUS_STATUS_PARSE_ERROR));
		ret = UBUS_STATUS_PARSE_ERROR;
	} else {
		ret = finish_send(ctx, args[0].c_str(), &b);
	}
	blob_buf_free(&b);
	return ret;
}

bool read_file(const std::string &path, std::vector<uint8_t> &out)
{
	FILE *f = fopen(path.c_str(), "rb");
	if (!f)
		return false;
	uint8_t chunk[4096];
	size_t n;
	while ((n = fread(chunk, 1, sizeof(chunk), f)) > 0) {
		out.insert(out.end(), chunk, chunk + n);
		if (out.size() > 1048576) {
			fclose(f);
			errno = EFBIG;
			return false;
		}
	}
	const bool ok = !ferror(f);
	fclose(f);
	return ok;
}

int cmd_send_raw(struct ubus_context *ctx, const std::vector<std::string> &args)
{
	if (args.size() < 2 || args.size() > 3)
		return -1;
	std::vector<uint8_t> data;
	if (!read_file(args[1], data)) {
		fprintf(stderr, "Cannot read %s: %s\n", args[1].c_str(), strerror(errno));
		return UBUS_STATUS_INVALID_ARGUMENT;
	}
	const std::string &name = args.size() == 3 ? args[2] : args[0];
	struct blob_buf b = {};
	blob_buf_init(&b, 0);
	int ret;
	if (blobmsg_add_field(&b, BLOBMSG_TYPE_UNSPEC, name.c_str(), data.data(),
			      static_cast<unsigned int>(data.size())) != 0) {
		fprintf(stderr, "Command failed: %s\n", ubus_strerror(UBUS_STATUS_NO_MEMORY));
		ret = UBUS_STATUS_NO_MEMORY;
	} else {
		ret = finish_send(ctx, args[0].c_str(), &b);
	}
	blob_buf_free(&b);
	return ret;
}

} // namespace

int main(int argc, char **argv)
{
	const char *prog = argv[0];
	const char *socket = nullptr;
	int timeout = 30;
	bool timeout_set = false;
	bool &simple = g_simple;
	int opt;
	while ((opt = getopt(argc, argv, "+s:t:Sxvm:M:")) != -1) {
		switch (opt) {
		case 's':
			socket = optarg;
			break;
		case 't':
			timeout = atoi(optarg);
			timeout_set = true;
			break;
		case 'S':
			simple = true;
			break;
		case 'x':
			g_raw_hex = true;
			break;
		case 'v':
			g_verbose = true;
			break;
		case 'm': {
			const int t = type_by_name(optarg);
			if (t < 0) {
				fprintf(stderr, "Unknown message type: %s\n", optarg);
				return usage(prog);
			}
			g_monitor_types |= 1u << t;
			break;
		}
		case 'M':
			if (strcmp(optarg, "r") && strcmp(optarg, "t"))
				return usage(prog);
			g_monitor_dir = optarg[0];
			break;
		default:
			usage(prog);
			return 1;
		}
	}
	if (optind >= argc) {
		usage(prog);
		return 1;
	}
	const std::string cmd = argv[optind];
	const std::vector<std::string> args(argv + optind + 1, argv + argc);
	if (cmd != "listen" && cmd != "send" && cmd != "send-raw" && cmd != "monitor" && cmd != "list" &&
	    cmd != "call" && cmd != "wait_for")
		return usage(prog);

	struct sigaction sa = {};
	sa.sa_handler = SIG_IGN;
	sigaction(SIGPIPE, &sa, nullptr);
	sa.sa_handler = on_signal;
	sigaction(SIGTERM, &sa, nullptr);
	sigaction(SIGINT, &sa, nullptr);

	struct ubus_context *ctx = ubus_connect(socket);
	if (!ctx) {
		if (!simple)
			fprintf(stderr, "Failed to connect to ubus\n");
		return 255;
	}
	int ret;
	if (cmd == "list") {
		ret = cmd_list(ctx, args);
		if (ret > 0 && !simple)
			fprintf(stderr, "Command failed: %s\n", ubus_strerror(ret));
	} else if (cmd == "call") {
		ret = cmd_call(ctx, timeout, args);
	} else if (cmd == "wait_for") {
		ret = cmd_wait_for(ctx, timeout, args);
		if (ret > 0 && !simple)
			fprintf(stderr, "Command failed: %s\n", ubus_strerror(ret));
	} else if (cmd == "listen")
		ret = cmd_listen(ctx, timeout_set ? timeout : 0, simple, args);
	else if (cmd == "send")
		ret = cmd_send(ctx, args);
	else if (cmd == "monitor")
		ret = args.empty() ? cmd_monitor(ctx, timeout_set ? timeout : 0) : -1;
	else
		ret = cmd_send_raw(ctx, args);
	ubus_free(ctx);
	if (ret < 0)
		return usage(prog);
	return ret;
}
